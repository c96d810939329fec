// Which vector instructions this processor may run (SSE2, AVX2, AVX-512F),
// asked once with CPUID.  AVX2 and AVX-512F need more than the processor's
// bit: the system must have enabled XSAVE and save the 256-bit registers
// (and, for AVX-512F, the opmask and 512-bit ones) on every switch, or
// their contents would be lost between threads.

#include <cpuid.h>

#include "cbc_kernels.h"
#include "../runtime/runtime.h"

static bool ask_sse2() {
  unsigned a, b, c, d;
  return __get_cpuid(1, &a, &b, &c, &d) && (d & bit_SSE2) != 0;
}

static bool ask_avx2() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  if ((c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) return false;
  if ((rt_saved_register_sets() & 0x6) != 0x6) return false;  // SSE and AVX state
  return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX2) != 0;
}

static bool ask_avx512() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || (c & bit_OSXSAVE) == 0) return false;
  // SSE, AVX, opmask, the upper halves of ZMM0-15 and ZMM16-31.
  if ((rt_saved_register_sets() & 0xE6) != 0xE6) return false;
  return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX512F) != 0;
}

// Each answer is asked once and kept: 0 not asked yet, 1 yes, 2 no.  Two
// threads that ask at once get the same answer, so a relaxed atomic is all
// it needs.  (A function-local static would bring in the C++ library's
// guard, which in the 32-bit Windows build links the threads library, and
// with it a thread-starting import, into the module.)
static bool kept(int* answer, bool (*ask)()) {
  int a = __atomic_load_n(answer, __ATOMIC_RELAXED);
  if (a == 0) {
    a = ask() ? 1 : 2;
    __atomic_store_n(answer, a, __ATOMIC_RELAXED);
  }
  return a == 1;
}

static int sse2_answer, avx2_answer, avx512_answer;

bool cpu_has_sse2() { return kept(&sse2_answer, ask_sse2); }
bool cpu_has_avx2() { return kept(&avx2_answer, ask_avx2); }
bool cpu_has_avx512() { return kept(&avx512_answer, ask_avx512); }
