// The results dataset: port parameters S11, S21, ... over the frequency list and,
// with a far-field request, the radiation pattern, far-field components, maximum
// directivity and efficiency. Binary, little-endian, named variable records
// followed by their values.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "common/NewFile.hpp"
#include "probes/Probe.hpp"
#include "results/RadiationSetup.hpp"
#include "results/Results.hpp"

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

// Quotient with Smith's scaling (no intermediate overflow). A zero divisor or
// one holding a NaN gives NaN in both parts.
Complex divide(Complex a, Complex b) {
    const double c = b.real(), d = b.imag();
    if ((c == 0.0 && d == 0.0) || std::isnan(c) || std::isnan(d)) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {nan, nan};
    }
    if (std::fabs(c) >= std::fabs(d)) {
        const double r = d / c, den = c + d * r;
        return {(a.real() + a.imag() * r) / den, (a.imag() - a.real() * r) / den};
    }
    const double r = c / d, den = c * r + d;
    return {(a.real() * r + a.imag()) / den, (a.imag() * r - a.real()) / den};
}

}  // namespace

bool Results::writeDataset(RadiationSetup* radiation) {
    const std::size_t N = frequencies.size();
    const std::size_t n = ports.size();
    if (N == 0 || n == 0 || sourceCurrent == nullptr || sourceCurrent->spectrum.size() != N)
        return false;

    // Every port number 1..n exactly once: the coefficients are placed by port
    // number. Anything else has no sound meaning, so nothing is written.
    std::vector<const VoltageProbe*> byNumber(n, nullptr);
    for (const VoltageProbe* port : ports) {
        if (port == nullptr || port->spectrum.size() != N) return false;
        const std::int32_t number = port->portNumber;
        if (number < 1 || static_cast<std::size_t>(number) > n || byNumber[number - 1]) return false;
        byNumber[number - 1] = port;
    }

    // The far-field frequency must lie within the list: the port power there is
    // interpolated between two analysis frequencies, never extrapolated upwards.
    std::size_t m = 0;
    if (radiation) {
        const double farFrequency = radiation->frequency;
        while (m < N && !(frequencies[m] >= farFrequency)) ++m;
        if (m == N) return false;
    }

    // Reference impedances (signed) and the transmission factors
    // c(k) = sqrt(|Zk / Z1|) * 2 * Z1 / Zk, which refer each port's wave to its
    // own impedance; the sign is the product of the two orientations.
    std::vector<double> factor(n);
    for (std::size_t k = 0; k < n; ++k) factor[k] = byNumber[k]->referenceImpedance;
    const double z1 = factor[0];
    for (std::size_t k = 1; k < n; ++k)
        factor[k] = std::sqrt(std::fabs(factor[k] / z1)) * 2.0 * z1 / factor[k];
    const double r = std::fabs(z1);

    // Waves at port 1 with -I the current into the structure: incident ~ V - R I,
    // reflected ~ V + R I; the voltage at port k over the incident wave gives Sk1.
    std::vector<Complex> s(n * N);
    const std::vector<Complex>& current = sourceCurrent->spectrum;
    for (std::size_t f = 0; f < N; ++f) {
        const Complex v1 = byNumber[0]->spectrum[f];
        const Complex ri = r * current[f];
        const Complex d = v1 - ri;
        s[f] = divide(v1 + ri, d);
        for (std::size_t k = 1; k < n; ++k) {
            const Complex q = divide(byNumber[k]->spectrum[f], d);
            s[k * N + f] = {q.real() * factor[k], q.imag() * factor[k]};
        }
    }

    ByteImage header, data;
    headerSize = 0;
    const auto count32 = [](std::size_t value) { return static_cast<std::uint32_t>(value); };
    for (std::size_t k = 0; k < n; ++k) {
        std::string name = "S";
        name += static_cast<char>('1' + k);
        name += '1';
        headerSize += addRecord(header, kComplexDependent, count32(N), name, "frequency");
    }
    for (const Complex& value : s) data.complex(value);

    if (radiation) {
        RadiationSetup& rad = *radiation;
        const std::size_t directions = std::size_t{rad.azimuthCount} * rad.elevationCount;
        rad.finishPattern();

        // Port 1's voltage and current at the far-field frequency, linearly
        // interpolated between the neighbouring analysis frequencies.
        const std::vector<Complex>& voltage = byNumber[0]->spectrum;
        Complex v = voltage[0], i = current[0];
        if (m > 0) {
            const double t = (frequencies[m] - static_cast<double>(rad.frequency)) /
                             (frequencies[m] - frequencies[m - 1]);
            v = (1.0 - t) * voltage[m] + t * voltage[m - 1];
            i = (1.0 - t) * current[m] + t * current[m - 1];
        }
        // Power delivered into the structure: Re(V conj(-I)) / 2.
        const double inputPower = -0.5 * (v.real() * i.real() + v.imag() * i.imag());
        const double directivityDbi = 10.0 * std::log10(rad.maxDirectivity);
        const double efficiency = 100.0 * rad.radiatedPower / inputPower;
        for (double& angle : rad.azimuths) angle *= 57.29577951308232;
        for (double& angle : rad.elevations) angle *= 57.29577951308232;

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
        data.real(directivityDbi);
        data.real(efficiency);
        for (double angle : rad.azimuths) data.real(angle);
        for (double angle : rad.elevations) data.real(angle);
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

    bool ok = out.create(fileName);
    stream = out.file;
    ok = ok && out.write(preamble.bytes.data(), preamble.bytes.size()) &&
         out.write(header.bytes.data(), header.bytes.size()) && out.write(data.bytes.data(), data.bytes.size()) &&
         out.seek(12) && out.write(sizeWord.bytes.data(), sizeWord.bytes.size());
    ok = ok && out.commit();
    stream = nullptr;
    if (!ok) writeFailure = "writing '" + out.temporary + "' failed: " + out.cause();
    return ok;
}
