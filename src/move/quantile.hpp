// move_quantile: one running-quantile handle per call (mq_*), driven through
// every slice and reset between slices.
//
// Kernels: move_quantile_axis<T> for double, float, int64_t, int32_t. Values
// enter the handle as doubles (NaN left out of the order statistics); float32
// quantiles are computed in double and rounded once, every other input gives
// float64.
#pragma once

#include "frame/dtypes.hpp"
#include "frame/gil.hpp"
#include "frame/pair_iter.hpp"
#include "frame/py_ref.hpp"
#include "frame/scalars.hpp"
#include "move/kernel_frame.hpp"
#include "move/running_handle.hpp"
#include "move/running_quantile/running_quantile.h"

namespace corvane {

// (array, window, min_count, axis, q) -> new array or null; the entry has
// checked the arguments as for the other moving windows, and 0 <= q <= 1.
using move_quantile_kernel = PyObject *(*)(PyArrayObject *a, int window, int min_count,
                                           int axis, double q);

using quantile_handle = running_handle<mq_state, mq_free>;

template <class T>
PyObject *move_quantile_axis(PyArrayObject *a, int window, int min_count, int axis, double q) {
    using O = real_of<T>;
    quantile_handle mq(
        mq_new(static_cast<uint64_t>(window), static_cast<uint64_t>(min_count), q));
    if (mq.get() == nullptr) {
        PyErr_SetString(PyExc_MemoryError, "Could not allocate memory for move_quantile");
        return nullptr;
    }
    pair_iter it;
    py_ref out = move_output<O>(a, axis, it);
    if (!out) {
        return nullptr;
    }
    {
        gil_released nogil(worth_releasing(PyArray_SIZE(a)));
        mq_state *h = mq.get();
        drive_slices<T, O>(
            it, window, [h](double x) { return mq_update_init(h, x); },
            [h](double x) { return mq_update(h, x); }, [h] { mq_reset(h); });
    }
    return out.release();
}

}  // namespace corvane
