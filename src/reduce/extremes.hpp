// nanmin and nanmax: the smallest / largest value of each slice, NaNs skipped.
//
// Kernels: nanmin_whole_f64 .. nanmin_whole_i32, nanmin_axis_f64 .. nanmin_axis_i32,
// nanmax_whole_f64 .. nanmax_axis_i32 (the template instances for double,
// float, int64_t, int32_t).
//
// The per-element rule is: accept an element when it is <= the running
// minimum (>= the running maximum for nanmax); NaN is never accepted. Equal
// values are accepted too, so of +0.0 and -0.0 the one met later wins. A float
// slice in which nothing is accepted gives NaN.
//
// The running value starts as NaN, meaning "nothing accepted yet", and the
// first non-NaN element is always accepted: that is the same as starting
// from +inf (-inf) with a separate all-NaN flag, in one value.
#pragma once

#include <limits>

#include "reduce/simd.hpp"
#include "reduce/walk.hpp"

namespace corvane {

namespace detail {

// The NaN-skipping extreme of x[0..n) by value, over vector lanes. Equal
// values of different sign (the two zeros) may come from either; `none`
// (+inf for min, -inf for max, or the integer limits) when nothing smaller
// (larger) was found.
template <class T, bool Max>
T extreme_value_run(const T *x, npy_intp n) {
    using V = simd::vec<T>;
    constexpr int W = simd::lanes<T>;
    constexpr T none = Max ? (is_float<T> ? -std::numeric_limits<T>::infinity()
                                          : std::numeric_limits<T>::lowest())
                           : (is_float<T> ? std::numeric_limits<T>::infinity()
                                          : std::numeric_limits<T>::max());
    // "x better than m" selects x; a NaN x compares false and leaves m.
    auto pick = [](V v, V m) -> V {
        if constexpr (Max) {
            return v > m ? v : m;
        } else {
            return v < m ? v : m;
        }
    };
    npy_intp i = 0;
    T r = none;
    if (n >= 4 * W) {
        V m0 = simd::splat(none), m1 = m0, m2 = m0, m3 = m0;
        for (; i + 4 * W <= n; i += 4 * W) {
            m0 = pick(simd::load(x + i), m0);
            m1 = pick(simd::load(x + i + W), m1);
            m2 = pick(simd::load(x + i + 2 * W), m2);
            m3 = pick(simd::load(x + i + 3 * W), m3);
        }
        m0 = pick(pick(m1, m0), pick(m3, m2));
        for (int l = 0; l < W; l++) {
            r = (Max ? m0[l] > r : m0[l] < r) ? m0[l] : r;
        }
    }
    for (; i < n; i++) {
        r = (Max ? x[i] > r : x[i] < r) ? x[i] : r;
    }
    return r;
}

}  // namespace detail

template <class T, bool Max>
struct extreme_op {
    using in = T;
    using out = T;
    using acc = T;

    static acc init() {
        if constexpr (is_float<T>) {
            return nan_of<T>();
        } else {
            return Max ? std::numeric_limits<T>::lowest() : std::numeric_limits<T>::max();
        }
    }
    static void add(acc &s, T x) {
        if constexpr (is_float<T>) {
            s = ((Max ? x >= s : x <= s) || s != s) ? x : s;
        } else {
            s = (Max ? x > s : x < s) ? x : s;
        }
    }
    // The effect of add() over a contiguous run, from a vectorised scan. For
    // floats, the run's last element equal to its extreme is what add() would
    // leave (see the rule above); it differs from the extreme's value only in
    // the sign of a zero, and the +inf / -inf start value needs a look at
    // whether anything but NaN was there.
    static void add_run(acc &s, const T *x, npy_intp n) {
        const T v = detail::extreme_value_run<T, Max>(x, n);
        if constexpr (is_float<T>) {
            T z = v;
            if (v == (Max ? -1 : 1) * std::numeric_limits<T>::infinity()) {
                npy_intp j = 0;
                while (j < n && x[j] != x[j]) {
                    j++;
                }
                if (j == n) {
                    return;
                }
            } else if (v == T(0)) {
                npy_intp j = n - 1;
                while (x[j] != T(0)) {
                    j--;
                }
                z = x[j];
            }
            add(s, z);
        } else {
            add(s, v);
        }
    }
    static out finish(const acc &s, npy_intp) { return s; }
    static out empty() { return init(); }
};

namespace detail {

template <bool Max>
inline constexpr const char *extreme_size_error =
    Max ? "numpy.nanmax raises on a.size==0 and axis=None; So Corvane too."
        : "numpy.nanmin raises on a.size==0 and axis=None; So Corvane too.";
template <bool Max>
inline constexpr const char *extreme_axis_error =
    Max ? "numpy.nanmax raises on a.shape[axis]==0; So Corvane too."
        : "numpy.nanmin raises on a.shape[axis]==0; So Corvane too.";

template <class T, bool Max>
PyObject *extreme_whole(PyArrayObject *a, int) {
    if (PyArray_SIZE(a) == 0) {
        PyErr_SetString(PyExc_ValueError, extreme_size_error<Max>);
        return nullptr;
    }
    return reduce_whole<extreme_op<T, Max>>(a);
}

template <class T, bool Max>
PyObject *extreme_axis(PyArrayObject *a, int axis, int) {
    if (PyArray_DIM(a, axis) == 0) {
        PyErr_SetString(PyExc_ValueError, extreme_axis_error<Max>);
        return nullptr;
    }
    return reduce_axis<extreme_op<T, Max>>(a, axis);
}

}  // namespace detail

template <class T>
inline constexpr reduce_whole_fn nanmin_whole = detail::extreme_whole<T, false>;
template <class T>
inline constexpr reduce_axis_fn nanmin_axis = detail::extreme_axis<T, false>;
template <class T>
inline constexpr reduce_whole_fn nanmax_whole = detail::extreme_whole<T, true>;
template <class T>
inline constexpr reduce_axis_fn nanmax_axis = detail::extreme_axis<T, true>;

}  // namespace corvane
