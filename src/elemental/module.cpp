// The elemental module: its method table and PyInit_elemental.
#include "elemental/docstrings.hpp"
#include "elemental/entry.hpp"
#include "frame/keywords.hpp"
#include "frame/module_init.hpp"

PyObject *pystr_a = nullptr;
PyObject *pystr_old = nullptr;
PyObject *pystr_new = nullptr;

namespace corvane {
namespace {

PyMethodDef methods[] = {
    {"replace", CORVANE_KW_METHOD(replace_entry), METH_VARARGS | METH_KEYWORDS, doc::replace},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "elemental", doc::module, -1, methods,
    nullptr, nullptr, nullptr, nullptr,
};

const keyword_slot keywords[] = {
    {&pystr_a, "a"},
    {&pystr_old, "old"},
    {&pystr_new, "new"},
};

}  // namespace
}  // namespace corvane

CORVANE_EXPORT PyObject *PyInit_elemental(void) {
    return corvane::module_init(&corvane::module_def, corvane::keywords, 3);
}
