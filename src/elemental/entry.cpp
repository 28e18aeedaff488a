#include "elemental/entry.hpp"

#include "elemental/replace.hpp"
#include "frame/args.hpp"
#include "frame/fallback.hpp"
#include "frame/keywords.hpp"

namespace corvane {

namespace {

// Borrowed argument objects.
struct replace_args {
    PyObject *a = nullptr;
    PyObject *old_obj = nullptr;
    PyObject *new_obj = nullptr;
};

bool parse_args(PyObject *args, PyObject *kwds, replace_args &r) {
    const Py_ssize_t n = PyTuple_GET_SIZE(args);
    if (kwds == nullptr || PyDict_GET_SIZE(kwds) == 0) {
        if (n != 3) {
            return type_error("wrong number of arguments 4");
        }
        r.a = PyTuple_GET_ITEM(args, 0);
        r.old_obj = PyTuple_GET_ITEM(args, 1);
        r.new_obj = PyTuple_GET_ITEM(args, 2);
        return true;
    }
    if (n >= 3) {
        return type_error("wrong number of arguments 1");
    }
    Py_ssize_t found = 0;
    r.a = n >= 1 ? PyTuple_GET_ITEM(args, 0)
                 : require_keyword(kwds, pystr_a, found, "Cannot find `a` keyword input");
    if (r.a == nullptr) {
        return false;
    }
    r.old_obj = n >= 2 ? PyTuple_GET_ITEM(args, 1)
                       : require_keyword(kwds, pystr_old, found, "Cannot find `old` keyword input");
    if (r.old_obj == nullptr) {
        return false;
    }
    r.new_obj = require_keyword(kwds, pystr_new, found, "Cannot find `new` keyword input");
    if (r.new_obj == nullptr) {
        return false;
    }
    if (PyDict_GET_SIZE(kwds) != 3 - n) {
        return type_error("wrong number of keyword arguments 3");
    }
    return true;
}

// Python ints (bools included) and NumPy integer and bool scalars.
bool is_integer_object(PyObject *o) {
    return PyLong_Check(o) || PyArray_IsScalar(o, Integer) || PyArray_IsScalar(o, Bool);
}

// Reads `old` or `new`. For the integer kernels an integer object keeps its
// exact value (a double would round values beyond 2^53); everything else is
// read as a double.
bool parse_value(PyObject *o, bool exact_integers, const char *not_a_number, replace_value &v) {
    if (exact_integers && is_integer_object(o)) {
        v.exact = true;
        if (PyArray_IsScalar(o, Bool)) {
            const int truth = PyObject_IsTrue(o);
            v.whole = truth;
            return truth < 0 ? type_error(not_a_number) : true;
        }
        py_ref index = py_ref::steal(PyNumber_Index(o));
        if (!index) {
            return type_error(not_a_number);
        }
        int overflow = 0;
        const long long w = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
        if (w == -1 && PyErr_Occurred()) {
            return type_error(not_a_number);
        }
        v.whole = w;
        v.beyond = overflow;
        return true;
    }
    v.real = PyFloat_AsDouble(o);
    if (v.real == -1.0 && PyErr_Occurred()) {
        return type_error(not_a_number);
    }
    return true;
}

using replace_fn = PyObject *(*)(PyArrayObject *, const replace_value &, const replace_value &);

// In dtype_index order: float64, float32, int64, int32.
constexpr replace_fn replace_kernels[4] = CORVANE_FOUR(replace_kernel);

}  // namespace

PyObject *replace_entry(PyObject *, PyObject *args, PyObject *kwds) {
    replace_args r;
    if (!parse_args(args, kwds, r)) {
        return nullptr;
    }
    if (!PyArray_Check(r.a)) {
        PyErr_SetString(PyExc_TypeError,
                        "works in place so input must be an array, not (e.g.) a list");
        return nullptr;
    }
    py_ref arr = py_ref::borrow(r.a);
    PyArrayObject *a = arr.array();
    // Nothing may be written into an array that is not writeable (a broadcast
    // or a read-only view), whichever path would do the writing.
    if (PyArray_FailUnlessWriteable(a, "assignment destination") < 0) {
        return nullptr;
    }
    if (PyArray_DESCR(a)->byteorder == '>') {
        arr = py_ref();
        return slow_fallback("replace", args, kwds);
    }
    const int t = dtype_index(PyArray_TYPE(a));
    const bool integer_kernel = t == dtype_index(NPY_INT64) || t == dtype_index(NPY_INT32);
    replace_value old_v;
    replace_value new_v;
    if (!parse_value(r.old_obj, integer_kernel, "`old` must be a number", old_v) ||
        !parse_value(r.new_obj, integer_kernel, "`new` must be a number", new_v)) {
        return nullptr;
    }
    // The kernels read and write whole elements through typed pointers,
    // which needs aligned data; the rare unaligned array goes to corvane.slow.
    if (t < 0 || !PyArray_ISALIGNED(a)) {
        return slow_fallback("replace", args, kwds);
    }
    return replace_kernels[t](a, old_v, new_v);
}

}  // namespace corvane
