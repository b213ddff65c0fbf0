// The vector paths the library compiles. SSE2, which every x86-64 processor has, speeds up the
// flattening onto white and the compressor's Adler-32; every other machine, and a build
// configured with -DKELVANE_PORTABLE=ON, compiles the portable loops, which write the same
// bytes. CMake makes the choice (its status line and the variable KELVANE_SIMD name it) and
// passes it down as KELVANE_SIMD_SSE2; a build without CMake follows the compiler's target.
#pragma once

#if !defined(KELVANE_SIMD_SSE2)
#if defined(__SSE2__)
#define KELVANE_SIMD_SSE2 1
#else
#define KELVANE_SIMD_SSE2 0
#endif
#endif

#if KELVANE_SIMD_SSE2
#if !defined(__SSE2__)
#error "KELVANE_SIMD_SSE2 needs a compiler that targets SSE2"
#endif
#include <emmintrin.h>
#endif
