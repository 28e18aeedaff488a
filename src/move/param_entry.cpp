#include "move/param_entry.hpp"

#include "frame/fallback.hpp"
#include "frame/input_check.hpp"
#include "frame/keywords.hpp"
#include "frame/parse.hpp"
#include "move/options.hpp"

namespace corvane {

namespace {

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

struct quantile_args {
    PyObject *a = nullptr;
    PyObject *window = nullptr;
    PyObject *q = nullptr;
    PyObject *min_count = Py_None;
    PyObject *axis = nullptr;
};

constexpr signature<quantile_args, 5> quantile_signature{
    {{&pystr_a, &quantile_args::a, "Cannot find `a` keyword input"},
     {&pystr_window, &quantile_args::window, "Cannot find `window` keyword input"},
     {&pystr_q, &quantile_args::q, "Cannot find `q` keyword input"},
     {&pystr_min_count, &quantile_args::min_count, nullptr},
     {&pystr_axis, &quantile_args::axis, nullptr}},
    3};

struct exp_args {
    PyObject *a = nullptr;
    PyObject *alpha = nullptr;
    PyObject *min_weight = nullptr;
    PyObject *axis = nullptr;
};

constexpr signature<exp_args, 4> exp_signature{
    {{&pystr_a, &exp_args::a, "Cannot find `a` keyword input"},
     {&pystr_alpha, &exp_args::alpha, "Cannot find `alpha` keyword input"},
     {&pystr_min_weight, &exp_args::min_weight, nullptr},
     {&pystr_axis, &exp_args::axis, nullptr}},
    2};

// The last conversion, `axis` (when given), then the working array (`a` as
// an array, masked and object arrays admitted) and the axis normalised
// against it: every other argument is converted before the array is read.
template <class Args>
bool array_and_axis(const Args &r, py_ref &arr, int &axis) {
    int axis_arg = 0;
    if (r.axis != nullptr && !as_int(r.axis, "`axis` must be an integer", axis_arg)) {
        return false;
    }
    arr = as_array(r.a);
    if (!arr || !admit_array(arr)) {
        return false;
    }
    return move_axis(arr.array(), r.axis, axis_arg, axis);
}

constexpr move_quantile_kernel quantile_kernels[4] = CORVANE_FOUR(move_quantile_axis);

}  // namespace

PyObject *move_quantile_entry(PyObject *args, PyObject *kwds) {
    quantile_args r;
    if (!parse_args(args, kwds, quantile_signature, r)) {
        return nullptr;
    }
    int window;
    double q;
    int min_count;
    if (!as_int(r.window, "`window` must be an integer", window) ||
        !as_double(r.q, "`q` must be a float", q)) {
        return nullptr;
    }
    if (!(q >= 0.0 && q <= 1.0)) {  // NaN fails too
        PyErr_SetString(PyExc_ValueError, "Quantiles must be in the range [0, 1]");
        return nullptr;
    }
    py_ref arr;
    int axis;
    if (!read_min_count(r.min_count, window, min_count) || !array_and_axis(r, arr, axis)) {
        return nullptr;
    }
    PyArrayObject *a = arr.array();
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
    exp_args r;
    if (!parse_args(args, kwds, exp_signature, r)) {
        return nullptr;
    }
    double alpha;
    double min_weight = 0.0;
    if (!as_double(r.alpha, "`alpha` must be a float", alpha)) {
        return nullptr;
    }
    if (!(alpha > 0.0 && alpha <= 1.0)) {
        PyErr_SetString(PyExc_ValueError, "`alpha` must be in the range (0, 1]");
        return nullptr;
    }
    if (r.min_weight != nullptr &&
        !as_double(r.min_weight, "`min_weight` must be a float", min_weight)) {
        return nullptr;
    }
    if (min_weight != min_weight) {
        PyErr_SetString(PyExc_ValueError, "`min_weight` must not be NaN");
        return nullptr;
    }
    py_ref arr;
    int axis;
    if (!array_and_axis(r, arr, axis)) {
        return nullptr;
    }
    PyArrayObject *a = arr.array();
    const int t = dtype_index(PyArray_TYPE(a));
    if (t < 0 || PyArray_DESCR(a)->byteorder == '>') {
        arr = py_ref();
        return slow_fallback(f.name, args, kwds);
    }
    return f.kernels[t](a, axis, alpha, min_weight);
}

}  // namespace corvane
