// nanargmin and nanargmax: the position of the smallest / largest value of
// each slice, NaNs skipped, the first occurrence winning among equal values
// (the two zeros are equal). Over the whole array the position is the one in
// the C-order flattening, whatever the layout.
//
// Kernels: nanargmin_whole_f64 .. nanargmin_whole_i32,
// nanargmin_axis_f64 .. nanargmin_axis_i32, nanargmax_whole_f64 .. nanargmax_axis_i32
// (the template instances for double, float, int64_t, int32_t).
//
// The scan moves to an element only when it is strictly better than the
// running extreme (NaN never is), so equal values leave the first position.
// It starts from +inf (-inf for nanargmax, the integer limits for integers);
// a slice in which nothing is better than that start value gets a second
// pass for the first element equal to it: the first +inf of a slice of NaNs
// and infinities, the first of a run of equal integer limits. A float slice
// without such an element holds only NaNs: an error ("All-NaN slice
// encountered").
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

#include "reduce/extremes.hpp"
#include "reduce/flat_view.hpp"
#include "reduce/simd.hpp"
#include "reduce/walk.hpp"

namespace corvane {

// C: the type of the positions. One as wide as T (a float64 one for float64
// data, whole numbers being exact up to 2^53; a 32-bit one when the slices
// are short enough for it) lets the lanes of a walk across slices vectorise.
template <class T, bool Max, class C = npy_intp>
struct arg_extreme_op {
    using in = T;
    using out = int64_t;
    // "No position yet"; larger than any position.
    static constexpr C none =
        is_float<C> ? std::numeric_limits<C>::infinity() : std::numeric_limits<C>::max();
    struct acc {
        T m;  // the running extreme
        C p;  // its first position
    };

    // The second pass: the first position holding `value`.
    struct first_equal_op {
        using in = T;
        using acc = C;
        T value;
        static acc init() { return none; }
        void add(acc &p, T x, npy_intp j) const {
            // (j is converted outside the selection, which keeps the
            // selection free of arithmetic and so vectorisable.)
            const C at = static_cast<C>(j);
            p = (x == value) & (at < p) ? at : p;
        }
        static bool decided(const acc &p) { return p != none; }
        void add_run(acc &p, const char *x, npy_intp n, npy_intp j0) const {
            if (p != none) {
                return;
            }
            const T v = value;
            const npy_intp j = simd::find_first<T>(x, n, [v](auto e) { return e == v; });
            if (j < n) {
                p = static_cast<C>(j0 + j);
            }
        }
    };

    // Set when a finished slice had no non-NaN element.
    bool *all_nan_seen = nullptr;

    static acc init() { return {detail::extreme_start<T, Max>, none}; }
    static void add(acc &a, T x, npy_intp j) {
        const C at = static_cast<C>(j);
        const bool b = Max ? x > a.m : x < a.m;
        a.m = b ? x : a.m;
        a.p = b ? at : a.p;
    }
    // A contiguous run: its extreme by a vector scan, then the first
    // position holding it, if it is better than what came before. With AVX2
    // or AVX-512 (64-bit compares, blends): both at once, on 256-bit vectors,
    // which were measured a third faster than 512-bit ones here.
    template <class Tag>
    static void scan_run(acc &a, const char *x, npy_intp n, npy_intp j0) {
        constexpr int B = Tag::vector_bytes < 32 ? Tag::vector_bytes : 32;
        if constexpr (Tag::level != isa::base) {
            // One pass that tracks positions as it goes.
            T v;
            const npy_intp at = detail::extreme_and_first<T, Max, B>(x, n, v);
            if (at < n && (Max ? v > a.m : v < a.m)) {
                a.m = v;
                a.p = static_cast<C>(j0 + at);
            }
        } else {
            const T v = detail::extreme_value_run<T, Max, B>(x, n);
            if (Max ? v > a.m : v < a.m) {
                a.m = v;
                a.p = static_cast<C>(j0 +
                                     simd::find_first<T>(x, n, [v](auto e) { return e == v; }));
            }
        }
    }
    static void add_run(acc &a, const char *x, npy_intp n, npy_intp j0) {
        if (n >= detail::wide_run) {
            isa_dispatch([&](auto tag) { scan_run<decltype(tag)>(a, x, n, j0); });
        } else {
            scan_run<isa_tag<isa::base>>(a, x, n, j0);
        }
    }

    first_equal_op second(const acc &a, npy_intp) const { return {a.m}; }
    static bool skip_second(const acc &a, npy_intp) { return a.p != none; }
    out finish2(const acc &a, const C &p, npy_intp) const {
        if (a.p != none) {
            return static_cast<out>(a.p);
        }
        if (p != none) {
            return static_cast<out>(p);
        }
        *all_nan_seen = true;
        return -1;
    }
    static out empty() { return 0; }
};

namespace detail {

inline constexpr const char all_nan_error[] = "All-NaN slice encountered";

template <bool Max>
inline constexpr const char *arg_extreme_size_error =
    Max ? "numpy.nanargmax raises on a.size==0 and axis=None; So Corvane too."
        : "numpy.nanargmin raises on a.size==0 and axis=None; So Corvane too.";
template <bool Max>
inline constexpr const char *arg_extreme_axis_error =
    Max ? "numpy.nanargmax raises on a.shape[axis]==0; So Corvane too."
        : "numpy.nanargmin raises on a.shape[axis]==0; So Corvane too.";

template <class T, bool Max>
PyObject *arg_extreme_whole(PyArrayObject *a, int) {
    flat_view v;
    if (!flat_view_init(v, a, NPY_CORDER)) {
        return nullptr;
    }
    if (v.len == 0) {
        PyErr_SetString(PyExc_ValueError, arg_extreme_size_error<Max>);
        return nullptr;
    }
    bool all_nan = false;
    using Op = arg_extreme_op<T, Max>;
    Op op;
    op.all_nan_seen = &all_nan;
    int64_t position;
    {
        gil_released nogil;
        typename Op::acc s = op.init();
        add_slice(op, s, v.data, v.len, v.stride);
        position = finish_slice(op, s, v.data, v.len, v.stride, v.len);
    }
    if (all_nan) {
        PyErr_SetString(PyExc_ValueError, all_nan_error);
        return nullptr;
    }
    return PyLong_FromLongLong(position);
}

template <class T, bool Max>
PyObject *arg_extreme_axis(PyArrayObject *a, int axis, int) {
    if (PyArray_DIM(a, axis) == 0) {
        PyErr_SetString(PyExc_ValueError, arg_extreme_axis_error<Max>);
        return nullptr;
    }
    bool all_nan_seen = false;
    py_ref out;
    using C = std::conditional_t<std::is_same_v<T, double>, double, simd::lane_int<T>>;
    if (PyArray_DIM(a, axis) <= static_cast<npy_intp>(std::numeric_limits<int32_t>::max()) ||
        sizeof(C) == 8) {
        arg_extreme_op<T, Max, C> op;
        op.all_nan_seen = &all_nan_seen;
        out = py_ref::steal(reduce_axis(a, axis, op));
    } else {
        arg_extreme_op<T, Max> op;
        op.all_nan_seen = &all_nan_seen;
        out = py_ref::steal(reduce_axis(a, axis, op));
    }
    if (out && all_nan_seen) {
        PyErr_SetString(PyExc_ValueError, all_nan_error);
        return nullptr;
    }
    return out.release();
}

}  // namespace detail

template <class T>
inline constexpr reduce_whole_fn nanargmin_whole = detail::arg_extreme_whole<T, false>;
template <class T>
inline constexpr reduce_axis_fn nanargmin_axis = detail::arg_extreme_axis<T, false>;
template <class T>
inline constexpr reduce_whole_fn nanargmax_whole = detail::arg_extreme_whole<T, true>;
template <class T>
inline constexpr reduce_axis_fn nanargmax_axis = detail::arg_extreme_axis<T, true>;

}  // namespace corvane
