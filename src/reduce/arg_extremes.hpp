// nanargmin and nanargmax: the position of the smallest / largest value of
// each slice, NaNs skipped, the first occurrence winning among equal values
// (the two zeros are equal). Over the whole array the position is the one in
// the C-order flattening, whatever the layout.
//
// Kernels: nanargmin_whole_f64 .. nanargmin_whole_i32,
// nanargmin_axis_f64 .. nanargmin_axis_i32, nanargmax_whole_f64 .. nanargmax_axis_i32
// (the template instances for double, float, int64_t, int32_t).
//
// Two passes: the first finds the extreme's value (that of nanmin / nanmax,
// where only the value matters), the second the first position holding it,
// stopping there. For floats that value is +inf (-inf) also when nothing but
// NaN was seen; then no element equals it and the slice is all NaN, an error
// ("All-NaN slice encountered"). A slice of NaNs and +inf gives the first
// +inf for nanargmin.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

#include "reduce/extremes.hpp"
#include "reduce/flat_view.hpp"
#include "reduce/simd.hpp"
#include "reduce/walk.hpp"

namespace corvane {

// C: the position counter of the second pass. One as wide as T (a float64
// one for float64 data; a 32-bit one when the slices are short enough for
// it) lets the lanes of a walk across slices vectorise.
template <class T, bool Max, class C = npy_intp>
struct arg_extreme_op : extreme_value_op<T, Max> {
    using out = int64_t;
    using typename extreme_value_op<T, Max>::acc;

    // The second pass: the number of elements before the first one equal to
    // `value` while it is still sought, then -1 - (its position).
    struct first_equal_op {
        using in = T;
        using acc = C;
        T value;
        static acc init() { return 0; }
        void add(acc &c, T x) const {
            // While sought (c >= 0): ~c = -c - 1 on a match, else c + 1.
            // Written without branches, so that lanes update in vector
            // registers: with masks for integer counters, with exact 0/1
            // factors for a float64 counter (whole numbers below 2^53).
            if constexpr (is_float<C>) {
                const C seeking = c >= 0 ? C(1) : C(0);
                const C match = x == value ? C(1) : C(0);
                c += seeking * (C(1) - match * (C(2) * c + C(2)));
            } else {
                const C seeking = -static_cast<C>(c >= 0);
                const C match = -static_cast<C>(x == value);
                c = (c ^ (seeking & match)) - (seeking & ~match);
            }
        }
        static bool decided(const acc &c) { return c < 0; }
        void add_run(acc &c, const T *x, npy_intp n) const {
            if (c < 0) {
                return;
            }
            const T v = value;
            const npy_intp j = simd::find_first(x, n, [v](auto e) { return e == v; });
            c = j < n ? -(c + static_cast<C>(j)) - 1 : c + static_cast<C>(n);
        }
    };

    // Set when a finished slice had no non-NaN element.
    bool *all_nan_seen = nullptr;

    first_equal_op second(const acc &s, npy_intp) const { return {s}; }
    static bool skip_second(const acc &, npy_intp) { return false; }
    out finish2(const acc &, const C &c, npy_intp) const {
        if (c >= 0) {
            *all_nan_seen = true;
            return -1;
        }
        return static_cast<out>(-c - 1);
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
    arg_extreme_op<T, Max> op;
    op.all_nan_seen = &all_nan;
    int64_t position;
    {
        gil_released nogil;
        T s = op.init();
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
