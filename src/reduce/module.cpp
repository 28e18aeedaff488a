// The reduce module: its method table and PyInit_reduce.
#include "frame/keywords.hpp"
#include "frame/module_init.hpp"
#include "reduce/docstrings.hpp"
#include "reduce/entry.hpp"
#include "reduce/sums.hpp"

PyObject *pystr_a = nullptr;
PyObject *pystr_axis = nullptr;
PyObject *pystr_ddof = nullptr;

namespace corvane {
namespace {

// Reductions whose kernels are not native yet are answered by corvane.slow.
constexpr reduce_kernels slow_only{};

constexpr reduce_function fn_nansum{"nansum", REDUCE_KERNELS(nansum), false};
constexpr reduce_function fn_nanmean{"nanmean", REDUCE_KERNELS(nanmean), false};
constexpr reduce_function fn_nanstd{"nanstd", slow_only, true};
constexpr reduce_function fn_nanvar{"nanvar", slow_only, true};
constexpr reduce_function fn_nanmin{"nanmin", slow_only, false};
constexpr reduce_function fn_nanmax{"nanmax", slow_only, false};
constexpr reduce_function fn_nanargmin{"nanargmin", slow_only, false};
constexpr reduce_function fn_nanargmax{"nanargmax", slow_only, false};
constexpr reduce_function fn_ss{"ss", REDUCE_KERNELS(ss), false};
constexpr reduce_function fn_median{"median", slow_only, false};
constexpr reduce_function fn_nanmedian{"nanmedian", slow_only, false};
constexpr reduce_function fn_anynan{"anynan", slow_only, false};
constexpr reduce_function fn_allnan{"allnan", slow_only, false};

#define METHOD(f) \
    {#f, CORVANE_KW_METHOD(reduce_method<fn_##f>), METH_VARARGS | METH_KEYWORDS, doc::f}

PyMethodDef methods[] = {
    METHOD(nansum),    METHOD(nanmean),   METHOD(nanstd), METHOD(nanvar), METHOD(nanmin),
    METHOD(nanmax),    METHOD(nanargmin), METHOD(nanargmax), METHOD(ss),  METHOD(median),
    METHOD(nanmedian), METHOD(anynan),    METHOD(allnan), {nullptr, nullptr, 0, nullptr},
};
#undef METHOD

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "reduce", doc::module, -1, methods, nullptr, nullptr, nullptr, nullptr,
};

const keyword_slot keywords[] = {
    {&pystr_a, "a"},
    {&pystr_axis, "axis"},
    {&pystr_ddof, "ddof"},
};

}  // namespace
}  // namespace corvane

CORVANE_EXPORT PyObject *PyInit_reduce(void) {
    return corvane::module_init(&corvane::module_def, corvane::keywords, 3);
}
