// push: forward fill of NaNs along an axis, from the most recent non-NaN value
// at most n positions back.
//
// Kernels: push_axis_f64 .. push_axis_i32 (push_axis<T> for double, float,
// int64_t, int32_t); integers hold no NaN, so theirs is a plain copy.
#pragma once

#include "frame/dtypes.hpp"
#include "frame/gil.hpp"
#include "frame/pair_iter.hpp"
#include "frame/py_ref.hpp"
#include "slicewise/entry.hpp"

namespace corvane {

namespace detail {

// Copies one slice of `len` elements from x (`in_step` bytes apart) to y
// (`out_step` bytes apart), filling its NaNs on the way; `limit` is the
// largest distance a value is pushed. Leading NaNs have no value to take.
template <class T>
inline void push_slice(const char *x, npy_intp in_step, char *y, npy_intp out_step, npy_intp len,
                       npy_intp limit) {
    T last = nan_of<T>();
    npy_intp last_pos = 0;
    for (npy_intp i = 0; i < len; i++, x += in_step, y += out_step) {
        T v = *reinterpret_cast<const T *>(x);
        if constexpr (is_float<T>) {
            if (is_nan(v)) {
                if (i - last_pos <= limit) {
                    v = last;
                }
            } else {
                last = v;
                last_pos = i;
            }
        }
        *reinterpret_cast<T *>(y) = v;
    }
}

}  // namespace detail

// A C-ordered copy of `a` with the NaNs of every slice along `axis` filled
// forward; `n` < 0 means no limit. The distance to the last value is compared
// as an integer, so the limit is exact for slices of any length.
template <class T>
PyObject *push_axis(PyArrayObject *a, int axis, int n) {
    py_ref y = py_ref::steal(PyArray_Empty(PyArray_NDIM(a), PyArray_SHAPE(a),
                                           PyArray_DescrFromType(dtype<T>::typenum), 0));
    if (!y) {
        return nullptr;
    }
    pair_iter it;
    pair_iter_init(it, a, y.array(), axis);
    const npy_intp len = it.axis_length;
    const npy_intp limit = n < 0 ? NPY_MAX_INTP : n;
    if (len != 0) {
        gil_released nogil(worth_releasing(PyArray_SIZE(a)));
        for (; it.more(); it.next()) {
            detail::push_slice<T>(it.in_ptr, it.in_step, it.out_ptr, it.out_step, len, limit);
        }
    }
    return y.release();
}

}  // namespace corvane
