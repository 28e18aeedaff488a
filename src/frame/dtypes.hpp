// The four element types with native kernels, as tags.
//
// A kernel family is one template over T (double, float, int64_t, int32_t);
// the traits below carry what differs between them.
#pragma once

#include <bit>
#include <cstring>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "frame/numpy_api.hpp"

namespace corvane {

template <class T>
struct dtype;

template <>
struct dtype<double> {
    static constexpr int typenum = NPY_FLOAT64;
    static constexpr const char *suffix = "f64";
};
template <>
struct dtype<float> {
    static constexpr int typenum = NPY_FLOAT32;
    static constexpr const char *suffix = "f32";
};
template <>
struct dtype<int64_t> {
    static constexpr int typenum = NPY_INT64;
    static constexpr const char *suffix = "i64";
};
template <>
struct dtype<int32_t> {
    static constexpr int typenum = NPY_INT32;
    static constexpr const char *suffix = "i32";
};

// On LP64 Linux NPY_INT64 is NPY_LONG (7) and NPY_INT32 is NPY_INT (5); the
// same-width NPY_LONGLONG (9) deliberately has no kernel.
static_assert(NPY_INT64 == NPY_LONG && NPY_INT32 == NPY_INT);

template <class T>
inline constexpr bool is_float = std::is_floating_point_v<T>;

// Float types keep their own precision; integers produce float64 wherever a
// function yields fractional values (means, variances, medians).
template <class T>
using real_of = std::conditional_t<is_float<T>, T, double>;

// NaN is the only value unequal to itself; integers never hold one.
template <class T>
inline constexpr bool is_nan(T x) {
    if constexpr (is_float<T>) {
        return x != x;
    } else {
        return false;
    }
}

// Reads one element. NumPy arrays need not be aligned (a view at a byte offset,
// a field of a record), so elements are read through memcpy, which compiles
// to a plain (or unaligned vector) load.
template <class T>
inline T load(const char *p) {
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}

template <class R>
inline constexpr R nan_of() {
    return std::numeric_limits<R>::quiet_NaN();
}

// x, or +0 when x is NaN, done on the bits: a float select often becomes a
// branch, which random NaNs make mispredict; an integer mask does not.
template <class T>
inline T zero_if_nan(T x) {
    if constexpr (is_float<T>) {
        using U = std::conditional_t<sizeof(T) == 8, uint64_t, uint32_t>;
        const U keep = x == x ? ~U(0) : U(0);
        return std::bit_cast<T>(std::bit_cast<U>(x) & keep);
    } else {
        return x;
    }
}

// Wrapping arithmetic for the integer sums: signed overflow is undefined, so
// add and multiply in the unsigned type of the same width.
template <class T>
inline constexpr T wrap_add(T a, T b) {
    if constexpr (is_float<T>) {
        return a + b;
    } else {
        using U = std::make_unsigned_t<T>;
        return static_cast<T>(static_cast<U>(a) + static_cast<U>(b));
    }
}

template <class T>
inline constexpr T wrap_mul(T a, T b) {
    if constexpr (is_float<T>) {
        return a * b;
    } else {
        using U = std::make_unsigned_t<T>;
        return static_cast<T>(static_cast<U>(a) * static_cast<U>(b));
    }
}

// Dispatch on an array's type number: index 0..3 for float64, float32, int64,
// int32 (the order of every kernel table), -1 for anything else.
inline int dtype_index(int typenum) {
    switch (typenum) {
    case NPY_FLOAT64: return 0;
    case NPY_FLOAT32: return 1;
    case NPY_INT64: return 2;
    case NPY_INT32: return 3;
    default: return -1;
    }
}

// Builds a four-entry kernel table from a template, in dtype_index order.
#define CORVANE_FOUR(tmpl) {tmpl<double>, tmpl<float>, tmpl<int64_t>, tmpl<int32_t>}

}  // namespace corvane
