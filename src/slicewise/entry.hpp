// slicewise_entry: the argument handling shared by partition, argpartition,
// rankdata, nanrankdata and push.
#pragma once

#include "frame/dtypes.hpp"

namespace corvane {

// A slicewise kernel: (array, axis, n) -> new array or null with an exception
// set. `axis` is valid for the array; `n` is the parsed `kth` or `n` (-1 when
// absent or unused). The array reference stays with the caller.
using slicewise_kernel = PyObject *(*)(PyArrayObject *a, int axis, int n);

// Which arguments follow `a`.
enum parse_mode : int {
    PARSE_KTH = 0,   // (a, kth, axis=-1), kth required
    PARSE_AXIS = 1,  // (a, axis=None)
    PARSE_N = 2,     // (a, n=None, axis=-1)
};

struct slicewise_function {
    const char *name;
    slicewise_kernel kernels[4];  // dtype_index order: float64, float32, int64, int32
    parse_mode mode;
};

// Parses the arguments, converts `a` (flattening it for axis=None), and calls
// the kernel for its element type; other types go to corvane.slow. Returns a
// new reference or null with an exception set.
PyObject *slicewise_entry(const slicewise_function &f, PyObject *args, PyObject *kwds);

// The method the module table lists for a slicewise function.
template <const slicewise_function &F>
PyObject *slicewise_method(PyObject *, PyObject *args, PyObject *kwds) {
    return slicewise_entry(F, args, kwds);
}

}  // namespace corvane
