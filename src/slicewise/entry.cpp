#include "slicewise/entry.hpp"

#include <utility>

#include "frame/fallback.hpp"
#include "frame/input_check.hpp"
#include "frame/keywords.hpp"
#include "frame/parse.hpp"
#include "frame/py_ref.hpp"

namespace corvane {

namespace {

// Borrowed argument objects; null where the caller did not give one.
struct slicewise_args {
    PyObject *a = nullptr;
    PyObject *n = nullptr;  // `kth` or `n`
    PyObject *axis = nullptr;
};

constexpr param<slicewise_args> slicewise_a{&pystr_a, &slicewise_args::a,
                                            "Cannot find `a` keyword input"};
constexpr param<slicewise_args> slicewise_axis{&pystr_axis, &slicewise_args::axis, nullptr};
constexpr signature<slicewise_args, 3> kth_signature{
    {slicewise_a, {&pystr_kth, &slicewise_args::n, "Cannot find `kth` keyword input"},
     slicewise_axis},
    2};
constexpr signature<slicewise_args, 2> axis_signature{{slicewise_a, slicewise_axis}, 1};
constexpr signature<slicewise_args, 3> n_signature{
    {slicewise_a, {&pystr_n, &slicewise_args::n, nullptr}, slicewise_axis}, 1};

bool parse_mode_args(PyObject *args, PyObject *kwds, parse_mode mode, slicewise_args &r) {
    switch (mode) {
    case PARSE_KTH: return parse_args(args, kwds, kth_signature, r);
    case PARSE_AXIS: return parse_args(args, kwds, axis_signature, r);
    default: return parse_args(args, kwds, n_signature, r);
    }
}

// An integer argument converted ahead of its checks: its value, or the fact
// that it was not an integer (reported later, where the checks come).
struct int_arg {
    int value = -1;
    bool ok = true;
};

int_arg convert_int(PyObject *o) {
    int_arg r;
    r.value = PyArray_PyIntAsInt(o);
    if (r.value == -1 && PyErr_Occurred()) {
        PyErr_Clear();  // replaced by the argument's own TypeError
        r.ok = false;
    }
    return r;
}

// Normalises the axis of `arr`. For axis=None (where the mode allows it) the
// array is replaced by its C-order flattening and the axis becomes 0.
bool parse_axis(PyObject *axis_obj, const int_arg &axis_v, parse_mode mode, py_ref &arr,
                int &axis) {
    const int ndim = PyArray_NDIM(arr.array());
    if (axis_obj == nullptr && mode != PARSE_AXIS) {
        axis = ndim - 1;
        return axis < 0 ? axis_out_of_bounds(axis) : true;
    }
    if (axis_obj == nullptr || axis_obj == Py_None) {
        if (mode == PARSE_N) {
            PyErr_SetString(PyExc_ValueError, "`axis` cannot be None");
            return false;
        }
        if (ndim != 1) {
            // A subclass may keep its own shape rules through ravel (a matrix
            // stays 2-d), so a subclass is flattened as a plain view.
            py_ref plain = PyArray_CheckExact(arr.array())
                               ? py_ref::borrow(arr.get())
                               : py_ref::steal(PyArray_View(arr.array(), nullptr, &PyArray_Type));
            if (!plain) {
                return false;
            }
            py_ref flat = py_ref::steal(PyArray_Ravel(plain.array(), NPY_CORDER));
            if (!flat) {
                return false;
            }
            arr = std::move(flat);
        }
        axis = 0;
        return true;
    }
    if (!axis_v.ok) {
        return type_error("`axis` must be an integer");
    }
    return normalise_axis_index(axis_v.value, ndim, axis);
}

// Whether `kth` or `n` was given (`n` None means no limit: -1 to the kernel).
bool has_n(PyObject *n_obj, parse_mode mode) {
    return n_obj != nullptr && !(mode == PARSE_N && n_obj == Py_None);
}

bool parse_n(const int_arg &n_v, parse_mode mode, int &n) {
    if (!n_v.ok) {
        return type_error("`n` must be an integer");
    }
    n = n_v.value;
    if (mode == PARSE_N && n < 0) {
        PyErr_SetString(PyExc_ValueError, "`n` must be nonnegative");
        return false;
    }
    return true;
}

}  // namespace

PyObject *slicewise_entry(const slicewise_function &f, PyObject *args, PyObject *kwds) {
    slicewise_args r;
    if (!parse_mode_args(args, kwds, f.mode, r)) {
        return nullptr;
    }
    py_ref arr = as_array(r.a);
    if (!arr) {
        return nullptr;
    }
    // `kth`, `n` and `axis` go through __index__, which may run any code, and
    // that code may reshape, retype or re-flag the array: so they are all
    // converted before anything is read from the array. Their errors are
    // reported below, in the order of the checks.
    const bool axis_given = r.axis != nullptr && r.axis != Py_None;
    const int_arg axis_v = axis_given ? convert_int(r.axis) : int_arg{};
    const int_arg n_v = has_n(r.n, f.mode) ? convert_int(r.n) : int_arg{};
    if (!admit_array(arr)) {
        return nullptr;
    }
    if (PyArray_DESCR(arr.array())->byteorder == '>') {
        arr = py_ref();
        return slow_fallback(f.name, args, kwds);
    }
    int axis;
    int n = -1;
    if (!parse_axis(r.axis, axis_v, f.mode, arr, axis) ||
        (has_n(r.n, f.mode) && !parse_n(n_v, f.mode, n))) {
        return nullptr;
    }
    // The kernels read whole elements through typed pointers, which needs
    // aligned data; the rare unaligned array is answered by corvane.slow.
    const int t = dtype_index(PyArray_TYPE(arr.array()));
    slicewise_kernel k = t < 0 || !PyArray_ISALIGNED(arr.array()) ? nullptr : f.kernels[t];
    return k != nullptr ? k(arr.array(), axis, n) : slow_fallback(f.name, args, kwds);
}

}  // namespace corvane
