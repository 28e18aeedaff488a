// The move module: its method table and PyInit_move.
#include "frame/keywords.hpp"
#include "frame/module_init.hpp"
#include "move/docstrings.hpp"
#include "move/entry.hpp"
#include "move/extremes.hpp"
#include "move/median.hpp"
#include "move/param_docstrings.hpp"
#include "move/param_entry.hpp"
#include "move/rank.hpp"
#include "move/sums.hpp"
#include "move/variance.hpp"

PyObject *pystr_a = nullptr;
PyObject *pystr_window = nullptr;
PyObject *pystr_min_count = nullptr;
PyObject *pystr_axis = nullptr;
PyObject *pystr_ddof = nullptr;
PyObject *pystr_q = nullptr;
PyObject *pystr_alpha = nullptr;
PyObject *pystr_min_weight = nullptr;

namespace corvane {
namespace {

constexpr move_function fn_move_sum{"move_sum", MOVE_KERNELS(move_sum), false};
constexpr move_function fn_move_mean{"move_mean", MOVE_KERNELS(move_mean), false};
constexpr move_function fn_move_std{"move_std", MOVE_KERNELS(move_std), true};
constexpr move_function fn_move_var{"move_var", MOVE_KERNELS(move_var), true};
constexpr move_function fn_move_min{"move_min", MOVE_KERNELS(move_min), false};
constexpr move_function fn_move_max{"move_max", MOVE_KERNELS(move_max), false};
constexpr move_function fn_move_argmin{"move_argmin", MOVE_KERNELS(move_argmin), false};
constexpr move_function fn_move_argmax{"move_argmax", MOVE_KERNELS(move_argmax), false};
constexpr move_function fn_move_median{"move_median", MOVE_KERNELS(move_median), false};
constexpr move_function fn_move_rank{"move_rank", MOVE_KERNELS(move_rank), false};
constexpr exp_function fn_move_exp_nanmean{"move_exp_nanmean", MOVE_KERNELS(move_exp_nanmean)};
constexpr exp_function fn_move_exp_nansum{"move_exp_nansum", MOVE_KERNELS(move_exp_nansum)};
constexpr exp_function fn_move_exp_nanvar{"move_exp_nanvar", MOVE_KERNELS(move_exp_nanvar)};
constexpr exp_function fn_move_exp_nanstd{"move_exp_nanstd", MOVE_KERNELS(move_exp_nanstd)};
constexpr exp_function fn_move_exp_nancount{"move_exp_nancount",
                                            MOVE_KERNELS(move_exp_nancount)};

#define METHOD(f) \
    {#f, CORVANE_KW_METHOD(move_method<fn_##f>), METH_VARARGS | METH_KEYWORDS, doc::f}

#define EXP_METHOD(f) \
    {#f, CORVANE_KW_METHOD(exp_method<fn_##f>), METH_VARARGS | METH_KEYWORDS, doc::f}

PyMethodDef methods[] = {
    METHOD(move_sum),    METHOD(move_mean),   METHOD(move_std),    METHOD(move_var),
    METHOD(move_min),    METHOD(move_max),    METHOD(move_argmin), METHOD(move_argmax),
    METHOD(move_median), METHOD(move_rank),
    {"move_quantile", CORVANE_KW_METHOD(move_quantile_method), METH_VARARGS | METH_KEYWORDS,
     doc::move_quantile},
    EXP_METHOD(move_exp_nanmean), EXP_METHOD(move_exp_nansum), EXP_METHOD(move_exp_nanvar),
    EXP_METHOD(move_exp_nanstd), EXP_METHOD(move_exp_nancount),
    {nullptr, nullptr, 0, nullptr},
};
#undef METHOD
#undef EXP_METHOD

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "move", doc::module, -1, methods,
    nullptr, nullptr, nullptr, nullptr,
};

const keyword_slot keywords[] = {
    {&pystr_a, "a"},
    {&pystr_window, "window"},
    {&pystr_min_count, "min_count"},
    {&pystr_axis, "axis"},
    {&pystr_ddof, "ddof"},
    {&pystr_q, "q"},
    {&pystr_alpha, "alpha"},
    {&pystr_min_weight, "min_weight"},
};

}  // namespace
}  // namespace corvane

CORVANE_EXPORT PyObject *PyInit_move(void) {
    return corvane::module_init(&corvane::module_def, corvane::keywords, 8);
}
