// A method that answers every call from corvane.slow: the stand-in for a
// function whose native entry is not built yet.
#pragma once

#include "frame/fallback.hpp"

namespace corvane {

template <const char *Name>
PyObject *slow_method(PyObject *, PyObject *args, PyObject *kwds) {
    return slow_fallback(Name, args, kwds);
}

}  // namespace corvane
