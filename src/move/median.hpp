// move_median: one running-median handle per call, driven through every slice
// and reset between slices.
//
// Kernels: move_median_axis_f64 .. move_median_axis_i32 (the instances of
// move_median_axis<T> for double, float, int64_t, int32_t).
//
// Float inputs go through the NaN-aware handle, which leaves NaN out of the
// median and gives NaN below min_count non-NaN values; integers go through the
// plain handle as doubles. float32 medians are computed in double and
// narrowed; every other input gives float64.
#pragma once

#include "frame/dtypes.hpp"
#include "frame/gil.hpp"
#include "frame/pair_iter.hpp"
#include "frame/py_ref.hpp"
#include "frame/scalars.hpp"
#include "move/kernel_frame.hpp"
#include "move/running_handle.hpp"
#include "move/running_median/running_median.h"

namespace corvane {

using median_handle = running_handle<mm_state, mm_free>;

// window == 1: every value is its own median, so the result is a copy: in the
// input's float type, or float64 for integers (Fortran order kept when the
// input is Fortran-contiguous). A subclass instance is copied as a plain
// ndarray, as every other window gives.
template <class T>
PyObject *move_median_copy(PyArrayObject *a) {
    py_ref base;
    if (!PyArray_CheckExact(a)) {
        base = py_ref::steal(PyArray_View(a, nullptr, &PyArray_Type));
        if (!base) {
            return nullptr;
        }
        a = base.array();
    }
    if constexpr (is_float<T>) {
        return PyArray_NewCopy(a, NPY_CORDER);
    } else {
        return PyArray_CastToType(a, PyArray_DescrFromType(NPY_FLOAT64),
                                  PyArray_IS_F_CONTIGUOUS(a));
    }
}

template <class T>
PyObject *move_median_axis(PyArrayObject *a, int window, int min_count, int axis, int) {
    using O = real_of<T>;
    constexpr bool nan_aware = is_float<T>;
    const auto w = static_cast<uint64_t>(window);
    const auto m = static_cast<uint64_t>(min_count);
    median_handle mm(nan_aware ? mm_new_nan(w, m) : mm_new(w, m));

    pair_iter it;
    py_ref out = move_output<O>(a, axis, it);
    if (!out) {
        return nullptr;
    }
    if (mm.get() == nullptr) {
        PyErr_SetString(PyExc_MemoryError, "Could not allocate memory for move_median");
        return nullptr;
    }
    if (window == 1) {
        return move_median_copy<T>(a);
    }

    {
        gil_released nogil;
        mm_state *h = mm.get();
        if constexpr (nan_aware) {
            drive_slices<T, O>(
                it, window, [h](double x) { return mm_update_init_nan(h, x); },
                [h](double x) { return mm_update_nan(h, x); }, [h] { mm_reset(h); });
        } else {
            drive_slices<T, O>(
                it, window, [h](double x) { return mm_update_init(h, x); },
                [h](double x) { return mm_update(h, x); }, [h] { mm_reset(h); });
        }
    }
    return out.release();
}

}  // namespace corvane
