// The results dataset: port parameters S11, S21, ... over the frequency list and,
// with a far-field request, the radiation pattern, far-field components, maximum
// directivity and efficiency. Binary, little-endian, named variable records
// followed by their values.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/NewFile.hpp"
#include "results/PortParameters.hpp"
#include "results/RadiationSetup.hpp"
#include "results/Results.hpp"

namespace fendrix {

namespace {

using Complex = std::complex<double>;

// Little-endian byte image of the data section (and of the records), built in
// memory so that the file itself is written in a few checked calls.
struct ByteImage {
    std::vector<unsigned char> bytes;

    void word(std::uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
    void real(double value) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<unsigned char>(bits >> (8 * i)));
    }
    void complex(Complex value) {
        real(value.real());
        real(value.imag());
    }
    void text(const std::string& value) {
        bytes.insert(bytes.end(), value.begin(), value.end());
        bytes.push_back(0);
    }
};

// Record flags: bit 0 always, bit 1 a dependency list follows, bit 2 real values.
constexpr std::uint32_t kComplexDependent = 3;
constexpr std::uint32_t kRealIndependent = 5;
constexpr std::uint32_t kRealDependent = 7;

// Appends one variable record; returns its size in bytes.
std::uint32_t addRecord(ByteImage& header, std::uint32_t flags, std::uint32_t count,
                        const std::string& name, const char* dependencies) {
    header.word(flags);
    header.word(count);
    header.text(name);
    std::uint32_t size = 8 + static_cast<std::uint32_t>(name.size()) + 1;
    if (dependencies) {
        header.text(dependencies);
        size += static_cast<std::uint32_t>(std::strlen(dependencies)) + 1;
    }
    return size;
}

}  // namespace

bool Results::writeDatasetAs(const std::string& path, RadiationSetup* radiation, RadiationFigures* figuresOut) {
    PortParameters portParameters;
    RadiationFigures figures;
    if (!computePortParameters(portParameters)) return false;
    if (radiation && !computeRadiationFigures(portParameters, *radiation, figures)) return false;
    if (figuresOut) *figuresOut = figures;
    return encodeDataset(portParameters, radiation, figures, path);
}

bool Results::encodeDataset(const PortParameters& ports, const RadiationSetup* radiation,
                            const RadiationFigures& figures, const std::string& path) {
    const std::size_t N = ports.frequencyCount;
    const std::size_t n = ports.portCount;
    ByteImage header, data;
    headerSize = 0;
    const auto count32 = [](std::size_t value) { return static_cast<std::uint32_t>(value); };
    for (std::size_t k = 0; k < n; ++k) {
        std::string name = "S";
        name += static_cast<char>('1' + k);
        name += '1';
        headerSize += addRecord(header, kComplexDependent, count32(N), name, "frequency");
    }
    for (const Complex& value : ports.s) data.complex(value);

    if (radiation) {
        const RadiationSetup& rad = *radiation;
        const std::size_t directions = std::size_t{rad.azimuthCount} * rad.elevationCount;
        constexpr double kDegrees = 57.29577951308232;

        const std::uint32_t dirs = count32(directions);
        headerSize += addRecord(header, kRealDependent, dirs, "radiation", "azimuth elevation");
        headerSize += addRecord(header, kComplexDependent, dirs, "E_azi", "azimuth elevation");
        headerSize += addRecord(header, kComplexDependent, dirs, "E_elev", "azimuth elevation");
        headerSize += addRecord(header, kRealIndependent, 1, "directivity_dBi", nullptr);
        headerSize += addRecord(header, kRealIndependent, 1, "efficiency", nullptr);
        headerSize += addRecord(header, kRealIndependent, rad.azimuthCount, "azimuth", nullptr);
        headerSize += addRecord(header, kRealIndependent, rad.elevationCount, "elevation", nullptr);

        for (std::size_t d = 0; d < directions; ++d) data.real(rad.directivity[d]);
        for (std::size_t d = 0; d < directions; ++d) data.complex(rad.eAzimuth[d]);
        for (std::size_t d = 0; d < directions; ++d) data.complex(rad.eElevation[d]);
        data.real(figures.directivityDbi);
        data.real(figures.efficiency);
        for (double angle : rad.azimuths) data.real(angle * kDegrees);
        for (double angle : rad.elevations) data.real(angle * kDegrees);
    }

    headerSize += addRecord(header, kRealIndependent, count32(N), "frequency", nullptr);
    for (double f : frequencies) data.real(f);

    // The file is written under a temporary name beside the final one and renamed
    // over it only when complete and closed, so a failed or interrupted write
    // never looks like a finished dataset and never destroys earlier results.
    // The header size word stays 0 until everything else is in place.
    NewFile out;
    ByteImage preamble;
    preamble.bytes = {'Z', 'e', 'l', 't', 'D', 'a', 't', 'a'};
    preamble.word(0x03020000u);
    preamble.word(0);  // header size, filled in last
    ByteImage sizeWord;
    sizeWord.word(headerSize);

    bool ok = out.create(path);
    stream = out.file;
    ok = ok && out.write(preamble.bytes.data(), preamble.bytes.size()) &&
         out.write(header.bytes.data(), header.bytes.size()) && out.write(data.bytes.data(), data.bytes.size()) &&
         out.seek(12) && out.write(sizeWord.bytes.data(), sizeWord.bytes.size());
    ok = ok && out.commit();
    stream = nullptr;
    if (!ok) writeFailure = "writing '" + out.temporary + "' failed: " + out.cause();
    return ok;
}

}  // namespace fendrix
