#define CORVANE_DEFINE_ARRAY_API
#include "frame/module_init.hpp"

namespace corvane {

PyObject *module_init(PyModuleDef *def, const keyword_slot *keywords, int count) {
    PyObject *module = PyModule_Create2(def, PYTHON_API_VERSION);
    if (module == nullptr) {
        return nullptr;
    }
    // NumPy's own import: tries numpy._core then numpy.core, prints the
    // underlying error and raises ImportError on failure.
    import_array1((Py_DECREF(module), nullptr));

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
