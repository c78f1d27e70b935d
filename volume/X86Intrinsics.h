// The x86 intrinsics, included once for every kernel file that uses them.
#pragma once

// GCC 12's AVX-512 headers read deliberately undefined vectors (_mm512_undefined_pd) and then
// report them where they are inlined; only the header's own lines are exempt, so the kernels
// that include this stay checked.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
