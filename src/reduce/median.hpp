// median and nanmedian by selection: each slice is copied into one scratch
// buffer (allocated once per call) and the middle element is moved into place
// by a quickselect with a median-of-three pivot; no sorting.
//
// Kernels: median_whole_f64 .. median_whole_i32, median_axis_f64 .. median_axis_i32,
// nanmedian_whole_f64, nanmedian_whole_f32, nanmedian_axis_f64, nanmedian_axis_f32
// (the template instances for double, float, int64_t, int32_t). Integers hold
// no NaN, so nanmedian uses median's integer kernels.
//
// median gives NaN for a slice holding a NaN; nanmedian ignores NaNs and gives
// NaN only when nothing else is left. Empty inputs give NaN. Integer medians
// are float64; float32 ones are formed in float32.
#pragma once

#include <cstdlib>
#include <utility>

#include "reduce/flat_view.hpp"
#include "reduce/walk.hpp"

namespace corvane {

namespace detail {

// Moves the value of rank k (0-based, ascending) of buf[0..n) to buf[k], with
// every value in buf[0..k) <= buf[k].
template <class T>
void select_kth(T *buf, npy_intp n, npy_intp k) {
    npy_intp l = 0;
    npy_intp r = n - 1;
    while (l < r) {
        // Median of three: the middle of buf[l], buf[k], buf[r] goes to buf[k].
        const T al = buf[l];
        const T bk = buf[k];
        const T cr = buf[r];
        if (bk < al) {
            if (bk < cr) {
                std::swap(buf[k], al < cr ? buf[l] : buf[r]);
            }
        } else if (bk > cr) {
            std::swap(buf[k], al > cr ? buf[l] : buf[r]);
        }
        const T x = buf[k];
        npy_intp i = l;
        npy_intp j = r;
        do {
            while (buf[i] < x) {
                i++;
            }
            while (x < buf[j]) {
                j--;
            }
            if (i <= j) {
                std::swap(buf[i], buf[j]);
                i++;
                j--;
            }
        } while (i <= j);
        if (j < k) {
            l = i;
        }
        if (k < i) {
            r = j;
        }
    }
}

// The median of buf[0..n), n >= 1; reorders the buffer.
template <class T>
real_of<T> median_of(T *buf, npy_intp n) {
    using R = real_of<T>;
    const npy_intp k = n / 2;
    select_kth(buf, n, k);
    if (n % 2 == 1) {
        return static_cast<R>(buf[k]);
    }
    T lower = buf[0];
    for (npy_intp i = 1; i < k; i++) {
        lower = buf[i] > lower ? buf[i] : lower;
    }
    if constexpr (is_float<T>) {
        return (lower + buf[k]) * T(0.5);
    } else {
        // The exact sum, converted once: the same as the element type's sum
        // wherever that does not overflow, and no overflow where it would.
        return static_cast<double>(static_cast<__int128>(lower) + buf[k]) * 0.5;
    }
}

// Copies one slice into the buffer and takes its median. `skip_nan`: the
// NaNs are left out (nanmedian); otherwise a NaN makes the result NaN.
template <class T, bool SkipNan>
real_of<T> slice_median(T *buf, const char *p, npy_intp len, npy_intp stride) {
    npy_intp n = 0;
    if (stride == static_cast<npy_intp>(sizeof(T))) {
        const T *x = reinterpret_cast<const T *>(p);
        for (npy_intp j = 0; j < len; j++) {
            buf[n] = x[j];
            n += !is_nan(x[j]);
        }
    } else {
        for (npy_intp j = 0; j < len; j++, p += stride) {
            const T x = *reinterpret_cast<const T *>(p);
            buf[n] = x;
            n += !is_nan(x);
        }
    }
    if (n == 0 || (!SkipNan && n < len)) {
        return nan_of<real_of<T>>();
    }
    return median_of(buf, n);
}

template <class T, bool SkipNan>
PyObject *median_whole_kernel(PyArrayObject *a, int) {
    using R = real_of<T>;
    flat_view v;
    if (!flat_view_init(v, a, NPY_ANYORDER)) {
        return nullptr;
    }
    R result = nan_of<R>();
    bool no_memory = false;
    {
        gil_released nogil;
        if (v.len > 0) {
            T *buf = static_cast<T *>(malloc(static_cast<size_t>(v.len) * sizeof(T)));
            if (buf == nullptr) {
                no_memory = true;
            } else {
                result = slice_median<T, SkipNan>(buf, v.data, v.len, v.stride);
                free(buf);
            }
        }
    }
    if (no_memory) {
        return PyErr_NoMemory();
    }
    return py_scalar(result);
}

template <class T, bool SkipNan>
PyObject *median_axis_kernel(PyArrayObject *a, int axis, int) {
    using R = real_of<T>;
    slice_iter it;
    slice_iter_init_axis(it, a, axis);
    py_ref out = new_reduced_output<R>(it);
    if (!out) {
        return nullptr;
    }
    R *y = reinterpret_cast<R *>(PyArray_DATA(out.array()));
    const npy_intp n_out = PyArray_SIZE(out.array());
    bool no_memory = false;
    {
        gil_released nogil;
        if (it.slice_len == 0) {
            for (npy_intp i = 0; i < n_out; i++) {
                y[i] = nan_of<R>();
            }
        } else {
            T *buf = static_cast<T *>(malloc(static_cast<size_t>(it.slice_len) * sizeof(T)));
            if (buf == nullptr) {
                no_memory = true;
            } else {
                while (it.more()) {
                    *y++ = slice_median<T, SkipNan>(buf, it.slice_start, it.slice_len,
                                                    it.slice_stride);
                    it.next();
                }
                free(buf);
            }
        }
    }
    if (no_memory) {
        return PyErr_NoMemory();
    }
    return out.release();
}

}  // namespace detail

template <class T>
inline constexpr reduce_whole_fn median_whole = detail::median_whole_kernel<T, false>;
template <class T>
inline constexpr reduce_axis_fn median_axis = detail::median_axis_kernel<T, false>;
template <class T>
inline constexpr reduce_whole_fn nanmedian_whole =
    detail::median_whole_kernel<T, is_float<T>>;
template <class T>
inline constexpr reduce_axis_fn nanmedian_axis = detail::median_axis_kernel<T, is_float<T>>;

}  // namespace corvane
