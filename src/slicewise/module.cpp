// The slicewise module: its method table and PyInit_slicewise.
#include "frame/keywords.hpp"
#include "frame/module_init.hpp"
#include "frame/slow_method.hpp"

PyObject *pystr_a = nullptr;
PyObject *pystr_n = nullptr;
PyObject *pystr_kth = nullptr;
PyObject *pystr_axis = nullptr;

namespace corvane {
namespace {

#define SLICEWISE_FUNCTION(f, sig, summary)                                                    \
    constexpr char name_##f[] = #f;                                                            \
    constexpr char doc_##f[] = CORVANE_SIGNATURE(sig) summary "\n";
SLICEWISE_FUNCTION(partition, "partition(a, kth, axis=-1)",
                   "Partition array elements along given axis.")
SLICEWISE_FUNCTION(argpartition, "argpartition(a, kth, axis=-1)",
                   "Return indices that would partition array along the given axis.")
SLICEWISE_FUNCTION(rankdata, "rankdata(a, axis=None)",
                   "Ranks the data, dealing with ties appropriately.")
SLICEWISE_FUNCTION(nanrankdata, "nanrankdata(a, axis=None)",
                   "Ranks the data, dealing with ties and NaNs appropriately.")
SLICEWISE_FUNCTION(push, "push(a, n=None, axis=-1)",
                   "Fill missing values (NaNs) with most recent non-missing values.")
#undef SLICEWISE_FUNCTION

#define METHOD(f) \
    {#f, CORVANE_KW_METHOD(slow_method<name_##f>), METH_VARARGS | METH_KEYWORDS, doc_##f}

PyMethodDef methods[] = {
    METHOD(partition),   METHOD(argpartition), METHOD(rankdata),
    METHOD(nanrankdata), METHOD(push),         {nullptr, nullptr, 0, nullptr},
};
#undef METHOD

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "slicewise",
    "Corvane non-reducing functions that operate along an axis.", -1, methods,
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
