// The far-field sums against plain scalar references: the vector cosines and
// sines against the library's, and the direction loop against one direction
// at a time, bit for bit, since the results files must not change with either.
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "results/RadiationSetup.hpp"
#include "results/RoundedSinCos.hpp"

using namespace fendrix;

namespace {

float libraryCos(float x) { return static_cast<float>(std::cos(static_cast<double>(x))); }
float librarySin(float x) { return static_cast<float>(std::sin(static_cast<double>(x))); }

// Angles whose mismatches are counted by bit pattern, so that -0 against +0
// and one NaN against another count too.
std::size_t mismatches(const std::vector<float>& angles) {
    std::vector<float> c(angles.size()), s(angles.size());
    roundedCosSin(angles.data(), c.data(), s.data(), angles.size());
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < angles.size(); ++i) {
        const float rc = libraryCos(angles[i]), rs = librarySin(angles[i]);
        const bool same = std::memcmp(&rc, &c[i], 4) == 0 && std::memcmp(&rs, &s[i], 4) == 0;
        if (!same && wrong++ < 5)
            ADD_FAILURE() << "angle " << std::hexfloat << angles[i] << ": cos " << c[i] << " against " << rc
                          << ", sin " << s[i] << " against " << rs;
    }
    return wrong;
}

// True where the double result lies within `units` of the midpoint between
// two floats: the cases a less careful rounding would get wrong.
bool nearMidpoint(double value, std::int64_t units) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    const std::int64_t dropped = static_cast<std::int64_t>(bits & 0x1FFFFFFF) - 0x10000000;
    return dropped > -units && dropped < units;
}

}  // namespace

TEST(FarFieldSums, CosinesAndSinesAreTheLibrarysFloats) {
    std::mt19937 random(7);
    // The phases of real boxes (a few hundred radians at most), tiny and large
    // angles, and counts that leave a tail after the last full vector.
    for (const float range : {1.0f, 40.0f, 3000.0f, 2.0e5f}) {
        std::uniform_real_distribution<float> uniform(-range, range);
        std::vector<float> angles(1000003);
        for (float& a : angles) a = uniform(random);
        EXPECT_EQ(mismatches(angles), 0u) << range;
    }
    // The floats nearest the multiples of pi/2, where the reduced angle is
    // smallest and the quadrant changes, and their neighbours.
    std::vector<float> angles;
    for (int n = -5000; n <= 5000; ++n) {
        const float a = static_cast<float>(n * 1.5707963267948966);
        angles.insert(angles.end(), {a, std::nextafter(a, 1e9f), std::nextafter(a, -1e9f)});
    }
    // Zeros, subnormals, the end of the vector path's range and past it,
    // infinities and a non-number, among ordinary angles.
    const float edge[] = {0.0f, -0.0f, 1e-45f, -1e-40f, 1e-30f, kLargestReducedAngle,
                          std::nextafter(static_cast<float>(kLargestReducedAngle), 1e9f), -3e5f, 1e30f,
                          INFINITY, -INFINITY, NAN};
    for (float e : edge) angles.insert(angles.end(), {1.0f, e, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f});
    EXPECT_EQ(mismatches(angles), 0u);
}

// The vector path hands results near a midpoint to the library: collect
// angles whose true values lie closest to one and check those.
TEST(FarFieldSums, ResultsNearAFloatMidpointRoundAsTheLibrary) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> uniform(-300.0f, 300.0f);
    std::vector<float> close;
    for (int i = 0; i < 20000000 && close.size() < 4000; ++i) {
        const float a = uniform(random);
        if (nearMidpoint(std::cos(double{a}), 64) || nearMidpoint(std::sin(double{a}), 64))
            for (int copy = 0; copy < 8; ++copy) close.push_back(a);  // whole vectors of them
    }
    ASSERT_GT(close.size(), 100u);
    EXPECT_EQ(mismatches(close), 0u);
}

namespace {

// One face's data as the probes hand it over, random values on random,
// uneven mesh lines.
struct FaceData {
    std::uint32_t counts[3];
    std::vector<double> lines[3];
    std::vector<std::complex<float>> e, h;
    int outward;
};

std::vector<FaceData> randomBox(std::mt19937& random) {
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::uniform_real_distribution<double> step(0.004, 0.02);
    const std::uint32_t nodes[3] = {11, 9, 14};
    std::vector<double> all[3];
    for (int a = 0; a < 3; ++a) {
        double x = -0.08;
        for (std::uint32_t i = 0; i < nodes[a]; ++i, x += step(random)) all[a].push_back(x);
    }
    std::vector<FaceData> faces;
    for (int face = 0; face < 6; ++face) {
        FaceData f;
        for (int a = 0; a < 3; ++a) {
            f.counts[a] = a == face / 2 ? 1 : nodes[a];
            f.lines[a] = a == face / 2 ? std::vector<double>{face % 2 ? all[a].back() : all[a].front()} : all[a];
        }
        f.e.resize(3 * f.counts[0] * f.counts[1] * f.counts[2]);
        f.h.resize(f.e.size());
        for (std::size_t i = 0; i < f.e.size(); ++i) {
            f.e[i] = {value(random), value(random)};
            f.h[i] = {value(random) * 0.003f, value(random) * 0.003f};
        }
        f.outward = face % 2 ? 1 : -1;
        faces.push_back(std::move(f));
    }
    return faces;
}

// The sums one direction pair at a time with the library's cosine and sine,
// the loop the vector lanes replace: each surface node serves a direction and
// its opposite (-elevation, azimuth +- pi).
void referenceSums(RadiationSetup& setup, const FaceData& f) {
    int d = 0;
    while (f.counts[d] != 1) ++d;
    const int u = (d + 1) % 3, v = (d + 2) % 3;
    std::vector<float> position[3], weight[3];
    for (int a = 0; a < 3; ++a)
        for (double x : f.lines[a]) position[a].push_back(static_cast<float>(x) - setup.origin[a]);
    for (int t : {u, v}) {
        const std::vector<float>& p = position[t];
        const std::size_t k = p.size();
        weight[t].push_back(std::fabs(p[1] - p[0]) * 0.5f);
        for (std::size_t j = 1; j + 1 < k; ++j) weight[t].push_back(std::fabs(p[j + 1] - p[j - 1]) * 0.5f);
        weight[t].push_back(std::fabs(p[k - 1] - p[k - 2]) * 0.5f);
    }
    const float n[3] = {d == 0 ? float(f.outward) : 0.0f, d == 1 ? float(f.outward) : 0.0f,
                        d == 2 ? float(f.outward) : 0.0f};
    const float k = setup.frequency * static_cast<float>(2 * 3.141592653589793) *
                    static_cast<float>(3.3356409519815204e-9);
    const float eta = static_cast<float>(376.730313461);
    struct Node {
        float p[3], area;
        std::complex<float> j[3], m[3];
    };
    std::vector<Node> surface;
    for (std::uint32_t iu = 0; iu < f.counts[u]; ++iu)
        for (std::uint32_t iv = 0; iv < f.counts[v]; ++iv) {
            std::uint32_t index[3];
            index[d] = 0, index[u] = iu, index[v] = iv;
            const std::size_t slot = (index[2] * f.counts[1] + index[1]) * f.counts[0] + index[0];
            const std::complex<float>* e = &f.e[3 * slot];
            const std::complex<float>* h = &f.h[3 * slot];
            Node node;
            for (int a = 0; a < 3; ++a) node.p[a] = position[a][index[a]];
            node.area = weight[v][iv] * weight[u][iu];
            for (int c = 0; c < 3; ++c) {
                const int c1 = (c + 1) % 3, c2 = (c + 2) % 3;
                node.j[c] = eta * (n[c1] * h[c2] - n[c2] * h[c1]);
                node.m[c] = n[c2] * e[c1] - n[c1] * e[c2];
            }
            surface.push_back(node);
        }
    const std::uint32_t A = setup.azimuthCount, E = setup.elevationCount, half = A / 2, middle = E / 2;
    for (std::uint32_t el = 0; el <= middle; ++el) {
        const float th = static_cast<float>(setup.elevations[el]);
        const float sth = librarySin(th), cth = libraryCos(th);
        for (std::uint32_t a = 1; a < (el < middle ? A : half + 1); ++a) {
            const float ph = static_cast<float>(setup.azimuths[a]);
            const float sph = librarySin(ph), cph = libraryCos(ph);
            const float r[3] = {cth * cph, cth * sph, sth}, t[3] = {sth * cph, sth * sph, -cth};
            const float fx = -sph, fy = cph;
            std::complex<double>& elev1 = setup.eElevation[el * A + a];
            std::complex<double>& azi1 = setup.eAzimuth[el * A + a];
            const std::size_t opposite = (E - 1 - el) * A + (a > half ? a - half : a + half);
            std::complex<double>& elev2 = setup.eElevation[opposite];
            std::complex<double>& azi2 = setup.eAzimuth[opposite];
            double s[8] = {elev1.real(), elev1.imag(), elev2.real(), elev2.imag(),
                           azi1.real(),  azi1.imag(),  azi2.real(),  azi2.imag()};
            for (const Node& q : surface) {
                const float psi = k * (q.p[1] * r[1] + q.p[0] * r[0] + q.p[2] * r[2]);
                const float cs = libraryCos(psi) * q.area, sn = librarySin(psi) * q.area;
                const auto along = [&](const std::complex<float>* x, bool imag, bool theta) {
                    const auto part = [&](int c) { return imag ? x[c].imag() : x[c].real(); };
                    return theta ? part(0) * t[0] + part(1) * t[1] + part(2) * t[2] : part(0) * fx + part(1) * fy;
                };
                const float jtr = along(q.j, false, true), jti = along(q.j, true, true);
                const float jfr = along(q.j, false, false), jfi = along(q.j, true, false);
                const float mtr = along(q.m, false, true), mti = along(q.m, true, true);
                const float mfr = along(q.m, false, false), mfi = along(q.m, true, false);
                const float ar = jtr + mfr, ai = jti + mfi, br = jtr - mfr, bi = jti - mfi;
                const float gr = mtr - jfr, gi = mti - jfi, hr = mtr + jfr, hi = mti + jfi;
                s[0] -= ar * cs - ai * sn;
                s[1] -= ar * sn + ai * cs;
                s[2] -= br * cs + bi * sn;
                s[3] -= bi * cs - br * sn;
                s[4] += gr * cs - gi * sn;
                s[5] += gr * sn + gi * cs;
                s[6] += hr * cs + hi * sn;
                s[7] += hi * cs - hr * sn;
            }
            elev1 = {s[0], s[1]}, elev2 = {s[2], s[3]}, azi1 = {s[4], s[5]}, azi2 = {s[6], s[7]};
        }
        for (std::uint32_t row : {el, E - 1 - el}) {
            setup.eElevation[row * A] = setup.eElevation[row * A + A - 1];
            setup.eAzimuth[row * A] = setup.eAzimuth[row * A + A - 1];
        }
    }
}

}  // namespace

// Azimuth counts that fill the lanes exactly, leave some empty, or give
// fewer directions than lanes; elevation counts with a short middle row.
TEST(FarFieldSums, DirectionSumsEqualOneDirectionAtATime) {
    std::mt19937 random(3);
    const std::vector<FaceData> faces = randomBox(random);
    const std::uint32_t grids[][2] = {{73, 37}, {37, 19}, {5, 3}, {17, 9}, {3, 3}};
    for (const auto& grid : grids)
        for (int threads : {1, 3}) {
            RadiationSetup vector(2.4e9f, grid[1], grid[0], 2), scalar(2.4e9f, grid[1], grid[0], 2);
            vector.threadCount = threads;
            for (RadiationSetup* setup : {&vector, &scalar}) {
                setup->origin[0] = 0.01f, setup->origin[1] = -0.02f, setup->origin[2] = 0.005f;
            }
            for (const FaceData& f : faces) {
                const double* coords[3] = {f.lines[0].data(), f.lines[1].data(), f.lines[2].data()};
                ASSERT_TRUE(vector.accumulateFace(f.counts, coords, f.e.data(), f.h.data(), f.outward));
                referenceSums(scalar, f);
            }
            const std::size_t bytes = 16 * scalar.eAzimuth.size();
            EXPECT_EQ(std::memcmp(vector.eAzimuth.data(), scalar.eAzimuth.data(), bytes), 0) << grid[0];
            EXPECT_EQ(std::memcmp(vector.eElevation.data(), scalar.eElevation.data(), bytes), 0) << grid[0];
            EXPECT_NE(std::abs(scalar.eAzimuth[scalar.eAzimuth.size() / 2 + 1]), 0.0);
        }
}
