// quantile_entry: the argument handling of quantile and nanquantile, which
// take (a, q, axis=None) rather than the other reductions' (a, axis).
#pragma once

#include "reduce/quantile.hpp"

namespace corvane {

// A quantile function's kernels in dtype_index order (float64, float32,
// int64, int32).
struct quantile_function {
    const char *name;
    quantile_whole_fn whole[4];
    quantile_axis_fn axis[4];
};

// Parses (a, q, axis=None), converts `a` and `q`, and calls the kernel for the
// element type and path; other element types and byte orders go to
// corvane.slow. Returns a new reference or null with an exception set.
PyObject *quantile_entry(const quantile_function &f, PyObject *args, PyObject *kwds);

template <const quantile_function &F>
PyObject *quantile_method(PyObject *, PyObject *args, PyObject *kwds) {
    return quantile_entry(F, args, kwds);
}

}  // namespace corvane
