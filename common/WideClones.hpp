#pragma once

#include <cstddef>  // defines __GLIBC__ where the C library is glibc

// Compute-bound loops (the far-field sums, not the memory-bound field update)
// are compiled for the x86-64 baseline, AVX2 and AVX-512 at once, and the
// loader picks the widest version the processor runs. The versions differ in
// vector width only: each does the same IEEE operations on each value (no
// fused multiply-adds: the build turns contraction off), so all give the same
// bits. The thread sanitizer's build keeps the baseline version alone: what
// it checks is the threads, not the vector width. The loader's choice needs
// GNU indirect functions: GCC on x86-64 Linux with glibc.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__GLIBC__) && \
    !defined(__SANITIZE_THREAD__)
#define FENDRIX_WIDE_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define FENDRIX_WIDE_CLONES
#endif
