// reduce_entry: the argument handling shared by the thirteen reductions.
#pragma once

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
PyObject *reduce_entry(const reduce_function &f, PyObject *args, PyObject *kwds);

// The method the module table lists for a reduction.
template <const reduce_function &F>
PyObject *reduce_method(PyObject *, PyObject *args, PyObject *kwds) {
    return reduce_entry(F, args, kwds);
}

}  // namespace corvane
