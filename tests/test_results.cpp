// Probes, the far field and the results file: port paths and loops on
// hand-filled fields, spectra at their field times, Huygens faces, an analytic
// dipole through the transform, and the dataset bytes and their atomic save.
#include <sys/resource.h>

#include <cmath>
#include <csignal>

#include "results/FieldProbe.hpp"
#include "results/RadiationSetup.hpp"
#include "tests/TestSupport.hpp"

using namespace fendrix;

using namespace testing_support;
namespace fs = std::filesystem;
using cd = std::complex<double>;

namespace {

constexpr double kPi = 3.141592653589793;

void setIndices(Probe& probe, std::uint32_t x1, std::uint32_t y1, std::uint32_t z1, std::uint32_t x2,
                std::uint32_t y2, std::uint32_t z2) {
    probe.lowIndex[0] = x1, probe.lowIndex[1] = y1, probe.lowIndex[2] = z1;
    probe.highIndex[0] = x2, probe.highIndex[1] = y2, probe.highIndex[2] = z2;
}

// H with circulation 2 per unit cell area around `axis`: (-y, x) in the plane
// across it, other components set to values a loop must not read.
void curlingH(HandGrid& g, int axis, float sign = 1.0f) {
    const int u = (axis + 1) % 3, v = (axis + 2) % 3;
    for (std::uint32_t p = 0; p < 512; ++p) {  // an 8 x 8 x 8 grid
        const std::uint32_t n[3] = {p % 8, p / 8 % 8, p / 64};
        g.h(n[0], n[1], n[2], u) = -sign * float(n[v]), g.h(n[0], n[1], n[2], v) = sign * float(n[u]);
        g.h(n[0], n[1], n[2], axis) = 77.0f;
    }
}

}  // namespace

// The voltage sums edge voltages from the first corner along each axis; the
// current is the loop sum of H around the port (Ampere), positive along +axis.
TEST(Results, PortProbesSumPathsAndLoops) {
    HandGrid g(8, 8, 8, 1.0);
    for (std::uint32_t p = 0; p < 512; ++p)
        for (int c = 0; c < 3; ++c) g.e(p % 8, p / 8 % 8, p / 64, c) = float(1000 * c + 100 * (p % 8) + 10 * (p / 8 % 8) + p / 64);
    VoltageProbe voltage(&g.engine, nullptr);
    setIndices(voltage, 1, 2, 1, 3, 4, 4);
    EXPECT_DOUBLE_EQ(voltage.value(), (121 + 221) + (1121 + 1131) + (2121 + 2122 + 2123));
    const double p1[3] = {1.2, 2.0, 2.9}, p2[3] = {3.6, 2.0, 2.9};
    voltage.place(p1, p2);  // nearest lines: x 1..4, y 2, z 3
    EXPECT_DOUBLE_EQ(voltage.value(), 123 + 223 + 323);

    CurrentProbe current(&g.engine, nullptr);
    const std::uint32_t boxes[3][6] = {{3, 1, 2, 3, 4, 4}, {1, 3, 2, 5, 3, 3}, {1, 2, 3, 4, 5, 3}};
    for (int axis = 0; axis < 3; ++axis) {
        const std::uint32_t* b = boxes[axis];
        current.direction = axis;
        setIndices(current, b[0], b[1], b[2], b[3], b[4], b[5]);
        const std::uint32_t w[3] = {b[3] - b[0], b[4] - b[1], b[5] - b[2]};
        curlingH(g, axis);
        EXPECT_DOUBLE_EQ(current.value(), 2.0 * w[(axis + 1) % 3] * w[(axis + 2) % 3]) << axis;
        curlingH(g, axis, -1.0f);
        EXPECT_DOUBLE_EQ(current.value(), -2.0 * w[(axis + 1) % 3] * w[(axis + 2) % 3]) << axis;
    }
    // The loop runs along cell centres around the port, widened where a corner
    // lies in the outer half of its cell and opened around a flat port, but
    // never beyond the grid.
    current.direction = 2;
    const double placements[][6] = {{1.5, 2.0, 3.0, 3.5, 2.0, 3.0}, {1.2, 1.2, 3.0, 3.7, 1.2, 3.0},
                                    {0.0, 0.0, 3.0, 2.0, 0.0, 3.0}, {5.2, 7.6, 3.0, 7.8, 7.6, 3.0}};
    const std::uint32_t loops[][4] = {{1, 3, 1, 2}, {0, 4, 0, 2}, {0, 2, 0, 0}, {4, 7, 7, 7}};
    for (int i = 0; i < 4; ++i) {
        current.place(placements[i], placements[i] + 3);
        const std::uint32_t got[4] = {current.lowIndex[0], current.highIndex[0], current.lowIndex[1], current.highIndex[1]};
        EXPECT_TRUE(std::equal(got, got + 4, loops[i])) << i;
    }
    // A port whose middle plane across the current lies between mesh lines:
    // the loop stays in that plane's cell along the current, whichever half
    // of the cell it lies in.
    const struct { int direction; double p1[3], p2[3]; std::uint32_t low[3], high[3]; } between[] = {
        {2, {1.5, 2.0, 3.7}, {3.5, 2.0, 3.7}, {1, 1, 3}, {3, 2, 3}},
        {0, {4.3, 1.2, 2.5}, {4.3, 1.2, 5.5}, {4, 0, 2}, {4, 2, 5}},
        {1, {2.0, 5.6, 1.0}, {4.6, 5.6, 1.0}, {1, 5, 0}, {5, 5, 1}},
    };
    for (const auto& c : between) {
        current.direction = c.direction;
        current.place(c.p1, c.p2);
        for (int a = 0; a < 3; ++a) {
            EXPECT_EQ(current.lowIndex[a], c.low[a]) << c.direction << " axis " << a;
            EXPECT_EQ(current.highIndex[a], c.high[a]) << c.direction << " axis " << a;
        }
    }
}

// Running transforms: v e^(-j w t) with t at whole steps for voltages and half
// a step later for currents and H.
TEST(Results, SpectraSampleAtTheirFieldTimes) {
    HandGrid g(6, 6, 6, 0.5);
    for (std::uint32_t p = 0; p < 216; ++p) {
        const std::uint32_t x = p % 6, y = p / 6 % 6, z = p / 36;
        g.e(x, y, z, 0) = 0.75f;
        g.h(x, y, z, 0) = -float(y), g.h(x, y, z, 1) = float(x), g.h(x, y, z, 2) = -1.5f;
    }
    const std::vector<double> frequencies{2.5e10, 1e9};
    VoltageProbe voltage(&g.engine, &frequencies);
    CurrentProbe current(&g.engine, &frequencies);
    setIndices(voltage, 1, 1, 1, 3, 1, 1);  // V = 1.5
    setIndices(current, 1, 1, 1, 2, 2, 1);  // I = 2 around z
    current.direction = 2;
    RadiationSetup setup(1e9f, 3, 3, 2);
    FieldProbe face(&g.engine, &setup, 2);
    g.engine.stepCount = 10, g.engine.timeStep = 1e-12;
    voltage.sample(), current.sample(), face.sample();
    for (std::size_t m = 0; m < 2; ++m) {
        const double w = 2 * kPi * frequencies[m];
        EXPECT_LT(std::abs(voltage.spectrum[m] - 1.5 * std::exp(cd(0, -w * 10e-12))), 1e-6);
        EXPECT_LT(std::abs(current.spectrum[m] - 2.0 * std::exp(cd(0, -w * 10.5e-12))), 1e-6);
    }
    // Node values: Ex 0.75 / 0.5 m = 1.5 V/m; Hz -1.5 / 0.5 m = -3 A/m.
    EXPECT_LT(std::abs(cd(face.eSpectrum[0]) - 1.5 * std::exp(cd(0, -2 * kPi * 1e9 * 10e-12))), 1e-6);
    EXPECT_LT(std::abs(cd(face.hSpectrum[2]) + 3.0 * std::exp(cd(0, -2 * kPi * 1e9 * 10.5e-12))), 1e-6);
}

// Node fields from edge values on a non-uniform mesh, where the Huygens box
// lies for a margin, and the outward direction of each face.
TEST(Results, HuygensFacesInterpolateAndFaceOutwards) {
    HandGrid g(5, 5, 5);
    const std::vector<double> lines[3] = {{0, 1, 3, 6, 10}, {0, 2, 3, 5, 8}, {0, 1, 2, 4, 7}};
    for (int a = 0; a < 3; ++a) g.engine.meshLines[a] = lines[a];
    for (std::uint32_t f = 0; f < 24 * g.engine.blockCount(); ++f) g.engine.eField[f] = 1000.0f;
    // Around node (2, 2, 2) at (3, 3, 2) m: field times edge length.
    g.e(1, 2, 2, 0) = 2.0f * 2, g.e(2, 2, 2, 0) = 3.0f * 3;   // Ex 2 at x = 2, 3 at x = 4.5
    g.e(2, 1, 2, 1) = 1.0f * 1, g.e(2, 2, 2, 1) = 4.0f * 2;   // Ey 1 at y = 2.5, 4 at y = 4
    g.e(2, 2, 1, 2) = 5.0f * 1, g.e(2, 2, 2, 2) = -1.0f * 2;  // Ez 5 at z = 1.5, -1 at z = 3
    g.h(2, 2, 2, 0) = 1, g.h(2, 1, 2, 0) = 2, g.h(2, 1, 1, 0) = 3, g.h(2, 2, 1, 0) = 4;
    g.h(2, 2, 2, 1) = 2, g.h(2, 2, 1, 1) = 4, g.h(1, 2, 1, 1) = 6, g.h(1, 2, 2, 1) = 8;
    // A region of nodes 1 to 3 on each axis (no face: the whole box).
    RadiationSetup around(1e8f, 3, 3, 2);
    FieldProbe nodes(&g.engine, &around, -1);
    nodes.tabulateNodes();
    double e[3], h[3];
    nodes.nodeFields(1, 1, 1, e, h);
    // E_x: 2 + (3 - 2) * 1 / 2.5; H_x: the mean 2.5 over the dual length 2.5.
    const double expected[5] = {2.4, 2.0, 3.0, 1.0, 5.0 / 1.5}, got[5] = {e[0], e[1], e[2], h[0], h[1]};
    for (int i = 0; i < 5; ++i) EXPECT_DOUBLE_EQ(got[i], expected[i]) << i;

    HandGrid box(7, 7, 8, 1.0);
    for (std::uint32_t p = 0; p < 7 * 7 * 8; ++p) box.e(p % 7, p / 7 % 7, p / 49, 1) = box.h(p % 7, p / 7 % 7, p / 49, 2) = 1;
    for (int face : {0, 1}) {
        RadiationSetup setup(1e8f, 3, 3, 1);  // margins below 2 act as 2: faces at 1 and N - 2
        FieldProbe probe(&box.engine, &setup, face);
        EXPECT_EQ(probe.lowIndex[0], face ? 5u : 1u);
        EXPECT_EQ(probe.highIndex[2], 6u);
        probe.sample();
        captured(0, [&] { probe.analyze(); return 0; });
        // E_y H_z carries power towards +x: half of it over the 4 x 5 m face, outward.
        EXPECT_NEAR(setup.radiatedPower, face ? 10.0 : -10.0, 1e-9) << face;
    }
}

namespace {

// The exact near and far fields (exp(+j w t)) of a z-directed Hertzian dipole
// of moment 1 A m at `source`, sampled on the nodes of a box:
//   H = j k / (4 pi r) (1 + 1/(j k r)) e^(-j k r) (z x r^)
//   E = eta / (2 pi r^2) (1 + 1/(j k r)) e^(-j k r) cos(th) r^
//     + j eta k / (4 pi r) (1 + 1/(j k r) - 1/(k r)^2) e^(-j k r) (cos(th) r^ - z)
struct DipoleBox {
    double source[3] = {0, 0, 0}, centre[3] = {0, 0, 0};
    double half[3] = {0.15, 0.12, 0.18};
    std::uint32_t nodes[3] = {21, 17, 25};  // about 20 per wavelength at 1 GHz

    void fields(const double p[3], cd e[3], cd h[3]) const {
        const double k = 2 * kPi * 1e9 / 299792458.0, eta = 376.730313461;
        const double d[3] = {p[0] - source[0], p[1] - source[1], p[2] - source[2]};
        const double r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        const double u[3] = {d[0] / r, d[1] / r, d[2] / r}, zCrossR[3] = {-u[1], u[0], 0.0};
        const cd jkr(0.0, k * r), wave = std::exp(-jkr), near = 1.0 + 1.0 / jkr;
        const cd radial = eta / (2 * kPi * r * r) * near * wave * u[2];
        const cd transverse = cd(0, eta * k) / (4 * kPi * r) * (near - 1.0 / (k * r * k * r)) * wave;
        for (int c = 0; c < 3; ++c) {
            h[c] = cd(0, k) / (4 * kPi * r) * near * wave * zCrossR[c];
            e[c] = radial * u[c] + transverse * (u[2] * u[c] - (c == 2 ? 1.0 : 0.0));
        }
    }

    // Feeds the six faces, as the face probes would, into a fresh setup.
    RadiationSetup transform(int threads = 1, bool finish = true) const {
        RadiationSetup setup(1e9f, 19, 37, 2);
        setup.threadCount = threads;
        std::vector<double> all[3];
        for (int a = 0; a < 3; ++a)
            for (std::uint32_t i = 0; i < nodes[a]; ++i)
                all[a].push_back(centre[a] - half[a] + 2 * half[a] * i / (nodes[a] - 1));
        for (int face = 0; face < 6; ++face) {
            std::uint32_t counts[3] = {nodes[0], nodes[1], nodes[2]};
            counts[face / 2] = 1;
            const double* coords[3] = {all[0].data(), all[1].data(), all[2].data()};
            if (face % 2) coords[face / 2] += nodes[face / 2] - 1;
            std::vector<std::complex<float>> e(3 * counts[0] * counts[1] * counts[2]), h(e.size());
            for (std::size_t s = 0; s < e.size() / 3; ++s) {
                const double p[3] = {coords[0][s % counts[0]], coords[1][s / counts[0] % counts[1]],
                                     coords[2][s / counts[0] / counts[1]]};
                cd ev[3], hv[3];
                fields(p, ev, hv);
                for (int c = 0; c < 3; ++c) e[3 * s + c] = std::complex<float>(ev[c]), h[3 * s + c] = std::complex<float>(hv[c]);
            }
            EXPECT_TRUE(setup.accumulateFace(counts, coords, e.data(), h.data(), face % 2 ? 1 : -1));
        }
        if (finish) setup.finishPattern();
        return setup;
    }
};

}  // namespace

// The textbook short dipole: radiated power eta (k I l)^2 / (12 pi),
// directivity 1.5 sin^2 of the polar angle, all of the field along theta; the
// same wherever the structure lies, and bit for bit on any thread count.
TEST(Results, AnalyticDipoleThroughTheFarFieldTransform) {
    DipoleBox box;
    const RadiationSetup setup = box.transform();
    const double k = 2 * kPi * 1e9 / 299792458.0;
    EXPECT_NEAR(setup.radiatedPower / (376.730313461 * k * k / (12 * kPi)), 1.0, 0.005);
    EXPECT_NEAR(10 * std::log10(setup.maxDirectivity), 1.761, 0.05);
    const std::uint32_t A = setup.azimuthCount, E = setup.elevationCount;
    for (std::uint32_t i = 0; i < A * E; ++i) {
        const double c = std::cos(setup.elevations[i / A]);
        EXPECT_NEAR(setup.directivity[i], 1.5 * c * c, 0.01) << i;
        EXPECT_LT(std::abs(setup.eAzimuth[i]), 5e-3) << i;
        EXPECT_EQ(setup.eElevation[i / A * A], setup.eElevation[i / A * A + A - 1]);  // -180 and 180 degrees
    }
    DipoleBox moved;  // the coordinate origin far outside the box
    const double shift[3] = {0.5, 0.3, -0.25};
    for (int a = 0; a < 3; ++a) moved.source[a] = moved.centre[a] = shift[a];
    const RadiationSetup shifted = moved.transform();
    for (std::size_t i = 0; i < A * E; ++i) EXPECT_NEAR(shifted.directivity[i], setup.directivity[i], 1e-4);

    box.source[0] = 0.03, box.source[2] = -0.05;  // every direction different
    const RadiationSetup one = box.transform(1, false);
    for (int threads : {2, 3, 16}) {
        const RadiationSetup many = box.transform(threads, false);
        EXPECT_EQ(std::memcmp(many.eElevation.data(), one.eElevation.data(), 16 * A * E), 0) << threads;
        EXPECT_EQ(std::memcmp(many.eAzimuth.data(), one.eAzimuth.data(), 16 * A * E), 0) << threads;
    }
}

namespace {

// Ports and port 1's current probe with spectra set by hand.
struct PortSet {
    Results results;
    std::vector<std::unique_ptr<VoltageProbe>> ports;
    CurrentProbe current{nullptr, &results.frequencies};
    PortSet(const fs::path& file, std::vector<double> frequencies) {
        results.setFileName(file.string().c_str());
        results.frequencies = std::move(frequencies);
        current.spectrum.resize(results.frequencies.size());
        results.sourceCurrent = &current;
    }
    VoltageProbe& add(int number, double impedance) {
        ports.push_back(std::make_unique<VoltageProbe>(nullptr, &results.frequencies));
        ports.back()->portNumber = number;
        ports.back()->referenceImpedance = impedance;
        results.ports.push_back(ports.back().get());
        return *ports.back();
    }
};

std::string le(const void* value, std::size_t size) { return std::string(static_cast<const char*>(value), size); }

}  // namespace

// The whole file of one port at one frequency, byte for byte; S11 from the
// waves at port 1 (incident V - R I, reflected V + R I, I out of the port).
TEST(Results, DatasetBytesAndPortParameters) {
    const fs::path dir = scratchDir("dataset");
    PortSet one(dir / "out.dat", {1.5e9});
    one.add(1, 50.0).spectrum[0] = {3.0, 1.0};
    one.current.spectrum[0] = {-1.0, 0.5};
    ASSERT_TRUE(one.results.writeDataset(nullptr));
    const cd s11 = (cd(3, 1) + 50.0 * cd(-1, 0.5)) / (cd(3, 1) - 50.0 * cd(-1, 0.5));
    const std::uint32_t words[] = {0x03020000u, 40, 3, 1, 5, 1};
    const double frequency = 1.5e9;
    const std::string bytes = readFile(dir / "out.dat");
    EXPECT_EQ(bytes.substr(0, 56),
              "ZeltData" + le(words, 16) + le("S11\0frequency\0", 14) + le(words + 4, 8) + le("frequency\0", 10));
    EXPECT_EQ(bytes.substr(72), le(&frequency, 8));
    auto data = parseDataset(bytes);
    ASSERT_TRUE(data.valid);
    EXPECT_NEAR(std::abs(data.complexes["S11"][0] - s11), 0.0, 1e-15);

    // A matched port 1 reflects nothing; port k's wave V_k / sqrt|Z_k| over the
    // incident one, with the sign of the two orientations: 30 / 100 * 2 sqrt(50 / 12.5).
    PortSet three(dir / "three.dat", {1e9, 2e9});
    VoltageProbe& port1 = three.add(1, -50.0);
    three.add(3, -12.5).spectrum = {{30, 0}, {30, 0}};
    three.add(2, 12.5).spectrum = {{30, 0}, {30, 0}};
    three.current.spectrum = {{-1, 0}, {0.3, -0.7}};
    for (int f = 0; f < 2; ++f) port1.spectrum[f] = -50.0 * three.current.spectrum[f];
    ASSERT_TRUE(three.results.writeDataset(nullptr));
    data = parseDataset(readFile(dir / "three.dat"));
    ASSERT_TRUE(data.valid);
    EXPECT_EQ(data.complexes["S11"], (std::vector<cd>{0, 0}));
    EXPECT_NEAR(std::abs(data.complexes["S21"][0] - cd(-1.2, 0)), 0.0, 1e-12);
    EXPECT_EQ(data.complexes["S31"][0], -data.complexes["S21"][0]);

    // Far field: degrees, dBi, and the efficiency with port 1's power linearly
    // interpolated to the far-field frequency, 1.25 GHz: V = 5, I = -2, P = 5.
    PortSet rad(dir / "rad.dat", {1e9, 2e9});
    rad.add(1, 50.0).spectrum = {{4.0, 0.0}, {8.0, 0.0}};
    rad.current.spectrum = {{-2.0, 0.0}, {-2.0, 0.0}};
    RadiationSetup setup(1.25e9f, 3, 4, 2);  // 5 azimuths, 3 elevations
    setup.radiatedPower = 2.0;
    setup.eElevation[7] = {1.0, 0.0};
    ASSERT_TRUE(rad.results.writeDataset(&setup));
    data = parseDataset(readFile(dir / "rad.dat"));
    ASSERT_TRUE(data.valid);
    EXPECT_DOUBLE_EQ(data.reals["efficiency"][0], 100.0 * 2.0 / 5.0);
    EXPECT_DOUBLE_EQ(data.reals["directivity_dBi"][0], 10.0 * std::log10(setup.maxDirectivity));
    for (int a = 0; a < 5; ++a) EXPECT_NEAR(data.reals["azimuth"][a], -180.0 + 90.0 * a, 1e-12);
    EXPECT_TRUE(data.reals["radiation"].size() == 15u && data.complexes["E_azi"].size() == 15u);
}

// A request with no sound meaning, or a file operation that fails at any
// point, writes nothing and leaves an earlier file as it was: the file is
// written under a temporary name and renamed when complete.
TEST(Results, FailedSavesKeepTheEarlierFile) {
    const fs::path dir = scratchDir("dataset_fail");
    writeFile(dir / "out.dat", "earlier results");
    for (const std::vector<int>& numbers : std::vector<std::vector<int>>{{}, {1, 1}, {1, 3}, {2}, {0, 1}}) {
        PortSet set(dir / "out.dat", {1e9});
        for (int number : numbers) set.add(number, 50.0);
        EXPECT_FALSE(set.results.writeDataset(nullptr));
    }
    PortSet above(dir / "out.dat", {1e9, 2e9});
    above.add(1, 50.0);
    RadiationSetup farAbove(2.5e9f, 3, 3, 2);  // beyond the last analysis frequency
    EXPECT_FALSE(above.results.writeDataset(&farAbove));

    fs::create_directory(dir / "busy.partial");  // the temporary file cannot be created
    writeFile(dir / "busy", "earlier results");
    fs::create_directories(dir / "dir" / "inside");  // the complete file cannot replace a folder
    for (const char* name : {"missing/out.dat", "busy", "dir"}) {
        PortSet set(dir / name, {1e9});
        set.add(1, 50.0);
        EXPECT_FALSE(set.results.writeDataset(nullptr)) << name;
    }
    PortSet limited(dir / "out.dat", {1e9, 2e9, 3e9, 4e9});  // writes fail part way
    limited.add(1, 50.0);
    rlimit saved{}, small{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    small = {100, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    EXPECT_FALSE(limited.results.writeDataset(nullptr));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);

    EXPECT_EQ(readFile(dir / "out.dat"), "earlier results");
    EXPECT_EQ(readFile(dir / "busy"), "earlier results");
    EXPECT_TRUE(fs::is_directory(dir / "dir" / "inside"));
    EXPECT_FALSE(fs::exists(dir / "out.dat.partial") || fs::exists(dir / "dir.partial") || fs::exists(dir / "missing"));
}
