// nanargmin and nanargmax: the position of the smallest / largest value of
// each slice, NaNs skipped, the first occurrence winning among equal values
// (the two zeros are equal). Over the whole array the position is the one in
// the C-order flattening, whatever the layout.
//
// Kernels: nanargmin_whole_f64 .. nanargmin_whole_i32,
// nanargmin_axis_f64 .. nanargmin_axis_i32, nanargmax_whole_f64 .. nanargmax_axis_i32
// (the template instances for double, float, int64_t, int32_t).
//
// The scan runs forwards and moves to an element only when it is strictly
// better, or is the first non-NaN one: that leaves the smallest position
// holding the extreme, as a backward scan accepting equal values would. A
// float slice holding only NaNs is an error ("All-NaN slice encountered");
// one holding NaNs and +inf gives the first +inf for nanargmin.
#pragma once

#include <limits>

#include "reduce/flat_view.hpp"
#include "reduce/walk.hpp"

namespace corvane {

template <class T, bool Max>
struct arg_extreme_op {
    using in = T;
    using out = int64_t;
    struct acc {
        T m;            // NaN for floats until a non-NaN element is met
        npy_intp best;  // -1 until then
        npy_intp i;     // position of the next element
    };

    // Set when a finished slice had no non-NaN element.
    bool *all_nan_seen = nullptr;

    static acc init() {
        if constexpr (is_float<T>) {
            return {nan_of<T>(), -1, 0};
        } else {
            return {Max ? std::numeric_limits<T>::lowest() : std::numeric_limits<T>::max(), 0,
                    0};
        }
    }
    static bool better(T x, T m) {
        if constexpr (is_float<T>) {
            return (Max ? x > m : x < m) || (m != m && x == x);
        } else {
            return Max ? x > m : x < m;
        }
    }
    static void add(acc &s, T x) {
        if (better(x, s.m)) {
            s.m = x;
            s.best = s.i;
        }
        s.i++;
    }
    // The same scan over a contiguous run, in locals the compiler can keep in
    // registers.
    static void add_run(acc &s, const T *x, npy_intp n) {
        T m = s.m;
        npy_intp best = s.best;
        npy_intp j = 0;
        if constexpr (is_float<T>) {
            // Up to the first non-NaN element, then strictly better ones only.
            while (m != m && j < n) {
                if (x[j] == x[j]) {
                    m = x[j];
                    best = s.i + j;
                }
                j++;
            }
        }
        for (; j < n; j++) {
            if (Max ? x[j] > m : x[j] < m) {
                m = x[j];
                best = s.i + j;
            }
        }
        s.m = m;
        s.best = best;
        s.i += n;
    }
    out finish(const acc &s, npy_intp) const {
        if (s.best < 0) {
            *all_nan_seen = true;
        }
        return s.best;
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
    using Op = arg_extreme_op<T, Max>;
    const Op op;
    typename Op::acc s = op.init();
    {
        gil_released nogil;
        add_slice(op, s, v.data, v.len, v.stride);
    }
    if (s.best < 0) {
        PyErr_SetString(PyExc_ValueError, all_nan_error);
        return nullptr;
    }
    return PyLong_FromLongLong(s.best);
}

template <class T, bool Max>
PyObject *arg_extreme_axis(PyArrayObject *a, int axis, int) {
    if (PyArray_DIM(a, axis) == 0) {
        PyErr_SetString(PyExc_ValueError, arg_extreme_axis_error<Max>);
        return nullptr;
    }
    bool all_nan_seen = false;
    arg_extreme_op<T, Max> op;
    op.all_nan_seen = &all_nan_seen;
    py_ref out = py_ref::steal(reduce_axis(a, axis, op));
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
