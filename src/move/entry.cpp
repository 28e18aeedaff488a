#include "move/entry.hpp"

#include "frame/fallback.hpp"
#include "frame/input_check.hpp"
#include "frame/keywords.hpp"
#include "frame/parse.hpp"
#include "move/options.hpp"

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

constexpr param<move_args> a_param{&pystr_a, &move_args::a, "Cannot find `a` keyword input"};
constexpr param<move_args> window_param{&pystr_window, &move_args::window,
                                        "Cannot find `window` keyword input"};
constexpr param<move_args> min_count_param{&pystr_min_count, &move_args::min_count, nullptr};
constexpr param<move_args> axis_param{&pystr_axis, &move_args::axis, nullptr};
constexpr signature<move_args, 4> plain_signature{
    {a_param, window_param, min_count_param, axis_param}, 2};
constexpr signature<move_args, 5> ddof_signature{
    {a_param, window_param, min_count_param, axis_param, {&pystr_ddof, &move_args::ddof, nullptr}},
    2};

// The checked options, in the order they are checked.
struct move_options {
    int window;
    int min_count;
    int axis;
    int ddof;
    int axis_arg;  // axis as given (when given), before normalisation
};

bool check_options(const move_args &r, PyArrayObject *a, move_options &o) {
    if (!as_int(r.window, "`window` must be an integer", o.window)) {
        return false;
    }
    if (!read_min_count(r.min_count, o.window, o.min_count)) {
        return false;
    }
    if (!has_dims(a)) {
        return false;
    }
    o.axis_arg = 0;
    if (r.axis != nullptr && !as_int(r.axis, "`axis` must be an integer", o.axis_arg)) {
        return false;
    }
    if (!move_axis(a, r.axis, o.axis_arg, o.axis)) {
        return false;
    }
    o.ddof = 0;
    if (r.ddof != nullptr && !as_int(r.ddof, "`ddof` must be an integer", o.ddof)) {
        return false;
    }
    // The conversions above may have run Python code (__index__) that
    // reshaped `a`: the facts the kernel relies on are read again, after the
    // last of them.
    if (!move_axis(a, r.axis, o.axis_arg, o.axis)) {
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
    if (!(accepts_ddof ? parse_args(args, kwds, ddof_signature, r)
                       : parse_args(args, kwds, plain_signature, r))) {
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
