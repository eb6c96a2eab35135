#pragma once

#include <cstddef>

namespace fendrix {

class FdtdEngine;

// How many floats one vector instruction of the field kernels handles: 4 (the
// portable path, any processor), 8 (AVX2) or 16 (AVX-512, both where the
// processor reports them). Every width gives bit-identical fields, so the
// choice only changes the speed; runs start with 4 (see KernelWidth.cpp).
int kernelWidth();
int widestKernelWidth();  // what this processor (and this build) can run
// Forces a width (tests, benchmarks); false, changing nothing, when the
// processor or the build cannot run it.
bool setKernelWidth(int floats);
const char* kernelWidthName(int floats);  // "4-float portable", ...

// The wide half steps (engine/FieldKernelsWide.cpp): the same planes and the
// same arithmetic as FdtdEngine::updateEPlanes / updateHPlanes.
void electricPlanesWide(FdtdEngine& engine, std::size_t kBegin, std::size_t kEnd, int floats);
void magneticPlanesWide(FdtdEngine& engine, std::size_t kBegin, std::size_t kEnd, int floats);

}  // namespace fendrix
