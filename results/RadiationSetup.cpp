// Near-to-far-field transform over the faces of the Huygens box.
//
// Phasors belong to exp(+j w t). Directions: azimuth phi in the x-y plane from
// the x axis, elevation theta from the x-y plane towards +z;
//   r     = ( cos th cos ph,  cos th sin ph,  sin th)
//   theta = ( sin th cos ph,  sin th sin ph, -cos th)   (increasing polar angle)
//   phi   = (-sin ph,         cos ph,         0     )
#include "results/RadiationSetup.hpp"

#include <algorithm>
#include <cmath>

#include "common/ParallelRanges.hpp"
#include "common/PhysicalConstants.hpp"
#include "common/WideClones.hpp"
#include "results/RoundedSinCos.hpp"

namespace fendrix {

namespace {

constexpr double kInverseLightSpeed = 3.3356409519815204e-9;  // s/m
constexpr double kVacuumImpedance = 376.730313461;             // ohm

// The face's equivalent currents, one entry per surface node, as the direction
// loop reads them.
struct SurfaceCurrents {
    std::size_t nodes;
    float k;
    const float *px, *py, *pz, *area;
    const float* jr[3];
    const float* ji[3];
    const float* mr[3];
    const float* mi[3];
};

// Directions summed side by side (neighbouring azimuths of a row), and the
// surface nodes whose phase factors are evaluated in one call.
constexpr std::uint32_t kLanes = 8;
constexpr std::size_t kNodeBlock = 256;

// Far-field sums of the elevation rows firstRow .. endRow - 1 (up to the middle
// row). Each row pass writes only its own directions (the row and its
// opposite), so passes of different rows may run at the same time.
//
// Every direction's sums take the surface nodes in order, one rounding per
// operation as written, whichever lane and block it falls in: the lanes only
// let one vector instruction serve kLanes directions.
FENDRIX_WIDE_CLONES
void transformRows(RadiationSetup& setup, const SurfaceCurrents& c, std::uint32_t firstRow,
                   std::uint32_t endRow) {
    const std::size_t nodes = c.nodes;
    const float k = c.k;
    const float *px = c.px, *py = c.py, *pz = c.pz, *area = c.area;
    const float* const* jr = c.jr;
    const float* const* ji = c.ji;
    const float* const* mr = c.mr;
    const float* const* mi = c.mi;
    const std::vector<double>& azimuths = setup.azimuths;
    const std::vector<double>& elevations = setup.elevations;
    std::vector<std::complex<double>>& eAzimuth = setup.eAzimuth;
    std::vector<std::complex<double>>& eElevation = setup.eElevation;
    // Far-field sums, one phase evaluation per surface node serving a direction
    // and its opposite (-theta, phi +- pi): r reverses, theta-hat stays, phi-hat
    // reverses, and the phase factor is conjugated.
    const std::uint32_t A = setup.azimuthCount, E = setup.elevationCount;
    const std::uint32_t half = A >> 1, middle = E >> 1;
    std::vector<float> psi(kNodeBlock * kLanes), cosine(kNodeBlock * kLanes), sine(kNodeBlock * kLanes);
    for (std::uint32_t e = firstRow; e < endRow && e <= middle; ++e) {
        const float th = static_cast<float>(elevations[e]);
        const float sth = static_cast<float>(std::sin(static_cast<double>(th)));
        const float cth = static_cast<float>(std::cos(static_cast<double>(th)));
        const float rz = sth, tz = -cth;
        const std::uint32_t limit = e < middle ? A : half + 1;
        for (std::uint32_t first = 1; first < limit; first += kLanes) {
            // Lanes past the row's end repeat its last direction and are not stored.
            const std::uint32_t used = std::min(kLanes, limit - first);
            float rx[kLanes], ry[kLanes], tx[kLanes], ty[kLanes], fx[kLanes], fy[kLanes];
            std::size_t i1[kLanes], i2[kLanes];
            double elev1r[kLanes], elev1i[kLanes], elev2r[kLanes], elev2i[kLanes];
            double azi1r[kLanes], azi1i[kLanes], azi2r[kLanes], azi2i[kLanes];
            for (std::uint32_t l = 0; l < kLanes; ++l) {
                const std::uint32_t a = first + std::min(l, used - 1);
                i1[l] = std::size_t{e} * A + a;
                i2[l] = std::size_t{E - 1 - e} * A + (a > half ? a - half : a + half);
                const float ph = static_cast<float>(azimuths[a]);
                const float sph = static_cast<float>(std::sin(static_cast<double>(ph)));
                const float cph = static_cast<float>(std::cos(static_cast<double>(ph)));
                rx[l] = cth * cph;
                ry[l] = cth * sph;
                tx[l] = sth * cph;
                ty[l] = sth * sph;
                fx[l] = -sph;
                fy[l] = cph;
                elev1r[l] = eElevation[i1[l]].real(), elev1i[l] = eElevation[i1[l]].imag();
                elev2r[l] = eElevation[i2[l]].real(), elev2i[l] = eElevation[i2[l]].imag();
                azi1r[l] = eAzimuth[i1[l]].real(), azi1i[l] = eAzimuth[i1[l]].imag();
                azi2r[l] = eAzimuth[i2[l]].real(), azi2i[l] = eAzimuth[i2[l]].imag();
            }
            for (std::size_t q0 = 0; q0 < nodes; q0 += kNodeBlock) {
                const std::size_t count = std::min(kNodeBlock, nodes - q0);
                // Phase of the path difference k r.x' of every node and lane.
                for (std::size_t n = 0; n < count; ++n) {
                    const std::size_t q = q0 + n;
                    for (std::uint32_t l = 0; l < kLanes; ++l)
                        psi[n * kLanes + l] = k * (py[q] * ry[l] + px[q] * rx[l] + pz[q] * rz);
                }
                roundedCosSin(psi.data(), cosine.data(), sine.data(), count * kLanes);
                for (std::size_t n = 0; n < count; ++n) {
                    const std::size_t q = q0 + n;
                    for (std::uint32_t l = 0; l < kLanes; ++l) {
                        // The phase factor with the area weight.
                        const float cs = cosine[n * kLanes + l] * area[q];
                        const float sn = sine[n * kLanes + l] * area[q];
                        // Current components along theta-hat and phi-hat.
                        const float jtr = jr[0][q] * tx[l] + jr[1][q] * ty[l] + jr[2][q] * tz;
                        const float jti = ji[0][q] * tx[l] + ji[1][q] * ty[l] + ji[2][q] * tz;
                        const float jfr = jr[0][q] * fx[l] + jr[1][q] * fy[l];
                        const float jfi = ji[0][q] * fx[l] + ji[1][q] * fy[l];
                        const float mtr = mr[0][q] * tx[l] + mr[1][q] * ty[l] + mr[2][q] * tz;
                        const float mti = mi[0][q] * tx[l] + mi[1][q] * ty[l] + mi[2][q] * tz;
                        const float mfr = mr[0][q] * fx[l] + mr[1][q] * fy[l];
                        const float mfi = mi[0][q] * fx[l] + mi[1][q] * fy[l];
                        // E_elev(i1) -= (Jt + Mf)(Cs + jSn); E_elev(i2) -= (Jt - Mf)(Cs - jSn)
                        const float ar = jtr + mfr, ai = jti + mfi;
                        const float br = jtr - mfr, bi = jti - mfi;
                        elev1r[l] -= ar * cs - ai * sn;
                        elev1i[l] -= ar * sn + ai * cs;
                        elev2r[l] -= br * cs + bi * sn;
                        elev2i[l] -= bi * cs - br * sn;
                        // E_azi(i1) += (Mt - Jf)(Cs + jSn); E_azi(i2) += (Mt + Jf)(Cs - jSn)
                        const float gr = mtr - jfr, gi = mti - jfi;
                        const float hr = mtr + jfr, hi = mti + jfi;
                        azi1r[l] += gr * cs - gi * sn;
                        azi1i[l] += gr * sn + gi * cs;
                        azi2r[l] += hr * cs + hi * sn;
                        azi2i[l] += hi * cs - hr * sn;
                    }
                }
            }
            for (std::uint32_t l = 0; l < used; ++l) {
                eElevation[i1[l]] = {elev1r[l], elev1i[l]};
                eElevation[i2[l]] = {elev2r[l], elev2i[l]};
                eAzimuth[i1[l]] = {azi1r[l], azi1i[l]};
                eAzimuth[i2[l]] = {azi2r[l], azi2i[l]};
            }
        }
        // Azimuth -pi is the same direction as +pi: close the finished rows.
        const auto closeRow = [&](std::uint32_t row) {
            eElevation[std::size_t{row} * A] = eElevation[std::size_t{row} * A + A - 1];
            eAzimuth[std::size_t{row} * A] = eAzimuth[std::size_t{row} * A + A - 1];
        };
        if (e < middle) {
            closeRow(E - 1 - e);
            closeRow(e);
        } else {
            closeRow(middle);
        }
    }
}

struct RowWork {
    RadiationSetup* setup;
    const SurfaceCurrents* currents;
};

void transformRowRange(void* context, std::uint32_t firstRow, std::uint32_t endRow) {
    const RowWork& work = *static_cast<RowWork*>(context);
    transformRows(*work.setup, *work.currents, firstRow, endRow);
}

// The rows go to threadCount threads. The sums of a direction are formed by
// one thread in the same order as on one thread, so the results do not depend
// on the thread count.
void transformAllRows(RadiationSetup& setup, const SurfaceCurrents& currents) {
    RowWork work{&setup, &currents};
    runOnRanges(setup.threadCount, (setup.elevationCount >> 1) + 1, transformRowRange, &work);
}

}  // namespace

RadiationSetup::RadiationSetup(float frequency, std::uint32_t elevationCount,
                               std::uint32_t azimuthCount, std::uint32_t boxMargin)
    : azimuthCount(azimuthCount | 1u),
      elevationCount(elevationCount | 1u),
      boxMargin(boxMargin),
      frequency(frequency) {
    // Odd counts make both grids symmetric about their middle entry, so every
    // direction's opposite is also on the grid: azimuth a +- A/2, elevation E-1-e.
    // A single angle (a count the description parser rejects) is taken as 0.
    const std::uint32_t a = this->azimuthCount, e = this->elevationCount;
    azimuths.resize(a);
    elevations.resize(e);
    for (std::uint32_t i = 0; i < a; ++i)
        azimuths[i] = a > 1 ? (i * kTwoPi) / (a - 1) - kPi : 0.0;
    for (std::uint32_t i = 0; i < e; ++i)
        elevations[i] = e > 1 ? (i * kPi) / (e - 1) - kPi / 2 : 0.0;
    const std::size_t directions = std::size_t{a} * e;
    directivity.assign(directions, 0.0);
    eAzimuth.assign(directions, {0.0, 0.0});
    eElevation.assign(directions, {0.0, 0.0});
}

bool RadiationSetup::accumulateFace(const std::uint32_t counts[3], const double* const coords[3],
                                    const std::complex<float>* eSpectrum,
                                    const std::complex<float>* hSpectrum, int outwardSign) {
    // The face is the plane with a single node along its normal axis d; both
    // tangential axes need at least 3 nodes for the quadrature below.
    int d = -1;
    for (int axis = 0; axis < 3; ++axis) {
        const int u = (axis + 1) % 3, v = (axis + 2) % 3;
        if (counts[axis] == 1 && counts[u] > 2 && counts[v] > 2) {
            d = axis;
            break;
        }
    }
    if (d < 0) return false;
    const int u = (d + 1) % 3, v = (d + 2) % 3;
    const std::uint32_t nu = counts[u], nv = counts[v];
    const std::uint32_t nx = counts[0], ny = counts[1];

    // Node positions relative to the phase reference, single precision.
    std::vector<float> position[3];
    for (int axis = 0; axis < 3; ++axis) {
        position[axis].resize(counts[axis]);
        for (std::uint32_t j = 0; j < counts[axis]; ++j)
            position[axis][j] = static_cast<float>(coords[axis][j]) - origin[axis];
    }

    // The outward normal comes from which side of the box the face is on, not
    // from where the coordinate origin happens to lie.
    float normal[3] = {0.0f, 0.0f, 0.0f};
    normal[d] = outwardSign < 0 ? -1.0f : 1.0f;

    // Quadrature weights: the length of each node's dual cell along a tangential
    // axis, half cells at both ends.
    std::vector<float> weight[3];
    for (int t : {u, v}) {
        const std::vector<float>& p = position[t];
        const std::uint32_t k = counts[t];
        weight[t].resize(k);
        weight[t][0] = std::fabs(p[1] - p[0]) * 0.5f;
        for (std::uint32_t j = 1; j + 1 < k; ++j) weight[t][j] = std::fabs(p[j + 1] - p[j - 1]) * 0.5f;
        weight[t][k - 1] = std::fabs(p[k - 1] - p[k - 2]) * 0.5f;
    }

    const auto regionSlot = [&](std::uint32_t iu, std::uint32_t iv) {
        std::uint32_t index[3];
        index[d] = 0;
        index[u] = iu;
        index[v] = iv;
        return (index[2] * ny + index[1]) * nx + index[0];
    };

    // Radiated power: half the real flux of E x conj(H) along the outward normal,
    // region order (z outermost, x innermost). Each term in float, summed in double.
    for (std::uint32_t z = 0; z < counts[2]; ++z)
        for (std::uint32_t y = 0; y < ny; ++y)
            for (std::uint32_t x = 0; x < nx; ++x) {
                const std::uint32_t index[3] = {x, y, z};
                const std::uint32_t slot = (z * ny + y) * nx + x;
                const std::complex<float>* e = eSpectrum + 3 * slot;
                const std::complex<float>* h = hSpectrum + 3 * slot;
                const float flux = (e[u].real() * h[v].real() + e[u].imag() * h[v].imag()) -
                                   (e[v].real() * h[u].real() + e[v].imag() * h[u].imag());
                radiatedPower +=
                    weight[v][index[v]] * weight[u][index[u]] * 0.5f * flux * normal[d];
            }

    // Per surface node (i_u outer, i_v inner): position, area weight and the
    // equivalent currents J = eta n x H (scaled by eta so it adds to M directly)
    // and M = -n x E, stored as separate real and imaginary arrays so that the
    // direction loop reads them straight through.
    const float k = static_cast<float>(frequency) * static_cast<float>(kTwoPi) *
                    static_cast<float>(kInverseLightSpeed);
    const float eta = static_cast<float>(kVacuumImpedance);
    const std::size_t nodes = std::size_t{nu} * nv;
    std::vector<float> px(nodes), py(nodes), pz(nodes), area(nodes);
    std::vector<float> cur(12 * nodes);  // J x,y,z then M x,y,z; real parts then imaginary parts
    float* jr[3] = {&cur[0 * nodes], &cur[1 * nodes], &cur[2 * nodes]};
    float* mr[3] = {&cur[3 * nodes], &cur[4 * nodes], &cur[5 * nodes]};
    float* ji[3] = {&cur[6 * nodes], &cur[7 * nodes], &cur[8 * nodes]};
    float* mi[3] = {&cur[9 * nodes], &cur[10 * nodes], &cur[11 * nodes]};
    const float* n = normal;
    for (std::uint32_t iu = 0; iu < nu; ++iu)
        for (std::uint32_t iv = 0; iv < nv; ++iv) {
            const std::size_t q = std::size_t{iu} * nv + iv;
            float p[3];
            p[d] = position[d][0];
            p[u] = position[u][iu];
            p[v] = position[v][iv];
            px[q] = p[0];
            py[q] = p[1];
            pz[q] = p[2];
            area[q] = weight[v][iv] * weight[u][iu];
            const std::uint32_t slot = regionSlot(iu, iv);
            const std::complex<float>* e = eSpectrum + 3 * slot;
            const std::complex<float>* h = hSpectrum + 3 * slot;
            const std::complex<float> j[3] = {eta * (n[1] * h[2] - n[2] * h[1]),
                                              eta * (n[2] * h[0] - n[0] * h[2]),
                                              eta * (n[0] * h[1] - n[1] * h[0])};
            const std::complex<float> mm[3] = {n[2] * e[1] - n[1] * e[2],
                                               n[0] * e[2] - n[2] * e[0],
                                               n[1] * e[0] - n[0] * e[1]};
            for (int c = 0; c < 3; ++c) {
                jr[c][q] = j[c].real();
                ji[c][q] = j[c].imag();
                mr[c][q] = mm[c].real();
                mi[c][q] = mm[c].imag();
            }
        }

    const SurfaceCurrents currents{nodes, k, px.data(), py.data(), pz.data(), area.data(),
                                   {jr[0], jr[1], jr[2]}, {ji[0], ji[1], ji[2]},
                                   {mr[0], mr[1], mr[2]}, {mi[0], mi[1], mi[2]}};
    transformAllRows(*this, currents);
    return true;
}

void RadiationSetup::finishPattern() {
    const double etaR = static_cast<float>(std::sqrt(muR / epsilonR));
    const double r = distance;
    const double scale = (kTwoPi * r * r) / (etaR * kVacuumImpedance * radiatedPower);
    // Far-field factor j k / (4 pi r) exp(-j k r).
    const double k = frequency * kTwoPi * kInverseLightSpeed;
    const double y = k / (r * 12.566370614359172);
    const std::complex<double> factor(y * std::sin(k * r), y * std::cos(k * r));
    const auto times = [](std::complex<double> a, std::complex<double> b) {
        return std::complex<double>(a.real() * b.real() - a.imag() * b.imag(),
                                    a.real() * b.imag() + a.imag() * b.real());
    };

    double maxMagnitude = 0.0;
    maxDirectivity = 0.0;
    const std::size_t directions = directivity.size();
    for (std::size_t i = 0; i < directions; ++i) {
        eAzimuth[i] = times(eAzimuth[i], factor);
        maxMagnitude = std::max(maxMagnitude, std::abs(eAzimuth[i]));
        eElevation[i] = times(eElevation[i], factor);
        maxMagnitude = std::max(maxMagnitude, std::abs(eElevation[i]));
        const double intensity = eElevation[i].real() * eElevation[i].real() +
                                 eElevation[i].imag() * eElevation[i].imag() +
                                 eAzimuth[i].real() * eAzimuth[i].real() +
                                 eAzimuth[i].imag() * eAzimuth[i].imag();
        directivity[i] = intensity * scale;
        if (directivity[i] > maxDirectivity) maxDirectivity = directivity[i];
    }

    // Normalise so that the largest component magnitude is 1; drop what is below
    // the resolution of the single-precision sums.
    const double inverse = 1.0 / maxMagnitude;
    for (std::vector<std::complex<double>>* component : {&eAzimuth, &eElevation})
        for (std::complex<double>& value : *component) {
            value = {value.real() * inverse, value.imag() * inverse};
            if (std::abs(value) < 2e-6) value = {0.0, 0.0};
        }
}

}  // namespace fendrix
