"""Reference functions of ``corvane.slicewise``: selection, ranking and filling.

Each works along one axis and returns an array of the input's shape (``rankdata`` and
``nanrankdata`` flatten first when ``axis`` is None).  ``partition`` and ``argpartition``
run the same selection as the native kernels, so their output order matches exactly.
"""

from __future__ import annotations

import math
from typing import Any

import numpy as np
import numpy.typing as npt

from corvane.slow._common import as_array, as_c_int, check_axis, is_missing

Array = npt.NDArray[Any]

__all__ = ["argpartition", "bfill", "nanrankdata", "partition", "push", "rankdata"]


def _axis_or_flatten(arr: Array, axis: object) -> tuple[Array, int]:
    """Normalise ``axis``; None flattens the array in C order and means axis 0."""
    if axis is None:
        return (arr if arr.ndim == 1 else arr.ravel()), 0
    return arr, check_axis(as_c_int(axis, "`axis` must be an integer"), arr.ndim)


# --------------------------------------------------------------------------------------
# Partition
# --------------------------------------------------------------------------------------


# Work the rounds may do, per element and in all, before median-of-three is given up for
# the median of medians; and the shortest range that takes the medians of groups of five.
_WORK_BOUND, _WORK_SLACK, _GROUPS_FROM = 16, 256, 25


def _select_kth(v: list[Any], k: int, index: list[int] | None) -> None:
    """Move the k-th smallest of ``v`` to position k in place, smaller ones before it.

    Median-of-three pivot and Hoare exchanges with strict comparisons (NaN compares
    false with everything); ``index`` follows every exchange.  Once the rounds have
    scanned more than ``_WORK_BOUND`` times the list, the pivots come from the median of
    medians of five instead, so no input makes the selection quadratic.
    """

    def swap(p: int, q: int) -> None:
        v[p], v[q] = v[q], v[p]
        if index is not None:
            index[p], index[q] = index[q], index[p]

    def medians_of_five(lo: int, hi: int, k: int) -> None:
        """The median of the medians of the groups of five of v[lo..hi] into v[k]."""
        groups = (hi - lo + 1) // 5
        for g in range(groups):
            b = lo + 5 * g
            for a in range(b + 1, b + 5):
                c = a
                while c > b and v[c] < v[c - 1]:
                    swap(c, c - 1)
                    c -= 1
            swap(lo + g, b + 2)
        mid = lo + (groups - 1) // 2
        select_range(lo, lo + groups - 1, mid, True)
        swap(mid, k)

    def select_range(lo: int, hi: int, k: int, linear: bool) -> None:
        budget = _WORK_BOUND * (hi - lo + 1) + _WORK_SLACK
        while lo < hi:
            if linear and hi - lo + 1 >= _GROUPS_FROM:
                medians_of_five(lo, hi, k)
            elif v[lo] > v[k]:
                if v[k] < v[hi]:
                    swap(k, lo if v[lo] < v[hi] else hi)
            elif v[k] > v[hi]:
                swap(k, lo if v[lo] > v[hi] else hi)
            pivot = v[k]
            i, j = lo, hi
            while True:
                while v[i] < pivot:
                    i += 1
                while pivot < v[j]:
                    j -= 1
                if i <= j:
                    swap(i, j)
                    i += 1
                    j -= 1
                if i > j:
                    break
            budget -= hi - lo + 1
            linear = linear or budget < 0
            if j < k:
                lo = i
            if k < i:
                hi = j

    select_range(0, len(v) - 1, k, False)


def _as_list(line: Array) -> list[Any]:
    """A line's values as Python numbers; NaT becomes NaN, which compares false as NaT does."""
    if line.dtype.kind not in "mM":
        values: list[Any] = line.tolist()
        return values
    nat = np.isnat(line).tolist()
    return [math.nan if m else v for v, m in zip(line.view(np.int64).tolist(), nat, strict=True)]


def _from_list(values: list[Any], dtype: np.dtype[Any]) -> Any:
    """Inverse of ``_as_list``: values ready to store into a line of ``dtype``."""
    if dtype.kind not in "mM":
        return values
    nat = int(np.iinfo(np.int64).min)
    return np.array([nat if v != v else v for v in values], np.int64).view(dtype)


def _parse_kth(a: npt.ArrayLike, kth: object, axis: object) -> tuple[Array, int, int]:
    """Convert ``a``, normalise ``axis`` and read ``kth``."""
    arr, ax = _axis_or_flatten(as_array(a), axis)
    k = as_c_int(kth, "`n` must be an integer")
    length = arr.shape[ax]
    if length and not 0 <= k <= length - 1:
        raise ValueError(f"`n` (={k}) must be between 0 and {length - 1}, inclusive.")
    return arr, k, ax


def partition(a: npt.ArrayLike, kth: int, axis: int | None = -1) -> Array:
    """Partition array elements along given axis."""
    arr, k, ax = _parse_kth(a, kth, axis)
    out: Array = arr.copy(order="A")
    if arr.dtype.kind == "c":  # Python cannot order complex numbers; NumPy can
        return np.partition(out, k, axis=ax) if out.shape[ax] else out
    lines = np.moveaxis(out, ax, -1)
    for pos in np.ndindex(lines.shape[:-1]):
        values = _as_list(lines[pos])
        _select_kth(values, k, None)
        lines[pos] = _from_list(values, out.dtype)
    return out


def argpartition(a: npt.ArrayLike, kth: int, axis: int | None = -1) -> Array:
    """Return indices that would partition array along the given axis."""
    arr, k, ax = _parse_kth(a, kth, axis)
    out = np.empty(arr.shape, np.intp)
    if arr.dtype.kind == "c":
        if out.shape[ax]:
            out[...] = np.argpartition(arr, k, axis=ax)
        return out
    src, dest = np.moveaxis(arr, ax, -1), np.moveaxis(out, ax, -1)
    for pos in np.ndindex(src.shape[:-1]):
        index = list(range(src.shape[-1]))
        _select_kth(_as_list(src[pos]), k, index)
        dest[pos] = index
    return out


# --------------------------------------------------------------------------------------
# Ranking
# --------------------------------------------------------------------------------------


def _rank(a: npt.ArrayLike, axis: object, keep_nan: bool) -> Array:
    """Average ranks from 1 along the axis; each NaN (NaT) is its own group, sorted last."""
    arr, ax = _axis_or_flatten(as_array(a), axis)
    x = np.moveaxis(arr, ax, -1)
    n = x.shape[-1]
    order = np.argsort(x, axis=-1, kind="quicksort")
    xs = np.take_along_axis(x, order, axis=-1)
    # A group of equal sorted values from position b to e gets (b + e) / 2 + 1.
    pos = np.broadcast_to(np.arange(n), xs.shape)
    starts = np.ones(xs.shape, bool)
    starts[..., 1:] = ~(xs[..., 1:] == xs[..., :-1])
    ends = np.ones(xs.shape, bool)
    ends[..., :-1] = starts[..., 1:]
    first = np.maximum.accumulate(np.where(starts, pos, 0), axis=-1)
    last = np.minimum.accumulate(np.where(ends, pos, n)[..., ::-1], axis=-1)[..., ::-1]
    ranks = (first + last) / 2.0 + 1.0
    if keep_nan:
        ranks[is_missing(xs)] = np.nan
    out = np.empty(arr.shape, np.float64)
    np.put_along_axis(np.moveaxis(out, ax, -1), order, ranks, axis=-1)
    return out


def rankdata(a: npt.ArrayLike, axis: int | None = None) -> Array:
    """Ranks the data, dealing with ties appropriately."""
    return _rank(a, axis, keep_nan=False)


def nanrankdata(a: npt.ArrayLike, axis: int | None = None) -> Array:
    """Ranks the data, dealing with ties and NaNs appropriately."""
    return _rank(a, axis, keep_nan=True)


# --------------------------------------------------------------------------------------
# Forward fill
# --------------------------------------------------------------------------------------


def _fill(a: npt.ArrayLike, n: int | None, axis: int, backward: bool) -> Array:
    """NaNs filled from the nearest non-NaN value before (after, ``backward``) them
    along ``axis``, when it is at most ``n`` positions away."""
    arr = as_array(a)
    if axis is None:
        raise ValueError("`axis` cannot be None")
    ax = check_axis(as_c_int(axis, "`axis` must be an integer"), arr.ndim)
    limit = np.inf
    if n is not None:
        limit = as_c_int(n, "`n` must be an integer")
        if limit < 0:
            raise ValueError("`n` must be nonnegative")
    out = np.array(arr, order="C")
    if out.dtype.kind not in "fcmM" or out.size == 0:
        return out
    y = np.moveaxis(out, ax, -1)
    if backward:
        y = y[..., ::-1]  # a view: filling it fills `out`
    nan = is_missing(y)
    pos = np.arange(y.shape[-1])
    # Position of the latest non-NaN value at or before each position (-1: none yet).
    last = np.maximum.accumulate(np.where(nan, -1, pos), axis=-1)
    fill = nan & (last >= 0) & (pos - last <= limit)
    y[fill] = np.take_along_axis(y, np.maximum(last, 0), axis=-1)[fill]
    return out


def push(a: npt.ArrayLike, n: int | None = None, axis: int = -1) -> Array:
    """Fill missing values (NaNs, or NaTs) with most recent non-missing values."""
    return _fill(a, n, axis, backward=False)


def bfill(a: npt.ArrayLike, n: int | None = None, axis: int = -1) -> Array:
    """Fill missing values (NaNs, or NaTs) with the next non-missing values."""
    return _fill(a, n, axis, backward=True)
