// replace: overwrites, in the caller's own array, every element equal to
// `old` (every NaN when `old` is NaN) with `new`.
//
// Kernels: replace_f64 .. replace_i32 (replace_kernel<T> for double, float,
// int64_t, int32_t).
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "frame/dtypes.hpp"
#include "frame/gil.hpp"
#include "frame/py_ref.hpp"
#include "frame/slice_iter.hpp"

namespace corvane {

// `old` or `new` as read from its argument.
struct replace_value {
    double real = 0.0;    // the value as a double (used unless `exact`)
    bool exact = false;   // an integer object, read without rounding
    int64_t whole = 0;    // its value, when it lies in the int64 range
    int beyond = 0;       // -1 / +1: below / above the int64 range
};

// The cast check of the integer kernels: `v` as an element of type T, when it
// is a whole number within T's range. Integer objects are checked on their
// exact value; doubles must be finite and whole.
template <class T>
bool cast_to_element(const replace_value &v, T &out) {
    if (v.exact) {
        if (v.beyond != 0 || v.whole < std::numeric_limits<T>::min() ||
            v.whole > std::numeric_limits<T>::max()) {
            return false;
        }
        out = static_cast<T>(v.whole);
        return true;
    }
    // -2^(bits-1) <= d < 2^(bits-1); NaN fails both comparisons.
    constexpr double bound = -static_cast<double>(std::numeric_limits<T>::min());
    const double d = v.real;
    if (!(d >= -bound && d < bound) || d != std::trunc(d)) {
        return false;
    }
    out = static_cast<T>(d);
    return true;
}

namespace detail {

// Applies `f` to every element of `a` in place, in the whole-array walk.
template <class T, class F>
void update_all(slice_iter &it, F f) {
    for (; it.more(); it.next()) {
        const npy_intp len = it.slice_len;
        const npy_intp stride = it.slice_stride;
        if (stride == static_cast<npy_intp>(sizeof(T))) {
            T *x = reinterpret_cast<T *>(it.slice_start);
            for (npy_intp j = 0; j < len; j++) {
                x[j] = f(x[j]);
            }
        } else {
            char *p = it.slice_start;
            for (npy_intp j = 0; j < len; j++, p += stride) {
                T &x = *reinterpret_cast<T *>(p);
                x = f(x);
            }
        }
    }
}

}  // namespace detail

// Replaces in `a` (writeable, native byte order, element type T) and returns
// a new reference to it, or null after a failed cast check. Every element is
// stored back, changed or not, so the loop is a compare-and-blend the
// compiler can vectorise.
template <class T>
PyObject *replace_kernel(PyArrayObject *a, const replace_value &old_v, const replace_value &new_v) {
    slice_iter it;
    slice_iter_init_all(it, a);
    if constexpr (is_float<T>) {
        static_assert(std::numeric_limits<T>::is_iec559);
        // float32 arrays compare with, and store, the values rounded to float32.
        const T new_x = static_cast<T>(new_v.real);
        if (is_nan(old_v.real)) {
            gil_released nogil(worth_releasing(PyArray_SIZE(a)));
            detail::update_all<T>(it, [new_x](T x) { return is_nan(x) ? new_x : x; });
        } else {
            const T old_x = static_cast<T>(old_v.real);
            gil_released nogil(worth_releasing(PyArray_SIZE(a)));
            detail::update_all<T>(it, [old_x, new_x](T x) { return x == old_x ? new_x : x; });
        }
    } else {
        // An integer array holds no NaN: nothing to replace, `new` unchecked.
        if (!old_v.exact && is_nan(old_v.real)) {
            return py_ref::borrow(reinterpret_cast<PyObject *>(a)).release();
        }
        T old_x;
        T new_x;
        if (!cast_to_element(old_v, old_x)) {
            PyErr_SetString(PyExc_ValueError, "Cannot safely cast `old` to int");
            return nullptr;
        }
        if (!cast_to_element(new_v, new_x)) {
            PyErr_SetString(PyExc_ValueError, "Cannot safely cast `new` to int");
            return nullptr;
        }
        gil_released nogil(worth_releasing(PyArray_SIZE(a)));
        detail::update_all<T>(it, [old_x, new_x](T x) { return x == old_x ? new_x : x; });
    }
    return py_ref::borrow(reinterpret_cast<PyObject *>(a)).release();
}

}  // namespace corvane
