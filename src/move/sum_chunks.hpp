// The vector stages of the running sum's steady phase, eight positions of a
// contiguous slice at a time: each step's difference before the chain of
// additions, the outputs after it (see sums.hpp).
//
// Written with GCC's portable vectors of eight lanes, so that the stages are
// vector code whatever the target: one 512-bit register under AVX-512, four
// SSE2 registers on the x86-64 baseline. Every lane does what the scalar
// step does to its element, in the same order, so the results are the same
// bits.
#pragma once

#include <cstdint>
#include <limits>

#include "frame/dtypes.hpp"
#include "frame/numpy_api.hpp"

// These vectors never cross the module's boundary, so the note that their
// calling convention depends on the target's vector width does not concern us.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace corvane::sum_chunk {

inline constexpr npy_intp width = 8;

template <class E>
struct vec8_of {
    typedef E type __attribute__((vector_size(width * sizeof(E))));
};
template <class E>
using vec8 = typename vec8_of<E>::type;

using f64x8 = vec8<double>;
using i64x8 = vec8<int64_t>;

template <class V>
inline void store(void *p, V v) {
    __builtin_memcpy(p, &v, sizeof(V));
}

// Eight elements from p, as float64.
template <class T>
inline f64x8 widen(const T *p) {
    if constexpr (std::is_same_v<T, double>) {
        return load<f64x8>(reinterpret_cast<const char *>(p));
    } else {
        return __builtin_convertvector(load<vec8<T>>(reinterpret_cast<const char *>(p)), f64x8);
    }
}

// Eight steps of a float input x (x[j] enters, x[j - w] leaves): the
// differences with NaN and infinities as +0 into d, the changes of the count
// of non-NaN values into dc; returns the lanes where either value is
// infinite (all bits set).
template <class T>
inline i64x8 float_steps(const T *x, npy_intp w, double *d, int64_t *dc) {
    const f64x8 a = widen(x);
    const f64x8 b = widen(x - w);
    const f64x8 zero = {};
    // x - x is 0 for finite x, NaN for NaN and infinities.
    const i64x8 fa = a - a == zero;
    const i64x8 fb = b - b == zero;
    const i64x8 na = a == a;
    const i64x8 nb = b == b;
    store(d, (fa ? a : zero) - (fb ? b : zero));
    // A comparison gives -1 where true.
    store(dc, nb - na);
    return (na & ~fa) | (nb & ~fb);
}

// Eight steps of an integer input: a - b as int_difference forms it (exact
// for int32; for int64 the integer difference where it fits, else the
// difference of the two converted values).
template <class T>
inline void int_steps(const T *x, npy_intp w, double *d) {
    const i64x8 a = __builtin_convertvector(load<vec8<T>>(reinterpret_cast<const char *>(x)), i64x8);
    const i64x8 b =
        __builtin_convertvector(load<vec8<T>>(reinterpret_cast<const char *>(x - w)), i64x8);
    using u64x8 = vec8<uint64_t>;
    // Wrapping subtraction; it overflowed where a and b differ in sign and
    // the result's sign is not a's.
    const i64x8 diff = reinterpret_cast<i64x8>(reinterpret_cast<u64x8>(a) -
                                               reinterpret_cast<u64x8>(b));
    const f64x8 exact = __builtin_convertvector(diff, f64x8);
    if constexpr (sizeof(T) < sizeof(int64_t)) {
        store(d, exact);
    } else {
        const i64x8 zero = {};
        const i64x8 overflow = ((a ^ b) & (a ^ diff)) < zero;
        const f64x8 rounded = __builtin_convertvector(a, f64x8) - __builtin_convertvector(b, f64x8);
        store(d, overflow ? rounded : exact);
    }
}

// Eight outputs, rounded once to the output type O.
template <class O>
inline void put(O *y, f64x8 v) {
    if constexpr (std::is_same_v<O, double>) {
        store(y, v);
    } else {
        store(y, __builtin_convertvector(v, vec8<O>));
    }
}

}  // namespace corvane::sum_chunk
