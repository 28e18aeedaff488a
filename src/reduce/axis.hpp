// The `axis` argument of the reductions, and the array as the kernels see it
// once every scalar argument has been converted.
#pragma once

#include "frame/args.hpp"
#include "frame/py_ref.hpp"

namespace corvane {

// Reads `axis` as an integer (unchecked); `whole` for None, the whole-array
// path. False with TypeError when it is not an integer.
inline bool read_axis(PyObject *axis_obj, int &value, bool &whole) {
    whole = axis_obj == Py_None;
    value = 0;
    if (whole) {
        return true;
    }
    value = PyArray_PyIntAsInt(axis_obj);
    if (value == -1 && PyErr_Occurred()) {
        PyErr_SetString(PyExc_TypeError, "`axis` must be an integer or None");
        return false;
    }
    return true;
}

// Normalises an axis read by read_axis; -1 marks the whole-array path.
// Returns false with ValueError when it is out of range.
inline bool normalise_axis(int value, bool whole, int ndim, int &axis) {
    if (whole) {
        axis = -1;
        return true;
    }
    if (!normalise_axis_index(value, ndim, value)) {
        return false;
    }
    // Along the only axis of a 1-d array is the same as over all of it.
    axis = ndim == 1 ? -1 : value;
    return true;
}

// Converting the scalar arguments can run Python code (their __index__ or
// __float__) that reshapes the array or changes its dtype, so the axis is
// checked again against the array as it is now. A subclass may keep its own
// shape rules through ravel and copy (a matrix stays 2-d), so the kernels see
// it as a plain array.
inline bool settle_array(py_ref &arr, int axis_value, bool whole, int &axis) {
    if (!normalise_axis(axis_value, whole, PyArray_NDIM(arr.array()), axis)) {
        return false;
    }
    if (!PyArray_CheckExact(arr.array())) {
        arr = py_ref::steal(PyArray_View(arr.array(), nullptr, &PyArray_Type));
    }
    return static_cast<bool>(arr);
}

}  // namespace corvane
