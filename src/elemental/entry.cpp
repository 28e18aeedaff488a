#include "elemental/entry.hpp"

#include "elemental/replace.hpp"
#include "frame/fallback.hpp"
#include "frame/input_check.hpp"
#include "frame/keywords.hpp"
#include "frame/parse.hpp"

namespace corvane {

namespace {

// Borrowed argument objects.
struct replace_args {
    PyObject *a = nullptr;
    PyObject *old_obj = nullptr;
    PyObject *new_obj = nullptr;
};

// Every argument required; the count messages are replace's own.
constexpr signature<replace_args, 3> replace_signature{
    {{&pystr_a, &replace_args::a, "Cannot find `a` keyword input"},
     {&pystr_old, &replace_args::old_obj, "Cannot find `old` keyword input"},
     {&pystr_new, &replace_args::new_obj, "Cannot find `new` keyword input"}},
    3,
    {"wrong number of arguments 4", "wrong number of arguments 1",
     "wrong number of keyword arguments 3"}};

// Python ints (bools included) and NumPy integer and bool scalars.
bool is_integer_object(PyObject *o) {
    return PyLong_Check(o) || PyArray_IsScalar(o, Integer) || PyArray_IsScalar(o, Bool);
}

// `old` or `new`, converted ahead of the checks on the array (see
// replace_entry) in both readings a kernel may want: as a double, and, for an
// integer object, exactly (a double would round values beyond 2^53). Which
// reading failed is kept, to be reported once the array's type is known.
struct value_arg {
    replace_value v;
    bool real_ok = true;
    bool exact_ok = true;
};

// The exact value of an integer object (v.exact is set by the caller).
bool read_exact(PyObject *o, replace_value &v) {
    if (PyArray_IsScalar(o, Bool)) {
        const int truth = PyObject_IsTrue(o);
        v.whole = truth;
        return truth >= 0;
    }
    py_ref index = py_ref::steal(PyNumber_Index(o));
    if (!index && PyArray_IsScalar(o, Timedelta)) {
        // A unitless timedelta64 is a NumPy integer without __index__; NumPy
        // compares it with integers by its count, and int() reads that count
        // (a timedelta with a unit, or NaT, has none and stays an error).
        PyErr_Clear();
        index = py_ref::steal(PyNumber_Long(o));
    }
    if (!index) {
        return false;
    }
    int overflow = 0;
    const long long w = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (w == -1 && PyErr_Occurred()) {
        return false;
    }
    v.whole = w;
    v.beyond = overflow;
    return true;
}

value_arg convert_value(PyObject *o) {
    value_arg r;
    if (is_integer_object(o)) {
        r.v.exact = true;
        r.exact_ok = read_exact(o, r.v);
        PyErr_Clear();
    }
    r.v.real = PyFloat_AsDouble(o);
    if (r.v.real == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        r.real_ok = false;
    }
    return r;
}

// Whether `x` was read as it will be used: integer objects exactly for
// integer arrays, everything else as a double. TypeError `not_a_number` when
// not.
bool check_value(const value_arg &x, bool integer_array, const char *not_a_number) {
    const bool ok = integer_array && x.v.exact ? x.exact_ok : x.real_ok;
    return ok || type_error(not_a_number);
}

using replace_fn = PyObject *(*)(PyArrayObject *, const replace_value &, const replace_value &);

// In dtype_index order: float64, float32, int64, int32.
constexpr replace_fn replace_kernels[4] = CORVANE_FOUR(replace_kernel);

}  // namespace

PyObject *replace_entry(PyObject *, PyObject *args, PyObject *kwds) {
    replace_args r;
    if (!parse_args(args, kwds, replace_signature, r)) {
        return nullptr;
    }
    if (!PyArray_Check(r.a)) {
        PyErr_SetString(PyExc_TypeError,
                        "works in place so input must be an array, not (e.g.) a list");
        return nullptr;
    }
    // `old` and `new` go through __float__ or __index__, which may run any
    // code, and that code may reshape, retype or freeze the array: so both
    // are converted before anything is read from the array, and their errors
    // are reported below, in the usual order.
    const value_arg old_a = convert_value(r.old_obj);
    const value_arg new_a = convert_value(r.new_obj);
    py_ref arr = py_ref::borrow(r.a);
    PyArrayObject *a = arr.array();
    if (!refuse_masked(r.a)) {
        return nullptr;
    }
    // Nothing may be written into an array that is not writeable (a broadcast
    // or a read-only view), whichever path would do the writing.
    if (PyArray_FailUnlessWriteable(a, "assignment destination") < 0) {
        return nullptr;
    }
    if (PyArray_DESCR(a)->byteorder == '>') {
        arr = py_ref();
        return slow_fallback("replace", args, kwds);
    }
    // An integer array (native or not) takes integer objects exactly.
    const bool integer_array = PyArray_ISINTEGER(a) || PyArray_ISBOOL(a);
    if (!check_value(old_a, integer_array, "`old` must be a number") ||
        !check_value(new_a, integer_array, "`new` must be a number")) {
        return nullptr;
    }
    // The kernels read and write whole elements through typed pointers,
    // which needs aligned data; the rare unaligned array goes to corvane.slow.
    const int t = dtype_index(PyArray_TYPE(a));
    if (t < 0 || !PyArray_ISALIGNED(a)) {
        return slow_fallback("replace", args, kwds);
    }
    return replace_kernels[t](a, old_a.v, new_a.v);
}

}  // namespace corvane
