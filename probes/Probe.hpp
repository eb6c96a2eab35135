#pragma once

#include <complex>
#include <cstdint>
#include <vector>

namespace fendrix {

class FdtdEngine;

// Something that samples the fields once per chunk of time steps and keeps a
// running spectrum: sum over samples of value * exp(-j 2 pi f t).
class Probe {
public:
    explicit Probe(FdtdEngine* engine) : engine(engine) {}
    virtual ~Probe() = default;

    virtual void sample() {}
    virtual void analyze() {}
    // Snaps the two corners (p1 <= p2 per axis) to grid indices; nearest line for
    // E probes, containing cell for H probes.
    virtual void place(const double p1[3], const double p2[3]);

    std::int32_t portNumber = 0;
    FdtdEngine* engine;
    std::uint32_t isCurrent = 0;  // 1: samples H, half a step later than E
    std::uint32_t lowIndex[3] = {0, 0, 0};
    std::uint32_t highIndex[3] = {0, 0, 0};
};

// One stored field value: component c of E or H at a grid node.
struct FieldTerm {
    std::uint32_t x, y, z;
    int c;
    bool magnetic;
};

// Port voltage: E summed along the port from its first corner.
class VoltageProbe : public Probe {
public:
    VoltageProbe(FdtdEngine* engine, const std::vector<double>* frequencies);

    void sample() override;
    // The port value from the stored fields: the field values of listTerms,
    // combined in their order.
    double value() const;
    virtual void listTerms(std::vector<FieldTerm>& out) const;
    virtual double combine(const std::vector<float>& values) const;
    // Adds one sample of the port value to the running spectrum.
    void accumulate(float v);

    double referenceImpedance = 0.0;  // signed: the sign encodes the port's orientation
    const std::vector<double>* frequencies;
    std::vector<std::complex<double>> spectrum;
    std::int32_t direction = -1;      // current probes: axis of the measured current
};

// Port current: circulation of H around the port, positive along +direction.
class CurrentProbe : public VoltageProbe {
public:
    CurrentProbe(FdtdEngine* engine, const std::vector<double>* frequencies);

    void place(const double p1[3], const double p2[3]) override;
    // Opposite sides of the loop in pairs; their differences are summed.
    void listTerms(std::vector<FieldTerm>& out) const override;
    double combine(const std::vector<float>& values) const override;
};

}  // namespace fendrix
