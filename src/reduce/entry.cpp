#include "reduce/entry.hpp"

#include "frame/args.hpp"
#include "frame/fallback.hpp"
#include "frame/input_check.hpp"
#include "frame/keywords.hpp"
#include "reduce/axis.hpp"

namespace corvane {

namespace {

struct reduce_args {
    PyObject *a = nullptr;
    PyObject *axis = Py_None;
    PyObject *ddof = nullptr;
};

bool parse_args(PyObject *args, PyObject *kwds, bool accepts_ddof, reduce_args &r) {
    const Py_ssize_t n = PyTuple_GET_SIZE(args);
    if (kwds == nullptr || PyDict_GET_SIZE(kwds) == 0) {
        if (n == 1 || n == 2 || (n == 3 && accepts_ddof)) {
            r.a = PyTuple_GET_ITEM(args, 0);
            if (n >= 2) {
                r.axis = PyTuple_GET_ITEM(args, 1);
            }
            if (n == 3) {
                r.ddof = PyTuple_GET_ITEM(args, 2);
            }
            return true;
        }
        return type_error("wrong number of arguments");
    }
    if (n > 2 || (n == 2 && !accepts_ddof)) {
        return type_error("wrong number of arguments");
    }
    Py_ssize_t found = 0;
    if (n == 0) {
        r.a = require_keyword(kwds, pystr_a, found, "Cannot find `a` keyword input");
        if (r.a == nullptr) {
            return false;
        }
    } else {
        r.a = PyTuple_GET_ITEM(args, 0);
    }
    if (n <= 1) {
        PyObject *axis = take_keyword(kwds, pystr_axis, found);
        r.axis = axis != nullptr ? axis : Py_None;
    } else {
        r.axis = PyTuple_GET_ITEM(args, 1);
    }
    if (accepts_ddof) {
        r.ddof = take_keyword(kwds, pystr_ddof, found);
    }
    if (PyErr_Occurred()) {
        return false;
    }
    if (found != PyDict_GET_SIZE(kwds)) {
        return type_error("wrong number of keyword arguments");
    }
    return true;
}

}  // namespace

PyObject *reduce_entry(const reduce_function &f, PyObject *args, PyObject *kwds) {
    reduce_args r;
    if (!parse_args(args, kwds, f.accepts_ddof, r)) {
        return nullptr;
    }
    py_ref arr = as_array(r.a);
    if (!arr || !admit_array(arr)) {
        return nullptr;
    }
    if (PyArray_DESCR(arr.array())->byteorder == '>') {
        arr = py_ref();
        return slow_fallback(f.name, args, kwds);
    }
    // Reading `axis` and `ddof` can run Python code (their __index__) that
    // reshapes the array or changes its dtype, so the array's shape, dtype
    // and layout are read only once both are integers.
    int axis_value;
    bool whole;
    int axis;
    if (!read_axis(r.axis, axis_value, whole) ||
        !normalise_axis(axis_value, whole, PyArray_NDIM(arr.array()), axis)) {
        return nullptr;
    }
    int ddof = 0;
    if (r.ddof != nullptr) {
        ddof = PyArray_PyIntAsInt(r.ddof);
        if (ddof == -1 && PyErr_Occurred()) {
            PyErr_SetString(PyExc_TypeError, "`ddof` must be an integer");
            return nullptr;
        }
    }
    if (PyArray_DESCR(arr.array())->byteorder == '>') {  // since changed
        arr = py_ref();
        return slow_fallback(f.name, args, kwds);
    }
    if (!settle_array(arr, axis_value, whole, axis)) {
        return nullptr;
    }
    PyArrayObject *a = arr.array();
    const int t = dtype_index(PyArray_TYPE(a));
    if (axis < 0) {
        reduce_whole_fn k = t < 0 ? nullptr : f.kernels.whole[t];
        return k != nullptr ? k(a, ddof) : slow_fallback(f.name, args, kwds);
    }
    reduce_axis_fn k = t < 0 ? nullptr : f.kernels.axis[t];
    return k != nullptr ? k(a, axis, ddof) : slow_fallback(f.name, args, kwds);
}

}  // namespace corvane
