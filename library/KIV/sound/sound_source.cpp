// Sound file headers: WAV files (RIFF chunks walked one by one, every size
// checked against the file) and the raw PCM sound file streamed by
// KivSoundLoadVerEpeg. Both read through a bounded byte source so that a
// short or lying file is refused where it lies.
#include <cstring>

#include "platform/core/byte_io.h"
#include "sound/sound.h"

namespace {

bool Fail(const char** why, const char* reason) {
  if (why) *why = reason;
  return false;
}

uint32_t U32At(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

}  // namespace

bool KivWavParse(const KivByteSource& read, uint64_t size, KivWavInfo* out, const char** why) {
  uint8_t head[12];
  if (size < 12 || !read(0, head, 12)) return Fail(why, "short file");
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return Fail(why, "not RIFF WAVE");
  bool haveFormat = false;
  uint64_t at = 12;
  while (at + 8 <= size) {
    uint8_t chunk[8];
    if (!read(at, chunk, 8)) return Fail(why, "short chunk header");
    const uint64_t length = U32At(chunk + 4);
    const uint64_t body = at + 8;
    if (length > size - body) return Fail(why, "chunk beyond the end of the file");
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (length < 16) return Fail(why, "short format chunk");
      uint8_t fmt[16];
      if (!read(body, fmt, 16)) return Fail(why, "short format chunk");
      plat::ByteReader r({fmt, 16});
      out->formatTag = r.U16();
      out->channels = r.U16();
      out->rate = static_cast<int>(r.U32());
      r.U32();  // bytes per second: derived, not trusted
      out->blockAlign = r.U16();
      out->bits = r.U16();
      out->subFormat = 0;
      // WAVE_FORMAT_EXTENSIBLE: cbSize, valid bits, channel mask, then the
      // sub-format GUID whose first two bytes are the format code.
      if (out->formatTag == 0xFFFE && length >= 40) {
        uint8_t ext[26];
        if (!read(body + 14, ext, sizeof ext)) return Fail(why, "short format chunk");
        out->subFormat = ext[10] | ext[11] << 8;
      }
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) return Fail(why, "data before format");
      out->dataOffset = body;
      out->dataSize = length;
      return true;
    }
    at = body + length + (length & 1);  // chunks are padded to even sizes
  }
  return Fail(why, haveFormat ? "no data chunk" : "no format chunk");
}

bool KivRawPcmParse(const KivByteSource& read, uint64_t size, KivRawPcmInfo* out, const char** why) {
  uint8_t head[36];
  if (size < 36 || !read(0, head, sizeof head)) return Fail(why, "short file");
  plat::ByteReader r({head, sizeof head});
  r.Skip(4);
  const uint64_t entries = r.U32();
  r.Skip(16);
  const uint64_t loopStart = r.U32();
  const uint64_t loopEnd = r.U32();
  if (entries == 0) return Fail(why, "no entries");
  const uint64_t sizeAt = 54 + 8 * entries;  // fits: entries < 2^32
  if (sizeAt + 4 > size) return Fail(why, "entry table beyond the end of the file");
  uint8_t word[4];
  if (!read(sizeAt, word, 4)) return Fail(why, "short file");
  const uint64_t bytes = U32At(word);
  const uint64_t dataOffset = sizeAt + 4;
  if (bytes > size - dataOffset) return Fail(why, "data beyond the end of the file");
  const uint64_t unit = bytes / entries;
  // Loop points in whole stereo 16-bit frames, inside the data.
  const uint64_t start = loopStart * unit / 4 * 4, end = loopEnd * unit / 4 * 4;
  if (start >= end) return Fail(why, "loop start not before loop end");
  if (end > bytes) return Fail(why, "loop end beyond the data");
  out->dataOffset = dataOffset;
  out->dataSize = bytes;
  out->loopStart = start;
  out->loopEnd = end;
  return true;
}
