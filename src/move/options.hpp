// The argument checks the moving-window entries share (entry.cpp and
// param_entry.cpp), with the same messages everywhere.
#pragma once

#include "frame/parse.hpp"

namespace corvane {

inline bool has_dims(PyArrayObject *a) {
    if (PyArray_NDIM(a) == 0) {
        PyErr_SetString(PyExc_ValueError, "moving window functions require ndim > 0");
        return false;
    }
    return true;
}

// The axis (absent: the last) normalised against `a` as it is now, which must
// have a dimension. False with the error set.
inline bool move_axis(PyArrayObject *a, PyObject *axis_obj, int axis_arg, int &axis) {
    if (!has_dims(a)) {
        return false;
    }
    const int ndim = PyArray_NDIM(a);
    if (axis_obj == nullptr) {
        axis = ndim - 1;
        return true;
    }
    return normalise_axis_index(axis_arg, ndim, axis);
}

// `min_count` read against the window: None means the window; otherwise an
// integer from 1 to the window. False with the error set.
inline bool read_min_count(PyObject *obj, int window, int &min_count) {
    if (obj == Py_None) {
        min_count = window;
        return true;
    }
    if (!as_int(obj, "`min_count` must be an integer or None", min_count)) {
        return false;
    }
    if (min_count > window) {
        PyErr_Format(PyExc_ValueError, "min_count (%d) cannot be greater than window (%d)",
                     min_count, window);
        return false;
    }
    if (min_count < 1) {
        PyErr_SetString(PyExc_ValueError, "`min_count` must be greater than zero.");
        return false;
    }
    return true;
}

}  // namespace corvane
