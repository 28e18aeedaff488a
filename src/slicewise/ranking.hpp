// rankdata and nanrankdata: ranks from 1 along an axis, ties sharing the mean
// of their ranks; nanrankdata gives NaN where the input is NaN.
//
// Kernels: rankdata_axis_f64 .. rankdata_axis_i32 (rank_axis<T, false>) and
// nanrankdata_axis_f64, nanrankdata_axis_f32 (rank_axis<T, true>); integers
// hold no NaN, so nanrankdata uses rankdata_axis_i64 and rankdata_axis_i32.
#pragma once

#include "frame/dtypes.hpp"
#include "frame/gil.hpp"
#include "frame/pair_iter.hpp"
#include "frame/py_ref.hpp"
#include "slicewise/entry.hpp"

namespace corvane {

namespace detail {

// Writes `rank` (or NaN for a NaN group of nanrankdata) to the outputs of the
// group at sorted positions end - count + 1 .. end.
template <class T, bool NanStaysNan>
inline void write_group(const pair_iter &xy, const pair_iter &order, npy_intp end,
                        npy_intp count, double sum, T value) {
    double rank = sum / static_cast<double>(count) + 1.0;
    if constexpr (NanStaysNan) {
        if (is_nan(value)) {
            rank = nan_of<double>();
        }
    }
    for (npy_intp q = end - count + 1; q <= end; q++) {
        xy.out<double>(order.in<npy_intp>(q)) = rank;
    }
}

// Ranks one slice of n >= 1 elements from its sort order.
template <class T, bool NanStaysNan>
void rank_slice(const pair_iter &xy, const pair_iter &order, npy_intp n) {
    double sum = 0.0;
    npy_intp count = 0;
    T prev = xy.in<T>(order.in<npy_intp>(0));
    for (npy_intp p = 0; p < n - 1; p++) {
        sum += static_cast<double>(p);
        count++;
        const T next = xy.in<T>(order.in<npy_intp>(p + 1));
        // NaN equals nothing, so every NaN is a group of its own.
        if (!(prev == next)) {
            write_group<T, NanStaysNan>(xy, order, p, count, sum, prev);
            sum = 0.0;
            count = 0;
        }
        prev = next;
    }
    sum += static_cast<double>(n - 1);
    count++;
    write_group<T, NanStaysNan>(xy, order, n - 1, count, sum, prev);
}

}  // namespace detail

// float64 ranks of every slice of `a` along `axis`, from one argsort of the
// whole array (which puts NaNs last in every slice).
template <class T, bool NanStaysNan>
PyObject *rank_axis(PyArrayObject *a, int axis, int) {
    py_ref order = py_ref::steal(PyArray_ArgSort(a, axis, NPY_QUICKSORT));
    if (!order) {
        return nullptr;
    }
    py_ref y = py_ref::steal(PyArray_Empty(PyArray_NDIM(a), PyArray_SHAPE(a),
                                           PyArray_DescrFromType(NPY_FLOAT64), 0));
    if (!y) {
        return nullptr;
    }
    // Two walkers stepped together: values and ranks, and the sort order.
    pair_iter xy;
    pair_iter_init(xy, a, y.array(), axis);
    pair_iter sorted;
    pair_iter_init(sorted, order.array(), order.array(), axis);
    const npy_intp n = xy.axis_length;
    if (n != 0) {
        gil_released nogil(worth_releasing(PyArray_SIZE(a)));
        for (; xy.more(); xy.next(), sorted.next()) {
            detail::rank_slice<T, NanStaysNan>(xy, sorted, n);
        }
    }
    return y.release();
}

template <class T>
inline constexpr slicewise_kernel rankdata_axis = rank_axis<T, false>;
template <class T>
inline constexpr slicewise_kernel nanrankdata_axis = rank_axis<T, is_float<T>>;

}  // namespace corvane
