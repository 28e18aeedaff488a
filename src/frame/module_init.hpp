// The initialisation every module runs from its PyInit_ entry point.
#pragma once

#include "frame/numpy_api.hpp"

namespace corvane {

// One interned keyword string: where it is stored and its text.
struct keyword_slot {
    PyObject **slot;
    const char *text;
};

// Creates the module from its definition, binds NumPy's C API and interns the
// module's keyword strings. Returns a new reference or null with an exception.
PyObject *module_init(PyModuleDef *def, const keyword_slot *keywords, int count);

}  // namespace corvane
