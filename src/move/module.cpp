// The move module: its method table and PyInit_move.
#include "frame/keywords.hpp"
#include "frame/module_init.hpp"
#include "frame/slow_method.hpp"

PyObject *pystr_a = nullptr;
PyObject *pystr_window = nullptr;
PyObject *pystr_min_count = nullptr;
PyObject *pystr_axis = nullptr;
PyObject *pystr_ddof = nullptr;

namespace corvane {
namespace {

#define MOVE_FUNCTION(f, sig, summary)                                                         \
    constexpr char name_##f[] = #f;                                                            \
    constexpr char doc_##f[] = CORVANE_SIGNATURE(sig) summary "\n";
MOVE_FUNCTION(move_sum, "move_sum(a, window, min_count=None, axis=-1)",
              "Moving window sum along the specified axis, optionally ignoring NaNs.")
MOVE_FUNCTION(move_mean, "move_mean(a, window, min_count=None, axis=-1)",
              "Moving window mean along the specified axis, optionally ignoring NaNs.")
MOVE_FUNCTION(move_std, "move_std(a, window, min_count=None, axis=-1, ddof=0)",
              "Moving window standard deviation along the specified axis, optionally\n"
              "ignoring NaNs.")
MOVE_FUNCTION(move_var, "move_var(a, window, min_count=None, axis=-1, ddof=0)",
              "Moving window variance along the specified axis, optionally ignoring NaNs.")
MOVE_FUNCTION(move_min, "move_min(a, window, min_count=None, axis=-1)",
              "Moving window minimum along the specified axis, optionally ignoring NaNs.")
MOVE_FUNCTION(move_max, "move_max(a, window, min_count=None, axis=-1)",
              "Moving window maximum along the specified axis, optionally ignoring NaNs.")
MOVE_FUNCTION(move_argmin, "move_argmin(a, window, min_count=None, axis=-1)",
              "Moving window index of minimum along the specified axis, optionally\n"
              "ignoring NaNs.")
MOVE_FUNCTION(move_argmax, "move_argmax(a, window, min_count=None, axis=-1)",
              "Moving window index of maximum along the specified axis, optionally\n"
              "ignoring NaNs.")
MOVE_FUNCTION(move_median, "move_median(a, window, min_count=None, axis=-1)",
              "Moving window median along the specified axis, optionally ignoring NaNs.")
MOVE_FUNCTION(move_rank, "move_rank(a, window, min_count=None, axis=-1)",
              "Moving window ranking along the specified axis, optionally ignoring NaNs.")
#undef MOVE_FUNCTION

#define METHOD(f) \
    {#f, CORVANE_KW_METHOD(slow_method<name_##f>), METH_VARARGS | METH_KEYWORDS, doc_##f}

PyMethodDef methods[] = {
    METHOD(move_sum),    METHOD(move_mean),   METHOD(move_std),    METHOD(move_var),
    METHOD(move_min),    METHOD(move_max),    METHOD(move_argmin), METHOD(move_argmax),
    METHOD(move_median), METHOD(move_rank),   {nullptr, nullptr, 0, nullptr},
};
#undef METHOD

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "move", "Corvane moving window functions.", -1, methods,
    nullptr, nullptr, nullptr, nullptr,
};

const keyword_slot keywords[] = {
    {&pystr_a, "a"},
    {&pystr_window, "window"},
    {&pystr_min_count, "min_count"},
    {&pystr_axis, "axis"},
    {&pystr_ddof, "ddof"},
};

}  // namespace
}  // namespace corvane

CORVANE_EXPORT PyObject *PyInit_move(void) {
    return corvane::module_init(&corvane::module_def, corvane::keywords, 5);
}
