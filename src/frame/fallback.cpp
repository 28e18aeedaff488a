#include "frame/fallback.hpp"

#include "frame/py_ref.hpp"

namespace corvane {

// Imported at the first fallback and kept for the life of the process.
static PyObject *slow_module = nullptr;

PyObject *slow_fallback(const char *name, PyObject *args, PyObject *kwds) {
    if (slow_module == nullptr) {
        slow_module = PyImport_ImportModule("corvane.slow");
        if (slow_module == nullptr) {
            PyErr_SetString(PyExc_RuntimeError, "Cannot import corvane.slow");
            return nullptr;
        }
    }
    py_ref func = py_ref::steal(PyObject_GetAttrString(slow_module, name));
    if (!func) {
        PyErr_Format(PyExc_RuntimeError, "Cannot import %s from corvane.slow", name);
        return nullptr;
    }
    if (!PyCallable_Check(func.get())) {
        PyErr_Format(PyExc_RuntimeError, "corvane.slow.%s is not callable", name);
        return nullptr;
    }
    return PyObject_Call(func.get(), args, kwds);
}

}  // namespace corvane
