// Docstrings of the slicewise module, numpydoc layout; the first line of each
// is the signature line Python's help() shows.
#pragma once

#include "frame/numpy_api.hpp"

namespace corvane::doc {

inline constexpr const char module[] = "Corvane non-reducing functions that operate along an axis.";

#define CORVANE_A_PARAM                                                                    \
    "a : array_like\n"                                                                     \
    "    Input array. If `a` is not an array, a conversion is attempted.\n"

#define CORVANE_PARTITION_NOTES                                                            \
    "A 1d array B is partitioned at array index `kth` if three conditions\n"               \
    "hold: (1) B[kth] is in its sorted position, (2) all elements to the left\n"           \
    "of `kth` are less than or equal to B[kth], and (3) all elements to the\n"             \
    "right of `kth` are greater than or equal to B[kth]. Note that the array\n"            \
    "elements in conditions (2) and (3) are in general unordered.\n\n"                     \
    "Shuffling the input array may change the output. The only guarantee is\n"            \
    "given by the three conditions above.\n\n"                                             \
    "This functions is not protected against NaN. Therefore, you may get\n"                \
    "unexpected results if the input contains NaN.\n\n"

#define CORVANE_KTH_AXIS_PARAMS                                                            \
    "kth : int\n"                                                                          \
    "    The value of the element at index kth will be in its final sorted\n"             \
    "    position. Smaller (or equal) values will be to its left and larger\n"             \
    "    (or equal) values to its right. Must lie in 0 .. length - 1; it is\n"             \
    "    not counted from the end.\n"                                                      \
    "axis : {int, None}, optional\n"                                                       \
    "    Axis along which to partition. The default (axis=-1) is the last\n"               \
    "    axis. If None, the input array is flattened before partitioning.\n"

inline constexpr const char partition[] =
    CORVANE_SIGNATURE("partition(a, kth, axis=-1)")
    "Partition array elements along given axis.\n\n" CORVANE_PARTITION_NOTES
    "Parameters\n----------\n" CORVANE_A_PARAM CORVANE_KTH_AXIS_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    A partitioned copy of the input array with the same shape and type\n"
    "    as `a`.\n\n"
    "See Also\n--------\n"
    "corvane.argpartition: Indices that would partition an array\n\n"
    "Examples\n--------\n"
    ">>> a = np.array([1, 0, 3, 4, 2])\n"
    ">>> cr.partition(a, kth=2)\n"
    "array([1, 0, 2, 4, 3])\n\n"
    "Note how the output differs when kth=3:\n\n"
    ">>> cr.partition(a, kth=3)\n"
    "array([1, 0, 2, 3, 4])\n";

inline constexpr const char argpartition[] =
    CORVANE_SIGNATURE("argpartition(a, kth, axis=-1)")
    "Return indices that would partition array along the given axis.\n\n" CORVANE_PARTITION_NOTES
    "Parameters\n----------\n" CORVANE_A_PARAM CORVANE_KTH_AXIS_PARAMS
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    An int64 array of the same shape as `a` holding, along the axis, the\n"
    "    positions of the input elements in the order `partition` would\n"
    "    leave them. `a` itself is not modified.\n\n"
    "See Also\n--------\n"
    "corvane.partition: Partition array elements along given axis.\n\n"
    "Examples\n--------\n"
    ">>> a = np.array([10, 0, 30, 40, 20])\n"
    ">>> index = cr.argpartition(a, kth=2)\n"
    ">>> index\n"
    "array([0, 1, 4, 3, 2])\n"
    ">>> a[index]\n"
    "array([10,  0, 20, 40, 30])\n";

#define CORVANE_RANK_AXIS_PARAM                                                            \
    "axis : {None, int}, optional\n"                                                       \
    "    Axis along which the elements of the array are ranked. The default,\n"            \
    "    axis=None, ranks the flattened array.\n"

inline constexpr const char rankdata[] =
    CORVANE_SIGNATURE("rankdata(a, axis=None)")
    "Ranks the data, dealing with ties appropriately.\n\n"
    "Equal values are assigned a rank that is the average of the ranks that\n"
    "would have been otherwise assigned to all of the values within that set.\n"
    "Ranks begin at 1, not 0.\n\n"
    "A NaN equals nothing, itself included: every NaN gets a rank of its own,\n"
    "after all the numbers of its slice.\n\n"
    "Parameters\n----------\n" CORVANE_A_PARAM CORVANE_RANK_AXIS_PARAM
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    An array of float64 ranks, of the shape of `a` (one-dimensional when\n"
    "    axis is None).\n\n"
    "See Also\n--------\n"
    "corvane.nanrankdata: Ranks the data dealing with ties and NaNs.\n\n"
    "Examples\n--------\n"
    ">>> cr.rankdata([0, 2, 2, 3])\n"
    "array([1. , 2.5, 2.5, 4. ])\n"
    ">>> cr.rankdata([[0, 2], [2, 3]])\n"
    "array([1. , 2.5, 2.5, 4. ])\n"
    ">>> cr.rankdata([[0, 2], [2, 3]], axis=0)\n"
    "array([[1., 1.],\n"
    "       [2., 2.]])\n"
    ">>> cr.rankdata([[0, 2], [2, 3]], axis=1)\n"
    "array([[1., 2.],\n"
    "       [1., 2.]])\n";

inline constexpr const char nanrankdata[] =
    CORVANE_SIGNATURE("nanrankdata(a, axis=None)")
    "Ranks the data, dealing with ties and NaNs appropriately.\n\n"
    "Equal values are assigned a rank that is the average of the ranks that\n"
    "would have been otherwise assigned to all of the values within that set.\n"
    "Ranks begin at 1, not 0.\n\n"
    "NaNs in the input array are returned as NaNs.\n\n"
    "Parameters\n----------\n" CORVANE_A_PARAM CORVANE_RANK_AXIS_PARAM
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    An array of float64 ranks, of the shape of `a` (one-dimensional when\n"
    "    axis is None).\n\n"
    "See Also\n--------\n"
    "corvane.rankdata: Ranks the data, dealing with ties appropriately.\n\n"
    "Examples\n--------\n"
    ">>> cr.nanrankdata([np.nan, 2, 2, 3])\n"
    "array([nan, 1.5, 1.5, 3. ])\n"
    ">>> cr.nanrankdata([[np.nan, 2], [2, 3]])\n"
    "array([nan, 1.5, 1.5, 3. ])\n"
    ">>> cr.nanrankdata([[np.nan, 2], [2, 3]], axis=0)\n"
    "array([[nan,  1.],\n"
    "       [ 1.,  2.]])\n"
    ">>> cr.nanrankdata([[np.nan, 2], [2, 3]], axis=1)\n"
    "array([[nan,  1.],\n"
    "       [ 1.,  2.]])\n";

inline constexpr const char push[] =
    CORVANE_SIGNATURE("push(a, n=None, axis=-1)")
    "Fill missing values (NaNs) with most recent non-missing values.\n\n"
    "Filling proceeds along the specified axis from small index values to\n"
    "large index values. NaNs before the first non-NaN value of a slice stay\n"
    "NaN.\n\n"
    "Parameters\n----------\n" CORVANE_A_PARAM
    "n : {int, None}, optional\n"
    "    How far to push values. If the most recent non-NaN array element is\n"
    "    more than `n` index positions away, then the NaN is not filled. The\n"
    "    default (n = None) is to push the entire length of the slice. If `n`\n"
    "    is an integer it must be nonnegative.\n"
    "axis : int, optional\n"
    "    Axis along which the elements of the array are pushed. The default\n"
    "    (axis=-1) is to push along the last axis of `a`. An axis of None is\n"
    "    not allowed.\n"
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    An array with the same shape and dtype as `a`.\n\n"
    "See Also\n--------\n"
    "corvane.replace: Replace specified value of an array with new value.\n\n"
    "Examples\n--------\n"
    ">>> a = np.array([5, np.nan, np.nan, 6, np.nan])\n"
    ">>> cr.push(a)\n"
    "array([5., 5., 5., 6., 6.])\n"
    ">>> cr.push(a, n=1)\n"
    "array([ 5.,  5., nan,  6.,  6.])\n"
    ">>> cr.push(a, n=2)\n"
    "array([5., 5., 5., 6., 6.])\n";

inline constexpr const char bfill[] =
    CORVANE_SIGNATURE("bfill(a, n=None, axis=-1)")
    "Fill missing values (NaNs) with the next non-missing values.\n\n"
    "The mirror image of `push`: filling proceeds along the specified axis\n"
    "from large index values to small ones. NaNs after the last non-NaN value\n"
    "of a slice stay NaN.\n\n"
    "Parameters\n----------\n" CORVANE_A_PARAM
    "n : {int, None}, optional\n"
    "    How far back to fill values. If the next non-NaN array element is\n"
    "    more than `n` index positions away, then the NaN is not filled. The\n"
    "    default (n = None) is to fill over the entire length of the slice.\n"
    "    If `n` is an integer it must be nonnegative.\n"
    "axis : int, optional\n"
    "    Axis along which the elements of the array are filled. The default\n"
    "    (axis=-1) is the last axis of `a`. An axis of None is not allowed.\n"
    "\nReturns\n-------\n"
    "y : ndarray\n"
    "    An array with the same shape and dtype as `a`.\n\n"
    "See Also\n--------\n"
    "corvane.push: Fill NaNs with most recent non-missing values.\n\n"
    "Examples\n--------\n"
    ">>> a = np.array([np.nan, 5, np.nan, np.nan, 6])\n"
    ">>> cr.bfill(a)\n"
    "array([5., 5., 6., 6., 6.])\n"
    ">>> cr.bfill(a, n=1)\n"
    "array([ 5.,  5., nan,  6.,  6.])\n";

#undef CORVANE_A_PARAM
#undef CORVANE_PARTITION_NOTES
#undef CORVANE_KTH_AXIS_PARAMS
#undef CORVANE_RANK_AXIS_PARAM

}  // namespace corvane::doc
