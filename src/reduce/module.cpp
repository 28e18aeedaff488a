// The reduce module: its method table and PyInit_reduce.
#include "frame/keywords.hpp"
#include "frame/module_init.hpp"
#include "reduce/docstrings.hpp"
#include "reduce/entry.hpp"
#include "reduce/arg_extremes.hpp"
#include "reduce/extremes.hpp"
#include "reduce/median.hpp"
#include "reduce/nan_tests.hpp"
#include "reduce/quantile_entry.hpp"
#include "reduce/sums.hpp"
#include "reduce/variance.hpp"

PyObject *pystr_a = nullptr;
PyObject *pystr_axis = nullptr;
PyObject *pystr_ddof = nullptr;
PyObject *pystr_q = nullptr;

namespace corvane {
namespace {

constexpr reduce_function fn_nansum{"nansum", REDUCE_KERNELS(nansum), false};
constexpr reduce_function fn_nanmean{"nanmean", REDUCE_KERNELS(nanmean), false};
constexpr reduce_function fn_nanstd{"nanstd", REDUCE_KERNELS(nanstd), true};
constexpr reduce_function fn_nanvar{"nanvar", REDUCE_KERNELS(nanvar), true};
constexpr reduce_function fn_nanmin{"nanmin", REDUCE_KERNELS(nanmin), false};
constexpr reduce_function fn_nanmax{"nanmax", REDUCE_KERNELS(nanmax), false};
constexpr reduce_function fn_nanargmin{"nanargmin", REDUCE_KERNELS(nanargmin), false};
constexpr reduce_function fn_nanargmax{"nanargmax", REDUCE_KERNELS(nanargmax), false};
constexpr reduce_function fn_ss{"ss", REDUCE_KERNELS(ss), false};
constexpr reduce_function fn_median{"median", REDUCE_KERNELS(median), false};
constexpr reduce_function fn_nanmedian{"nanmedian", REDUCE_KERNELS(nanmedian), false};
constexpr reduce_function fn_anynan{"anynan", REDUCE_KERNELS(anynan), false};
constexpr reduce_function fn_allnan{"allnan", REDUCE_KERNELS(allnan), false};
constexpr quantile_function fn_quantile{
    "quantile", CORVANE_FOUR(quantile_whole), CORVANE_FOUR(quantile_axis)};
constexpr quantile_function fn_nanquantile{
    "nanquantile", CORVANE_FOUR(nanquantile_whole), CORVANE_FOUR(nanquantile_axis)};

#define METHOD(f) \
    {#f, CORVANE_KW_METHOD(reduce_method<fn_##f>), METH_VARARGS | METH_KEYWORDS, doc::f}

PyMethodDef methods[] = {
    METHOD(nansum),    METHOD(nanmean),   METHOD(nanstd), METHOD(nanvar), METHOD(nanmin),
    METHOD(nanmax),    METHOD(nanargmin), METHOD(nanargmax), METHOD(ss),  METHOD(median),
    METHOD(nanmedian), METHOD(anynan),    METHOD(allnan),
    {"quantile", CORVANE_KW_METHOD(quantile_method<fn_quantile>), METH_VARARGS | METH_KEYWORDS,
     doc::quantile},
    {"nanquantile", CORVANE_KW_METHOD(quantile_method<fn_nanquantile>),
     METH_VARARGS | METH_KEYWORDS, doc::nanquantile},
    {nullptr, nullptr, 0, nullptr},
};
#undef METHOD

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "reduce", doc::module, -1, methods, nullptr, nullptr, nullptr, nullptr,
};

const keyword_slot keywords[] = {
    {&pystr_a, "a"},
    {&pystr_axis, "axis"},
    {&pystr_ddof, "ddof"},
    {&pystr_q, "q"},
};

}  // namespace
}  // namespace corvane

CORVANE_EXPORT PyObject *PyInit_reduce(void) {
    return corvane::module_init(&corvane::module_def, corvane::keywords, 4);
}
