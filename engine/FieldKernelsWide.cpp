// The leapfrog half steps with 8-float (AVX2) and 16-float (AVX-512) vectors,
// on the unchanged storage layout.
//
// A wide vector loads 2 or 4 consecutive blocks of a row as they lie in
// memory, so one register mixes components: with 2 blocks the three registers
// hold [x0 y0], [z0 x1], [y1 z1] (each letter 4 lanes of one block), with 4
// blocks [x0 y0 z0 x1], [y1 z1 x2 y2], [z2 x3 y3 z3]. The curl of component c
// is D_{c+1} F_{c+2} - D_{c+2} F_{c+1} (D a difference along an axis, F the
// other field). Both terms are formed where their field component lies,
// choosing per group of 4 lanes the neighbour that the term needs, and then
// moved to the lanes of component c of the same block with a shuffle. The x
// neighbours of a whole group are simply the blocks one position back (E) or
// ahead (H) in memory; only the first column (E) and the last one (H), which
// cross the quarter seams, keep the 4-float code with its lane moves.
//
// Every lane gets exactly the operations of the 4-float kernels in the same
// order (two differences, their difference, two products, one sum), and no
// multiply-add is fused, so all widths give bit-identical fields.
//
// These functions are compiled for AVX2 / AVX-512 one by one (target
// attributes), while the rest of the program stays on the x86-64 baseline;
// the width is set at run time (engine/KernelWidth.cpp).

#include "engine/KernelWidth.hpp"
#include "grid/FdtdEngine.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

// GCC 12 warns inside its own AVX-512 insert and shuffle intrinsics, whose
// unused merge source is deliberately left undefined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif

#include <cstdint>

namespace fendrix {

// Always inlined, so that the E / H choice (a constant at every call) leaves
// no branch in the loops.
#define FENDRIX_AVX2 __attribute__((target("avx2"), always_inline)) inline
#define FENDRIX_AVX512 __attribute__((target("avx2,avx512f"), always_inline)) inline
#define FENDRIX_AVX2_ENTRY __attribute__((target("avx2")))
#define FENDRIX_AVX512_ENTRY __attribute__((target("avx2,avx512f")))

namespace {

// One grid row of a half step. `in` is the field read, `out` the one updated;
// nearY / nearZ are `in` one row / plane back (E update; the row itself at the
// low edges) or ahead (H update); the x neighbour block lies 12 floats back
// (E) or ahead (H).
struct Row {
    float* out;
    const float* in;
    const float* nearY;
    const float* nearZ;
    const float* keepTable;  // CA or DA
    const float* curlTable;  // CB or DB
    const std::uint32_t* keep;
    const std::uint32_t* curl;
    std::size_t nv;
};

// Difference along one axis, always "ahead minus behind": in - near for the
// E update (near is behind), near - in for the H update (near is ahead).
FENDRIX_AVX2 __m128 diff4(bool magnetic, __m128 in, __m128 near) {
    return magnetic ? _mm_sub_ps(near, in) : _mm_sub_ps(in, near);
}
FENDRIX_AVX2 __m256 diff8(bool magnetic, __m256 in, __m256 near) {
    return magnetic ? _mm256_sub_ps(near, in) : _mm256_sub_ps(in, near);
}
FENDRIX_AVX512 __m512 diff16(bool magnetic, __m512 in, __m512 near) {
    return magnetic ? _mm512_sub_ps(near, in) : _mm512_sub_ps(in, near);
}

// out = keep * out + curlFactor * curl (E), or keep * out - curlFactor * curl (H).
FENDRIX_AVX2 __m128 update4(bool magnetic, __m128 keep, __m128 out, __m128 factor, __m128 curl) {
    const __m128 self = _mm_mul_ps(keep, out), drive = _mm_mul_ps(factor, curl);
    return magnetic ? _mm_sub_ps(self, drive) : _mm_add_ps(self, drive);
}
FENDRIX_AVX2 __m256 update8(bool magnetic, __m256 keep, __m256 out, __m256 factor, __m256 curl) {
    const __m256 self = _mm256_mul_ps(keep, out), drive = _mm256_mul_ps(factor, curl);
    return magnetic ? _mm256_sub_ps(self, drive) : _mm256_add_ps(self, drive);
}
FENDRIX_AVX512 __m512 update16(bool magnetic, __m512 keep, __m512 out, __m512 factor, __m512 curl) {
    const __m512 self = _mm512_mul_ps(keep, out), drive = _mm512_mul_ps(factor, curl);
    return magnetic ? _mm512_sub_ps(self, drive) : _mm512_add_ps(self, drive);
}

// One block (4 cells), with the y and z components of its x neighbour given:
// the 4-float kernel, for the seam columns and the ends of a row.
FENDRIX_AVX2 void block4(const Row& r, bool m, std::size_t v, __m128 yNearX, __m128 zNearX) {
    const std::size_t f = 12 * v;
    const float* in = r.in + f;
    const __m128 x = _mm_load_ps(in), y = _mm_load_ps(in + 4), z = _mm_load_ps(in + 8);
    const __m128 curlX = _mm_sub_ps(diff4(m, z, _mm_load_ps(r.nearY + f + 8)),
                                    diff4(m, y, _mm_load_ps(r.nearZ + f + 4)));
    const __m128 curlY = _mm_sub_ps(diff4(m, x, _mm_load_ps(r.nearZ + f)), diff4(m, z, zNearX));
    const __m128 curlZ = _mm_sub_ps(diff4(m, y, yNearX), diff4(m, x, _mm_load_ps(r.nearY + f)));
    const float* keep = r.keepTable + 4 * std::size_t(r.keep[v]);
    const float* factor = r.curlTable + 4 * std::size_t(r.curl[v]);
    float* out = r.out + f;
    const __m128 curls[3] = {curlX, curlY, curlZ};
    for (int c = 0; c < 3; ++c)
        _mm_store_ps(out + 4 * c, update4(m, _mm_load_ps(keep + 4 * c), _mm_load_ps(out + 4 * c),
                                          _mm_load_ps(factor + 4 * c), curls[c]));
}

// A block whose x neighbour is the adjacent block in memory.
FENDRIX_AVX2 void innerBlock4(const Row& r, bool m, std::size_t v) {
    const float* near = r.in + 12 * v + (m ? 12 : -12);
    block4(r, m, v, _mm_load_ps(near + 4), _mm_load_ps(near + 8));
}

// Four floats at lo, four at hi.
FENDRIX_AVX2 __m256 pair8(const float* lo, const float* hi) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_load_ps(lo)), _mm_load_ps(hi), 1);
}

// Coefficients of blocks v, v + 1 in the register layout of the fields.
FENDRIX_AVX2 void coefficients8(const float* table, const std::uint32_t* index, std::size_t v,
                                       __m256 out[3]) {
    const float* a = table + 4 * std::size_t(index[v]);
    const float* b = table + 4 * std::size_t(index[v + 1]);
    out[0] = _mm256_loadu_ps(a);
    out[1] = pair8(a + 8, b);
    out[2] = _mm256_loadu_ps(b + 4);
}

// Low half from `low`, high half from `high`.
FENDRIX_AVX2 __m256 halves(__m256 low, __m256 high) { return _mm256_blend_ps(low, high, 0xF0); }

// Lane masks of the components in the registers of 4 blocks, [x y z x],
// [y z x y], [z x y z].
constexpr __mmask16 kHoldsY[3] = {0x00F0, 0xF00F, 0x0F00};
constexpr __mmask16 kHoldsZ[3] = {0x0F00, 0x00F0, 0xF00F};

// Per group of 4 lanes of register i: forX where it holds x, forY where y,
// forZ where z.
FENDRIX_AVX512 __m512 pick16(int i, __m512 forX, __m512 forY, __m512 forZ) {
    return _mm512_mask_blend_ps(kHoldsZ[i], _mm512_mask_blend_ps(kHoldsY[i], forX, forY), forZ);
}

// Two blocks, v and v + 1, none of them at a seam.
FENDRIX_AVX2 void group8(const Row& r, bool m, std::size_t v) {
    const std::size_t f = 12 * v;
    const float* in = r.in + f;
    const float* nearX = in + (m ? 12 : -12);
    __m256 a[3], nx[3], ny[3], nz[3];
    for (int i = 0; i < 3; ++i) {
        a[i] = _mm256_loadu_ps(in + 8 * i);
        nx[i] = _mm256_loadu_ps(nearX + 8 * i);
        ny[i] = _mm256_loadu_ps(r.nearY + f + 8 * i);
        nz[i] = _mm256_loadu_ps(r.nearZ + f + 8 * i);
    }
    // d2: each component differenced along the axis two after it (x along z,
    // y along x, z along y); d1: along the axis one after it. Registers hold
    // components [x y], [z x], [y z].
    const __m256 d2[3] = {diff8(m, a[0], halves(nz[0], nx[0])), diff8(m, a[1], halves(ny[1], nz[1])),
                          diff8(m, a[2], halves(nx[2], ny[2]))};
    const __m256 d1[3] = {diff8(m, a[0], halves(ny[0], nz[0])), diff8(m, a[1], halves(nx[1], ny[1])),
                          diff8(m, a[2], halves(nz[2], nx[2]))};
    // curl_c = D_{c+1} F_{c+2} - D_{c+2} F_{c+1}: d2 of component c + 2 and d1
    // of component c + 1, brought to the lanes of component c.
    const __m256 curl[3] = {
        _mm256_sub_ps(_mm256_permute2f128_ps(d2[1], d2[0], 0x20), _mm256_permute2f128_ps(d1[0], d1[1], 0x21)),
        _mm256_sub_ps(_mm256_permute2f128_ps(d2[0], d2[2], 0x31), _mm256_permute2f128_ps(d1[0], d1[2], 0x20)),
        _mm256_sub_ps(_mm256_permute2f128_ps(d2[1], d2[2], 0x21), _mm256_permute2f128_ps(d1[2], d1[1], 0x31)),
    };
    __m256 keep[3], factor[3];
    coefficients8(r.keepTable, r.keep, v, keep);
    coefficients8(r.curlTable, r.curl, v, factor);
    float* out = r.out + f;
    for (int i = 0; i < 3; ++i)
        _mm256_storeu_ps(out + 8 * i, update8(m, keep[i], _mm256_loadu_ps(out + 8 * i), factor[i], curl[i]));
}

// Index vector for a two-register shuffle taking whole groups of 4 lanes:
// group g of the result is group q[g] of the pair (0-3 first, 4-7 second).
FENDRIX_AVX512 __m512i groups16(int q0, int q1, int q2, int q3) {
    return _mm512_setr_epi32(4 * q0, 4 * q0 + 1, 4 * q0 + 2, 4 * q0 + 3, 4 * q1, 4 * q1 + 1, 4 * q1 + 2,
                             4 * q1 + 3, 4 * q2, 4 * q2 + 1, 4 * q2 + 2, 4 * q2 + 3, 4 * q3, 4 * q3 + 1,
                             4 * q3 + 2, 4 * q3 + 3);
}

FENDRIX_AVX512 __m512 join16(__m256 low, __m256 high) {
    return _mm512_shuffle_f32x4(_mm512_zextps256_ps512(low), _mm512_zextps256_ps512(high), 0x44);
}

// Coefficients of blocks v .. v + 3 in the register layout of the fields.
FENDRIX_AVX512 void coefficients16(const float* table, const std::uint32_t* index, std::size_t v,
                                          __m512 out[3]) {
    const float* b[4];
    for (int i = 0; i < 4; ++i) b[i] = table + 4 * std::size_t(index[v + i]);
    out[0] = join16(_mm256_loadu_ps(b[0]), pair8(b[0] + 8, b[1]));
    out[1] = join16(_mm256_loadu_ps(b[1] + 4), _mm256_loadu_ps(b[2]));
    out[2] = join16(pair8(b[2] + 8, b[3]), _mm256_loadu_ps(b[3] + 4));
}

// Four blocks, v .. v + 3, none of them at a seam.
FENDRIX_AVX512 void group16(const Row& r, bool m, std::size_t v) {
    const std::size_t f = 12 * v;
    const float* in = r.in + f;
    const float* nearX = in + (m ? 12 : -12);
    __m512 a[3], nx[3], ny[3], nz[3];
    for (int i = 0; i < 3; ++i) {
        a[i] = _mm512_loadu_ps(in + 16 * i);
        nx[i] = _mm512_loadu_ps(nearX + 16 * i);
        ny[i] = _mm512_loadu_ps(r.nearY + f + 16 * i);
        nz[i] = _mm512_loadu_ps(r.nearZ + f + 16 * i);
    }
    __m512 d2[3], d1[3];  // as in group8
    for (int i = 0; i < 3; ++i) {
        d2[i] = diff16(m, a[i], pick16(i, nz[i], nx[i], ny[i]));
        d1[i] = diff16(m, a[i], pick16(i, ny[i], nz[i], nx[i]));
    }
    // d2 of component c + 2 and d1 of component c + 1 of the same block, moved
    // to the lanes of component c. The middle register draws on all three.
    const __m512 t2 = _mm512_permutex2var_ps(d2[0], groups16(3, 4, 0, 6), d2[1]);
    const __m512 t1 = _mm512_permutex2var_ps(d1[1], groups16(1, 7, 3, 0), d1[0]);
    const __m512 curl[3] = {
        _mm512_sub_ps(_mm512_permutex2var_ps(d2[0], groups16(2, 0, 1, 5), d2[1]),
                      _mm512_permutex2var_ps(d1[0], groups16(1, 2, 0, 4), d1[1])),
        _mm512_sub_ps(_mm512_permutex2var_ps(t2, groups16(0, 1, 4, 3), d2[2]),
                      _mm512_permutex2var_ps(t1, groups16(0, 1, 2, 4), d1[2])),
        _mm512_sub_ps(_mm512_permutex2var_ps(d2[2], groups16(7, 3, 1, 2), d2[1]),
                      _mm512_permutex2var_ps(d1[2], groups16(6, 2, 3, 1), d1[1])),
    };
    __m512 keep[3], factor[3];
    coefficients16(r.keepTable, r.keep, v, keep);
    coefficients16(r.curlTable, r.curl, v, factor);
    float* out = r.out + f;
    for (int i = 0; i < 3; ++i)
        _mm512_storeu_ps(out + 16 * i, update16(m, keep[i], _mm512_loadu_ps(out + 16 * i), factor[i], curl[i]));
}

// Columns v .. end - 1, none at a seam: pairs of blocks, then single ones.
FENDRIX_AVX2 void innerColumns8(const Row& r, bool m, std::size_t v, std::size_t end) {
    for (; v + 2 <= end; v += 2) group8(r, m, v);
    for (; v < end; ++v) innerBlock4(r, m, v);
}

// The seam columns: E's first column takes its x predecessors from the last
// block moved up one lane, H's last column its x successors from the first
// block moved down one lane (0 beyond the row's ends).
FENDRIX_AVX2 void seamColumn(const Row& r, bool m) {
    if (m) {
        const float* first = r.in;
        const __m128 y = _mm_castsi128_ps(_mm_srli_si128(_mm_castps_si128(_mm_load_ps(first + 4)), 4));
        const __m128 z = _mm_castsi128_ps(_mm_srli_si128(_mm_castps_si128(_mm_load_ps(first + 8)), 4));
        block4(r, m, r.nv - 1, y, z);
    } else {
        const float* last = r.in + 12 * (r.nv - 1);
        const __m128 y = _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(_mm_load_ps(last + 4)), 4));
        const __m128 z = _mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(_mm_load_ps(last + 8)), 4));
        block4(r, m, 0, y, z);
    }
}

// Row j of plane k of a half step.
Row rowOf(FdtdEngine& engine, bool magnetic, std::size_t k, std::size_t j) {
    const std::size_t nv = engine.Nv, rowFloats = 12 * nv, planeFloats = rowFloats * engine.Ny();
    const std::size_t block = engine.planeBlock(k) + j * nv;
    Row r;
    r.out = (magnetic ? engine.hField : engine.eField) + 12 * block;
    r.in = (magnetic ? engine.eField : engine.hField) + 12 * block;
    if (magnetic) {
        r.nearY = r.in + rowFloats;
        r.nearZ = r.in + planeFloats;
    } else {
        // Low edges: the cell is its own backward neighbour (difference 0).
        r.nearY = j > 0 ? r.in - rowFloats : r.in;
        r.nearZ = k > 0 ? r.in - planeFloats : r.in;
    }
    r.keepTable = magnetic ? engine.daTable : engine.caTable;
    r.curlTable = magnetic ? engine.dbTable : engine.cbTable;
    r.keep = engine.keepIndex + block;
    r.curl = engine.curlIndex + block;
    r.nv = nv;
    return r;
}

// Rows of planes kBegin .. kEnd - 1 that the half step updates: H leaves the
// last plane and the last row of each plane alone.
struct Sweep {
    std::size_t kEnd, rows;
};
Sweep sweepOf(const FdtdEngine& engine, bool magnetic, std::size_t kEnd) {
    const std::size_t nz = engine.Nz(), ny = engine.Ny();
    if (!magnetic) return {kEnd, ny};
    if (nz == 0 || ny == 0) return {0, 0};
    return {kEnd < nz ? kEnd : nz - 1, ny - 1};
}

// The inner columns (1 .. Nv - 1 for E, 0 .. Nv - 2 for H) go in groups, the
// seam column last.
FENDRIX_AVX2 void row8(const Row& r, bool m) {
    innerColumns8(r, m, m ? 0 : 1, m ? r.nv - 1 : r.nv);
    seamColumn(r, m);
}

FENDRIX_AVX512 void row16(const Row& r, bool m) {
    std::size_t v = m ? 0 : 1;
    const std::size_t end = m ? r.nv - 1 : r.nv;
    for (; v + 4 <= end; v += 4) group16(r, m, v);
    innerColumns8(r, m, v, end);
    seamColumn(r, m);
}

FENDRIX_AVX2_ENTRY void planes8(FdtdEngine& engine, bool m, std::size_t kBegin, std::size_t kEnd) {
    const Sweep s = sweepOf(engine, m, kEnd);
    for (std::size_t k = kBegin; k < s.kEnd; ++k)
        for (std::size_t j = 0; j < s.rows; ++j) {
            if (m)
                row8(rowOf(engine, true, k, j), true);
            else
                row8(rowOf(engine, false, k, j), false);
        }
}

FENDRIX_AVX512_ENTRY void planes16(FdtdEngine& engine, bool m, std::size_t kBegin, std::size_t kEnd) {
    const Sweep s = sweepOf(engine, m, kEnd);
    for (std::size_t k = kBegin; k < s.kEnd; ++k)
        for (std::size_t j = 0; j < s.rows; ++j) {
            if (m)
                row16(rowOf(engine, true, k, j), true);
            else
                row16(rowOf(engine, false, k, j), false);
        }
}

void planes(FdtdEngine& engine, bool magnetic, std::size_t kBegin, std::size_t kEnd, int floats) {
    if (engine.Nv == 0) return;
    if (floats == 16)
        planes16(engine, magnetic, kBegin, kEnd);
    else
        planes8(engine, magnetic, kBegin, kEnd);
}

}  // namespace

void electricPlanesWide(FdtdEngine& engine, std::size_t kBegin, std::size_t kEnd, int floats) {
    planes(engine, false, kBegin, kEnd, floats);
}

void magneticPlanesWide(FdtdEngine& engine, std::size_t kBegin, std::size_t kEnd, int floats) {
    planes(engine, true, kBegin, kEnd, floats);
}

#else

namespace fendrix {

// Other processors and compilers: only the portable kernels exist, and
// kernelWidth() never asks for these.
void electricPlanesWide(FdtdEngine&, std::size_t, std::size_t, int) {}
void magneticPlanesWide(FdtdEngine&, std::size_t, std::size_t, int) {}

#endif

}  // namespace fendrix
