#include "reduce/entry.hpp"

#include "frame/fallback.hpp"
#include "frame/keywords.hpp"
#include "frame/parse.hpp"

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
    py_ref arr;
    int axis;
    int ddof = 0;
    const input_state state = read_input(
        r.a, r.axis,
        [&r, &ddof] {
            return r.ddof == nullptr || as_int(r.ddof, "`ddof` must be an integer", ddof);
        },
        arr, axis);
    if (state != input_state::ready) {
        return state == input_state::fallback ? slow_fallback(f.name, args, kwds) : nullptr;
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
