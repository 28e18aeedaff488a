// corvane._probes: measurements of the machine for the benchmark's limits
// mode, kept out of the public modules.
//
// add_chain(a) adds the float64 elements of a C-contiguous buffer one after
// the other into one running sum and returns it. Without -ffast-math the
// compiler may neither reorder nor vectorise that sum, so every addition
// waits for the one before: the loop runs at the latency of one addition per
// element, the bound of any sequential float accumulation.
#include "frame/gil.hpp"
#include "frame/module_init.hpp"

namespace corvane {
namespace {

PyObject *add_chain(PyObject *, PyObject *arg) {
    Py_buffer view;
    if (PyObject_GetBuffer(arg, &view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) {
        return nullptr;
    }
    if (view.itemsize != 8 || view.format == nullptr ||
        !(view.format[0] == 'd' || (view.format[0] == '<' && view.format[1] == 'd') ||
          (view.format[0] == '=' && view.format[1] == 'd'))) {
        PyBuffer_Release(&view);
        PyErr_SetString(PyExc_TypeError, "add_chain needs a contiguous float64 buffer");
        return nullptr;
    }
    const double *x = static_cast<const double *>(view.buf);
    const Py_ssize_t n = view.len / 8;
    double s = 0.0;
    {
        gil_released nogil;
        for (Py_ssize_t i = 0; i < n; i++) {
            s += x[i];
        }
    }
    PyBuffer_Release(&view);
    return PyFloat_FromDouble(s);
}

PyMethodDef methods[] = {
    {"add_chain", add_chain, METH_O,
     "add_chain(a, /)\n--\n\nThe float64 elements of `a` added in order into one sum."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_probes", "Machine probes for the benchmark's limits mode.", -1,
    methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace corvane

CORVANE_EXPORT PyObject *PyInit__probes(void) {
    return corvane::module_init(&corvane::module_def, nullptr, 0);
}
