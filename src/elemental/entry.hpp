// replace_entry: the argument handling of replace.
#pragma once

#include "frame/numpy_api.hpp"

namespace corvane {

// replace(a, old, new): checks the arguments, then replaces in `a` itself
// through the kernel of its element type (other types go to corvane.slow).
// Returns a new reference to `a` (or the fallback's result), or null with an
// exception set; on every failure `a` is left as it was.
PyObject *replace_entry(PyObject *self, PyObject *args, PyObject *kwds);

}  // namespace corvane
