#pragma once

#include <cstring>

namespace fendrix {

// Four single-precision floats handled as one 128-bit value: the same field
// component of four cells of a grid row, a quarter of the row apart. Every
// operation is lane-wise IEEE single precision, so a vector result equals the
// result of the same operation done one float at a time.
//
// GCC and Clang get their generic vector extension (SSE on x86-64, NEON on
// ARM, scalar code elsewhere); other compilers get a plain four-float array.

#if defined(__GNUC__) || defined(__clang__)
#define FENDRIX_VECTOR_EXTENSION 1
#endif

struct Vec4 {
#ifdef FENDRIX_VECTOR_EXTENSION
    typedef float Raw __attribute__((vector_size(16)));
    Raw v;
#else
    float v[4];
#endif

    static Vec4 zero() {
        Vec4 r;
        for (int l = 0; l < 4; ++l) r.v[l] = 0.0f;
        return r;
    }
    static Vec4 make(float a, float b, float c, float d) {
        Vec4 r;
        r.v[0] = a;
        r.v[1] = b;
        r.v[2] = c;
        r.v[3] = d;
        return r;
    }

    // Loads and stores of 16-byte aligned groups of four floats.
    static Vec4 load(const float* p) {
        Vec4 r;
#ifdef FENDRIX_VECTOR_EXTENSION
        std::memcpy(&r.v, __builtin_assume_aligned(p, 16), 16);
#else
        std::memcpy(&r.v, p, 16);
#endif
        return r;
    }
    void store(float* p) const {
#ifdef FENDRIX_VECTOR_EXTENSION
        std::memcpy(__builtin_assume_aligned(p, 16), &v, 16);
#else
        std::memcpy(p, &v, 16);
#endif
    }

    float lane(int l) const { return v[l]; }
    float sum() const { return ((v[0] + v[1]) + v[2]) + v[3]; }
};

#ifdef FENDRIX_VECTOR_EXTENSION
inline Vec4 operator+(Vec4 a, Vec4 b) { return Vec4{a.v + b.v}; }
inline Vec4 operator-(Vec4 a, Vec4 b) { return Vec4{a.v - b.v}; }
inline Vec4 operator*(Vec4 a, Vec4 b) { return Vec4{a.v * b.v}; }
#else
inline Vec4 operator+(Vec4 a, Vec4 b) {
    return Vec4::make(a.v[0] + b.v[0], a.v[1] + b.v[1], a.v[2] + b.v[2], a.v[3] + b.v[3]);
}
inline Vec4 operator-(Vec4 a, Vec4 b) {
    return Vec4::make(a.v[0] - b.v[0], a.v[1] - b.v[1], a.v[2] - b.v[2], a.v[3] - b.v[3]);
}
inline Vec4 operator*(Vec4 a, Vec4 b) {
    return Vec4::make(a.v[0] * b.v[0], a.v[1] * b.v[1], a.v[2] * b.v[2], a.v[3] * b.v[3]);
}
#endif

// Lane l receives lane l - 1, lane 0 receives 0: the last column of a row seen
// from the first column, i.e. the x predecessor of each quarter's first cell.
inline Vec4 shiftUpLane(Vec4 a) {
#if defined(__clang__)
    return Vec4{__builtin_shufflevector(a.v, Vec4::zero().v, 4, 0, 1, 2)};
#elif defined(__GNUC__)
    typedef int Mask __attribute__((vector_size(16)));
    return Vec4{__builtin_shuffle(a.v, Vec4::zero().v, Mask{4, 0, 1, 2})};
#else
    return Vec4::make(0.0f, a.v[0], a.v[1], a.v[2]);
#endif
}

// Lane l receives lane l + 1, lane 3 receives 0: the first column of a row seen
// from the last column, i.e. the x successor of each quarter's last cell.
inline Vec4 shiftDownLane(Vec4 a) {
#if defined(__clang__)
    return Vec4{__builtin_shufflevector(a.v, Vec4::zero().v, 1, 2, 3, 4)};
#elif defined(__GNUC__)
    typedef int Mask __attribute__((vector_size(16)));
    return Vec4{__builtin_shuffle(a.v, Vec4::zero().v, Mask{1, 2, 3, 4})};
#else
    return Vec4::make(a.v[1], a.v[2], a.v[3], 0.0f);
#endif
}

}  // namespace fendrix
