// Image decoders: LZ, GE, PGD difference images, BMP and TGA, into 32-bit
// pixels. Pure byte work: no engine state, no platform calls.
//
// The engine's image decoders: the LZ unpacker shared by "GE" and the
// difference images, the GE decoder with its three pixel methods and raw
// pixels, the line-prediction decoders, the difference-image ("PGD2"/"PGD3")
// reader, the BMP/TGA reader and the processor-feature probe.
//
// Every decoder is a bounded reader over a span of bytes that came from a
// file: a short, lying or corrupt file gives 0 (and one line on the debugger
// output), never a read or write outside the spans it was handed. Output
// pixels are 32-bit ARGB words (blue, green, red, alpha in memory), rows top
// first. All decoders are reentrant; the work areas belong to the caller, so
// one work area serves one decode at a time.
//
// How the callers use them:
//
//   Software surface load (soft renderer), image bytes in KivLoadBuffer:
//     if GE:  KivGeHeader h; KivGeReadHeader(file, &h)      -> surface size
//             surface pixels = w x h zero-filled words
//             KivGeDecode(file, {pixels, w * h}, w, work32MiB)
//             (or KivGeDecodeToBuffer(file, work32MiB) for a KivPixelBuffer)
//     else:   KivPixelBuffer* b = KivPixelBufferCreate();
//             if (!KivBmpTgaDecode(file, b)) -> b is already freed
//   GPU texture load: lock the texture, then
//             KivGeDecode(file, {bits, pitch * h}, pitch, work32MiB)
//   Sprite loader, difference image read whole into KivLoadBuffer:
//     KivPgdHeader d; KivPgdReadHeader(file, &d);
//     KivPgdUnpack(file, d, {KivLoadBuffer + kKivPgdWorkOffset, kKivPgdWorkSize});
//     read the base image d.baseName into KivLoadBuffer, make the sprite;
//     lock, then KivPgdApply(d, {KivLoadBuffer + kKivPgdWorkOffset, d.unpackedSize},
//                            {KivLoadBuffer, kKivPgdWorkOffset}, pixels, w, h, pitch)
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

// ---- Processor features ----

// The engine's processor flags, set by KivDetectCpuFeatures. The MMX flag
// picks the vector variant of the pixel loops (on x86-64 that variant uses
// SSE2, which every such processor has); SSE and SSE2 choose nothing.
struct KivCpuFeatures {
  std::atomic<int> mmx{0};
  std::atomic<int> sse{0};
  std::atomic<int> sse2{0};
};
extern KivCpuFeatures g_kivCpu;

// Reads CPUID leaf 1 (EDX bits 23, 25, 26) where the processor has CPUID;
// elsewhere all three flags stay 0. Called when a renderer is created.
void KivDetectCpuFeatures(void);

// Which variant of a two-variant pixel loop to run. kAuto follows the MMX
// flag; the others exist so tests can compare both.
enum class KivLoopVariant { kAuto, kPlain, kSimd };
bool KivUseSimd(KivLoopVariant v);

// ---- LZ ----

// Unpacks the LZ stream in src into exactly dest.size() bytes (the unpacked
// size). A token that passes the end is cut at it. Returns 1, or 0 when the
// stream ends early or a back reference reaches before the output's start or
// at bytes not yet written. dest and src must not overlap.
int KivGeUnpack(std::span<uint8_t> dest, std::span<const uint8_t> src);

// ---- GE ----

inline constexpr size_t kKivGeWorkSize = 32u << 20;  // unpacked data limit for GE

struct KivGeHeader {
  int headSize = 0;  // offset of the data block
  int x = 0, y = 0;  // default sprite position
  int width = 0, height = 0;
  int cellWidth = 0, cellHeight = 0;  // as stored; the sprite code checks them
  int method = 0;  // 1 planar, 2 YCbCr, 3 line prediction, other raw
  uint32_t unpackedSize = 0;  // methods 1-3
};

// Reads and checks the fixed head and the data block's size word.
int KivGeReadHeader(std::span<const uint8_t> file, KivGeHeader* out);

// Decodes a whole GE file into dest, rows pitch pixels apart (pitch >= width;
// dest holds at least (height - 1) * pitch + width words). Methods 1-3 unpack
// into work first (the unpacked size must fit it). Pixels the method does not
// produce (odd last row/column of YCbCr) are left as they were.
int KivGeDecode(std::span<const uint8_t> file, std::span<uint32_t> dest, int pitch,
                std::span<uint8_t> work, KivLoopVariant v = KivLoopVariant::kAuto);

// Method 2's colour conversion: planes Cb, Cr (width*height/4 signed bytes
// each) and Y (width*height bytes) into dest.
int KivGeYCbCrToPixels(std::span<const uint8_t> planes, int width, int height,
                       std::span<uint32_t> dest, int pitch,
                       KivLoopVariant v = KivLoopVariant::kAuto);

// ---- Line prediction ----
// data: one flag byte per row (height bytes), then the rows' delta bytes (3
// per pixel at 24 bits, 4 at 32). A first row whose flag asks for the row
// above predicts from a row of zero bytes.

// GE method 3: 32-bit pixels, alpha 0xFF at 24 bits; rows pitch pixels apart.
int KivGeLineDecode24(std::span<const uint8_t> data, int width, int height,
                      std::span<uint32_t> dest, int pitch,
                      KivLoopVariant v = KivLoopVariant::kAuto);
int KivGeLineDecode32(std::span<const uint8_t> data, int width, int height,
                      std::span<uint32_t> dest, int pitch,
                      KivLoopVariant v = KivLoopVariant::kAuto);
// Difference images: contiguous packed 3-byte pixels, or contiguous words.
int KivPgdLineDecode24(std::span<const uint8_t> data, int width, int height,
                       std::span<uint8_t> out, KivLoopVariant v = KivLoopVariant::kAuto);
int KivPgdLineDecode32(std::span<const uint8_t> data, int width, int height,
                       std::span<uint32_t> out, KivLoopVariant v = KivLoopVariant::kAuto);

// ---- Difference images ----

inline constexpr size_t kKivPgdWorkOffset = 16u << 20;  // unpack area in the load buffer
inline constexpr size_t kKivPgdWorkSize = 16u << 20;    // unpacked data limit

struct KivPgdHeader {
  int x = 0, y = 0, w = 0, h = 0;  // the changed rectangle in the base image
  int bpp = 32;                    // 24, or 32 for any other value in the file
  char baseName[34] = {};          // zero-terminated
  uint32_t unpackedSize = 0;
};

// Checks the magic and reads the 56-byte head.
int KivPgdReadHeader(std::span<const uint8_t> file, KivPgdHeader* out);
// Unpacks the LZ data at byte 56 into work[0, unpackedSize).
int KivPgdUnpack(std::span<const uint8_t> file, const KivPgdHeader& head, std::span<uint8_t> work);
// Undoes the line prediction of unpacked into scratch, then XORs the
// rectangle into the base picture (width x height, rows pitch pixels apart).
// Nothing is changed unless the whole rectangle can be applied.
int KivPgdApply(const KivPgdHeader& head, std::span<const uint8_t> unpacked,
                std::span<uint8_t> scratch, std::span<uint32_t> pixels, int width, int height,
                int pitch, KivLoopVariant v = KivLoopVariant::kAuto);

// ---- BMP / TGA and pixel buffers ----

struct KivPixelBuffer {
  int width;
  int height;
  uint32_t* pixels;  // width x height words, from KivMemoryAlloc
  int byteSize;      // width x height x 4
};

// A zero-filled record from KivMemoryAlloc, or NULL.
KivPixelBuffer* KivPixelBufferCreate(void);
// A record with w x h zero-filled pixels, or NULL (also for sizes of 0 or
// less or too large to count in bytes).
KivPixelBuffer* KivPixelBufferAlloc(int w, int h);
// Frees the pixels, then the record.
void KivPixelBufferFree(KivPixelBuffer* buffer);

// Fills buf (allocated by the caller with KivPixelBufferCreate) from a BMP
// ("BM") or any other bytes taken as TGA. Returns 1, or 0 after freeing buf
// (record and pixels), with a line on the debugger output.
int KivBmpTgaDecode(std::span<const uint8_t> file, KivPixelBuffer* buf);
// The size a BMP/TGA file declares (as the decoder reads it); false when
// the head is cut or the size is refused.
bool KivBmpTgaSize(std::span<const uint8_t> file, int* width, int* height);

// The largest picture any decoder makes: 16384 pixels a side and 64 Mi
// pixels (256 MiB) in all. A declared size beyond it is refused before
// anything is allocated, as is one the file's data cannot fill.
constexpr int64_t kKivImageMaxSide = 16384;
constexpr int64_t kKivImageMaxPixels = int64_t(64) << 20;
bool KivImageSizeAllowed(int64_t width, int64_t height);

// GE into a new KivPixelBuffer of the image size (zero-filled first), or NULL.
KivPixelBuffer* KivGeDecodeToBuffer(std::span<const uint8_t> file, std::span<uint8_t> work);
