// The processor-feature probe that chooses between the plain and the vector
// variants of the pixel loops.
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "image/image_decode.h"

KivCpuFeatures g_kivCpu;

void KivDetectCpuFeatures(void) {
  int mmx = 0, sse = 0, sse2 = 0;
#if defined(__x86_64__) || defined(__i386__)
  // __get_cpuid does the ID-flag test of EFLAGS itself on 32-bit builds and
  // fails when leaf 1 does not exist; on x86-64 CPUID is always there.
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d)) {
    mmx = (d >> 23) & 1;
    sse = (d >> 25) & 1;
    sse2 = (d >> 26) & 1;
  }
#endif
  g_kivCpu.mmx.store(mmx, std::memory_order_relaxed);
  g_kivCpu.sse.store(sse, std::memory_order_relaxed);
  g_kivCpu.sse2.store(sse2, std::memory_order_relaxed);
}

bool KivUseSimd(KivLoopVariant v) {
  if (v == KivLoopVariant::kPlain) return false;
  if (v == KivLoopVariant::kSimd) return true;
  return g_kivCpu.mmx.load(std::memory_order_relaxed) != 0;
}
