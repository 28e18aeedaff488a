// Docstrings of the reduce module, numpydoc layout; the first line of each is
// the signature line Python's help() shows.
#pragma once

#include "frame/numpy_api.hpp"

namespace corvane::doc {

inline constexpr const char module[] =
    "Corvane functions that reduce the input array along a specified axis.";

#define CORVANE_REDUCE_PARAMS                                                              \
    "Parameters\n"                                                                         \
    "----------\n"                                                                         \
    "a : array_like\n"                                                                     \
    "    Input array. If `a` is not an array, a conversion is attempted.\n"                \
    "axis : {int, None}, optional\n"                                                       \
    "    Axis along which the reduction is computed. The default (axis=None)\n"            \
    "    reduces the flattened array.\n"

#define CORVANE_DDOF_PARAM                                                                 \
    "ddof : int, optional\n"                                                               \
    "    Means Delta Degrees of Freedom. The divisor used in calculations\n"               \
    "    is ``N - ddof``, where ``N`` represents the number of non-NaN\n"                  \
    "    elements. By default `ddof` is zero.\n"

inline constexpr const char nansum[] =
    CORVANE_SIGNATURE("nansum(a, axis=None)")
    "Sum of array elements along given axis treating NaNs as zero.\n\n"
    "The sum runs element after element in memory order, so results are\n"
    "reproducible bit for bit. Float sums run in float64: float32 input is\n"
    "summed in float64 and the result rounded once to float32. Integer sums\n"
    "wrap around on overflow, as NumPy's do.\n\n" CORVANE_REDUCE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray or scalar\n"
    "    The sum, with the input's dtype; a Python scalar when axis is None\n"
    "    or `a` is one-dimensional.\n\n"
    "Examples\n--------\n"
    ">>> cr.nansum([1, np.nan])\n1.0\n"
    ">>> cr.nansum([[1, 1], [1, np.nan]], axis=0)\n"
    "array([2., 1.])\n";

inline constexpr const char nanmean[] =
    CORVANE_SIGNATURE("nanmean(a, axis=None)")
    "Mean of array elements along given axis ignoring NaNs.\n\n"
    "`float64` intermediate and return values are used for integer inputs;\n"
    "float32 inputs are averaged in float64 and the result rounded once to\n"
    "float32. NaN is returned for a slice with no non-NaN element.\n\n" CORVANE_REDUCE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray or float\n"
    "    The mean of the non-NaN elements.\n\n"
    "Examples\n--------\n"
    ">>> cr.nanmean([[1, 4], [1, np.nan]])\n2.0\n"
    ">>> cr.nanmean([[1, 4], [1, np.nan]], axis=0)\n"
    "array([1., 4.])\n";

inline constexpr const char nanstd[] =
    CORVANE_SIGNATURE("nanstd(a, axis=None, ddof=0)")
    "Standard deviation along the specified axis, ignoring NaNs.\n\n"
    "`float64` intermediate and return values are used for integer inputs;\n"
    "float32 inputs are computed in float64 and the result rounded once to\n"
    "float32. Computed in two passes (mean, then squared deviations).\n\n" CORVANE_REDUCE_PARAMS
        CORVANE_DDOF_PARAM
    "\nReturns\n-------\n"
    "y : ndarray or float\n"
    "    The standard deviation; NaN where fewer than ``ddof + 1`` non-NaN\n"
    "    elements remain.\n\n"
    "Examples\n--------\n"
    ">>> cr.nanstd([1, np.nan, 3])\n1.0\n";

inline constexpr const char nanvar[] =
    CORVANE_SIGNATURE("nanvar(a, axis=None, ddof=0)")
    "Variance along the specified axis, ignoring NaNs.\n\n"
    "`float64` intermediate and return values are used for integer inputs;\n"
    "float32 inputs are computed in float64 and the result rounded once to\n"
    "float32. Computed in two passes (mean, then squared deviations).\n\n" CORVANE_REDUCE_PARAMS
        CORVANE_DDOF_PARAM
    "\nReturns\n-------\n"
    "y : ndarray or float\n"
    "    The variance; NaN where fewer than ``ddof + 1`` non-NaN elements\n"
    "    remain.\n\n"
    "Examples\n--------\n"
    ">>> cr.nanvar([1, np.nan, 3])\n1.0\n";

inline constexpr const char nanmin[] =
    CORVANE_SIGNATURE("nanmin(a, axis=None)")
    "Minimum values along specified axis, ignoring NaNs.\n\n"
    "When all-NaN slices are encountered, NaN is returned for that slice.\n"
    "Of equal values the one met last is returned (of +0.0 and -0.0, the\n"
    "later one).\n\n"
        CORVANE_REDUCE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray or scalar\n"
    "    The minimum, with the input's dtype.\n\n"
    "Raises\n------\n"
    "ValueError\n    If the input, or the axis reduced over, is empty.\n\n"
    "Examples\n--------\n"
    ">>> cr.nanmin([1, np.nan, -2])\n-2.0\n";

inline constexpr const char nanmax[] =
    CORVANE_SIGNATURE("nanmax(a, axis=None)")
    "Maximum values along specified axis, ignoring NaNs.\n\n"
    "When all-NaN slices are encountered, NaN is returned for that slice.\n"
    "Of equal values the one met last is returned (of +0.0 and -0.0, the\n"
    "later one).\n\n"
        CORVANE_REDUCE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray or scalar\n"
    "    The maximum, with the input's dtype.\n\n"
    "Raises\n------\n"
    "ValueError\n    If the input, or the axis reduced over, is empty.\n\n"
    "Examples\n--------\n"
    ">>> cr.nanmax([1, np.nan, -2])\n1.0\n";

inline constexpr const char nanargmin[] =
    CORVANE_SIGNATURE("nanargmin(a, axis=None)")
    "Indices of the minimum values along an axis, ignoring NaNs.\n\n"
    "The first occurrence of the minimum wins. With axis=None the index is a\n"
    "position in the flattened (C order) array, whatever its layout. Unlike\n"
    "NumPy's, the result can be trusted for a slice of NaNs and infinities:\n"
    "it is the position of the first +inf, never that of a NaN.\n\n" CORVANE_REDUCE_PARAMS
    "\nReturns\n-------\n"
    "index_array : ndarray or int\n"
    "    Positions of the minima (int64).\n\n"
    "Raises\n------\n"
    "ValueError\n    For an all-NaN slice (\"All-NaN slice encountered\"), or an\n"
    "    empty input or axis.\n\n"
    "Examples\n--------\n"
    ">>> cr.nanargmin([np.nan, 3, 1, 1])\n2\n";

inline constexpr const char nanargmax[] =
    CORVANE_SIGNATURE("nanargmax(a, axis=None)")
    "Indices of the maximum values along an axis, ignoring NaNs.\n\n"
    "The first occurrence of the maximum wins. With axis=None the index is a\n"
    "position in the flattened (C order) array, whatever its layout. Unlike\n"
    "NumPy's, the result can be trusted for a slice of NaNs and infinities:\n"
    "it is the position of the first -inf, never that of a NaN.\n\n" CORVANE_REDUCE_PARAMS
    "\nReturns\n-------\n"
    "index_array : ndarray or int\n"
    "    Positions of the maxima (int64).\n\n"
    "Raises\n------\n"
    "ValueError\n    For an all-NaN slice (\"All-NaN slice encountered\"), or an\n"
    "    empty input or axis.\n\n"
    "Examples\n--------\n"
    ">>> cr.nanargmax([np.nan, 3, 5, 5])\n2\n";

inline constexpr const char ss[] =
    CORVANE_SIGNATURE("ss(a, axis=None)")
    "Sum of the square of each element along the specified axis.\n\n"
    "NaNs are not skipped. Integer sums wrap around on overflow; float32\n"
    "input is summed in float64 and the result rounded once to float32.\n\n" CORVANE_REDUCE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray or scalar\n"
    "    The sum of squares, with the input's dtype.\n\n"
    "Examples\n--------\n"
    ">>> cr.ss([1., 2., 5.])\n30.0\n"
    ">>> cr.ss([[1., 2., 5.], [2., 5., 6.]], axis=1)\n"
    "array([30., 65.])\n";

inline constexpr const char median[] =
    CORVANE_SIGNATURE("median(a, axis=None)")
    "Median of array elements along given axis.\n\n"
    "`float64` return values are used for integer inputs. NaN is returned\n"
    "for a slice that contains one or more NaNs, and for an empty one. The\n"
    "mean of two middle integers is formed in float64 from their exact sum,\n"
    "so it cannot overflow; float32 data gives float32 results.\n\n" CORVANE_REDUCE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray or float\n"
    "    The median.\n\n"
    "Examples\n--------\n"
    ">>> cr.median([[10, 7, 4], [3, 2, 1]])\n3.5\n";

inline constexpr const char nanmedian[] =
    CORVANE_SIGNATURE("nanmedian(a, axis=None)")
    "Median of array elements along given axis ignoring NaNs.\n\n"
    "`float64` return values are used for integer inputs. NaN is returned\n"
    "for a slice with no non-NaN element. The mean of two middle integers is\n"
    "formed in float64 from their exact sum, so it cannot overflow; float32\n"
    "data gives float32 results.\n\n" CORVANE_REDUCE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray or float\n"
    "    The median of the non-NaN elements; NaN for an all-NaN slice.\n\n"
    "Examples\n--------\n"
    ">>> cr.nanmedian([[10, np.nan, 4], [3, 2, 1]])\n3.0\n";

inline constexpr const char anynan[] =
    CORVANE_SIGNATURE("anynan(a, axis=None)")
    "Test whether any array element along a given axis is NaN.\n\n"
    "The same as ``np.isnan(a).any(axis)``, but without the temporary array,\n"
    "and the scan stops as soon as the answer is known. An empty reduction\n"
    "is False.\n\n" CORVANE_REDUCE_PARAMS
    "\nReturns\n-------\n"
    "y : bool or ndarray of bool\n\n"
    "Examples\n--------\n"
    ">>> cr.anynan([1, np.nan])\nTrue\n";

inline constexpr const char allnan[] =
    CORVANE_SIGNATURE("allnan(a, axis=None)")
    "Test whether all array elements along a given axis are NaN.\n\n"
    "The same as ``np.isnan(a).all(axis)``, but without the temporary array,\n"
    "and the scan stops as soon as the answer is known. An empty reduction\n"
    "is True.\n\n"
        CORVANE_REDUCE_PARAMS
    "\nReturns\n-------\n"
    "y : bool or ndarray of bool\n\n"
    "Examples\n--------\n"
    ">>> cr.allnan([np.nan, np.nan])\nTrue\n";

#define CORVANE_QUANTILE_PARAMS                                                            \
    "Parameters\n"                                                                         \
    "----------\n"                                                                         \
    "a : array_like\n"                                                                     \
    "    Input array. If `a` is not an array, a conversion is attempted.\n"                \
    "q : float or sequence of floats\n"                                                    \
    "    The quantile(s), each in [0, 1]. A sequence (1-d) gives one result\n"             \
    "    per element, its dimension first, as NumPy does.\n"                               \
    "axis : {int, None}, optional\n"                                                       \
    "    Axis along which the quantiles are computed. The default (axis=None)\n"           \
    "    computes them over the flattened array.\n"

#define CORVANE_QUANTILE_NOTES                                                             \
    "The method is NumPy's default, 'linear': the order statistics next to\n"             \
    "the index (n - 1) * q are interpolated with NumPy's own formula, so the\n"            \
    "results equal NumPy's bit for bit wherever those two values are finite\n"             \
    "(NumPy gives NaN next to an infinity, where this gives the order\n"                   \
    "statistic or the infinity). The values are selected, not sorted.\n"                   \
    "`float64` results are used for integer inputs; float32 inputs are\n"                  \
    "interpolated in float32. An empty slice gives NaN.\n\n"

inline constexpr const char quantile[] =
    CORVANE_SIGNATURE("quantile(a, q, axis=None)")
    "Compute the q-th quantile of the data along the specified axis.\n\n"
    CORVANE_QUANTILE_NOTES
    "NaN is returned for a slice that contains one or more NaNs.\n\n"
    CORVANE_QUANTILE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray or float\n"
    "    The quantile(s); a Python float when `q` is a number and axis is\n"
    "    None or `a` is one-dimensional.\n\n"
    "Examples\n--------\n"
    ">>> cr.quantile([[10, 7, 4], [3, 2, 1]], 0.5)\n3.5\n"
    ">>> cr.quantile([[10, 7, 4], [3, 2, 1]], [0.25, 0.75], axis=1)\n"
    "array([[5.5, 1.5],\n"
    "       [8.5, 2.5]])\n";

inline constexpr const char nanquantile[] =
    CORVANE_SIGNATURE("nanquantile(a, q, axis=None)")
    "Compute the q-th quantile of the data along the specified axis, ignoring\n"
    "NaNs.\n\n"
    CORVANE_QUANTILE_NOTES
    "NaN is returned for a slice with no non-NaN element.\n\n"
    CORVANE_QUANTILE_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray or float\n"
    "    The quantile(s) of the non-NaN elements.\n\n"
    "Examples\n--------\n"
    ">>> cr.nanquantile([[10, np.nan, 4], [3, 2, 1]], 0.5)\n3.0\n";

#undef CORVANE_QUANTILE_PARAMS
#undef CORVANE_QUANTILE_NOTES
#undef CORVANE_REDUCE_PARAMS
#undef CORVANE_DDOF_PARAM

}  // namespace corvane::doc
