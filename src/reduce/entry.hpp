// reduce_entry: the argument handling shared by the thirteen reductions.
#pragma once

#include "frame/input_check.hpp"
#include "reduce/axis.hpp"
#include "reduce/walk.hpp"

namespace corvane {

// A reduction's kernels in dtype_index order (float64, float32, int64,
// int32). A null entry sends that element type to corvane.slow.
struct reduce_kernels {
    reduce_whole_fn whole[4];
    reduce_axis_fn axis[4];
};

// The reduction's kernels from its two kernel templates, e.g.
// REDUCE_KERNELS(nansum) for nansum_whole<T> and nansum_axis<T>.
#define REDUCE_KERNELS(f) \
    ::corvane::reduce_kernels { CORVANE_FOUR(f##_whole), CORVANE_FOUR(f##_axis) }

struct reduce_function {
    const char *name;
    reduce_kernels kernels;
    bool accepts_ddof;
};

// Parses (a, axis[, ddof]), converts `a`, and calls the kernel for its element
// type and path. Returns a new reference or null with an exception set.
// What read_input left: an error set, the call for corvane.slow (the array
// released), or the array and axis ready for a kernel.
enum class input_state { failed, fallback, ready };

// The array a reduction works on and its axis, read in an order that keeps a
// hostile __index__ harmless: `a` as an array, `axis` as an integer, then the
// entry's own arguments (`convert()`, false with the error set), and only
// then the array's shape, dtype and layout as the kernel will see them
// (settle_array). A non-native byte order, before the conversions or after
// them, goes to corvane.slow.
template <class Convert>
[[gnu::always_inline]] inline input_state read_input(PyObject *a_obj, PyObject *axis_obj,
                                                     Convert &&convert, py_ref &arr, int &axis) {
    arr = as_array(a_obj);
    if (!arr || !admit_array(arr)) {
        return input_state::failed;
    }
    if (PyArray_DESCR(arr.array())->byteorder == '>') {
        arr = py_ref();
        return input_state::fallback;
    }
    int axis_value;
    bool whole;
    if (!read_axis(axis_obj, axis_value, whole) ||
        !normalise_axis(axis_value, whole, PyArray_NDIM(arr.array()), axis) || !convert()) {
        return input_state::failed;
    }
    if (PyArray_DESCR(arr.array())->byteorder == '>') {  // since changed
        arr = py_ref();
        return input_state::fallback;
    }
    return settle_array(arr, axis_value, whole, axis) ? input_state::ready : input_state::failed;
}

PyObject *reduce_entry(const reduce_function &f, PyObject *args, PyObject *kwds);

// The method the module table lists for a reduction.
template <const reduce_function &F>
PyObject *reduce_method(PyObject *, PyObject *args, PyObject *kwds) {
    return reduce_entry(F, args, kwds);
}

}  // namespace corvane
