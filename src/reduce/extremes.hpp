// nanmin and nanmax: the smallest / largest value of each slice, NaNs skipped.
//
// Kernels: nanmin_whole_f64 .. nanmin_whole_i32, nanmin_axis_f64 .. nanmin_axis_i32,
// nanmax_whole_f64 .. nanmax_axis_i32 (the template instances for double,
// float, int64_t, int32_t).
//
// The result is what this per-element rule leaves: starting from +inf (-inf
// for nanmax), accept an element when it is <= the running minimum (>= the
// running maximum); NaN is never accepted. Equal values are accepted too, so
// of +0.0 and -0.0 the one met later wins; a float slice in which nothing is
// accepted gives NaN.
//
// That rule is computed in two passes. The first finds the extreme's value
// with plain vector minima (maxima), which skip NaNs but may pick either of
// two equal zeros. Only when that value is 0, or the start value itself, does
// a second pass look for the last element equal to it: it gives the sign of
// the zero, and tells +inf found from nothing found (all NaN).
#pragma once

#include <limits>

#include "frame/cpu.hpp"
#include "reduce/simd.hpp"
#include "reduce/walk.hpp"

namespace corvane {

namespace detail {

// Start of the running extreme: nothing is worse.
template <class T, bool Max>
inline constexpr T extreme_start =
    Max ? (is_float<T> ? -std::numeric_limits<T>::infinity() : std::numeric_limits<T>::lowest())
        : (is_float<T> ? std::numeric_limits<T>::infinity() : std::numeric_limits<T>::max());

// x if it is strictly better than m, else m; a NaN x leaves m. Works on
// single values and on vectors alike.
template <bool Max, class V>
inline V better(V x, V m) {
    if constexpr (Max) {
        return x > m ? x : m;
    } else {
        return x < m ? x : m;
    }
}

// A vector of B bytes of T (B = simd::vec_bytes: the baseline's width).
template <class T, int B>
struct wide_of {
    typedef T type __attribute__((vector_size(B)));
};
template <class T, int B>
using wide = typename wide_of<T, B>::type;

template <class V, class T>
inline V splat_wide(T x) {
    V v;
    for (int l = 0; l < static_cast<int>(sizeof(V) / sizeof(T)); l++) {
        v[l] = x;
    }
    return v;
}

// The NaN-skipping extreme of the n elements at x by value, over vector
// lanes of B bytes; extreme_start when nothing is better.
template <class T, bool Max, int B = simd::vec_bytes>
T extreme_value_run(const char *x, npy_intp n) {
    using V = wide<T, B>;
    constexpr int W = B / static_cast<int>(sizeof(T));
    constexpr npy_intp size = sizeof(T);
    npy_intp i = 0;
    T r = extreme_start<T, Max>;
    if (n >= 4 * W) {
        V m0 = splat_wide<V>(r), m1 = m0, m2 = m0, m3 = m0;
        for (; i + 4 * W <= n; i += 4 * W) {
            const char *q = x + i * size;
            m0 = better<Max>(load<V>(q), m0);
            m1 = better<Max>(load<V>(q + W * size), m1);
            m2 = better<Max>(load<V>(q + 2 * W * size), m2);
            m3 = better<Max>(load<V>(q + 3 * W * size), m3);
        }
        m0 = better<Max>(better<Max>(m1, m0), better<Max>(m3, m2));
        for (int l = 0; l < W; l++) {
            r = better<Max>(m0[l], r);
        }
    }
    for (; i < n; i++) {
        r = better<Max>(load<T>(x + i * size), r);
    }
    return r;
}

// The extreme of the n elements at x (extreme_start when nothing is better)
// into `best`, and the first position holding it (n when nothing is better),
// in one pass: every lane keeps its own extreme and the first position where
// it met it (a lane moves only to a strictly better element), and the lanes
// are merged at the end, the smallest position winning among equal values.
// The positions are lane-wide integers, so the run goes in chunks short
// enough for them.
template <class T, bool Max, int B>
npy_intp extreme_and_first(const char *x, npy_intp n, T &best) {
    using L = simd::lane_int<T>;
    using V = wide<T, B>;
    using I = wide<L, B>;
    constexpr int W = B / static_cast<int>(sizeof(T));
    constexpr int U = 4;
    constexpr npy_intp size = sizeof(T);
    constexpr npy_intp chunk = npy_intp(1) << 30;
    best = extreme_start<T, Max>;
    npy_intp at = n;
    npy_intp i = 0;
    while (n - i >= U * W) {
        const npy_intp rest = (n - i) / (U * W) * (U * W);
        const npy_intp len = rest < chunk ? rest : chunk;
        V m[U];
        I p[U];
        I cur[U];
        L first[U * W];  // the lanes' starting positions 0, 1, ..., U * W - 1
        for (int k = 0; k < U * W; k++) {
            first[k] = static_cast<L>(k);
        }
        for (int u = 0; u < U; u++) {
            m[u] = splat_wide<V>(best);
            p[u] = splat_wide<I>(L(-1));
            cur[u] = load<I>(reinterpret_cast<const char *>(first + u * W));
        }
        const char *q = x + i * size;
        const I step = splat_wide<I>(static_cast<L>(U * W));
        for (npy_intp j = 0; j < len; j += U * W, q += U * W * size) {
            for (int u = 0; u < U; u++) {
                const V e = load<V>(q + u * W * size);
                const I b = Max ? e > m[u] : e < m[u];
                m[u] = b ? e : m[u];
                p[u] = b ? cur[u] : p[u];
                cur[u] += step;
            }
        }
        // Lanes that never moved hold the start value and no position. The
        // chunk's best is strictly better than what earlier chunks found.
        T cb = best;
        L cp = -1;
        for (int u = 0; u < U; u++) {
            for (int l = 0; l < W; l++) {
                const T v = m[u][l];
                const L at_l = p[u][l];
                if (at_l >= 0 && ((Max ? v > cb : v < cb) || (v == cb && at_l < cp))) {
                    cb = v;
                    cp = at_l;
                }
            }
        }
        if (cp >= 0) {
            best = cb;
            at = i + cp;
        }
        i += len;
    }
    for (; i < n; i++) {
        const T e = load<T>(x + i * size);
        if (Max ? e > best : e < best) {
            best = e;
            at = i;
        }
    }
    return at;
}

// Runs at least this long take the kernels compiled for the widest vectors
// the processor has (AVX2: twice the baseline's lanes and 64-bit integer
// compares; AVX-512: four times, and 64-bit minima too).
inline constexpr npy_intp wide_run = 64;

// extreme_value_run, on the widest vectors the processor has.
template <class T, bool Max>
inline T extreme_value_scan(const char *x, npy_intp n) {
    if (n >= wide_run) {
        return isa_dispatch([&](auto tag) {
            return extreme_value_run<T, Max, decltype(tag)::vector_bytes>(x, n);
        });
    }
    return extreme_value_run<T, Max>(x, n);
}

}  // namespace detail

// The first pass, shared with nanargmin / nanargmax: the extreme's value (of
// two equal zeros, either).
template <class T, bool Max>
struct extreme_value_op {
    using in = T;
    using acc = T;
    static acc init() { return detail::extreme_start<T, Max>; }
    static void add(acc &s, T x) { s = detail::better<Max>(x, s); }
    static void add_run(acc &s, const char *x, npy_intp n) {
        s = detail::better<Max>(detail::extreme_value_scan<T, Max>(x, n), s);
    }
};

template <class T, bool Max>
struct extreme_op : extreme_value_op<T, Max> {
    using out = T;
    using typename extreme_value_op<T, Max>::acc;

    // The second pass of float slices: the last element equal to `value`,
    // NaN when there is none.
    struct last_equal_op {
        using in = T;
        using acc = T;
        T value;
        static acc init() { return nan_of<T>(); }
        void add(acc &z, T x) const { z = x == value ? x : z; }
        void add_run(acc &z, const char *x, npy_intp n) const {
            for (npy_intp j = n - 1; j >= 0; j--) {
                const T e = load<T>(x + j * static_cast<npy_intp>(sizeof(T)));
                if (e == value) {
                    z = e;
                    return;
                }
            }
        }
    };

    last_equal_op second(const acc &s, npy_intp) const
        requires is_float<T>
    {
        return {s};
    }
    static bool skip_second(const acc &s, npy_intp) {
        return !(s == T(0) || s == detail::extreme_start<T, Max>);
    }
    static out finish2(const acc &s, const T &z, npy_intp) { return skip_second(s, 0) ? s : z; }
    // Integers: the value is all there is.
    static out finish(const acc &s, npy_intp) { return s; }
    static out empty() { return T(0); }
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
