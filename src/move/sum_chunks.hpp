// The vector stages of the running sum's steady phase, a chunk of `width`
// positions of a contiguous slice at a time: each step's difference and the
// counts before the chain of additions, the outputs after it (see sums.hpp).
//
// Written with GCC's portable vectors, so that the same code is vector code
// for any target. Every lane does what the scalar step does to its element,
// in the same order, so the results are the same bits.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

#include "frame/dtypes.hpp"
#include "frame/numpy_api.hpp"

// These vectors never cross the module's boundary, so the note that their
// calling convention depends on the target's vector width does not concern us.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace corvane::sum_chunk {

// Four float64 lanes: 256-bit registers. (512-bit ones measured slower:
// the chain of additions beside them ran as at a lower clock.)
inline constexpr npy_intp width = 4;

template <class E>
struct vec_of {
    typedef E type __attribute__((vector_size(width * sizeof(E))));
};
template <class E>
using vec = typename vec_of<E>::type;

using f64v = vec<double>;
using i64v = vec<int64_t>;

template <class V>
inline V load_at(const void *p) {
    return load<V>(static_cast<const char *>(p));
}
template <class V>
inline void store(void *p, V v) {
    __builtin_memcpy(p, &v, sizeof(V));
}

// A chunk of elements from p, as float64.
template <class T>
inline f64v widen(const T *p) {
    if constexpr (std::is_same_v<T, double>) {
        return load_at<f64v>(p);
    } else {
        // Lane by lane: GCC 12 splits __builtin_convertvector here into
        // halves.
        const auto v = load_at<vec<T>>(p);
        return f64v{static_cast<double>(v[0]), static_cast<double>(v[1]),
                    static_cast<double>(v[2]), static_cast<double>(v[3])};
    }
}

// Every lane's sum of the lanes up to it.
inline i64v prefix_sums(i64v v) {
    static_assert(width == 4);
    const i64v zero = {};
    v += __builtin_shuffle(v, zero, i64v{4, 0, 1, 2});
    v += __builtin_shuffle(v, zero, i64v{4, 4, 0, 1});
    return v;
}

inline i64v last_lane(i64v v) {
    return __builtin_shuffle(v, i64v{width - 1, width - 1, width - 1, width - 1});
}

// The steps of a float input x (x[j] enters, x[j - w] leaves): the
// differences with NaN and infinities as +0 into d, the count of non-NaN
// values after each step into counts (`count` holding, in every lane, the
// count before the chunk and then after it). Marks in `inf` the lanes where
// either value is infinite, in `changed` those where the count changed.
template <class T>
inline void float_steps(const T *x, npy_intp w, double *d, npy_intp *counts, i64v &count,
                        i64v &inf, i64v &changed) {
    const f64v a = widen(x);
    const f64v b = widen(x - w);
    const f64v zero = {};
    // x - x is 0 for finite x, NaN for NaN and infinities.
    const i64v fa = a - a == zero;
    const i64v fb = b - b == zero;
    const i64v na = a == a;
    const i64v nb = b == b;
    store(d, (fa ? a : zero) - (fb ? b : zero));
    // A comparison gives -1 where true.
    const i64v dc = nb - na;
    const i64v total = prefix_sums(dc);
    store(counts, count + total);
    count += last_lane(total);
    inf |= (na & ~fa) | (nb & ~fb);
    changed |= dc;
}

// The steps of a chunk whose values are all finite, the common case: the
// plain differences, the count unchanged. `check` turns NaN for good once a
// difference is not finite (a NaN or an infinity among the values, or an
// overflow); the chunk's steps must then be formed by float_steps.
template <class T>
inline void finite_steps(const T *x, npy_intp w, double *d, npy_intp *counts, i64v count,
                         f64v &check) {
    const f64v diff = widen(x) - widen(x - w);
    store(d, diff);
    store(counts, count);
    check += diff - diff;
}

// The steps of an integer input: a - b as int_difference forms it (exact
// for int32; for int64 the integer difference where it fits, else the
// difference of the two converted values).
template <class T>
inline void int_steps(const T *x, npy_intp w, double *d) {
    const i64v a = __builtin_convertvector(load_at<vec<T>>(x), i64v);
    const i64v b = __builtin_convertvector(load_at<vec<T>>(x - w), i64v);
    using u64v = vec<uint64_t>;
    // Wrapping subtraction; it overflowed where a and b differ in sign and
    // the result's sign is not a's.
    const i64v diff =
        reinterpret_cast<i64v>(reinterpret_cast<u64v>(a) - reinterpret_cast<u64v>(b));
    const f64v exact = __builtin_convertvector(diff, f64v);
    if constexpr (sizeof(T) < sizeof(int64_t)) {
        store(d, exact);
    } else {
        const i64v zero = {};
        const i64v overflow = ((a ^ b) & (a ^ diff)) < zero;
        const f64v rounded = __builtin_convertvector(a, f64v) - __builtin_convertvector(b, f64v);
        store(d, overflow ? rounded : exact);
    }
}

// The mean's factors for a chunk of counts: 1 / count, NaN where fewer than
// m values count; the same bits as the table of move_sum_op::prepare, and
// cheaper than looking each up where the counts vary.
inline f64v factors(const npy_intp *counts, npy_intp m) {
    const i64v c = load_at<i64v>(counts);
    return c < m ? f64v{} + std::numeric_limits<double>::quiet_NaN()
                 : 1.0 / __builtin_convertvector(c, f64v);
}

// True when any lane is NaN.
inline bool any_nan(f64v v) {
    const i64v nan = v != v;
    int64_t r = 0;
    for (npy_intp l = 0; l < width; l++) {
        r |= nan[l];
    }
    return r != 0;
}

// True when any lane is set.
inline bool any(i64v v) {
    int64_t r = 0;
    for (npy_intp l = 0; l < width; l++) {
        r |= v[l];
    }
    return r != 0;
}

// A chunk of outputs, rounded once to the output type O.
template <class O>
inline void put(O *y, f64v v) {
    if constexpr (std::is_same_v<O, double>) {
        store(y, v);
    } else {
        store(y, __builtin_convertvector(v, vec<O>));
    }
}

// The mean's factors recips[count[l]] of a row of lanes whose counts lie in
// lo .. lo + 31 (most rows where NaNs are sparse and the window short): the
// 32 entries held in four registers and picked by permutes, eight lanes at
// a time, in place of a load per lane.
inline void permuted_factors(const npy_intp *count, npy_intp lanes, npy_intp lo, npy_intp hi,
                             const double *recips, double *factor) {
    typedef double f64x8 __attribute__((vector_size(64)));
    typedef int64_t i64x8 __attribute__((vector_size(64)));
    alignas(64) double table[32];
    for (npy_intp t = 0; t < 32; t++) {
        table[t] = lo + t <= hi ? recips[lo + t] : 0.0;
    }
    const f64x8 t0 = load_at<f64x8>(table);
    const f64x8 t1 = load_at<f64x8>(table + 8);
    const f64x8 t2 = load_at<f64x8>(table + 16);
    const f64x8 t3 = load_at<f64x8>(table + 24);
    npy_intp l = 0;
    for (; l + 8 <= lanes; l += 8) {
        const i64x8 k = load_at<i64x8>(count + l) - lo;
        // The permutes read the low four bits of k (and the fifth for the
        // second register).
        const i64x8 low = k & 15;
        const f64x8 a = __builtin_shuffle(t0, t1, low);
        const f64x8 b = __builtin_shuffle(t2, t3, low);
        store(factor + l, k < 16 ? a : b);
    }
    for (; l < lanes; l++) {
        factor[l] = recips[count[l]];
    }
}

}  // namespace corvane::sum_chunk
