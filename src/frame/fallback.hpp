// Hands a call the native kernels do not cover to corvane.slow.
#pragma once

#include "frame/numpy_api.hpp"

namespace corvane {

// Calls corvane.slow.<name>(*args, **kwds) with the caller's own tuple and
// dictionary (kwds may be null). Returns a new reference or null.
PyObject *slow_fallback(const char *name, PyObject *args, PyObject *kwds);

}  // namespace corvane
