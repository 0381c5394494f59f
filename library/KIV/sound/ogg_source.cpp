// Ogg Vorbis sounds: the whole file held in memory and decoded by
// libvorbisfile through our own read/seek/close/tell callbacks, so decoding
// never touches the disk.
#include <vorbis/vorbisfile.h>

#include <cstdio>
#include <cstring>

#include "core/system_state.h"
#include "platform/core/error.h"
#include "sound/sound.h"

struct KivOggSource {
  OggVorbis_File file;
  vorbis_info* info = nullptr;
  KivOggMemory memory;
  int64_t totalBytes = 0;
};

size_t KivOggRead(void* ptr, size_t size, size_t nmemb, void* source) {
  auto* m = static_cast<KivOggMemory*>(source);
  if (!m->data || size == 0 || m->pos >= m->size) return 0;
  size_t want = size * nmemb;
  const size_t left = static_cast<size_t>(m->size - m->pos);
  if (want > left) want = left - left % size;
  std::memcpy(ptr, m->data + m->pos, want);
  m->pos += static_cast<int64_t>(want);
  return want / size;
}

// fseek semantics: the new position is computed first and refused (the
// position unchanged) when it lies before the start or past the end.
int KivOggSeek(void* source, int64_t offset, int whence) {
  auto* m = static_cast<KivOggMemory*>(source);
  int64_t base;
  switch (whence) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = m->pos; break;
    case SEEK_END: base = m->size; break;
    default: return -1;
  }
  if ((offset > 0 && base > m->size - offset) || base + offset < 0 || base + offset > m->size) return -1;
  m->pos = base + offset;
  return 0;
}

namespace {
int OggClose(void* source) {
  auto* m = static_cast<KivOggMemory*>(source);
  if (m->data) KivMemoryFree(m->data);
  m->data = nullptr;
  return 0;
}
int OggSeekCallback(void* source, ogg_int64_t offset, int whence) { return KivOggSeek(source, offset, whence); }
}  // namespace

long KivOggTell(void* source) { return static_cast<long>(static_cast<KivOggMemory*>(source)->pos); }

KivOggSource* KivOggOpenMemory(uint8_t* data, size_t size) {
  void* block = KivMemoryAlloc(static_cast<int>(sizeof(KivOggSource)), 1);
  if (!block) {
    KivErrorLogPrintfBasic("Ogg Callback Memory Aloacte Error");
    KivMemoryFree(data);
    return nullptr;
  }
  auto* s = new (block) KivOggSource();
  s->memory = KivOggMemory{data, static_cast<int64_t>(size), 0};
  ov_callbacks cb{KivOggRead, OggSeekCallback, OggClose, KivOggTell};
  if (ov_open_callbacks(&s->memory, &s->file, nullptr, 0, cb) != 0) {
    // A failed open leaves the data with us.
    OggClose(&s->memory);
    s->~KivOggSource();
    KivMemoryFree(block);
    return nullptr;
  }
  s->info = ov_info(&s->file, -1);
  const ogg_int64_t frames = ov_pcm_total(&s->file, -1);
  if (!s->info || frames < 0 || s->info->channels < 1 || s->info->channels > 2) {
    KivOggFree(s);
    return nullptr;
  }
  s->totalBytes = static_cast<int64_t>(frames) * s->info->channels * 2;
  return s;
}

void KivOggFree(KivOggSource* s) {
  if (!s) return;
  ov_clear(&s->file);  // closes the memory source, freeing the data
  s->~KivOggSource();
  KivMemoryFree(s);
}

int KivOggChannels(KivOggSource* s) { return s->info->channels; }
int KivOggRate(KivOggSource* s) { return static_cast<int>(s->info->rate); }
int64_t KivOggTotalBytes(KivOggSource* s) { return s->totalBytes; }

size_t KivOggDecode(KivOggSource* s, uint8_t* out, size_t n) {
  size_t got = 0;
  while (got < n) {
    int bitstream = 0;
    const int chunk = n - got > 0x10000 ? 0x10000 : static_cast<int>(n - got);
    long r = ov_read(&s->file, reinterpret_cast<char*>(out + got), chunk, 0, 2, 1, &bitstream);
    if (r == 0) break;
    if (r < 0) {
      // A damaged page: what was decoded stays, the rest of the piece is
      // left as it is, and the position does not move past it.
      plat::DebugOutput("Ogg decode error\n");
      break;
    }
    got += static_cast<size_t>(r);
  }
  return got;
}

bool KivOggSeekBytes(KivOggSource* s, int64_t byte_offset) {
  return ov_pcm_seek(&s->file, byte_offset / (2 * s->info->channels)) == 0;
}
