// move_entry: the argument handling shared by the ten moving-window functions.
#pragma once

#include "move/kernel_frame.hpp"

namespace corvane {

// Parses (a, window, min_count=None, axis=-1[, ddof=0]), converts `a`, checks
// every argument and calls the kernel for its element type (float64,
// float32, int64, int32). A null kernel, any other element type and a
// non-native byte order send the caller's own arguments to corvane.slow.
// Returns a new reference or null with an exception set.
PyObject *move_entry(const char *name, PyObject *args, PyObject *kwds, move_kernel kernel_f64,
                     move_kernel kernel_f32, move_kernel kernel_i64, move_kernel kernel_i32,
                     bool accepts_ddof);

// A moving-window function: its name, kernels in dtype_index order and
// whether it takes `ddof`.
struct move_function {
    const char *name;
    move_kernel kernels[4];
    bool accepts_ddof;
};

// The four kernels of a function from its kernel template, e.g.
// MOVE_KERNELS(move_sum) for move_sum_axis<T>.
#define MOVE_KERNELS(f) CORVANE_FOUR(f##_axis)

// The method the module table lists for a moving-window function.
template <const move_function &F>
PyObject *move_method(PyObject *, PyObject *args, PyObject *kwds) {
    return move_entry(F.name, args, kwds, F.kernels[0], F.kernels[1], F.kernels[2], F.kernels[3],
                      F.accepts_ddof);
}

}  // namespace corvane
