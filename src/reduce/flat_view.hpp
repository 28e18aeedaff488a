// A one-dimensional view of all elements of an array, for the whole-array
// kernels that need one run (positions of extremes, medians).
//
// 0-d and 1-d arrays are read in place, as are arrays that are contiguous in
// an order the caller accepts; any other array is ravelled into a contiguous
// copy that the view owns.
#pragma once

#include "frame/numpy_api.hpp"
#include "frame/py_ref.hpp"

namespace corvane {

struct flat_view {
    const char *data = nullptr;
    npy_intp len = 0;
    npy_intp stride = 0;
    py_ref copy;  // the ravelled array, when one was needed
};

// `order` is NPY_CORDER when the positions of the view must be those of the
// C-order flattening, NPY_ANYORDER when only the set of elements matters.
// Returns false with an exception set (MemoryError) when the copy fails.
inline bool flat_view_init(flat_view &v, PyArrayObject *a, NPY_ORDER order) {
    const int ndim = PyArray_NDIM(a);
    const npy_intp *shape = PyArray_SHAPE(a);
    const npy_intp *strides = PyArray_STRIDES(a);
    v.data = PyArray_BYTES(a);
    if (ndim == 0) {
        v.len = 1;
        v.stride = 0;
        return true;
    }
    if (ndim == 1) {
        v.len = shape[0];
        v.stride = strides[0];
        return true;
    }
    const bool c = PyArray_IS_C_CONTIGUOUS(a);
    const bool f = PyArray_IS_F_CONTIGUOUS(a);
    if (c && !f) {
        v.len = PyArray_MultiplyList(const_cast<npy_intp *>(shape), ndim);
        v.stride = 0;
        for (int d = ndim - 1; d >= 0; d--) {
            if (shape[d] != 1 && strides[d] != 0) {
                v.stride = strides[d];
                break;
            }
        }
        return true;
    }
    if (order == NPY_ANYORDER && f && !c) {
        v.len = PyArray_MultiplyList(const_cast<npy_intp *>(shape), ndim);
        v.stride = 0;
        for (int d = 0; d < ndim; d++) {
            if (shape[d] != 1 && strides[d] != 0) {
                v.stride = strides[d];
                break;
            }
        }
        return true;
    }
    v.copy = py_ref::steal(PyArray_Ravel(a, order));
    if (!v.copy) {
        if (!PyErr_Occurred()) {
            PyErr_NoMemory();
        }
        return false;
    }
    PyArrayObject *r = v.copy.array();
    v.data = PyArray_BYTES(r);
    v.len = PyArray_DIM(r, 0);
    v.stride = PyArray_STRIDE(r, 0);
    return true;
}

}  // namespace corvane
