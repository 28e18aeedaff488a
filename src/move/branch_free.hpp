// Branch-free helpers of the moving-window kernels.
//
// Whether a value is NaN, infinite, or better than the current extreme
// follows the data, not a pattern the branch predictor can learn, so the hot
// loops choose with masks instead of jumps wherever a mispredicted branch
// would cost more than computing both sides.
#pragma once

#include <bit>
#include <cstdint>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "frame/dtypes.hpp"

namespace corvane {

// c ? a : b without a branch.
inline npy_intp select(bool c, npy_intp a, npy_intp b) {
    const npy_intp mask = -static_cast<npy_intp>(c);
    return (a & mask) | (b & ~mask);
}
inline double select(bool c, double a, double b) {
    const uint64_t mask = -static_cast<uint64_t>(c);
    return std::bit_cast<double>((std::bit_cast<uint64_t>(a) & mask) |
                                 (std::bit_cast<uint64_t>(b) & ~mask));
}
inline float select(bool c, float a, float b) {
    const uint32_t mask = -static_cast<uint32_t>(c);
    return std::bit_cast<float>((std::bit_cast<uint32_t>(a) & mask) |
                                (std::bit_cast<uint32_t>(b) & ~mask));
}

// The entering value a and the leaving value b of a steady step, classified
// together and without a branch (whether a value is NaN is data, not
// pattern): their finite parts (the value, or +0 for NaN and infinities) and
// two bit sets, bit 0 for a and bit 1 for b.
template <class T>
struct step_pair {
    T a_finite;
    T b_finite;
    int non_nan;   // set for a value that is not NaN
    int infinite;  // set for +inf or -inf
};

template <class T>
inline step_pair<T> classify(T a, T b) {
#if defined(__SSE2__)
    if constexpr (std::is_same_v<T, double>) {
        const __m128d v = _mm_set_pd(b, a);
        const __m128d finite = _mm_cmpeq_pd(_mm_sub_pd(v, v), _mm_setzero_pd());
        const __m128d ordered = _mm_cmpord_pd(v, v);
        const __m128d kept = _mm_and_pd(finite, v);
        return {_mm_cvtsd_f64(kept), _mm_cvtsd_f64(_mm_unpackhi_pd(kept, kept)),
                _mm_movemask_pd(ordered), _mm_movemask_pd(_mm_andnot_pd(finite, ordered))};
    } else {
        const __m128 v = _mm_set_ps(0.0f, 0.0f, b, a);
        const __m128 finite = _mm_cmpeq_ps(_mm_sub_ps(v, v), _mm_setzero_ps());
        const __m128 ordered = _mm_cmpord_ps(v, v);
        const __m128 kept = _mm_and_ps(finite, v);
        return {_mm_cvtss_f32(kept), _mm_cvtss_f32(_mm_shuffle_ps(kept, kept, 1)),
                _mm_movemask_ps(ordered) & 3, _mm_movemask_ps(_mm_andnot_ps(finite, ordered)) & 3};
    }
#else
    const bool fa = a - a == T(0);
    const bool fb = b - b == T(0);
    const int na = a == a;
    const int nb = b == b;
    return {select(fa, a, T(0)), select(fb, b, T(0)), na | (nb << 1),
            (na & !fa) | ((nb & !fb) << 1)};
#endif
}

// The class of a float value as the running states see it. A value is finite
// exactly when x - x is zero (infinities and NaN give NaN).
template <class T>
inline bool is_finite_value(T x) {
    if constexpr (is_float<T>) {
        return x - x == T(0);
    } else {
        return true;
    }
}

}  // namespace corvane
