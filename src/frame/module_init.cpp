#define CORVANE_DEFINE_ARRAY_API
#include "frame/module_init.hpp"

#include "frame/args.hpp"

namespace corvane {

PyObject *axis_error_type = nullptr;

namespace {

// A new reference to NumPy's AxisError, or null with ImportError set.
PyObject *find_axis_error() {
    static const char *const places[] = {"numpy.exceptions", "numpy"};
    for (const char *where : places) {
        py_ref module = py_ref::steal(PyImport_ImportModule(where));
        if (module) {
            PyObject *type = PyObject_GetAttrString(module.get(), "AxisError");
            if (type != nullptr) {
                return type;
            }
        }
        PyErr_Clear();
    }
    PyErr_SetString(PyExc_ImportError, "cannot find NumPy's AxisError");
    return nullptr;
}

}  // namespace

PyObject *module_init(PyModuleDef *def, const keyword_slot *keywords, int count) {
    PyObject *module = PyModule_Create2(def, PYTHON_API_VERSION);
    if (module == nullptr) {
        return nullptr;
    }
    // NumPy's own import: tries numpy._core then numpy.core, prints the
    // underlying error and raises ImportError on failure.
    import_array1((Py_DECREF(module), nullptr));
    if (axis_error_type == nullptr) {
        axis_error_type = find_axis_error();
        if (axis_error_type == nullptr) {
            Py_DECREF(module);
            return nullptr;
        }
    }

    bool ok = true;
    for (int i = 0; i < count; i++) {
        // Every string is attempted even after a failure.
        *keywords[i].slot = PyUnicode_InternFromString(keywords[i].text);
        ok = ok && *keywords[i].slot != nullptr;
    }
    if (!ok) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

}  // namespace corvane
