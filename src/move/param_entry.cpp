#include "move/param_entry.hpp"

#include "frame/args.hpp"
#include "frame/fallback.hpp"
#include "frame/input_check.hpp"
#include "frame/keywords.hpp"

namespace corvane {

namespace {

// One parameter: its keyword and the message when a required one is missing.
struct param {
    PyObject *const *key;
    const char *missing;  // null for an optional parameter
};

// Reads up to `count` arguments, positional first, then by keyword, into
// `out` (borrowed; null when absent). The move module's rules: without
// keywords the positional count must cover the required parameters; with
// keywords every parameter after the positional ones is looked up, and the
// keywords found must be all the dictionary holds.
bool parse(PyObject *args, PyObject *kwds, const param *params, int count, int required,
           PyObject **out) {
    const Py_ssize_t n = PyTuple_GET_SIZE(args);
    const bool keywords = kwds != nullptr && PyDict_GET_SIZE(kwds) != 0;
    if (keywords ? n >= count : (n < required || n > count)) {
        return type_error("wrong number of arguments");
    }
    Py_ssize_t found = 0;
    for (int i = 0; i < count; i++) {
        if (i < n) {
            out[i] = PyTuple_GET_ITEM(args, i);
        } else if (!keywords) {
            out[i] = nullptr;
        } else if (params[i].missing != nullptr) {
            out[i] = require_keyword(kwds, *params[i].key, found, params[i].missing);
            if (out[i] == nullptr) {
                return false;
            }
        } else {
            out[i] = take_keyword(kwds, *params[i].key, found);
            if (out[i] == nullptr && PyErr_Occurred()) {
                return false;
            }
        }
    }
    if (keywords && found != PyDict_GET_SIZE(kwds)) {
        return type_error("wrong number of keyword arguments");
    }
    return true;
}

// PyArray_PyIntAsInt, with its error replaced by TypeError `msg`.
bool as_int(PyObject *o, const char *msg, int &value) {
    value = PyArray_PyIntAsInt(o);
    if (value == -1 && PyErr_Occurred()) {
        PyErr_SetString(PyExc_TypeError, msg);
        return false;
    }
    return true;
}

// A Python float from a number (anything with __float__ or __index__, a 0-d
// array included); TypeError `msg` for anything else, strings and arrays of
// one or more dimensions among them.
bool as_double(PyObject *o, const char *msg, double &value) {
    if (PyUnicode_Check(o) || PyBytes_Check(o) || PyByteArray_Check(o) ||
        (PyArray_Check(o) && PyArray_NDIM(reinterpret_cast<PyArrayObject *>(o)) != 0)) {
        return type_error(msg);
    }
    value = PyFloat_AsDouble(o);
    if (value == -1.0 && PyErr_Occurred()) {
        PyErr_SetString(PyExc_TypeError, msg);
        return false;
    }
    return true;
}

// The axis (absent: the last) normalised against the array as it is now.
bool check_axis(PyArrayObject *a, PyObject *axis_obj, int axis_arg, int &axis) {
    const int ndim = PyArray_NDIM(a);
    if (ndim == 0) {
        PyErr_SetString(PyExc_ValueError, "moving window functions require ndim > 0");
        return false;
    }
    axis = axis_obj == nullptr ? ndim - 1 : axis_arg < 0 ? axis_arg + ndim : axis_arg;
    if (axis < 0 || axis >= ndim) {
        PyErr_Format(PyExc_ValueError, "axis(=%d) out of bounds", axis);
        return false;
    }
    return true;
}

// The working array: `a` as an array, masked and object arrays admitted.
py_ref working_array(PyObject *a) {
    py_ref arr = as_array(a);
    if (arr && !admit_array(arr)) {
        return py_ref();
    }
    return arr;
}

const param quantile_params[] = {
    {&pystr_a, "Cannot find `a` keyword input"},
    {&pystr_window, "Cannot find `window` keyword input"},
    {&pystr_q, "Cannot find `q` keyword input"},
    {&pystr_min_count, nullptr},
    {&pystr_axis, nullptr},
};

const param exp_params_list[] = {
    {&pystr_a, "Cannot find `a` keyword input"},
    {&pystr_alpha, "Cannot find `alpha` keyword input"},
    {&pystr_min_weight, nullptr},
    {&pystr_axis, nullptr},
};

constexpr move_quantile_kernel quantile_kernels[4] = CORVANE_FOUR(move_quantile_axis);

}  // namespace

PyObject *move_quantile_entry(PyObject *args, PyObject *kwds) {
    PyObject *arg[5];
    if (!parse(args, kwds, quantile_params, 5, 3, arg)) {
        return nullptr;
    }
    int window;
    double q;
    int min_count;
    int axis_arg = 0;
    if (!as_int(arg[1], "`window` must be an integer", window) ||
        !as_double(arg[2], "`q` must be a float", q)) {
        return nullptr;
    }
    if (!(q >= 0.0 && q <= 1.0)) {  // NaN fails too
        PyErr_SetString(PyExc_ValueError, "Quantiles must be in the range [0, 1]");
        return nullptr;
    }
    if (arg[3] == nullptr || arg[3] == Py_None) {
        min_count = window;
    } else {
        if (!as_int(arg[3], "`min_count` must be an integer or None", min_count)) {
            return nullptr;
        }
        if (min_count > window) {
            PyErr_Format(PyExc_ValueError, "min_count (%d) cannot be greater than window (%d)",
                         min_count, window);
            return nullptr;
        }
        if (min_count < 1) {
            PyErr_SetString(PyExc_ValueError, "`min_count` must be greater than zero.");
            return nullptr;
        }
    }
    if (arg[4] != nullptr && !as_int(arg[4], "`axis` must be an integer", axis_arg)) {
        return nullptr;
    }
    // Every other argument is converted: the array can be read now.
    py_ref arr = working_array(arg[0]);
    if (!arr) {
        return nullptr;
    }
    PyArrayObject *a = arr.array();
    int axis;
    if (!check_axis(a, arg[4], axis_arg, axis)) {
        return nullptr;
    }
    const npy_intp length = PyArray_DIM(a, axis);
    if (window < 1 || window > length) {
        PyErr_Format(PyExc_ValueError, "Moving window (=%d) must between 1 and %zu, inclusive",
                     window, static_cast<size_t>(length));
        return nullptr;
    }
    const int t = dtype_index(PyArray_TYPE(a));
    if (t < 0 || PyArray_DESCR(a)->byteorder == '>') {
        arr = py_ref();
        return slow_fallback("move_quantile", args, kwds);
    }
    return quantile_kernels[t](a, window, min_count, axis, q);
}

PyObject *exp_entry(const exp_function &f, PyObject *args, PyObject *kwds) {
    PyObject *arg[4];
    if (!parse(args, kwds, exp_params_list, 4, 2, arg)) {
        return nullptr;
    }
    double alpha;
    double min_weight = 0.0;
    int axis_arg = 0;
    if (!as_double(arg[1], "`alpha` must be a float", alpha)) {
        return nullptr;
    }
    if (!(alpha > 0.0 && alpha <= 1.0)) {
        PyErr_SetString(PyExc_ValueError, "`alpha` must be in the range (0, 1]");
        return nullptr;
    }
    if (arg[2] != nullptr && !as_double(arg[2], "`min_weight` must be a float", min_weight)) {
        return nullptr;
    }
    if (min_weight != min_weight) {
        PyErr_SetString(PyExc_ValueError, "`min_weight` must not be NaN");
        return nullptr;
    }
    if (arg[3] != nullptr && !as_int(arg[3], "`axis` must be an integer", axis_arg)) {
        return nullptr;
    }
    py_ref arr = working_array(arg[0]);
    if (!arr) {
        return nullptr;
    }
    PyArrayObject *a = arr.array();
    int axis;
    if (!check_axis(a, arg[3], axis_arg, axis)) {
        return nullptr;
    }
    const int t = dtype_index(PyArray_TYPE(a));
    if (t < 0 || PyArray_DESCR(a)->byteorder == '>') {
        arr = py_ref();
        return slow_fallback(f.name, args, kwds);
    }
    return f.kernels[t](a, axis, alpha, min_weight);
}

}  // namespace corvane
