// Docstrings of the move module, numpydoc layout; the first line of each is
// the signature line Python's help() shows.
#pragma once

#include "frame/numpy_api.hpp"

namespace corvane::doc {

inline constexpr const char module[] = "Corvane moving window functions.";

#define CORVANE_MOVE_PARAMS                                                                 \
    "Parameters\n"                                                                          \
    "----------\n"                                                                          \
    "a : ndarray\n"                                                                         \
    "    Input array. If `a` is not an array, a conversion is attempted.\n"                 \
    "window : int\n"                                                                        \
    "    The number of elements in the moving window.\n"                                    \
    "min_count: {int, None}, optional\n"                                                    \
    "    If the number of non-NaN values in a window is less than `min_count`,\n"           \
    "    then a value of NaN is assigned to the window. By default `min_count`\n"           \
    "    is None, which is equivalent to setting `min_count` equal to `window`.\n"          \
    "axis : int, optional\n"                                                                \
    "    The axis over which the window is moved. By default the last axis\n"               \
    "    (axis=-1) is used. An axis of None is not allowed.\n"

#define CORVANE_MOVE_DDOF                                                                   \
    "ddof : int, optional\n"                                                                \
    "    Means Delta Degrees of Freedom. The divisor used in calculations\n"                \
    "    is ``N - ddof``, where ``N`` represents the number of elements;\n"                 \
    "    where ``N - ddof <= 0`` the output is NaN. By default `ddof` is zero.\n"

#define CORVANE_MOVE_SUM_INF                                                                \
    "Infinities are counted rather than added to the running sum. While the\n"             \
    "window contains Inf, the output is that Inf (NaN when it contains both\n"              \
    "+Inf and -Inf); once the Inf has moved out of the window, the output is\n"             \
    "again that of the remaining values.\n\n"

#define CORVANE_MOVE_VAR_INF                                                                \
    "Infinities are kept out of the running mean and sum of squares. While\n"              \
    "the window contains Inf, the output is NaN; once the Inf has moved out\n"              \
    "of the window, the output is again that of the remaining values.\n\n"                  \
    "float32 input is computed in float64, and each output is rounded once\n"               \
    "to float32.\n\n"

#define CORVANE_EXAMPLE_INPUT ">>> a = np.array([1.0, 2.0, 3.0, np.nan, 5.0])\n"

inline constexpr const char move_sum[] =
    CORVANE_SIGNATURE("move_sum(a, window, min_count=None, axis=-1)")
    "Moving window sum along the specified axis, optionally ignoring NaNs.\n\n"
    CORVANE_MOVE_SUM_INF
    "float32 input is summed in float64, and each output is rounded once to\n"
    "float32: the result equals that of the float64 conversion, rounded.\n\n"
    CORVANE_MOVE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    The moving sum of the input array along the specified axis. The output\n"
    "    has the same shape as the input.\n\n"
    "Examples\n--------\n" CORVANE_EXAMPLE_INPUT
    ">>> cr.move_sum(a, window=2)\n"
    "array([nan,  3.,  5., nan, nan])\n"
    ">>> cr.move_sum(a, window=2, min_count=1)\n"
    "array([1., 3., 5., 3., 5.])\n";

inline constexpr const char move_mean[] =
    CORVANE_SIGNATURE("move_mean(a, window, min_count=None, axis=-1)")
    "Moving window mean along the specified axis, optionally ignoring NaNs.\n\n"
    CORVANE_MOVE_SUM_INF
    "float32 input is summed in float64, and each output is rounded once to\n"
    "float32: the result equals that of the float64 conversion, rounded.\n\n"
    CORVANE_MOVE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    The moving mean of the input array along the specified axis. The output\n"
    "    has the same shape as the input.\n\n"
    "Examples\n--------\n" CORVANE_EXAMPLE_INPUT
    ">>> cr.move_mean(a, window=2)\n"
    "array([nan, 1.5, 2.5, nan, nan])\n"
    ">>> cr.move_mean(a, window=2, min_count=1)\n"
    "array([1. , 1.5, 2.5, 3. , 5. ])\n";

inline constexpr const char move_std[] =
    CORVANE_SIGNATURE("move_std(a, window, min_count=None, axis=-1, ddof=0)")
    "Moving window standard deviation along the specified axis, optionally\n"
    "ignoring NaNs.\n\n" CORVANE_MOVE_VAR_INF
    "Unlike cr.nanstd, which uses a two-pass algorithm, move_nanstd uses a\n"
    "one-pass algorithm called Welford's method. The algorithm is slow but\n"
    "numerically stable for cases where the mean is large compared to the\n"
    "standard deviation.\n\n" CORVANE_MOVE_PARAMS CORVANE_MOVE_DDOF
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    The moving standard deviation of the input array along the specified\n"
    "    axis. The output has the same shape as the input.\n\n"
    "Examples\n--------\n" CORVANE_EXAMPLE_INPUT
    ">>> cr.move_std(a, window=2)\n"
    "array([nan, 0.5, 0.5, nan, nan])\n"
    ">>> cr.move_std(a, window=2, min_count=1)\n"
    "array([0. , 0.5, 0.5, 0. , 0. ])\n";

inline constexpr const char move_var[] =
    CORVANE_SIGNATURE("move_var(a, window, min_count=None, axis=-1, ddof=0)")
    "Moving window variance along the specified axis, optionally ignoring NaNs.\n\n"
    CORVANE_MOVE_VAR_INF
    "Unlike cr.nanvar, which uses a two-pass algorithm, move_nanvar uses a\n"
    "one-pass algorithm called Welford's method. The algorithm is slow but\n"
    "numerically stable for cases where the mean is large compared to the\n"
    "standard deviation.\n\n" CORVANE_MOVE_PARAMS CORVANE_MOVE_DDOF
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    The moving variance of the input array along the specified axis. The\n"
    "    output has the same shape as the input.\n\n"
    "Examples\n--------\n" CORVANE_EXAMPLE_INPUT
    ">>> cr.move_var(a, window=2)\n"
    "array([ nan, 0.25, 0.25,  nan,  nan])\n"
    ">>> cr.move_var(a, window=2, min_count=1)\n"
    "array([0.  , 0.25, 0.25, 0.  , 0.  ])\n";

inline constexpr const char move_min[] =
    CORVANE_SIGNATURE("move_min(a, window, min_count=None, axis=-1)")
    "Moving window minimum along the specified axis, optionally ignoring NaNs.\n\n"
    "float64 output is returned for all input data types.\n\n" CORVANE_MOVE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    The moving minimum along the specified axis. The dtype of the output is\n"
    "    always float64.\n\n"
    "Examples\n--------\n" CORVANE_EXAMPLE_INPUT
    ">>> cr.move_min(a, window=2)\n"
    "array([nan,  1.,  2., nan, nan])\n"
    ">>> cr.move_min(a, window=2, min_count=1)\n"
    "array([1., 1., 2., 3., 5.])\n";

inline constexpr const char move_max[] =
    CORVANE_SIGNATURE("move_max(a, window, min_count=None, axis=-1)")
    "Moving window maximum along the specified axis, optionally ignoring NaNs.\n\n"
    "float64 output is returned for all input data types.\n\n" CORVANE_MOVE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    The moving maximum along the specified axis. The dtype of the output is\n"
    "    always float64.\n\n"
    "Examples\n--------\n" CORVANE_EXAMPLE_INPUT
    ">>> cr.move_max(a, window=2)\n"
    "array([nan,  2.,  3., nan, nan])\n"
    ">>> cr.move_max(a, window=2, min_count=1)\n"
    "array([1., 2., 3., 3., 5.])\n";

#define CORVANE_MOVE_TIE                                                                    \
    "If there is a tie in input values within a window, then the rightmost\n"              \
    "index is returned.\n\n"

inline constexpr const char move_argmin[] =
    CORVANE_SIGNATURE("move_argmin(a, window, min_count=None, axis=-1)")
    "Moving window index of minimum along the specified axis, optionally\n"
    "ignoring NaNs.\n\n"
    "Index 0 is at the rightmost edge of the window. For example, if the array\n"
    "is monotonically decreasing (increasing) along the specified axis then\n"
    "the output array will contain zeros (window-1).\n\n" CORVANE_MOVE_TIE
    "float64 output is returned for all input data types.\n\n" CORVANE_MOVE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    The moving index of minimum values along the specified axis. The dtype\n"
    "    of the output is always float64.\n\n"
    "Examples\n--------\n"
    ">>> a = np.array([1.0, 2.0, 3.0, 4.0, 5.0])\n"
    ">>> cr.move_argmin(a, window=2)\n"
    "array([nan,  1.,  1.,  1.,  1.])\n"
    ">>> a = np.array([5.0, 4.0, 3.0, 2.0, 1.0])\n"
    ">>> cr.move_argmin(a, window=2)\n"
    "array([nan,  0.,  0.,  0.,  0.])\n";

inline constexpr const char move_argmax[] =
    CORVANE_SIGNATURE("move_argmax(a, window, min_count=None, axis=-1)")
    "Moving window index of maximum along the specified axis, optionally\n"
    "ignoring NaNs.\n\n"
    "Index 0 is at the rightmost edge of the window. For example, if the array\n"
    "is monotonically increasing (decreasing) along the specified axis then\n"
    "the output array will contain zeros (window-1).\n\n" CORVANE_MOVE_TIE
    "float64 output is returned for all input data types.\n\n" CORVANE_MOVE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    The moving index of maximum values along the specified axis. The dtype\n"
    "    of the output is always float64.\n\n"
    "Examples\n--------\n"
    ">>> a = np.array([1.0, 2.0, 3.0, 4.0, 5.0])\n"
    ">>> cr.move_argmax(a, window=2)\n"
    "array([nan,  0.,  0.,  0.,  0.])\n"
    ">>> a = np.array([5.0, 4.0, 3.0, 2.0, 1.0])\n"
    ">>> cr.move_argmax(a, window=2)\n"
    "array([nan,  1.,  1.,  1.,  1.])\n";

inline constexpr const char move_median[] =
    CORVANE_SIGNATURE("move_median(a, window, min_count=None, axis=-1)")
    "Moving window median along the specified axis, optionally ignoring NaNs.\n\n"
    CORVANE_MOVE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    The moving median of the input array along the specified axis. The\n"
    "    output has the same shape as the input.\n\n"
    "Examples\n--------\n"
    ">>> a = np.array([1.0, 2.0, 3.0, 4.0])\n"
    ">>> cr.move_median(a, window=2)\n"
    "array([nan, 1.5, 2.5, 3.5])\n"
    ">>> cr.move_median(a, window=2, min_count=1)\n"
    "array([1. , 1.5, 2.5, 3.5])\n";

inline constexpr const char move_rank[] =
    CORVANE_SIGNATURE("move_rank(a, window, min_count=None, axis=-1)")
    "Moving window ranking along the specified axis, optionally ignoring NaNs.\n\n"
    "The output is normalized to be between -1 and 1. For example, with a\n"
    "window width of 3 (and with no ties), the possible output values are\n"
    "-1, 0, 1.\n\n"
    "Ties are broken by averaging the rankings. See the examples below.\n\n"
    "The runtime depends almost linearly on `window`. The more NaNs there are\n"
    "in the input array, the shorter the runtime.\n\n" CORVANE_MOVE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    The moving rank of the input array along the specified axis, with\n"
    "    the input's shape. For integer input arrays, the dtype of the output\n"
    "    is float64.\n\n"
    "Examples\n--------\n"
    "With window=3 and no ties, there are 3 possible output values, i.e.\n"
    "[-1., 0., 1.]:\n\n"
    ">>> a = np.array([1, 2, 3, 9, 8, 7, 5, 6, 4])\n"
    ">>> cr.move_rank(a, window=3)\n"
    "array([nan, nan,  1.,  1.,  0., -1., -1.,  0., -1.])\n\n"
    "Ties are broken by averaging the rankings of the tied elements:\n\n"
    ">>> a = np.array([1, 2, 3, 3, 3, 4])\n"
    ">>> cr.move_rank(a, window=3)\n"
    "array([nan, nan, 1. , 0.5, 0. , 1. ])\n";

#undef CORVANE_MOVE_PARAMS
#undef CORVANE_MOVE_DDOF
#undef CORVANE_MOVE_SUM_INF
#undef CORVANE_MOVE_VAR_INF
#undef CORVANE_MOVE_TIE
#undef CORVANE_EXAMPLE_INPUT

}  // namespace corvane::doc
