// Run-time choice of the field kernels' vector width. The release binary is
// built for the x86-64 baseline; the 8- and 16-float kernels are compiled for
// their instruction sets function by function and are only called when the
// processor says it has them.

#include "engine/KernelWidth.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define FENDRIX_WIDE_KERNELS 1
#endif

int widestKernelWidth() {
#ifdef FENDRIX_WIDE_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return 16;
    if (__builtin_cpu_supports("avx2")) return 8;
#endif
    return 4;
}

namespace {
int& currentWidth() {
    static int width = widestKernelWidth();
    return width;
}
}  // namespace

int kernelWidth() { return currentWidth(); }

bool setKernelWidth(int floats) {
    if (floats != 4 && floats != 8 && floats != 16) return false;
    if (floats > widestKernelWidth()) return false;
    currentWidth() = floats;
    return true;
}

const char* kernelWidthName(int floats) {
    if (floats == 16) return "16-float AVX-512";
    if (floats == 8) return "8-float AVX2";
    return "4-float portable";
}
