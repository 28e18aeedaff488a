// The elemental module: its method table and PyInit_elemental.
#include "frame/keywords.hpp"
#include "frame/module_init.hpp"
#include "frame/slow_method.hpp"

PyObject *pystr_a = nullptr;
PyObject *pystr_old = nullptr;
PyObject *pystr_new = nullptr;

namespace corvane {
namespace {

constexpr char name_replace[] = "replace";
constexpr char doc_replace[] =
    CORVANE_SIGNATURE("replace(a, old, new)")
    "Replace (inplace) given scalar values of an array with new values.\n";

PyMethodDef methods[] = {
    {"replace", CORVANE_KW_METHOD(slow_method<name_replace>),
     METH_VARARGS | METH_KEYWORDS, doc_replace},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "elemental", "Corvane nonreducing functions.", -1, methods,
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
