#include "reduce/entry.hpp"

#include "frame/fallback.hpp"
#include "frame/input_check.hpp"
#include "frame/keywords.hpp"
#include "frame/parse.hpp"
#include "reduce/axis.hpp"

namespace corvane {

namespace {

struct reduce_args {
    PyObject *a = nullptr;
    PyObject *axis = Py_None;
    PyObject *ddof = nullptr;
};

constexpr param<reduce_args> reduce_a{&pystr_a, &reduce_args::a, "Cannot find `a` keyword input"};
constexpr param<reduce_args> reduce_axis{&pystr_axis, &reduce_args::axis, nullptr};
constexpr signature<reduce_args, 2> plain_signature{{reduce_a, reduce_axis}, 1};
constexpr signature<reduce_args, 3> ddof_signature{
    {reduce_a, reduce_axis, {&pystr_ddof, &reduce_args::ddof, nullptr}}, 1};

}  // namespace

PyObject *reduce_entry(const reduce_function &f, PyObject *args, PyObject *kwds) {
    reduce_args r;
    if (!(f.accepts_ddof ? parse_args(args, kwds, ddof_signature, r)
                         : parse_args(args, kwds, plain_signature, r))) {
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
