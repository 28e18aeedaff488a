// Docstrings of move_quantile and the exponentially weighted windows,
// numpydoc layout; the first line of each is the signature line.
#pragma once

#include "frame/numpy_api.hpp"

namespace corvane::doc {

inline constexpr const char move_quantile[] =
    CORVANE_SIGNATURE("move_quantile(a, window, q, min_count=None, axis=-1)")
    "Moving window quantile along the specified axis, ignoring NaNs.\n\n"
    "With n non-NaN values in the window and h = q * (n - 1), the result is\n"
    "their order statistic of rank h (counted from zero) when h is whole, and\n"
    "otherwise the linear interpolation between the order statistics of ranks\n"
    "floor(h) and floor(h) + 1, by pandas' formula: results equal those of\n"
    "``pandas.Series.rolling(window, min_periods=min_count).quantile(q)``.\n"
    "Between two infinities, or an infinity and a finite value, the result\n"
    "is the limit of the interpolation (the infinity; NaN between -Inf and\n"
    "+Inf). Each step costs O(log(window)). q = 0.5 gives the moving median.\n\n"
    "Parameters\n"
    "----------\n"
    "a : ndarray\n"
    "    Input array. If `a` is not an array, a conversion is attempted.\n"
    "window : int\n"
    "    The number of elements in the moving window.\n"
    "q : float\n"
    "    The quantile, in the range [0, 1].\n"
    "min_count: {int, None}, optional\n"
    "    If the number of non-NaN values in a window is less than `min_count`,\n"
    "    then a value of NaN is assigned to the window. By default `min_count`\n"
    "    is None, which is equivalent to setting `min_count` equal to `window`.\n"
    "axis : int, optional\n"
    "    The axis over which the window is moved. By default the last axis\n"
    "    (axis=-1) is used. An axis of None is not allowed.\n"
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    The moving quantile of the input array along the specified axis, with\n"
    "    the input's shape: float32 for float32 input (computed in float64),\n"
    "    float64 otherwise.\n\n"
    "Examples\n--------\n"
    ">>> a = np.array([1.0, 2.0, 3.0, np.nan, 5.0])\n"
    ">>> cr.move_quantile(a, window=3, q=0.25)\n"
    "array([nan, nan, 1.5, nan, nan])\n"
    ">>> cr.move_quantile(a, window=3, q=0.25, min_count=1)\n"
    "array([1.  , 1.25, 1.5 , 2.25, 3.5 ])\n";

#define CORVANE_EXP_NOTES(what)                                                             \
    "Exponentially weighted moving " what " along the specified axis, ignoring\n"           \
    "NaNs.\n\n"                                                                             \
    "The value at position t weighs (1 - alpha)**(t - i) for each non-NaN\n"                \
    "value at i <= t; the decay runs through NaN positions too. This is\n"                  \
    "pandas' ``ewm(alpha=alpha)`` with its defaults (``adjust=True``,\n"                    \
    "``ignore_na=False``). Where alpha times the decayed count of the non-NaN\n"            \
    "values seen so far is below `min_weight`, the output is NaN. With\n"                   \
    "alpha < 1 no weight reaches zero, so an infinity stays in every later\n"               \
    "result.\n\n"

#define CORVANE_EXP_PARAMS                                                                  \
    "Parameters\n"                                                                          \
    "----------\n"                                                                          \
    "a : ndarray\n"                                                                         \
    "    Input array. If `a` is not an array, a conversion is attempted.\n"                 \
    "alpha : float\n"                                                                       \
    "    The smoothing factor, in the range (0, 1].\n"                                      \
    "min_weight : float, optional\n"                                                        \
    "    The least decayed weight, alpha * sum((1 - alpha)**k), of the non-NaN\n"           \
    "    values for a result other than NaN. By default 0.\n"                               \
    "axis : int, optional\n"                                                                \
    "    The axis over which the window is moved. By default the last axis\n"               \
    "    (axis=-1) is used. An axis of None is not allowed.\n"                              \
    "\nReturns\n-------\n"                                                                  \
    "y : ndarray\n"                                                                         \
    "    The result, with the input's shape: float32 for float32 input\n"                   \
    "    (computed in float64), float64 otherwise.\n\n"                                     \
    "Examples\n--------\n"                                                                  \
    ">>> a = np.array([1.0, 2.0, np.nan, 4.0])\n"

inline constexpr const char move_exp_nanmean[] =
    CORVANE_SIGNATURE("move_exp_nanmean(a, alpha, min_weight=0, axis=-1)")
    CORVANE_EXP_NOTES("mean")
    "A NaN position repeats the mean before it.\n\n" CORVANE_EXP_PARAMS
    ">>> cr.move_exp_nanmean(a, alpha=0.5)\n"
    "array([1.        , 1.66666667, 1.66666667, 3.36363636])\n";

inline constexpr const char move_exp_nansum[] =
    CORVANE_SIGNATURE("move_exp_nansum(a, alpha, min_weight=0, axis=-1)")
    CORVANE_EXP_NOTES("sum")
    "The weights are not normalised: the sum of the weighted values. Before\n"
    "the first non-NaN value the output is NaN.\n\n" CORVANE_EXP_PARAMS
    ">>> cr.move_exp_nansum(a, alpha=0.5)\n"
    "array([1.   , 2.5  , 1.25 , 4.625])\n";

inline constexpr const char move_exp_nanvar[] =
    CORVANE_SIGNATURE("move_exp_nanvar(a, alpha, min_weight=0, axis=-1)")
    CORVANE_EXP_NOTES("variance")
    "The weighted variance is bias-corrected as pandas corrects it, and is\n"
    "updated by the weighted form of Welford's method, never from a\n"
    "difference of sums. Fewer than two non-NaN values give NaN, and so does\n"
    "alpha = 1.\n\n" CORVANE_EXP_PARAMS
    ">>> cr.move_exp_nanvar(a, alpha=0.5)\n"
    "array([       nan, 0.5       , 0.5       , 2.65384615])\n";

inline constexpr const char move_exp_nanstd[] =
    CORVANE_SIGNATURE("move_exp_nanstd(a, alpha, min_weight=0, axis=-1)")
    CORVANE_EXP_NOTES("standard deviation")
    "The square root of move_exp_nanvar.\n\n" CORVANE_EXP_PARAMS
    ">>> cr.move_exp_nanstd(a, alpha=0.5)\n"
    "array([       nan, 0.70710678, 0.70710678, 1.62906297])\n";

inline constexpr const char move_exp_nancount[] =
    CORVANE_SIGNATURE("move_exp_nancount(a, alpha, min_weight=0, axis=-1)")
    CORVANE_EXP_NOTES("count of the non-NaN values")
    "The decayed count, sum((1 - alpha)**(t - i)) over the non-NaN values.\n\n"
    CORVANE_EXP_PARAMS
    ">>> cr.move_exp_nancount(a, alpha=0.5)\n"
    "array([1.   , 1.5  , 0.75 , 1.375])\n";

#undef CORVANE_EXP_NOTES
#undef CORVANE_EXP_PARAMS

}  // namespace corvane::doc
