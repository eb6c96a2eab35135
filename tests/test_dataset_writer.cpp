// The results dataset: exact bytes of the format, port parameters from known
// wave conditions, the radiation records, and that a failed save never leaves a
// file that looks complete nor destroys an earlier one.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <complex>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.hpp"
#include "probes/Probe.hpp"
#include "results/RadiationSetup.hpp"
#include "results/Results.hpp"

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::scratchDir;
using testing_support::writeFile;

namespace {

std::uint32_t wordAt(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
    return value;
}

double realAt(const std::string& bytes, std::size_t offset) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | static_cast<unsigned char>(bytes[offset + i]);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::string le32(std::uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

std::string le64(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    std::string s;
    for (int i = 0; i < 8; ++i) s += static_cast<char>((bits >> (8 * i)) & 0xFF);
    return s;
}

// Ports and port 1's current probe with spectra set by hand; no engine needed.
struct PortSet {
    Results results;
    std::vector<std::unique_ptr<VoltageProbe>> voltages;
    std::unique_ptr<CurrentProbe> current;

    PortSet(const fs::path& file, std::vector<double> frequencies) {
        results.setFileName(file.string().c_str());
        results.frequencies = std::move(frequencies);
        current = std::make_unique<CurrentProbe>(nullptr, &results.frequencies);
        current->portNumber = 1;
        results.sourceCurrent = current.get();
    }
    VoltageProbe& addPort(int number, double impedance) {
        voltages.push_back(std::make_unique<VoltageProbe>(nullptr, &results.frequencies));
        voltages.back()->portNumber = number;
        voltages.back()->referenceImpedance = impedance;
        results.ports.push_back(voltages.back().get());
        return *voltages.back();
    }
};

std::complex<double> coefficient(const std::string& bytes, std::size_t offset) {
    return {realAt(bytes, offset), realAt(bytes, offset + 8)};
}

}  // namespace

TEST(DatasetWriter, OnePortOneFrequencyFileByteForByte) {
    const fs::path dir = scratchDir("dataset_bytes");
    PortSet set(dir / "out.dat", {1.5e9});
    set.addPort(1, 50.0).spectrum[0] = {3.0, 1.0};
    set.current->spectrum[0] = {-1.0, 0.5};
    ASSERT_TRUE(set.results.writeDataset(nullptr));

    const std::complex<double> v(3.0, 1.0), i(-1.0, 0.5);
    const std::complex<double> s11 = (v + 50.0 * i) / (v - 50.0 * i);
    std::string expected = "ZeltData";
    expected += std::string("\x00\x00\x02\x03", 4) + le32(40);
    expected += le32(3) + le32(1) + std::string("S11\0frequency\0", 14);
    expected += le32(5) + le32(1) + std::string("frequency\0", 10);
    const std::string bytes = readFile(dir / "out.dat");
    ASSERT_EQ(bytes.size(), 80u);
    EXPECT_EQ(bytes.substr(0, 56), expected);
    EXPECT_NEAR(realAt(bytes, 56), s11.real(), 1e-15);
    EXPECT_NEAR(realAt(bytes, 64), s11.imag(), 1e-15);
    EXPECT_EQ(bytes.substr(72), le64(1.5e9));
    EXPECT_FALSE(fs::exists(dir / "out.dat.partial"));
}

TEST(DatasetWriter, SizesGrowBy24BytesPerFrequency) {
    const fs::path dir = scratchDir("dataset_sizes");
    for (std::size_t n : {1u, 2u, 7u}) {
        PortSet set(dir / "out.dat", std::vector<double>(n, 1e9));
        set.addPort(1, 50.0);
        ASSERT_TRUE(set.results.writeDataset(nullptr));
        const std::string bytes = readFile(dir / "out.dat");
        EXPECT_EQ(bytes.size(), 56 + 24 * n);
        EXPECT_EQ(wordAt(bytes, 12), 40u);
        EXPECT_EQ(wordAt(bytes, 20), n);
    }
}

TEST(DatasetWriter, MatchedLoadReflectsNothingAndTransmissionFollowsImpedances) {
    const fs::path dir = scratchDir("dataset_waves");
    PortSet set(dir / "out.dat", {1e9, 2e9});
    VoltageProbe& port1 = set.addPort(1, -50.0);  // used by magnitude in S11
    VoltageProbe& port2 = set.addPort(2, 12.5);
    VoltageProbe& port3 = set.addPort(3, -12.5);
    const std::complex<double> current[2] = {{-1.0, 0.0}, {0.3, -0.7}};
    for (int f = 0; f < 2; ++f) {
        set.current->spectrum[f] = current[f];
        port1.spectrum[f] = 50.0 * -current[f];  // V = R (-I): a matched load
        port2.spectrum[f] = {30.0, 0.0};
        port3.spectrum[f] = {30.0, 0.0};
    }
    ASSERT_TRUE(set.results.writeDataset(nullptr));
    const std::string bytes = readFile(dir / "out.dat");
    const std::size_t data = 16 + 22 * 3 + 18;
    ASSERT_EQ(wordAt(bytes, 12), 22u * 3 + 18);
    EXPECT_EQ(coefficient(bytes, data), std::complex<double>(0.0, 0.0));
    EXPECT_EQ(coefficient(bytes, data + 16), std::complex<double>(0.0, 0.0));
    // Incident wave at port 1 ~ (V - R I) / (2 sqrt R) = 100 / (2 sqrt 50) at f0; the
    // wave leaving port 2 is V2 / sqrt(Z2), so S21 = 30 / 100 * 2 sqrt(50 / 12.5) = 1.2,
    // with the sign of the product of the two orientations.
    const std::complex<double> s21 = coefficient(bytes, data + 32);
    const std::complex<double> s31 = coefficient(bytes, data + 64);
    EXPECT_NEAR(s21.real(), -1.2, 1e-12);
    EXPECT_NEAR(s21.imag(), 0.0, 1e-12);
    EXPECT_EQ(s31, -s21);
    EXPECT_EQ(coefficient(bytes, data + 48), -coefficient(bytes, data + 80));
}

TEST(DatasetWriter, PortOrderDoesNotMatterAndNamesCountUp) {
    const fs::path dir = scratchDir("dataset_order");
    std::string files[2];
    for (int order = 0; order < 2; ++order) {
        PortSet set(dir / "out.dat", {1e9});
        set.current->spectrum[0] = {-0.5, 0.25};
        for (int k = 0; k < 10; ++k) {
            const int number = order == 0 ? k + 1 : 10 - k;
            set.addPort(number, 50.0 + number).spectrum[0] = {1.0 * number, -0.5 * number};
        }
        ASSERT_TRUE(set.results.writeDataset(nullptr));
        files[order] = readFile(dir / "out.dat");
    }
    EXPECT_EQ(files[0], files[1]);
    EXPECT_EQ(wordAt(files[0], 12), 22u * 10 + 18);
    EXPECT_EQ(files[0].substr(24, 4), std::string("S11\0", 4));
    EXPECT_EQ(files[0].substr(24 + 22, 4), std::string("S21\0", 4));
    EXPECT_EQ(files[0].substr(24 + 9 * 22, 4), std::string("S:1\0", 4));  // the tenth port
}

TEST(DatasetWriter, RadiationRecordsAndEfficiencyAtTheFarFieldFrequency) {
    const fs::path dir = scratchDir("dataset_radiation");
    for (std::size_t ports : {1u, 3u}) {
        PortSet set(dir / "out.dat", {1e9, 2e9});
        for (std::size_t k = 1; k <= ports; ++k) set.addPort(static_cast<int>(k), 50.0);
        set.voltages[0]->spectrum = {{4.0, 0.0}, {8.0, 0.0}};
        set.current->spectrum = {{-2.0, 0.0}, {-2.0, 0.0}};
        RadiationSetup rad(1.25e9f, 3, 4, 2);  // 5 azimuths, 3 elevations
        rad.radiatedPower = 2.0;
        rad.eElevation[7] = {1.0, 0.0};
        rad.eAzimuth[8] = {0.0, 1e-7};
        ASSERT_TRUE(set.results.writeDataset(&rad));

        const std::string bytes = readFile(dir / "out.dat");
        const std::size_t header = 22 * ports + 196;
        EXPECT_EQ(wordAt(bytes, 12), header);
        const std::size_t dirs = 15;
        std::size_t at = 16 + header + 2 * 16 * ports;
        ASSERT_EQ(bytes.size(), at + dirs * 8 + 2 * dirs * 16 + 16 + 5 * 8 + 3 * 8 + 2 * 8);
        EXPECT_EQ(wordAt(bytes, 16 + 22 * ports), 7u);  // "radiation": real, dependent
        EXPECT_EQ(bytes.substr(16 + 22 * ports + 8, 10), std::string("radiation\0", 10));
        EXPECT_GT(realAt(bytes, at + 7 * 8), 0.0);
        at += dirs * 8;
        EXPECT_EQ(coefficient(bytes, at + 8 * 16), std::complex<double>(0.0, 0.0));  // tiny: dropped
        at += dirs * 16;
        EXPECT_NEAR(std::abs(coefficient(bytes, at + 7 * 16)), 1.0, 1e-12);
        at += dirs * 16;
        EXPECT_DOUBLE_EQ(realAt(bytes, at), 10.0 * std::log10(rad.maxDirectivity));
        // At 1.25 GHz: V = 0.25 * 8 + 0.75 * 4 = 5, I = -2, P = -Re(V conj I) / 2 = 5.
        EXPECT_DOUBLE_EQ(realAt(bytes, at + 8), 100.0 * 2.0 / 5.0);
        for (int a = 0; a < 5; ++a) EXPECT_NEAR(realAt(bytes, at + 16 + 8 * a), -180.0 + 90.0 * a, 1e-12);
        for (int e = 0; e < 3; ++e) EXPECT_NEAR(realAt(bytes, at + 56 + 8 * e), -90.0 + 90.0 * e, 1e-12);
        EXPECT_NEAR(rad.azimuths.back(), 180.0, 1e-12);  // the setup keeps degrees
        EXPECT_EQ(realAt(bytes, at + 80), 1e9);
    }
}

TEST(DatasetWriter, FarFieldAtOrBelowTheFirstFrequencyUsesTheFirstSamples) {
    const fs::path dir = scratchDir("dataset_first");
    for (float farFrequency : {1e9f, 5e8f}) {
        PortSet set(dir / "out.dat", {1e9, 2e9});
        set.addPort(1, 50.0).spectrum = {{3.0, 1.0}, {100.0, 0.0}};
        set.current->spectrum = {{-1.0, -1.0}, {100.0, 0.0}};
        RadiationSetup rad(farFrequency, 3, 3, 2);
        rad.radiatedPower = 1.0;
        rad.eAzimuth[4] = {1.0, 0.0};
        ASSERT_TRUE(set.results.writeDataset(&rad));
        const std::string bytes = readFile(dir / "out.dat");
        const std::size_t at = 16 + 22 + 196 + 32 + 9 * 8 + 2 * 9 * 16;
        EXPECT_DOUBLE_EQ(realAt(bytes, at + 8), 100.0 * 1.0 / 2.0);  // P = (3 + 1) / 2
    }
}

TEST(DatasetWriter, UnsoundRequestsWriteNothingAndKeepTheEarlierFile) {
    const fs::path dir = scratchDir("dataset_refuse");
    const fs::path file = dir / "out.dat";
    writeFile(file, "earlier results");
    {
        PortSet set(file, {});
        set.addPort(1, 50.0);
        EXPECT_FALSE(set.results.writeDataset(nullptr));  // no frequencies
    }
    {
        PortSet set(file, {1e9});
        set.addPort(1, 50.0);
        set.results.sourceCurrent = nullptr;
        EXPECT_FALSE(set.results.writeDataset(nullptr));
    }
    for (const std::vector<int>& numbers : std::vector<std::vector<int>>{{1, 1}, {1, 3}, {2}, {0, 1}}) {
        PortSet set(file, {1e9});
        for (int number : numbers) set.addPort(number, 50.0);
        EXPECT_FALSE(set.results.writeDataset(nullptr));
    }
    {
        PortSet set(file, {1e9, 2e9});
        set.addPort(1, 50.0);
        RadiationSetup rad(2.5e9f, 3, 3, 2);  // above the last analysis frequency
        EXPECT_FALSE(set.results.writeDataset(&rad));
    }
    EXPECT_EQ(readFile(file), "earlier results");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST(DatasetWriter, FailedFileOperationsAreFailuresAndLeaveNoFile) {
    const fs::path dir = scratchDir("dataset_fail");
    {  // folder that does not exist
        PortSet set(dir / "missing" / "out.dat", {1e9});
        set.addPort(1, 50.0);
        EXPECT_FALSE(set.results.writeDataset(nullptr));
        EXPECT_FALSE(fs::exists(dir / "missing"));
    }
    {  // the temporary file cannot be created: the earlier file stays as it was
        writeFile(dir / "kept.dat", "earlier results");
        fs::create_directory(dir / "kept.dat.partial");
        PortSet set(dir / "kept.dat", {1e9});
        set.addPort(1, 50.0);
        EXPECT_FALSE(set.results.writeDataset(nullptr));
        EXPECT_EQ(readFile(dir / "kept.dat"), "earlier results");
    }
    {  // the complete file cannot replace the target: the temporary file goes away
        fs::create_directories(dir / "busy" / "inside");
        PortSet set(dir / "busy", {1e9});
        set.addPort(1, 50.0);
        EXPECT_FALSE(set.results.writeDataset(nullptr));
        EXPECT_TRUE(fs::is_directory(dir / "busy" / "inside"));
        EXPECT_FALSE(fs::exists(dir / "busy.partial"));
    }
    {  // writes fail part way (file size limit): failure, earlier file untouched
        writeFile(dir / "limited.dat", "earlier results");
        PortSet set(dir / "limited.dat", {1e9, 2e9, 3e9, 4e9});
        set.addPort(1, 50.0);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = 100;
        setrlimit(RLIMIT_FSIZE, &limited);
        const bool written = set.results.writeDataset(nullptr);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, savedHandler);
        EXPECT_FALSE(written);
        EXPECT_EQ(readFile(dir / "limited.dat"), "earlier results");
        EXPECT_FALSE(fs::exists(dir / "limited.dat.partial"));
    }
}
