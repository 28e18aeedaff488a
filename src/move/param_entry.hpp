// The entries of the moving windows that take a float parameter besides the
// array: move_quantile (a, window, q, min_count=None, axis=-1) and the
// exponentially weighted windows (a, alpha, min_weight=0, axis=-1).
#pragma once

#include "move/exp_windows.hpp"
#include "move/quantile.hpp"

namespace corvane {

// Parses and checks the arguments with the move module's rules and messages,
// then runs the kernel of the array's element type; other element types and
// non-native byte order go, with the caller's own arguments, to corvane.slow.
// The scalar arguments are converted (and checked, as far as they can be
// without the array) before `a` is converted or read, since a conversion may
// run Python code (__index__, __float__) that changes the array. Returns a new
// reference or null with an exception set.
PyObject *move_quantile_entry(PyObject *args, PyObject *kwds);

struct exp_function {
    const char *name;
    exp_kernel kernels[4];  // in dtype_index order
};

PyObject *exp_entry(const exp_function &f, PyObject *args, PyObject *kwds);

template <const exp_function &F>
PyObject *exp_method(PyObject *, PyObject *args, PyObject *kwds) {
    return exp_entry(F, args, kwds);
}

inline PyObject *move_quantile_method(PyObject *, PyObject *args, PyObject *kwds) {
    return move_quantile_entry(args, kwds);
}

}  // namespace corvane
