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

namespace detail {

// Elements compared between two looks at whether the answer is known.
inline constexpr npy_intp nan_scan_block = 256;

// Whether x[0..n) holds an element that is NaN (Want = true) or one that is
// not (Want = false).
template <class T, bool Want>
bool find_nan_state(const T *x, npy_intp n) {
    using V = simd::vec<T>;
    constexpr int W = simd::lanes<T>;
    npy_intp i = 0;
    for (; i + nan_scan_block <= n; i += nan_scan_block) {
        simd::mask<T> hit = {};
        for (npy_intp j = i; j < i + nan_scan_block; j += 2 * W) {
            const V v0 = simd::load(x + j);
            const V v1 = simd::load(x + j + W);
            if constexpr (Want) {
                hit |= (v0 != v0) | (v1 != v1);
            } else {
                hit |= (v0 == v0) | (v1 == v1);
            }
        }
        if (simd::any(hit)) {
            return true;
        }
    }
    for (; i < n; i++) {
        if (is_nan(x[i]) == Want) {
            return true;
        }
    }
    return false;
}

}  // namespace detail

// anynan: the state is "a NaN was seen"; allnan: "every element so far was
// NaN". Either way the state is decided once it equals Any's opposite start.
template <class T, bool Any>
struct nan_test_op {
    using in = T;
    using out = bool;
    using acc = bool;
    static acc init() { return !Any; }
    static void add(acc &s, T x) {
        if constexpr (Any) {
            s = s | is_nan(x);
        } else {
            s = s & is_nan(x);
        }
    }
    static void add_run(acc &s, const T *x, npy_intp n) {
        if (s != Any) {
            s = detail::find_nan_state<T, Any>(x, n) ? Any : !Any;
        }
    }
    static bool decided(const acc &s) { return s == Any; }
    static out finish(const acc &s, npy_intp) { return s; }
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
