// Sprites from files: the whole file is read into the engine's load buffer
// and decoded from there; a difference image is applied to the base image
// it names.
#include <cstring>

#include "platform/core/error.h"
#include "platform/core/file.h"
#include "platform/window/messages.h"
#include "sprite/sprite.h"

extern unsigned char* KivLoadBuffer;

namespace {

constexpr size_t kLoadBufferBytes = 0x2000001;

// Opens name through the search folders and reads it whole to dest (at
// most limit bytes). The size read, or -1.
int64_t ReadWhole(const char* name, uint8_t* dest, size_t limit) {
  KivFileInfo info{};
  intptr_t f = KivFileCreateEx(name, plat::kGenericRead, 1, plat::kOpenExisting, 0x08000000u, &info);
  if (f == KIV_INVALID_FILE) return -1;
  const size_t size = info.size;
  bool ok = size <= limit && plat::FileReadAt(f, info.start, dest, size);
  plat::FileClose(f);
  if (!ok) {
    plat::DebugOutput(size > limit ? "KivSpriteLoad : file too large for the load buffer\n"
                                   : "KivSpriteLoad : read error\n");
    return -1;
  }
  return static_cast<int64_t>(size);
}

// A difference image that cannot be used: no sprite, and the error says why.
KivSprite* Malformed() {
  plat::SetLastError(plat::kErrorInvalidParameter);
  return nullptr;
}

KivSprite* LoadDifference(KivRenderList* list, int64_t size, int priority) {
  uint8_t* buf = KivLoadBuffer;
  const std::span<const uint8_t> file(buf, static_cast<size_t>(size));
  KivPgdHeader head;
  if (!KivPgdReadHeader(file, &head)) return Malformed();
  std::span<uint8_t> unpacked(buf + kKivPgdWorkOffset, kKivPgdWorkSize);
  if (!KivPgdUnpack(file, head, unpacked)) return Malformed();
  // The base goes to the start of the buffer, below the unpacked data.
  const int64_t baseSize = ReadWhole(head.baseName, buf, kKivPgdWorkOffset);
  if (baseSize < 0) return nullptr;
  KivSprite* s = KivSpriteLoadMemory(list, "", buf, static_cast<int>(baseSize), priority);
  if (!s) return nullptr;
  s->locked.store(1);
  int w = 0, h = 0;
  uint32_t* px = KivSoftSurfacePixels(static_cast<KivSoftSurface*>(s->surface), &w, &h);
  // The rows are undone into the start of the buffer (the base file is no
  // longer needed). A difference that cannot be applied (its rectangle does
  // not fit the base, its rows are short) is a broken file: the base alone
  // would show a picture the script never asked for.
  if (!px || !KivPgdApply(head, {buf + kKivPgdWorkOffset, head.unpackedSize}, {buf, kKivPgdWorkOffset},
                          {px, static_cast<size_t>(w) * h}, w, h, w)) {
    plat::DebugOutput("KivSpriteLoad : difference image does not fit its base\n");
    s->locked.store(0);
    KivSpriteRelease(list, s);
    return Malformed();
  }
  s->locked.store(0);
  return s;
}

}  // namespace

extern "C" KIV_API KivSprite* KivSpriteLoad(KivRenderList* list, const char* file, int priority) {
  if (!list) {
    plat::SetLastError(plat::kErrorInvalidHandle);
    return nullptr;
  }
  if (!KivLoadBuffer || !file) return nullptr;
  if (g_kiv) g_kiv->gameProgress.fetch_add(1);  // a thread at work, not a stuck one
  const int64_t size = ReadWhole(file, KivLoadBuffer, kLoadBufferBytes);
  if (size < 0) return nullptr;
  const uint8_t* b = KivLoadBuffer;
  const bool ge = size >= 2 && b[0] == 'G' && b[1] == 'E';
  if (!ge && size >= 4 && std::memcmp(b, "PGD", 3) == 0 && (b[3] == '2' || b[3] == '3')) {
    // The difference file must stay clear of the unpack area above it.
    if (static_cast<size_t>(size) > kKivPgdWorkOffset) return nullptr;
    return LoadDifference(list, size, priority);
  }
  return KivSpriteLoadMemory(list, file, KivLoadBuffer, static_cast<int>(size), priority);
}
