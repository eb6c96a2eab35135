#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "geometry/GeoObject.hpp"

namespace fendrix {

class FdtdEngine;
class Results;

// A material of the description. It owns its shapes, in the order of their lines.
class MatMaterial {
public:
    static constexpr std::int32_t kDielectric = 1;  // kinds are bit masks for the shape query
    static constexpr std::int32_t kMetal = 2;

    explicit MatMaterial(std::int32_t kind) : kind(kind) {}
    virtual ~MatMaterial() = default;

    // Reads the material line after its keyword and blank; returns the position
    // after the line, or null on failure.
    virtual char* parse(char* /*text*/, FdtdEngine& /*engine*/, const Results& /*results*/) { return nullptr; }

    std::int32_t kind;
    std::vector<std::unique_ptr<GeoObject>> shapes;
};

// A conductor. Its resistivity, thickness and roughness become the engine-wide
// sheet resistance at the centre of the band.
class MatMetal : public MatMaterial {
public:
    MatMetal() : MatMaterial(kMetal) {}
    char* parse(char* text, FdtdEngine& engine, const Results& results) override;
};

class MatDielectric : public MatMaterial {
public:
    MatDielectric() : MatMaterial(kDielectric) {}
    char* parse(char* text, FdtdEngine& engine, const Results& results) override;

    double epsR = 1.0;
    double muR = 1.0;
    double sigma = 0.0;   // S/m, from the loss tangent at the band centre
    double sigmaM = 0.0;
};

}  // namespace fendrix
