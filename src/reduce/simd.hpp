// Portable short vectors (GCC vector extensions) for the scans whose result
// does not depend on the order in which elements are compared: NaN tests,
// extremes, positions of extremes.
//
// A vec<T> holds 32 bytes; the compiler maps it onto whatever vector
// registers the target has (two SSE2 registers on the x86-64 baseline).
// Comparisons yield a mask vector of same-width signed integers (all bits set
// where true), and `mask ? a : b` selects per lane.
#pragma once

#include <cstdint>
#include <type_traits>

#include "frame/dtypes.hpp"
#include "frame/numpy_api.hpp"

// These vectors never cross the module's boundary, so the note that their
// calling convention depends on the target's vector width does not concern us.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace corvane::simd {

inline constexpr int vec_bytes = 16;

template <class T>
struct vec_of {
    typedef T type __attribute__((vector_size(vec_bytes)));
};
template <class T>
using vec = typename vec_of<T>::type;

// Same-width signed integer of T, the lane type of a comparison mask.
template <class T>
using lane_int = std::conditional_t<sizeof(T) == 8, int64_t, int32_t>;
template <class T>
using mask = vec<lane_int<T>>;

template <class T>
inline constexpr int lanes = vec_bytes / static_cast<int>(sizeof(T));

// Lanes from possibly unaligned memory.
template <class T>
inline vec<T> load_vec(const char *p) {
    return load<vec<T>>(p);
}

template <class T>
inline vec<T> splat(T x) {
    vec<T> v;
    for (int l = 0; l < lanes<T>; l++) {
        v[l] = x;
    }
    return v;
}

// True when any lane of a mask is set.
template <class M>
inline bool any(M m) {
    using L = std::remove_reference_t<decltype(m[0])>;
    L r = 0;
    for (int l = 0; l < static_cast<int>(sizeof(M) / sizeof(L)); l++) {
        r |= m[l];
    }
    return r != 0;
}

// Position of the first of the n elements at p for which `hit` holds, n if
// none. `hit` takes a vec<T> to its mask and a T to a bool (a generic
// lambda). Vector blocks are tested up to a few hundred elements at a time; the
// masks are counted (a true lane is -1), which compiles to plain vector
// subtractions on every target, then the block with a hit is searched again
// element by element.
template <class T, class Hit>
npy_intp find_first(const char *p, npy_intp n, Hit hit) {
    constexpr npy_intp step = 2 * lanes<T>;
    constexpr npy_intp size = sizeof(T);
    // Blocks start small, so that a hit near the start of a slice is found
    // at once, and double up to 256 elements for long clean runs.
    npy_intp block = 4 * step;
    npy_intp i = 0;
    while (n - i >= step) {
        const npy_intp start = i;
        const npy_intp end = n - i < block ? i + (n - i) / step * step : i + block;
        block = block < 256 ? 2 * block : block;
        mask<T> count = {};
        for (; i < end; i += step) {
            count -= hit(load_vec<T>(p + i * size)) + hit(load_vec<T>(p + (i + lanes<T>) * size));
        }
        if (any(count)) {
            i = start;
            break;
        }
    }
    for (; i < n; i++) {
        if (hit(load<T>(p + i * size))) {
            return i;
        }
    }
    return n;
}

}  // namespace corvane::simd
