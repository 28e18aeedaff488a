// anynan and allnan: whether any / every element of a slice is NaN.
//
// Kernels: anynan_whole_f64 .. anynan_whole_i32, anynan_axis_f64 .. anynan_axis_i32,
// allnan_whole_f64 .. allnan_axis_i32 (the template instances for double,
// float, int64_t, int32_t).
//
// The float scans stop at the first element that decides the answer; the
// integer kernels never read the data, since integers hold no NaN. An empty
// reduction is False for anynan and True for allnan.
#pragma once

#include <cstring>

#include "reduce/simd.hpp"
#include "reduce/walk.hpp"

namespace corvane {

// anynan: the state is 1 once a NaN was seen; allnan: 1 while every element
// so far was NaN. Either way the answer is known once the state is Any. The
// state is an integer as wide as T, so that the lanes of a walk across
// slices update in vector registers.
template <class T, bool Any>
struct nan_test_op {
    using in = T;
    using out = bool;
    using acc = simd::lane_int<T>;
    static acc init() { return !Any; }
    static void add(acc &s, T x) {
        if constexpr (Any) {
            s = is_nan(x) ? acc(1) : s;
        } else {
            s = is_nan(x) ? s : acc(0);
        }
    }
    static void add_run(acc &s, const char *x, npy_intp n) {
        if (s == Any) {
            return;
        }
        // The first NaN (anynan) or the first non-NaN (allnan).
        auto hit = [](auto v) {
            if constexpr (Any) {
                return v != v;
            } else {
                return v == v;
            }
        };
        if (simd::find_first<T>(x, n, hit) < n) {
            s = Any;
        }
    }
    static bool decided(const acc &s) { return s == Any; }
    static out finish(const acc &s, npy_intp) { return s != 0; }
    static out empty() { return !Any; }
};

namespace detail {

template <class T, bool Any>
PyObject *nan_test_whole(PyArrayObject *a, int) {
    if constexpr (is_float<T>) {
        return reduce_whole<nan_test_op<T, Any>>(a);
    } else {
        return py_scalar(!Any && PyArray_SIZE(a) == 0);
    }
}

template <class T, bool Any>
PyObject *nan_test_axis(PyArrayObject *a, int axis, int) {
    if constexpr (is_float<T>) {
        return reduce_axis<nan_test_op<T, Any>>(a, axis);
    } else {
        slice_iter it;
        slice_iter_init_axis(it, a, axis);
        py_ref out = new_reduced_output<bool>(it);
        if (!out) {
            return nullptr;
        }
        const bool value = !Any && it.slice_len == 0;
        void *y = PyArray_DATA(out.array());
        const size_t n = static_cast<size_t>(PyArray_SIZE(out.array()));
        {
            gil_released nogil;
            memset(y, value ? 1 : 0, n);
        }
        return out.release();
    }
}

}  // namespace detail

template <class T>
inline constexpr reduce_whole_fn anynan_whole = detail::nan_test_whole<T, true>;
template <class T>
inline constexpr reduce_axis_fn anynan_axis = detail::nan_test_axis<T, true>;
template <class T>
inline constexpr reduce_whole_fn allnan_whole = detail::nan_test_whole<T, false>;
template <class T>
inline constexpr reduce_axis_fn allnan_axis = detail::nan_test_axis<T, false>;

}  // namespace corvane
