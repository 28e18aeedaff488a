#include "reduce/quantile_entry.hpp"

#include "frame/fallback.hpp"
#include "frame/keywords.hpp"
#include "frame/parse.hpp"
#include "reduce/entry.hpp"

namespace corvane {

namespace {

const char q_type_message[] = "`q` must be a float or a 1-d sequence of floats";

struct quantile_args {
    PyObject *a = nullptr;
    PyObject *q = nullptr;
    PyObject *axis = Py_None;
};

// The rules of the other reductions, with `q` required after `a`.
constexpr signature<quantile_args, 3> quantile_signature{
    {{&pystr_a, &quantile_args::a, "Cannot find `a` keyword input"},
     {&pystr_q, &quantile_args::q, "Cannot find `q` keyword input"},
     {&pystr_axis, &quantile_args::axis, nullptr}},
    2};

// Reads `q` as float64 values: a Python float directly (into `one`), anything
// else through NumPy into `held`, which keeps the values alive.
bool parse_q(PyObject *q_obj, double &one, py_ref &held, quantile_q &q) {
    if (PyFloat_Check(q_obj)) {
        one = PyFloat_AS_DOUBLE(q_obj);
        q = {&one, 1, false};
    } else {
        py_ref raw = as_array(q_obj);
        if (!raw) {
            PyErr_Clear();
            return type_error(q_type_message);
        }
        const char kind = PyArray_DESCR(raw.array())->kind;
        if (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b') {
            return type_error(q_type_message);
        }
        if (PyArray_NDIM(raw.array()) > 1) {
            PyErr_SetString(PyExc_ValueError, q_type_message);
            return false;
        }
        held = py_ref::steal(PyArray_FromAny(raw.get(), PyArray_DescrFromType(NPY_FLOAT64), 0, 0,
                                             NPY_ARRAY_CARRAY | NPY_ARRAY_FORCECAST, nullptr));
        if (!held) {
            return false;
        }
        q = {static_cast<const double *>(PyArray_DATA(held.array())),
             PyArray_SIZE(held.array()), PyArray_NDIM(held.array()) == 1};
    }
    for (npy_intp i = 0; i < q.nq; i++) {
        if (!(q.q[i] >= 0.0 && q.q[i] <= 1.0)) {  // NaN fails too
            PyErr_SetString(PyExc_ValueError, "Quantiles must be in the range [0, 1]");
            return false;
        }
    }
    return true;
}

}  // namespace

PyObject *quantile_entry(const quantile_function &f, PyObject *args, PyObject *kwds) {
    quantile_args r;
    if (!parse_args(args, kwds, quantile_signature, r)) {
        return nullptr;
    }
    py_ref arr;
    int axis;
    double one;
    py_ref held;
    quantile_q q;
    const input_state state =
        read_input(r.a, r.axis, [&] { return parse_q(r.q, one, held, q); }, arr, axis);
    if (state != input_state::ready) {
        return state == input_state::fallback ? slow_fallback(f.name, args, kwds) : nullptr;
    }
    PyArrayObject *a = arr.array();
    const int t = dtype_index(PyArray_TYPE(a));
    if (t < 0) {
        return slow_fallback(f.name, args, kwds);
    }
    return axis < 0 ? f.whole[t](a, q) : f.axis[t](a, axis, q);
}

}  // namespace corvane
