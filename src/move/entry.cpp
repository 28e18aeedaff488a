#include "move/entry.hpp"

#include "frame/args.hpp"
#include "frame/fallback.hpp"
#include "frame/input_check.hpp"
#include "frame/keywords.hpp"

namespace corvane {

namespace {

// The arguments as received: borrowed references, null when absent.
struct move_args {
    PyObject *a = nullptr;
    PyObject *window = nullptr;
    PyObject *min_count = Py_None;
    PyObject *axis = nullptr;
    PyObject *ddof = nullptr;
};

bool parse_keywords(PyObject *args, PyObject *kwds, bool accepts_ddof, move_args &r) {
    const Py_ssize_t n = PyTuple_GET_SIZE(args);
    if (n > 4 || (n == 4 && !accepts_ddof)) {
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
        r.window =
            require_keyword(kwds, pystr_window, found, "Cannot find `window` keyword input");
        if (r.window == nullptr) {
            return false;
        }
    } else {
        r.window = PyTuple_GET_ITEM(args, 1);
    }
    if (n <= 2) {
        PyObject *m = take_keyword(kwds, pystr_min_count, found);
        if (m != nullptr) {
            r.min_count = m;
        }
    } else {
        r.min_count = PyTuple_GET_ITEM(args, 2);
    }
    if (n <= 3) {
        r.axis = take_keyword(kwds, pystr_axis, found);
    } else {
        r.axis = PyTuple_GET_ITEM(args, 3);
    }
    if (accepts_ddof) {
        r.ddof = take_keyword(kwds, pystr_ddof, found);
    }
    if (PyErr_Occurred()) {
        return false;
    }
    if (found != PyDict_GET_SIZE(kwds)) {
        PyErr_SetString(PyExc_TypeError, "wrong number of keyword arguments");
        return false;
    }
    return true;
}

bool parse_args(PyObject *args, PyObject *kwds, bool accepts_ddof, move_args &r) {
    if (kwds != nullptr && PyDict_GET_SIZE(kwds) != 0) {
        return parse_keywords(args, kwds, accepts_ddof, r);
    }
    const Py_ssize_t n = PyTuple_GET_SIZE(args);
    if (n < 2 || n > 5 || (n == 5 && !accepts_ddof)) {
        return type_error("wrong number of arguments");
    }
    r.a = PyTuple_GET_ITEM(args, 0);
    r.window = PyTuple_GET_ITEM(args, 1);
    if (n >= 3) {
        r.min_count = PyTuple_GET_ITEM(args, 2);
    }
    if (n >= 4) {
        r.axis = PyTuple_GET_ITEM(args, 3);
    }
    if (n == 5) {
        r.ddof = PyTuple_GET_ITEM(args, 4);
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

// The checked options, in the order they are checked.
struct move_options {
    int window;
    int min_count;
    int axis;
    int ddof;
    int axis_arg;  // axis as given (when given), before normalisation
};

bool has_dims(PyArrayObject *a) {
    if (PyArray_NDIM(a) == 0) {
        PyErr_SetString(PyExc_ValueError, "moving window functions require ndim > 0");
        return false;
    }
    return true;
}

// ndim > 0 and the axis, normalised to 0..ndim-1, read from `a` as it is now.
bool check_axis(const move_args &r, PyArrayObject *a, move_options &o) {
    if (!has_dims(a)) {
        return false;
    }
    const int ndim = PyArray_NDIM(a);
    if (r.axis == nullptr) {
        o.axis = ndim - 1;
        return true;
    }
    o.axis = o.axis_arg < 0 ? o.axis_arg + ndim : o.axis_arg;
    if (o.axis < 0 || o.axis >= ndim) {
        return axis_out_of_bounds(o.axis);
    }
    return true;
}

bool check_options(const move_args &r, PyArrayObject *a, move_options &o) {
    if (!as_int(r.window, "`window` must be an integer", o.window)) {
        return false;
    }
    if (r.min_count == Py_None) {
        o.min_count = o.window;
    } else {
        if (!as_int(r.min_count, "`min_count` must be an integer or None", o.min_count)) {
            return false;
        }
        if (o.min_count > o.window) {
            PyErr_Format(PyExc_ValueError, "min_count (%d) cannot be greater than window (%d)",
                         o.min_count, o.window);
            return false;
        }
        if (o.min_count < 1) {
            PyErr_SetString(PyExc_ValueError, "`min_count` must be greater than zero.");
            return false;
        }
    }
    if (!has_dims(a)) {
        return false;
    }
    o.axis_arg = 0;
    if (r.axis != nullptr && !as_int(r.axis, "`axis` must be an integer", o.axis_arg)) {
        return false;
    }
    if (!check_axis(r, a, o)) {
        return false;
    }
    o.ddof = 0;
    if (r.ddof != nullptr && !as_int(r.ddof, "`ddof` must be an integer", o.ddof)) {
        return false;
    }
    // The conversions above may have run Python code (__index__) that
    // reshaped `a`: the facts the kernel relies on are read again, after the
    // last of them.
    if (!check_axis(r, a, o)) {
        return false;
    }
    const npy_intp length = PyArray_DIM(a, o.axis);
    if (o.window < 1 || o.window > length) {
        PyErr_Format(PyExc_ValueError, "Moving window (=%d) must between 1 and %zu, inclusive",
                     o.window, static_cast<size_t>(length));
        return false;
    }
    return true;
}

}  // namespace

PyObject *move_entry(const char *name, PyObject *args, PyObject *kwds, move_kernel kernel_f64,
                     move_kernel kernel_f32, move_kernel kernel_i64, move_kernel kernel_i32,
                     bool accepts_ddof) {
    move_args r;
    if (!parse_args(args, kwds, accepts_ddof, r)) {
        return nullptr;
    }
    py_ref arr = as_array(r.a);
    if (!arr || !admit_array(arr)) {
        return nullptr;
    }
    PyArrayObject *a = arr.array();
    if (PyArray_DESCR(a)->byteorder == '>') {
        arr = py_ref();
        return slow_fallback(name, args, kwds);
    }
    move_options o;
    if (!check_options(r, a, o)) {
        return nullptr;
    }
    // ... or changed its dtype.
    if (PyArray_DESCR(a)->byteorder == '>') {
        arr = py_ref();
        return slow_fallback(name, args, kwds);
    }
    const move_kernel kernels[4] = {kernel_f64, kernel_f32, kernel_i64, kernel_i32};
    const int t = dtype_index(PyArray_TYPE(a));
    const move_kernel k = t < 0 ? nullptr : kernels[t];
    if (k == nullptr) {
        return slow_fallback(name, args, kwds);
    }
    return k(a, o.window, o.min_count, o.axis, o.ddof);
}

}  // namespace corvane
