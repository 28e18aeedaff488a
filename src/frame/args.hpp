// Small pieces every entry routine uses to read its arguments.
#pragma once

#include "frame/py_ref.hpp"

namespace corvane {

// Sets TypeError `message`; returns false so a parser can `return type_error(..)`.
inline bool type_error(const char *message) {
    PyErr_SetString(PyExc_TypeError, message);
    return false;
}

// numpy.exceptions.AxisError (numpy.AxisError before NumPy 1.25), looked up by
// module_init: a subclass of both ValueError and IndexError, as NumPy raises.
extern PyObject *axis_error_type;

// Sets AxisError "axis(=`value`) out of bounds"; returns false.
inline bool axis_out_of_bounds(int value) {
    PyErr_Format(axis_error_type, "axis(=%d) out of bounds", value);
    return false;
}

// `value` as an axis of `ndim` dimensions (a negative one counts from the
// end) into `axis`; AxisError, false, when there is no such axis.
[[gnu::always_inline]] inline bool normalise_axis_index(int value, int ndim, int &axis) {
    if (value < 0) {
        value += ndim;
    }
    if (value < 0 || value >= ndim) {
        return axis_out_of_bounds(value);
    }
    axis = value;
    return true;
}

// Looks `key` up in the keyword dictionary and counts it when present, so the
// caller can compare the count with the dictionary's size afterwards (which
// rejects unknown and repeated keywords in one test). Borrowed result; null
// when absent or on a lookup error (which stays set).
inline PyObject *take_keyword(PyObject *kwds, PyObject *key, Py_ssize_t &found) {
    PyObject *v = PyDict_GetItemWithError(kwds, key);
    found += v != nullptr;
    return v;
}

// A new reference to `a` as an array: arrays and their subclasses as they are,
// anything else through NumPy's conversion (null with NumPy's exception).
inline py_ref as_array(PyObject *a) {
    if (PyArray_Check(a)) {
        return py_ref::borrow(a);
    }
    return py_ref::steal(PyArray_FromAny(a, nullptr, 0, 0, 0, nullptr));
}

}  // namespace corvane
