// Run-time choice of the field kernels' vector width. The release binary is
// built for the x86-64 baseline; the 8- and 16-float kernels are compiled for
// their instruction sets function by function and can only be chosen when the
// processor says it has them.

#include "engine/KernelWidth.hpp"

namespace fendrix {

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
// The width a run starts with. Every width gives the same fields, so this is
// a matter of speed only, and measured on a server core with AVX-512 the
// wide kernels were slower at every grid size (8 floats 0.85x, 16 floats
// 0.76x of the 4-float rate at 48^3, similar from 20^3 to 200^3 and on the
// bundled examples): the update is bound by cache and memory traffic there,
// and the registers that mix components need shuffles and full neighbour
// loads that the 4-float kernels do without. So runs keep the 4-float
// kernels; setKernelWidth switches where a processor proves otherwise
// (bench_stepping_rate shows it side by side).
int& currentWidth() {
    static int width = 4;
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

}  // namespace fendrix
