"""Reference functions of ``corvane.slicewise``: selection, ranking and filling.

Each works along one axis and returns an array of the input's shape (``rankdata`` and
``nanrankdata`` flatten first when ``axis`` is None).  ``partition`` and ``argpartition``
run the same selection as the native kernels, so their output order matches exactly.
"""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

from corvane.slow._common import as_array, as_c_int, check_axis

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


def _select_kth(v: list[Any], k: int, index: list[int] | None) -> None:
    """Move the k-th smallest of ``v`` to position k in place, smaller ones before it.

    Median-of-three pivot and Hoare exchanges with strict comparisons (NaN compares
    false with everything); ``index`` follows every exchange.
    """

    def swap(p: int, q: int) -> None:
        v[p], v[q] = v[q], v[p]
        if index is not None:
            index[p], index[q] = index[q], index[p]

    lo, hi = 0, len(v) - 1
    while lo < hi:
        if v[lo] > v[k]:
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
        if j < k:
            lo = i
        if k < i:
            hi = j


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
        values = lines[pos].tolist()
        _select_kth(values, k, None)
        lines[pos] = values
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
        _select_kth(src[pos].tolist(), k, index)
        dest[pos] = index
    return out


# --------------------------------------------------------------------------------------
# Ranking
# --------------------------------------------------------------------------------------


def _rank(a: npt.ArrayLike, axis: object, keep_nan: bool) -> Array:
    """Average ranks from 1 along the axis; each NaN is its own group, sorted last."""
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
    if keep_nan and x.dtype.kind in "fc":
        ranks[np.isnan(xs)] = np.nan
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
    if out.dtype.kind not in "fc" or out.size == 0:
        return out
    y = np.moveaxis(out, ax, -1)
    if backward:
        y = y[..., ::-1]  # a view: filling it fills `out`
    nan = np.isnan(y)
    pos = np.arange(y.shape[-1])
    # Position of the latest non-NaN value at or before each position (-1: none yet).
    last = np.maximum.accumulate(np.where(nan, -1, pos), axis=-1)
    fill = nan & (last >= 0) & (pos - last <= limit)
    y[fill] = np.take_along_axis(y, np.maximum(last, 0), axis=-1)[fill]
    return out


def push(a: npt.ArrayLike, n: int | None = None, axis: int = -1) -> Array:
    """Fill missing values (NaNs) with most recent non-missing values."""
    return _fill(a, n, axis, backward=False)


def bfill(a: npt.ArrayLike, n: int | None = None, axis: int = -1) -> Array:
    """Fill missing values (NaNs) with the next non-missing values."""
    return _fill(a, n, axis, backward=True)
