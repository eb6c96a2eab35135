#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fendrix {

class VoltageProbe;
class CurrentProbe;
class RadiationSetup;
struct PortParameters;
struct RadiationFigures;

// Collects what the results dataset needs besides the measurements: file name,
// analysis frequencies, the ports in line order and port 1's current probe.
// The probes belong to the engine; this only refers to them.
class Results {
public:
    void setFileName(const char* name) { fileName = name; }
    void addFrequencies(double f1, double f2, std::int32_t count);

    // Computes S11, S21, ... (and the radiation results when `radiation` is given)
    // and writes the dataset. False when nothing sound could be written; an
    // earlier file of the same name is then left as it was.
    bool writeDataset(RadiationSetup* radiation) { return writeDatasetAs(fileName, radiation); }
    // The same dataset under another name (the far field at one more
    // frequency); `figures`, when given, receives the radiation figures.
    bool writeDatasetAs(const std::string& path, RadiationSetup* radiation, RadiationFigures* figures = nullptr);
    // The two halves of writeDataset (results/PortParameters.cpp): false when
    // the ports or the far-field frequency leave nothing sound to compute.
    // computeRadiationFigures finishes the radiation pattern.
    bool computePortParameters(PortParameters& out) const;
    bool computeRadiationFigures(const PortParameters& ports, RadiationSetup& radiation,
                                 RadiationFigures& out) const;
    // Writes the dataset file from computed values (results/DatasetWriter.cpp).
    bool encodeDataset(const PortParameters& ports, const RadiationSetup* radiation,
                       const RadiationFigures& figures, const std::string& path);

    std::string fileName;
    CurrentProbe* sourceCurrent = nullptr;
    std::vector<VoltageProbe*> ports;
    std::vector<double> frequencies;
    std::FILE* stream = nullptr;
    std::string writeFailure;  // why the file could not be written, for the message
    std::uint32_t headerSize = 0;
};

}  // namespace fendrix
