// The slicewise module: its method table and PyInit_slicewise.
#include "frame/keywords.hpp"
#include "frame/module_init.hpp"
#include "slicewise/docstrings.hpp"
#include "slicewise/entry.hpp"
#include "slicewise/push.hpp"
#include "slicewise/ranking.hpp"
#include "slicewise/select.hpp"

PyObject *pystr_a = nullptr;
PyObject *pystr_n = nullptr;
PyObject *pystr_kth = nullptr;
PyObject *pystr_axis = nullptr;

namespace corvane {
namespace {

constexpr slicewise_function fn_partition{
    "partition", CORVANE_FOUR(partition_axis), PARSE_KTH};
constexpr slicewise_function fn_argpartition{
    "argpartition", CORVANE_FOUR(argpartition_axis), PARSE_KTH};
constexpr slicewise_function fn_rankdata{"rankdata", CORVANE_FOUR(rankdata_axis), PARSE_AXIS};
constexpr slicewise_function fn_nanrankdata{
    "nanrankdata", CORVANE_FOUR(nanrankdata_axis), PARSE_AXIS};
constexpr slicewise_function fn_push{"push", CORVANE_FOUR(push_axis), PARSE_N};
constexpr slicewise_function fn_bfill{"bfill", CORVANE_FOUR(bfill_axis), PARSE_N};

#define METHOD(f) \
    {#f, CORVANE_KW_METHOD(slicewise_method<fn_##f>), METH_VARARGS | METH_KEYWORDS, doc::f}

PyMethodDef methods[] = {
    METHOD(partition),   METHOD(argpartition), METHOD(rankdata),
    METHOD(nanrankdata), METHOD(push),         METHOD(bfill),
    {nullptr, nullptr, 0, nullptr},
};
#undef METHOD

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "slicewise", doc::module, -1, methods,
    nullptr, nullptr, nullptr, nullptr,
};

const keyword_slot keywords[] = {
    {&pystr_a, "a"},
    {&pystr_n, "n"},
    {&pystr_kth, "kth"},
    {&pystr_axis, "axis"},
};

}  // namespace
}  // namespace corvane

CORVANE_EXPORT PyObject *PyInit_slicewise(void) {
    return corvane::module_init(&corvane::module_def, corvane::keywords, 4);
}
