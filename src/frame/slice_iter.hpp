// Walks an array as a sequence of one-dimensional slices.
//
// Along an axis every slice is one line of the array and yields one output
// element; over the whole array the slices together cover every element once,
// contiguous arrays as a single run in memory order. Slices are visited like an
// odometer over the outer dimensions, the last one fastest, so the k-th slice
// fills the k-th element of a C-ordered output.
#pragma once

#include "frame/dtypes.hpp"

namespace corvane {

// NumPy's largest number of dimensions.
inline constexpr int max_dims = 64;

struct slice_iter {
    int last_outer;        // number of outer dimensions - 1; -1 for one slice
    int slice_axis;        // dimension the slices run along
    npy_intp slice_len;    // elements per slice
    npy_intp slice_stride; // bytes between elements of a slice (may be <= 0)
    npy_intp work_dim;
    npy_intp slice_done;
    npy_intp slice_count;
    npy_intp outer_index[max_dims];
    npy_intp outer_stride[max_dims];
    npy_intp outer_len[max_dims];
    char *slice_start;

    bool more() const { return slice_done < slice_count; }

    template <class T>
    T get(npy_intp j) const {
        return load<T>(slice_start + j * slice_stride);
    }

    void next() {
        for (work_dim = last_outer; work_dim >= 0; work_dim--) {
            if (outer_index[work_dim] < outer_len[work_dim] - 1) {
                slice_start += outer_stride[work_dim];
                outer_index[work_dim]++;
                break;
            }
            slice_start -= outer_index[work_dim] * outer_stride[work_dim];
            outer_index[work_dim] = 0;
        }
        slice_done++;
    }
};

namespace detail {

inline void slice_iter_start(slice_iter &it, PyArrayObject *a) {
    it.slice_done = 0;
    it.slice_count = 1;
    it.slice_axis = 0;
    it.slice_start = PyArray_BYTES(a);
}

inline void slice_iter_along(slice_iter &it, PyArrayObject *a, int axis) {
    const int ndim = PyArray_NDIM(a);
    const npy_intp *shape = PyArray_SHAPE(a);
    const npy_intp *strides = PyArray_STRIDES(a);
    it.last_outer = ndim - 2;
    it.slice_axis = axis;
    it.slice_len = 0;
    it.slice_stride = 0;
    int k = 0;
    for (int d = 0; d < ndim; d++) {
        if (d == axis) {
            it.slice_len = shape[d];
            it.slice_stride = strides[d];
        } else {
            it.outer_index[k] = 0;
            it.outer_stride[k] = strides[d];
            it.outer_len[k] = shape[d];
            it.slice_count *= shape[d];
            k++;
        }
    }
}

}  // namespace detail

// Slices along `axis` (already normalised to 0..ndim-1).
inline void slice_iter_init_axis(slice_iter &it, PyArrayObject *a, int axis) {
    detail::slice_iter_start(it, a);
    detail::slice_iter_along(it, a, axis);
}

// Slices covering the whole array, for reductions to one value.
inline void slice_iter_init_all(slice_iter &it, PyArrayObject *a) {
    detail::slice_iter_start(it, a);
    const int ndim = PyArray_NDIM(a);
    const npy_intp *shape = PyArray_SHAPE(a);
    const npy_intp *strides = PyArray_STRIDES(a);
    if (ndim == 0) {
        it.last_outer = -1;
        it.slice_len = 1;
        it.slice_stride = 0;
        return;
    }
    if (ndim == 1) {
        it.last_outer = -1;
        it.slice_len = shape[0];
        it.slice_stride = strides[0];
        return;
    }
    if (PyArray_SIZE(a) == 0) {
        // One empty slice, however many empty ones the shape would give.
        it.last_outer = -1;
        it.slice_len = 0;
        it.slice_stride = 0;
        return;
    }
    const bool c = PyArray_IS_C_CONTIGUOUS(a);
    const bool f = PyArray_IS_F_CONTIGUOUS(a);
    if (c != f) {
        // One run over the memory block, with the stride of the innermost
        // dimension that actually moves.
        it.last_outer = -1;
        it.slice_len = PyArray_MultiplyList(const_cast<npy_intp *>(shape), ndim);
        it.slice_stride = 0;
        if (c) {
            it.slice_axis = ndim - 1;
            for (int d = ndim - 1; d >= 0; d--) {
                if (shape[d] != 1 && strides[d] != 0) {
                    it.slice_stride = strides[d];
                    break;
                }
            }
        } else {
            for (int d = 0; d < ndim; d++) {
                if (shape[d] != 1 && strides[d] != 0) {
                    it.slice_stride = strides[d];
                    break;
                }
            }
        }
        return;
    }
    // Otherwise slice along the most tightly packed dimension (the first of
    // equal minima, compared as signed numbers).
    int axis = 0;
    for (int d = 1; d < ndim; d++) {
        if (strides[d] < strides[axis]) {
            axis = d;
        }
    }
    detail::slice_iter_along(it, a, axis);
}

}  // namespace corvane
