// rankdata and nanrankdata: ranks from 1 along an axis, ties sharing the mean
// of their ranks; nanrankdata gives NaN where the input is NaN.
//
// Kernels: rankdata_axis_f64 .. rankdata_axis_i32 (rank_axis<T, false>) and
// nanrankdata_axis_f64, nanrankdata_axis_f32 (rank_axis<T, true>); integers
// hold no NaN, so nanrankdata uses rankdata_axis_i64 and rankdata_axis_i32.
//
// One NumPy argsort of the whole array gives every slice's order, then one
// pass per slice writes the ranks. NumPy sorts NaNs last but is several times
// slower once an array holds any; as nanrankdata gives NaNs no rank, it sorts
// a copy with NaN read as +inf instead and sorts the tail of each slice
// (+inf and NaN, mixed) out itself: the ranks are the same.
#pragma once

#include <limits>

#include "frame/dtypes.hpp"
#include "frame/gil.hpp"
#include "frame/pair_iter.hpp"
#include "frame/py_ref.hpp"
#include "frame/slice_iter.hpp"
#include "slicewise/entry.hpp"

namespace corvane {

namespace detail {

// Writes `rank` to the outputs of the group at sorted positions
// end - count + 1 .. end.
inline void write_group(const pair_iter &xy, const pair_iter &order, npy_intp end, npy_intp count,
                        double rank) {
    for (npy_intp q = end - count + 1; q <= end; q++) {
        xy.out<double>(order.in<npy_intp>(q)) = rank;
    }
}

// Ranks one slice of n >= 1 elements from its sort order: a group of equal
// values at sorted positions b .. e gets the sum of the positions over their
// number, plus one. NaN equals nothing, so every NaN is a group of its own.
template <class T>
void rank_slice(const pair_iter &xy, const pair_iter &order, npy_intp n) {
    double sum = 0.0;
    npy_intp count = 0;
    T prev = xy.in<T>(order.in<npy_intp>(0));
    for (npy_intp p = 0; p < n - 1; p++) {
        sum += static_cast<double>(p);
        count++;
        const T next = xy.in<T>(order.in<npy_intp>(p + 1));
        if (!(prev == next)) {
            write_group(xy, order, p, count, sum / static_cast<double>(count) + 1.0);
            sum = 0.0;
            count = 0;
        }
        prev = next;
    }
    sum += static_cast<double>(n - 1);
    count++;
    write_group(xy, order, n - 1, count, sum / static_cast<double>(count) + 1.0);
}

// nanrankdata's slice: the numbers get their ranks as in rank_slice; the
// sorted order ends with +inf and NaN, possibly mixed, where the +inf values
// take the ranks of the positions right after the other numbers and NaNs stay
// NaN.
template <class T>
void nanrank_slice(const pair_iter &xy, const pair_iter &order, npy_intp n) {
    auto value = [&](npy_intp p) { return xy.in<T>(order.in<npy_intp>(p)); };
    auto rank_at = [&](npy_intp p) -> double & { return xy.out<double>(order.in<npy_intp>(p)); };
    constexpr T inf = std::numeric_limits<T>::infinity();
    npy_intp end = n;
    while (end > 0 && (is_nan(value(end - 1)) || value(end - 1) == inf)) {
        end--;
    }
    if (end > 0) {
        rank_slice<T>(xy, order, end);
    }
    double sum = 0.0;
    npy_intp count = 0;
    for (npy_intp p = end; p < n; p++) {
        if (!is_nan(value(p))) {
            sum += static_cast<double>(end + count);
            count++;
        }
    }
    const double rank = count > 0 ? sum / static_cast<double>(count) + 1.0 : 0.0;
    for (npy_intp p = end; p < n; p++) {
        rank_at(p) = is_nan(value(p)) ? nan_of<double>() : rank;
    }
}

// Whether any element of `a` is NaN.
template <class T>
bool has_nan(PyArrayObject *a) {
    slice_iter it;
    slice_iter_init_all(it, a);
    for (; it.more(); it.next()) {
        for (npy_intp j = 0; j < it.slice_len; j++) {
            if (is_nan(it.get<T>(j))) {
                return true;
            }
        }
    }
    return false;
}

// The sort keys of nanrankdata: `a` itself when it holds no NaN, else a copy
// (NumPy's, laid out like `a`) with every NaN made +inf in one run over it.
// Null with an exception set on failure.
template <class T>
py_ref nan_free_keys(PyArrayObject *a) {
    bool any;
    {
        gil_released nogil(worth_releasing(PyArray_SIZE(a)));
        any = has_nan<T>(a);
    }
    if (!any) {
        return py_ref::borrow(reinterpret_cast<PyObject *>(a));
    }
    py_ref keys = py_ref::steal(PyArray_NewLikeArray(a, NPY_KEEPORDER, nullptr, 0));
    if (!keys || PyArray_CopyInto(keys.array(), a) < 0) {
        return py_ref();
    }
    slice_iter it;
    slice_iter_init_all(it, keys.array());
    {
        gil_released nogil(worth_releasing(PyArray_SIZE(a)));
        for (; it.more(); it.next()) {
            char *p = it.slice_start;
            for (npy_intp j = 0; j < it.slice_len; j++, p += it.slice_stride) {
                T &v = *reinterpret_cast<T *>(p);
                v = is_nan(v) ? std::numeric_limits<T>::infinity() : v;
            }
        }
    }
    return keys;
}

}  // namespace detail

// float64 ranks of every slice of `a` along `axis`, from one argsort of the
// whole array (which puts NaNs last in every slice).
template <class T, bool NanStaysNan>
PyObject *rank_axis(PyArrayObject *a, int axis, int) {
    py_ref keys = py_ref::borrow(reinterpret_cast<PyObject *>(a));
    if constexpr (NanStaysNan) {
        keys = detail::nan_free_keys<T>(a);
        if (!keys) {
            return nullptr;
        }
    }
    py_ref order = py_ref::steal(PyArray_ArgSort(keys.array(), axis, NPY_QUICKSORT));
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
            if constexpr (NanStaysNan) {
                detail::nanrank_slice<T>(xy, sorted, n);
            } else {
                detail::rank_slice<T>(xy, sorted, n);
            }
        }
    }
    return y.release();
}

template <class T>
inline constexpr slicewise_kernel rankdata_axis = rank_axis<T, false>;
template <class T>
inline constexpr slicewise_kernel nanrankdata_axis = rank_axis<T, is_float<T>>;

}  // namespace corvane
