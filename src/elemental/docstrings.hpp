// Docstrings of the elemental module, numpydoc layout; the first line of each
// is the signature line Python's help() shows.
#pragma once

#include "frame/numpy_api.hpp"

namespace corvane::doc {

inline constexpr const char module[] = "Corvane nonreducing functions.";

inline constexpr const char replace[] =
    CORVANE_SIGNATURE("replace(a, old, new)")
    "Replace (inplace) given scalar values of an array with new values.\n\n"
    "Similar to ``a[a == old] = new`` but faster. When `old` is NaN, every NaN\n"
    "element of `a` becomes `new`.\n\n"
    "On a float32 array `old` and `new` are first rounded to float32. On an\n"
    "int64 or int32 array both must be whole numbers within the range of the\n"
    "array's type (integers are compared and stored exactly, at any size);\n"
    "otherwise ValueError is raised and `a` is left unchanged. An `old` of\n"
    "NaN changes nothing in an integer array. In an object array of numbers\n"
    "the objects themselves are compared and replaced, None and any element\n"
    "unequal to itself counting as NaN; in a datetime64 or timedelta64 array\n"
    "an `old` of NaN stands for NaT. A masked array with a masked element is\n"
    "refused (TypeError).\n\n"
    "Parameters\n----------\n"
    "a : numpy.ndarray\n"
    "    The input array, which is also the output array. It must be an\n"
    "    ndarray (no conversion is attempted) and writeable.\n"
    "old : scalar\n"
    "    All elements in `a` with this value will be replaced by `new`.\n"
    "new : scalar\n"
    "    All elements in `a` with a value of `old` will be replaced by `new`.\n"
    "\nReturns\n-------\n"
    "a : numpy.ndarray\n"
    "    The input array itself, modified in place.\n\n"
    "Examples\n--------\n"
    "Replace zero with 3 (note that the input array is modified):\n\n"
    ">>> a = np.array([1, 2, 0])\n"
    ">>> cr.replace(a, 0, 3)\n"
    "array([1, 2, 3])\n"
    ">>> a\n"
    "array([1, 2, 3])\n\n"
    "Replace np.nan with 0:\n\n"
    ">>> a = np.array([1, 2, np.nan])\n"
    ">>> cr.replace(a, np.nan, 0)\n"
    "array([1., 2., 0.])\n";

}  // namespace corvane::doc
