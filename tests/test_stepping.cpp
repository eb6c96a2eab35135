// The time stepping against plain references: a scalar Yee update, the serial
// order of faces, source and kernels on any thread count, the Mur formula on
// every face, the source waveform and the energy measure.
#include <pthread.h>
#include <sched.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <random>

#include "common/PhysicalConstants.hpp"
#include "engine/KernelWidth.hpp"
#include "engine/MurBoundary.hpp"
#include "probes/Probe.hpp"
#include "tests/TestSupport.hpp"

using namespace fendrix;

using namespace testing_support;

namespace {

// The Yee update one cell at a time over (i, j, k), knowing nothing of lanes:
// a row is 4 Nv cells with 0 before the first and after the last; the first
// row and plane are their own backward neighbours, the last are never updated.
struct ScalarYee {
    std::size_t nx, ny, nz;
    std::vector<float> e[3], h[3], ca[3], cb[3], da[3], db[3];
    const FdtdEngine& engine;

    std::size_t at(std::size_t i, std::size_t j, std::size_t k) const { return (k * ny + j) * nx + i; }
    std::size_t stored(std::size_t i, std::size_t j, std::size_t k, int a) const {
        return 12 * ((k * ny + j) * engine.Nv + i % engine.Nv) + 4 * a + i / engine.Nv;
    }

    explicit ScalarYee(const FdtdEngine& g) : nx(4 * std::size_t(g.Nv)), ny(g.Ny()), nz(g.Nz()), engine(g) {
        for (int a = 0; a < 3; ++a)
            for (auto* v : {&e[a], &h[a], &ca[a], &cb[a], &da[a], &db[a]}) v->resize(nx * ny * nz);
        for (std::size_t p = 0; p < nx * ny * nz; ++p)
            for (int a = 0; a < 3; ++a) {
                const std::size_t i = p % nx, j = p / nx % ny, k = p / nx / ny, f = stored(i, j, k, a);
                const std::size_t keep = 4 * std::size_t(g.keepIndex[f / 12]) + f % 12;
                const std::size_t curl = 4 * std::size_t(g.curlIndex[f / 12]) + f % 12;
                e[a][p] = g.eField[f], h[a][p] = g.hField[f];
                ca[a][p] = g.caTable[keep], da[a][p] = g.daTable[keep];
                cb[a][p] = g.cbTable[curl], db[a][p] = g.dbTable[curl];
            }
    }

    void step() {
        for (std::size_t p = 0; p < nx * ny * nz; ++p) {
            const std::size_t i = p % nx, j = p / nx % ny, k = p / nx / ny;
            const std::size_t py = j > 0 ? p - nx : p, pz = k > 0 ? p - nx * ny : p;
            const float hyX = i > 0 ? h[1][p - 1] : 0.0f, hzX = i > 0 ? h[2][p - 1] : 0.0f;
            const float curl[3] = {(h[2][p] - h[2][py]) - (h[1][p] - h[1][pz]),
                                   (h[0][p] - h[0][pz]) - (h[2][p] - hzX),
                                   (h[1][p] - hyX) - (h[0][p] - h[0][py])};
            for (int a = 0; a < 3; ++a) e[a][p] = ca[a][p] * e[a][p] + cb[a][p] * curl[a];
        }
        for (std::size_t p = 0; p < nx * ny * nz; ++p) {
            const std::size_t i = p % nx, j = p / nx % ny, k = p / nx / ny;
            if (j + 1 == ny || k + 1 == nz) continue;
            const std::size_t py = p + nx, pz = p + nx * ny;
            const float eyX = i + 1 < nx ? e[1][p + 1] : 0.0f, ezX = i + 1 < nx ? e[2][p + 1] : 0.0f;
            const float curl[3] = {(e[2][py] - e[2][p]) - (e[1][pz] - e[1][p]),
                                   (e[0][pz] - e[0][p]) - (ezX - e[2][p]),
                                   (eyX - e[1][p]) - (e[0][py] - e[0][p])};
            for (int a = 0; a < 3; ++a) h[a][p] = da[a][p] * h[a][p] - db[a][p] * curl[a];
        }
    }

    std::size_t mismatches() const {
        std::size_t bad = 0;
        for (std::size_t p = 0; p < nx * ny * nz; ++p)
            for (int a = 0; a < 3; ++a) {
                const std::size_t f = stored(p % nx, p / nx % ny, p / nx / ny, a);
                bad += std::memcmp(&e[a][p], &engine.eField[f], 4) != 0;
                bad += std::memcmp(&h[a][p], &engine.hField[f], 4) != 0;
            }
        return bad;
    }
};

// Random coefficient sets and set indices, random fields everywhere (spare
// positions and the never-updated last rows included), kept finite.
void randomise(HandGrid& g, std::mt19937& rng) {
    std::uniform_int_distribution<std::uint32_t> setCount(1, 4);
    const std::uint32_t keepSets = setCount(rng), curlSets = setCount(rng);
    g.allocateSets(keepSets, curlSets);
    std::uniform_real_distribution<float> self(-1.0f, 1.0f), curl(-0.2f, 0.2f);
    FdtdEngine& e = g.engine;
    for (std::uint32_t f = 0; f < 12 * keepSets; ++f) e.caTable[f] = self(rng), e.daTable[f] = self(rng);
    for (std::uint32_t f = 0; f < 12 * curlSets; ++f) e.cbTable[f] = curl(rng), e.dbTable[f] = curl(rng);
    for (std::uint32_t b = 0; b < e.blockCount(); ++b)
        e.keepIndex[b] = 3 * (rng() % keepSets), e.curlIndex[b] = 3 * (rng() % curlSets);
    for (std::uint32_t f = 0; f < 24 * e.blockCount(); ++f) e.eField[f] = self(rng);
}

// A 13 x 10 x 9-line box, absorbing on all six faces, a dielectric reaching two
// of them, port 1 as given, random fields: every face point has its own value.
std::unique_ptr<Simulation> absorbingBox(int threads, const std::string& port,
                                         const std::string& boundary = "2 2 2 2 2 2") {
    auto sim = simulationOf(
        boxDescription(13, 10, 9, "Dielectric 4.4 0.02\nCube 0,0,0.004 0.005,0.006,0.008\n/\n" + port,
                       "Sim 0 1e-3 4 out.dat", boundary),
        threads);
    std::mt19937 rng(4242);
    std::uniform_real_distribution<float> field(-1.0f, 1.0f);
    if (sim)
        for (std::size_t f = 0; f < 24 * sim->engine->blockCount(); ++f) sim->engine->eField[f] = field(rng);
    return sim;
}

// One time step in the plain order: every face saves its neighbour line, E
// everywhere, every face accumulates, every face applies, the source, H.
void serialStep(FdtdEngine& g) {
    const std::size_t nz = g.Nz();
    for (auto& face : g.boundaries) if (face) face->saveNeighbour(0, nz);
    g.updateEPlanes(0, nz);
    for (auto& face : g.boundaries) if (face) face->accumulate(0, nz);
    for (auto& face : g.boundaries) if (face) face->apply(0, nz);
    const Excitation& source = *g.excitation;
    if (g.stepCount < source.samples.size())
        for (std::uint32_t i = 0; i < source.edgeCount; ++i)
            g.eField[source.edgeOffsets[i]] += source.edgeWeights[i] * source.samples[g.stepCount];
    g.updateHPlanes(0, nz);
    ++g.stepCount;
}

std::vector<float> fieldsOf(const FdtdEngine& g) { return {g.eField, g.eField + 24 * g.blockCount()}; }

std::size_t threadsOfProcess() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) ++count;
    return count;
}

}  // namespace

// Puts back the kernel width a test found when it ends.
struct WidthGuard {
    int width = kernelWidth();
    ~WidthGuard() { setKernelWidth(width); }
};

// The vector kernels of every width this processor runs give the scalar update
// bit for bit, whatever the sizes (rows of 1 to 12 blocks: every mix of wide
// groups, single blocks and the seam column) and whichever order the planes
// are done in; a width the processor cannot run is refused.
TEST(Stepping, KernelsMatchTheScalarYeeUpdateBitForBit) {
    WidthGuard guard;
    EXPECT_FALSE(setKernelWidth(12));
    std::mt19937 rng(12345);
    for (int width = 4; width <= widestKernelWidth(); width *= 2)
        for (std::uint32_t nx : {1u, 5u, 6u, 8u, 13u, 21u, 29u, 45u})
            for (std::uint32_t ny : {1u, 2u, 5u})
                for (std::uint32_t nz : {1u, 2u, 4u}) {
                    ASSERT_TRUE(setKernelWidth(width));
                    HandGrid g(nx, ny, nz);
                    randomise(g, rng);
                    ScalarYee reference(g.engine);
                    for (int step = 0; step < 25; ++step) {
                        for (std::size_t k = nz; k-- > 0;) g.engine.updateEPlanes(k, k + 1);
                        for (std::size_t k = nz; k-- > 0;) g.engine.updateHPlanes(k, k + 1);
                        reference.step();
                    }
                    EXPECT_EQ(reference.mismatches(), 0u)
                        << width << " floats, " << nx << " x " << ny << " x " << nz;
                }
}

// However the threads share planes and face points, however many steps a
// sweep takes at once (windows longer and shorter than chunks, slabs and the
// grid, on the widest kernels too), and however the steps are split into
// chunks, the fields are those of the serial order bit for bit;
// also with the source on an x face's neighbour line, in the first plane too
// (there below a conducting z face, so that no other face owns that edge).
TEST(Stepping, ThreadsGiveTheSerialOrderBitForBit) {
    struct Case { std::string port, boundary; std::vector<int> threads; };
    const Case cases[] = {
        {"Electric 1 0 50 x 0.006,0.005,0.004 0.008,0.005,0.004\n", "2 2 2 2 2 2", {1, 2, 3, 7, 16}},
        {"Electric 1 1 50 x 0.001,0.003,0.004 0.001,0.005,0.004\n", "2 2 2 2 2 2", {1, 3}},
        {"Electric 1 1 50 x 0.001,0.003,0 0.001,0.005,0\n", "2 2 2 2 0 2", {2}},
    };
    for (const auto& [port, boundary, threadCounts] : cases) {
        auto reference = absorbingBox(1, port, boundary);
        ASSERT_TRUE(reference);
        ASSERT_NE(reference->engine->excitation->edgeCount, 0u);
        for (int step = 0; step < 12; ++step) serialStep(*reference->engine);
        for (int threads : threadCounts) {
            auto sim = absorbingBox(threads, port, boundary);
            sim->engine->runSteps(5);
            sim->engine->runSteps(7);
            EXPECT_EQ(sim->engine->stepCount, 12u);
            EXPECT_TRUE(fieldsOf(*sim->engine) == fieldsOf(*reference->engine))
                << threads << " threads, " << port;
        }
        if (port != cases[0].port) continue;
        WidthGuard guard;
        for (std::uint32_t window : {2u, 3u, 5u, 16u})
            for (int threads : {1, 2, 3}) {
                setKernelWidth(window == 3 ? widestKernelWidth() : 4);
                auto sim = absorbingBox(threads, port, boundary);
                FdtdEngine& engine = *sim->engine;
                engine.sweepPlan.stepsPerSweep = window;
                engine.sweepPlan.measureEnergy = true;
                for (std::uint32_t steps : {5u, 2u, 5u}) engine.runSteps(steps);
                EXPECT_TRUE(fieldsOf(engine) == fieldsOf(*reference->engine)) << window << " steps per sweep";
                // The sweep took the energy on the way, as a separate pass does.
                EXPECT_TRUE(engine.sweptEnergy.valid);
                const double swept = engine.fieldEnergy();
                engine.sweptEnergy.valid = false;
                EXPECT_EQ(swept, engine.fieldEnergy())
                    << window << " steps per sweep, " << threads << " threads";
            }
        // One engine's stepping threads live from its first chunk to its end,
        // whatever thread count and window each chunk takes.
        const std::size_t before = threadsOfProcess();
        {
            auto sim = absorbingBox(3, port, boundary);
            FdtdEngine& engine = *sim->engine;
            const struct { int threads; std::uint32_t steps, window; } chunks[] = {
                {3, 4, 1}, {1, 2, 1}, {2, 3, 3}, {3, 1, 1}, {3, 2, 2}};
            for (const auto& chunk : chunks) {
                engine.threadCount = chunk.threads, engine.sweepPlan.stepsPerSweep = chunk.window;
                engine.runSteps(chunk.steps);
                EXPECT_EQ(threadsOfProcess(), before + 2) << chunk.threads << " threads";
            }
            EXPECT_TRUE(fieldsOf(engine) == fieldsOf(*reference->engine));
        }
        EXPECT_EQ(threadsOfProcess(), before);
    }
    // The build shares its per-node loops among the threads too.
    auto one = absorbingBox(1, ""), three = absorbingBox(3, "");
    const FdtdEngine &a = *one->engine, &b = *three->engine;
    EXPECT_EQ(a.timeStep, b.timeStep);
    ASSERT_EQ(a.keepSetCount + a.curlSetCount, b.keepSetCount + b.curlSetCount);
    EXPECT_EQ(std::memcmp(a.caTable, b.caTable, 96 * (std::size_t(a.keepSetCount) + a.curlSetCount)), 0);
    EXPECT_EQ(std::memcmp(a.keepIndex, b.keepIndex, 4 * a.blockCount()), 0);
}

// On every face, in vacuum and in a dielectric reaching the faces, one step
// gives E_b(new) = E_n(old) + k (E_n(new) - E_b(old)) with k = (v dt - d) /
// (v dt + d), c dt = d / 2; nothing else changes.
TEST(Stepping, AbsorbingFacesRealiseFirstOrderMur) {
    for (std::uint32_t face = 0; face < 6; ++face) {
        HandGrid g(10, 7, 6);
        FdtdEngine& e = g.engine;
        std::string text = "4 0\nCube 0.008,-1,-1 0.0092,1,1\n/\n";  // eps_r 4 from x = 8 mm to the x face
        MatMaterial& material = *g.geometry.materials.emplace_back(std::make_unique<MatDielectric>());
        g.geometry.parseShapes(material.parse(text.data(), g.engine, Results()), material);
        ASSERT_EQ(e.allocateCoefficients(), 0);
        e.fillDielectrics();
        e.timeStep = 1e-3 / 2 / kSpeedOfLight;
        e.computeCoefficients();
        MurBoundary m(&e, face / 2, face % 2 == 1);
        ASSERT_TRUE(m.initialise());

        std::mt19937 random(face + 1);
        std::uniform_real_distribution<float> value(-1, 1);
        const std::uint32_t F = 12 * e.blockCount();
        for (std::uint32_t p = 0; p < e.Nx() * e.Ny() * e.Nz(); ++p)
            for (int c = 0; c < 3; ++c) g.e(p % 10, p / 10 % 7, p / 70, c) = value(random);
        const std::vector<float> old(e.eField, e.eField + F);
        auto index = [&](std::uint32_t along, std::uint32_t io, std::uint32_t iq, std::uint32_t c) {
            std::uint32_t n[3];
            n[m.normalAxis] = along, n[m.outerAxis] = io, n[m.innerAxis] = iq;
            return e.fieldIndex(n[0], n[1], n[2], static_cast<int>(c));
        };
        m.saveNeighbour(0, e.Nz());
        // What the E update does there: -k E_b on the boundary, anything on the neighbour line.
        for (std::uint32_t io = 0; io < m.outerCount; ++io)
            for (std::uint32_t iq = 0; iq < m.innerCount; ++iq)
                for (std::uint32_t c : {m.outerAxis, m.innerAxis}) {
                    e.eField[index(m.boundaryIndex, io, iq, c)] *= e.caTable[index(m.boundaryIndex, io, iq, c)];
                    e.eField[index(m.neighbourIndex, io, iq, c)] = value(random);
                }
        std::vector<float> expected(e.eField, e.eField + F);
        m.accumulate(0, e.Nz());
        m.apply(0, e.Nz());
        for (std::uint32_t io = 0; io < m.outerCount; ++io)
            for (std::uint32_t iq = 0; iq < m.innerCount; ++iq) {
                std::uint32_t n[3];
                n[m.normalAxis] = m.boundaryIndex, n[m.outerAxis] = io, n[m.innerAxis] = iq;
                const float k = face == 1 || n[0] >= 8 ? -0.6f : -1.0f / 3.0f;  // eps_r 4: v dt = d / 4
                for (std::uint32_t c : {m.outerAxis, m.innerAxis}) {
                    const std::uint32_t fb = index(m.boundaryIndex, io, iq, c),
                                        fn = index(m.neighbourIndex, io, iq, c);
                    expected[fb] = old[fn] + k * (expected[fn] - old[fb]);
                }
            }
        for (std::uint32_t f = 0; f < F; ++f)
            ASSERT_NEAR(e.eField[f], expected[f], 1e-6f) << "face " << face << " " << f;
    }
}

// Port 1's waveform: the modulated Gaussian of kind 2 peaks at 1 in its middle
// over 2 / (2 pi B / 9) seconds; the Gaussian derivative of kind 3 crosses zero
// once. The source adds sample n times each edge's length at step n.
TEST(Stepping, SourceWaveformAndEdges) {
    HandGrid g(4, 4, 4);
    g.engine.meshLines[2] = {0.0, 1e-3, 2.5e-3, 4e-3};
    Excitation source(&g.engine);
    source.excitedAxis = 2;
    const double box[6] = {1e-3, 1.1e-3, 2.4e-3, 0.9e-3, 1e-3, 1.1e-3};  // corners high to low
    std::copy(box, box + 6, source.portBox);
    ASSERT_TRUE(source.configure('2', 1e9, 3e9));
    source.prepare(1e-12);
    EXPECT_EQ(source.nyquistSteps, 166u);
    ASSERT_EQ(source.samples.size(), 2865u);  // ceil(2 / (2 pi 1e9 / 9 * 1e-12))
    EXPECT_NEAR(source.samples[1432], 1.0, 1e-3);
    ASSERT_EQ(source.edgeCount, 1u);
    EXPECT_EQ(source.edgeOffsets[0], g.engine.fieldIndex(1, 1, 1, 2));
    EXPECT_EQ(source.edgeWeights[0], 1.5e-3f);  // the 1.5 mm cell from z = 1 to 2.5 mm

    ASSERT_TRUE(source.configure('3', 0.0, 2e9));
    source.prepare(1.3e-12);
    ASSERT_EQ(source.samples.size(), 2308u);  // three periods of 1 GHz
    int changes = 0;
    for (std::size_t n = 1; n < source.samples.size(); ++n)
        changes += (source.samples[n - 1] < 0) != (source.samples[n] < 0);
    EXPECT_TRUE(changes == 1 && source.samples[1153] < 0.0f && source.samples[1154] > 0.0f);
}

// With fields that never change by themselves only the source acts: step m
// adds sample m once; probes sample once per chunk, after it.
TEST(Stepping, SourceStepsAndProbeSamples) {
    struct CountingProbe : Probe {
        using Probe::Probe;
        void sample() override { ++samples, lastStep = engine->stepCount; }
        int samples = 0;
        std::uint32_t lastStep = 99;
    };
    HandGrid g(5, 3, 4, 1e-3, 2);
    g.allocateSets(1, 1);
    for (int f = 0; f < 12; ++f) g.engine.caTable[f] = g.engine.daTable[f] = 1.0f;
    g.engine.excitation = std::make_unique<Excitation>(&g.engine);
    Excitation& source = *g.engine.excitation;
    source.excitedAxis = 0, source.excitationLength = 4, source.edgeCount = 1;
    source.samples = {1.0f, 2.0f, 4.0f, 8.0f};
    source.edgeOffsets = {g.engine.fieldIndex(3, 1, 1, 0)};
    source.edgeWeights = {0.5f};
    auto* probe = new CountingProbe(&g.engine);
    g.engine.probes.emplace_back(probe);
    g.engine.runSteps(0);
    EXPECT_EQ(probe->samples, 1);
    g.engine.runSteps(2);
    EXPECT_EQ(g.e(3, 1, 1, 0), 0.5f * 3.0f);
    g.engine.runSteps(5);
    EXPECT_EQ(g.e(3, 1, 1, 0), 0.5f * 15.0f);
    EXPECT_EQ(probe->samples, 3);
    EXPECT_EQ(probe->lastStep, 7u);
}

// A sweep that runs on through chunk ends hands the run loop the same chunk
// ends as chunks of their own: step count, energy and the ports' spectra bit
// for bit after every chunk, also where the loop stops inside such a sweep, on
// any thread count; never beyond the step limit's chunk; with a probe that is
// not a port every chunk is a sweep of its own.
TEST(Stepping, SweepsThroughChunkEndsSampleAsChunksDo) {
    const std::string port = "Electric 1 2 50 x 0.006,0.005,0.001 0.006,0.005,0.007\n";
    auto spectra = [](const FdtdEngine& g) {
        std::vector<std::complex<double>> all;
        for (const auto& probe : g.probes)
            for (auto v : dynamic_cast<const VoltageProbe&>(*probe).spectrum) all.push_back(v);
        return all;
    };
    struct Case { std::uint32_t chunk, window, limit; int threads; };
    for (const Case& c : {Case{3, 4, 99, 1}, Case{2, 5, 99, 2}, Case{5, 2, 99, 3}, Case{1, 3, 99, 2},
                          Case{3, 16, 7, 2}}) {
        auto reference = absorbingBox(1, port), sim = absorbingBox(c.threads, port);
        FdtdEngine &ref = *reference->engine, &engine = *sim->engine;
        ASSERT_EQ(ref.probes.size(), 2u);
        ref.sweepPlan.measureEnergy = true;
        engine.sweepPlan.stepsPerSweep = c.window;
        bool through = false;
        for (int chunk = 0; chunk < 11 && ref.stepCount < c.limit; ++chunk) {
            ref.runSteps(c.chunk);
            engine.advanceChunk(c.chunk, c.limit);
            ASSERT_EQ(engine.stepCount, ref.stepCount) << c.chunk << "-step chunks";
            EXPECT_EQ(engine.fieldEnergy(), ref.fieldEnergy())
                << c.chunk << "-step chunks, step " << ref.stepCount;
            EXPECT_TRUE(spectra(engine) == spectra(ref)) << c.chunk << "-step chunks, step " << ref.stepCount;
            through = through || engine.chunkEnds.energy.size() > 1;
            EXPECT_LE(engine.chunkEnds.from + engine.chunkEnds.energy.size() * c.chunk, c.limit + c.chunk - 1);
            if (engine.chunkEnds.handed == engine.chunkEnds.energy.size()) {
                EXPECT_TRUE(fieldsOf(engine) == fieldsOf(ref)) << "step " << ref.stepCount;
            }
        }
        EXPECT_TRUE(through) << c.chunk << "-step chunks, " << c.window << " steps per sweep";
    }
    struct OtherProbe : Probe {
        using Probe::Probe;
        void sample() override { ++samples; }
        int samples = 0;
    };
    auto sim = absorbingBox(2, port);
    auto* other = new OtherProbe(sim->engine.get());
    sim->engine->probes.emplace_back(other);
    sim->engine->sweepPlan.stepsPerSweep = 4;
    for (int chunk = 0; chunk < 3; ++chunk) sim->engine->advanceChunk(2, 99);
    EXPECT_EQ(other->samples, 3);
    EXPECT_TRUE(sim->engine->chunkEnds.energy.empty());
}

// The energy measure: squares weighted by the vacuum constants over the range
// of the H update (last row and last plane left out, spare x positions in).
TEST(Stepping, EnergyMeasure) {
    HandGrid g(5, 3, 4);  // Nv = 2: x = 5, 6, 7 are spare positions
    for (std::uint32_t x = 0; x < 8; ++x)
        for (int c = 0; c < 3; ++c) g.e(x, 2, 1, c) = g.h(x, 0, 3, c) = 3.0f;  // last row, last plane
    EXPECT_EQ(g.engine.fieldEnergy(), 0.0);
    g.e(7, 1, 2, 1) = 1.0f;
    g.h(0, 0, 0, 2) = -2.0f;
    EXPECT_EQ(g.engine.fieldEnergy(), kEpsilon0 + 4 * kMu0);

    // Values whose squares run from subnormal to far above the sums where they
    // stop counting give the lane sums of plain float arithmetic to the bit:
    // lanes 0 and 1 reach large sums at once, lane 3 only from plane 2 on, and
    // lane 2 keeps sums just above 2^-101, where squares from 2^-126 count.
    HandGrid r(9, 6, 7);
    const std::uint32_t nv = r.engine.Nv;
    std::mt19937 rng(7);
    for (std::uint32_t x = 0; x < 4 * nv; ++x)
        for (std::uint32_t p = 0; p < 6 * 7 * 3; ++p)
            for (float* f : {&r.e(x, p % 6, p / 6 % 7, p / 42), &r.h(x, p % 6, p / 6 % 7, p / 42)}) {
                const std::uint32_t l = x / nv, z = p / 6 % 7;
                const int exponent = l == 2 ? -52 - int(rng() % 13)
                                     : l == 3 && z < 2 ? -56 - int(rng() % 15)
                                                       : -40 - int(rng() % 41);
                *f = rng() % 5 == 0 ? 0.0f : std::ldexp(rng() % 2 ? 1.5f : -1.25f, exponent);
            }
    alignas(16) float lanes[8] = {};
    float expected[8] = {};
    for (std::uint32_t z = 0; z + 1 < 7; ++z) {
        for (std::uint32_t y = 0; y + 1 < 6; ++y)
            for (std::uint32_t v = 0; v < nv; ++v)
                for (std::uint32_t l = 0; l < 4; ++l)
                    for (int c = 0; c < 3; ++c) {
                        const float e = r.e(v + l * nv, y, z, c), h = r.h(v + l * nv, y, z, c);
                        expected[l] += e * e;
                        expected[4 + l] += h * h;
                    }
        r.engine.addPlaneEnergy(z, lanes);
        EXPECT_EQ(std::memcmp(lanes, expected, sizeof lanes), 0) << "plane " << z;
    }
    const double sumE = ((double(expected[0]) + expected[1]) + expected[2]) + expected[3];
    const double sumH = ((double(expected[5]) + expected[4]) + expected[6]) + expected[7];
    EXPECT_EQ(r.engine.fieldEnergy(), sumH * kMu0 + sumE * kEpsilon0);
}

// No more stepping threads than slabs of two planes, processors, and chunks of
// enough cells; the calling thread may run where it could before.
TEST(Stepping, ThreadLimitsAndProcessorBinding) {
    HandGrid g(5, 4, 9, 1e-3, 16);
    g.engine.processorCount = 64;
    EXPECT_EQ(g.engine.steppingThreads(), 4);  // 9 planes: slabs of 3, 2, 2, 2
    EXPECT_EQ(g.engine.slabPlanes(3, 4).begin, 7u);
    g.engine.processorCount = 3, g.engine.minCellsPerThread = 90;  // 180 cells
    EXPECT_EQ(g.engine.steppingThreads(), 2);
    g.engine.minCellsPerThread = 6000;
    EXPECT_EQ(g.engine.steppingThreads(), 1);

    cpu_set_t before, after;
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof before, &before), 0);
    g.engine.minCellsPerThread = 0, g.engine.processorCount = 2;
    g.allocateSets(1, 1);
    g.engine.runSteps(3);
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof after, &after), 0);
    EXPECT_TRUE(CPU_EQUAL(&before, &after));
}
