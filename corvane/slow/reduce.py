"""Reference reductions: the thirteen functions of ``corvane.reduce`` written with NumPy.

For float64, float32, int64 and int32 data (any byte order) the results are those of
the native kernels: sums are accumulated one element at a time in the input's precision
(integers wrap around), whole-array results are Python scalars and along-axis results
are C-ordered arrays of the native output types.  Other element types get what NumPy's
own nan-functions give for them.
"""

from __future__ import annotations

import warnings
from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt

from corvane.slow._common import (
    NATIVE_DTYPES,
    Kind,
    ReduceResult,
    as_array,
    as_c_int,
    check_axis,
    native_kind,
)

Array = npt.NDArray[Any]

__all__ = [
    "allnan",
    "anynan",
    "median",
    "nanargmax",
    "nanargmin",
    "nanmax",
    "nanmean",
    "nanmedian",
    "nanmin",
    "nanstd",
    "nansum",
    "nanvar",
    "ss",
]


# --------------------------------------------------------------------------------------
# Shared steps
# --------------------------------------------------------------------------------------


def _parse(a: npt.ArrayLike, axis: object) -> tuple[Array, int | None]:
    """Convert ``a`` and check ``axis``; axis None (whole array) also for 1-d input."""
    arr = as_array(a)
    if axis is None:
        return arr, None
    ax = check_axis(as_c_int(axis, "`axis` must be an integer or None"), arr.ndim)
    return arr, (None if arr.ndim == 1 else ax)


def _walk(arr: Array) -> Array:
    """All elements as one line, in the order the native whole-array loops visit them."""
    if arr.ndim == 0:
        return arr.reshape(1)
    if arr.ndim == 1:
        return arr
    c_order, f_order = arr.flags.c_contiguous, arr.flags.f_contiguous
    if c_order and not f_order:
        return arr.reshape(-1)
    if f_order and not c_order:
        return arr.reshape(-1, order="F")
    # Otherwise slice by slice along the most tightly packed axis (the first of equal
    # strides), the other axes as an odometer with the last one fastest.
    return np.moveaxis(arr, int(np.argmin(arr.strides)), -1).reshape(-1)


def _lines(arr: Array, ax: int | None) -> Array:
    """The data to reduce along its last axis: the walk, or one line per output element."""
    return _walk(arr) if ax is None else np.moveaxis(arr, ax, -1)


def _native_lines(arr: Array, ax: int | None) -> tuple[Array, Kind | None]:
    """``_lines`` cast to the canonical dtype of its native kernel family, if it has one."""
    kind = native_kind(arr.dtype)
    x = _lines(arr, ax)
    if kind is not None:
        x = x.astype(NATIVE_DTYPES[kind], copy=False)
    return x, kind


def _finish(res: Any, ax: int | None, native: bool) -> ReduceResult:
    """Whole array: a Python scalar (native types) or NumPy scalar; else a C-ordered array."""
    if ax is None:
        scalar = np.asarray(res)[()]
        return scalar.item() if native else scalar
    return np.ascontiguousarray(res)


def _quiet(func: Callable[..., Any], *args: Any, **kwargs: Any) -> Any:
    """Call a NumPy nan-function without its empty-slice and all-NaN warnings."""
    with warnings.catch_warnings(), np.errstate(all="ignore"):
        warnings.simplefilter("ignore", RuntimeWarning)
        return func(*args, **kwargs)


def _seq_sum(x: Array) -> Array:
    """Sum along the last axis one element at a time from a zero start, in x's dtype."""
    start = np.zeros((*x.shape[:-1], 1), x.dtype)
    with np.errstate(all="ignore"):
        total = np.add.accumulate(np.concatenate([start, x], axis=-1), axis=-1, dtype=x.dtype)
    return total[..., -1]


def _skip_nan(x: Array) -> tuple[Array, Array]:
    """Non-NaN mask and x with NaNs replaced by zero (adding zero equals skipping)."""
    mask = ~np.isnan(x)
    return mask, np.where(mask, x, x.dtype.type(0))


def _sum_dtype(dtype: np.dtype[Any]) -> np.dtype[Any]:
    """The element type NumPy's ``sum`` gives for this element type."""
    total: np.generic = np.zeros(0, dtype).sum()
    return total.dtype


# --------------------------------------------------------------------------------------
# Sums and means
# --------------------------------------------------------------------------------------


def nansum(a: npt.ArrayLike, axis: int | None = None) -> ReduceResult:
    """Sum of array elements along given axis treating NaNs as zero."""
    arr, ax = _parse(a, axis)
    x, kind = _native_lines(arr, ax)
    if kind is None:
        return _finish(_quiet(np.nansum, x, axis=-1), ax, False)
    if kind[0] == "f":
        x = _skip_nan(x)[1]
    return _finish(_seq_sum(x), ax, True)


def nanmean(a: npt.ArrayLike, axis: int | None = None) -> ReduceResult:
    """Mean of array elements along given axis ignoring NaNs."""
    arr, ax = _parse(a, axis)
    x, kind = _native_lines(arr, ax)
    if kind is None:
        return _finish(_quiet(np.nanmean, x, axis=-1), ax, False)
    with np.errstate(all="ignore"):
        if kind[0] == "f":
            mask, x = _skip_nan(x)
            mean = _seq_sum(x) / mask.sum(axis=-1).astype(x.dtype)
        else:
            mean = _seq_sum(x.astype(np.float64)) / np.float64(x.shape[-1])
    return _finish(mean, ax, True)


def ss(a: npt.ArrayLike, axis: int | None = None) -> ReduceResult:
    """Sum of the square of each element along the specified axis."""
    arr, ax = _parse(a, axis)
    x, kind = _native_lines(arr, ax)
    if kind is None:
        if x.dtype.kind in "biu":  # square in the type NumPy sums them in, not int8 say
            x = x.astype(_sum_dtype(x.dtype))
        return _finish(np.sum(x * x, axis=-1), ax, False)
    with np.errstate(all="ignore"):
        return _finish(_seq_sum(x * x), ax, True)


# --------------------------------------------------------------------------------------
# Variance and standard deviation
# --------------------------------------------------------------------------------------


def _variance(a: npt.ArrayLike, axis: object, ddof: object, root: bool) -> ReduceResult:
    """Two-pass variance (or its square root) of the non-NaN values, divisor N - ddof."""
    arr, ax = _parse(a, axis)
    dof = as_c_int(ddof, "`ddof` must be an integer")
    x, kind = _native_lines(arr, ax)
    if kind is None:
        res = _quiet(np.nanstd if root else np.nanvar, x, axis=-1, ddof=dof)
        return _finish(res, ax, False)
    with np.errstate(all="ignore"):
        if kind[0] == "f":
            mask, x = _skip_nan(x)
            zero = x.dtype.type(0)
        else:
            x = x.astype(np.float64)
            mask = np.ones(x.shape, bool)
            zero = np.float64(0)
        dt = x.dtype
        count = mask.sum(axis=-1)
        divisor = count - dof
        along_int_axis = kind[0] == "i" and ax is not None
        if along_int_axis:
            # The integer along-axis kernels multiply by reciprocals of the slice length.
            length = np.float64(x.shape[-1])
            mean = _seq_sum(x) * (np.float64(1.0) / length)
        else:
            mean = _seq_sum(x) / count.astype(dt)
        dev = np.where(mask, x - mean[..., None], zero)
        ssd = _seq_sum(dev * dev)
        if along_int_axis:
            var = ssd * (np.float64(1.0) / (length - dof))
        else:
            var = ssd / divisor.astype(dt)
        # A zero-length axis gives NaN whatever ddof is; an empty whole array does not.
        defined = (divisor > 0) & (ax is None or x.shape[-1] > 0)
        var = np.where(defined, var, dt.type(np.nan))
        if root:
            var = np.sqrt(var)
    return _finish(var, ax, True)


def nanvar(a: npt.ArrayLike, axis: int | None = None, ddof: int = 0) -> ReduceResult:
    """Variance along the specified axis, ignoring NaNs."""
    return _variance(a, axis, ddof, root=False)


def nanstd(a: npt.ArrayLike, axis: int | None = None, ddof: int = 0) -> ReduceResult:
    """Standard deviation along the specified axis, ignoring NaNs."""
    return _variance(a, axis, ddof, root=True)


# --------------------------------------------------------------------------------------
# Extremes and their positions
# --------------------------------------------------------------------------------------


def _check_not_empty(arr: Array, ax: int | None, name: str) -> None:
    """Refuse an empty array (whole-array path) or a zero-length axis, as NumPy does."""
    if ax is None and arr.size == 0:
        raise ValueError(f"numpy.{name} raises on a.size==0 and axis=None; So Corvane too.")
    if ax is not None and arr.shape[ax] == 0:
        raise ValueError(f"numpy.{name} raises on a.shape[axis]==0; So Corvane too.")


def _extreme(a: npt.ArrayLike, axis: object, name: str, largest: bool) -> ReduceResult:
    """Smallest or largest non-NaN value; of equal values the one visited last is kept."""
    arr, ax = _parse(a, axis)
    _check_not_empty(arr, ax, name)
    x, kind = _native_lines(arr, ax)
    if x.dtype.kind not in "fc":
        return _finish(x.max(axis=-1) if largest else x.min(axis=-1), ax, kind is not None)
    nan = np.isnan(x)
    key = np.where(nan, -np.inf if largest else np.inf, x)
    best = key.max(axis=-1) if largest else key.min(axis=-1)
    # The value itself is taken from the last position equal to the extreme, which fixes
    # the sign of a zero result; an all-NaN line has no such position and gives NaN.
    hit = (x == best[..., None])[..., ::-1]
    last = x.shape[-1] - 1 - np.argmax(hit, axis=-1)
    value = np.take_along_axis(x, last[..., None], axis=-1)[..., 0]
    res = np.where(nan.all(axis=-1), x.dtype.type(np.nan), value)
    return _finish(res, ax, kind is not None)


def nanmin(a: npt.ArrayLike, axis: int | None = None) -> ReduceResult:
    """Minimum values along specified axis, ignoring NaNs."""
    return _extreme(a, axis, "nanmin", largest=False)


def nanmax(a: npt.ArrayLike, axis: int | None = None) -> ReduceResult:
    """Maximum values along specified axis, ignoring NaNs."""
    return _extreme(a, axis, "nanmax", largest=True)


def _argextreme(a: npt.ArrayLike, axis: object, name: str, largest: bool) -> int | Array:
    """First position of the smallest or largest non-NaN value (C-order flat when whole)."""
    arr, ax = _parse(a, axis)
    _check_not_empty(arr, ax, name)
    x = arr.reshape(-1) if ax is None else np.moveaxis(arr, ax, -1)
    if x.dtype.kind in "fc":
        nan = np.isnan(x)
        if nan.all(axis=-1).any():
            raise ValueError("All-NaN slice encountered")
        key = np.where(nan, -np.inf if largest else np.inf, x)
        best = key.max(axis=-1) if largest else key.min(axis=-1)
        # NaN never equals the extreme, so a NaN beside an equal infinity is never chosen.
        pos = np.argmax(x == best[..., None], axis=-1)
    else:
        pos = x.argmax(axis=-1) if largest else x.argmin(axis=-1)
    if ax is None:
        return int(pos)
    return np.ascontiguousarray(pos, dtype=np.int64)


def nanargmin(a: npt.ArrayLike, axis: int | None = None) -> int | Array:
    """Indices of the minimum values along an axis, ignoring NaNs."""
    return _argextreme(a, axis, "nanargmin", largest=False)


def nanargmax(a: npt.ArrayLike, axis: int | None = None) -> int | Array:
    """Indices of the maximum values along an axis, ignoring NaNs."""
    return _argextreme(a, axis, "nanargmax", largest=True)


# --------------------------------------------------------------------------------------
# Medians
# --------------------------------------------------------------------------------------


def _median(a: npt.ArrayLike, axis: object, skip_nan: bool) -> ReduceResult:
    """Median of each line: NaN for a line with NaN (or, skipping NaNs, with no values)."""
    arr, ax = _parse(a, axis)
    x, kind = _native_lines(arr, ax)
    if kind is None:
        res = _quiet(np.nanmedian if skip_nan else np.median, x, axis=-1)
        return _finish(res, ax, False)
    length = x.shape[-1]
    out_dtype = np.dtype(np.float32 if kind == "f32" else np.float64)
    if length == 0:
        return _finish(np.full(x.shape[:-1], np.nan, out_dtype), ax, True)
    xs = np.sort(x, axis=-1)
    count = np.full(x.shape[:-1], length) if kind[0] == "i" else (~np.isnan(x)).sum(axis=-1)
    upper = np.take_along_axis(xs, np.minimum(count // 2, length - 1)[..., None], -1)[..., 0]
    lower = np.take_along_axis(xs, np.maximum(count // 2 - 1, 0)[..., None], -1)[..., 0]
    with np.errstate(all="ignore"):
        if kind[0] == "i":
            # The exact sum of the two middle integers (Python ints cannot
            # overflow), rounded once to float64, then halved.
            total = np.asarray(lower.astype(object) + upper.astype(object), dtype=object)
            even = np.array([float(t) for t in total.ravel()], np.float64).reshape(total.shape)
            res = np.where(count % 2 == 1, upper.astype(np.float64), even * 0.5)
        else:
            res = np.where(count % 2 == 1, upper, (lower + upper) * xs.dtype.type(0.5))
    bad = (count == 0) if skip_nan else (count < length)
    res = np.where(bad, np.nan, res).astype(out_dtype)
    return _finish(res, ax, True)


def median(a: npt.ArrayLike, axis: int | None = None) -> ReduceResult:
    """Median of array elements along given axis."""
    return _median(a, axis, skip_nan=False)


def nanmedian(a: npt.ArrayLike, axis: int | None = None) -> ReduceResult:
    """Median of array elements along given axis ignoring NaNs."""
    return _median(a, axis, skip_nan=True)


# --------------------------------------------------------------------------------------
# NaN tests
# --------------------------------------------------------------------------------------


def anynan(a: npt.ArrayLike, axis: int | None = None) -> bool | Array:
    """Test whether any array element along a given axis is NaN."""
    arr, ax = _parse(a, axis)
    res = np.isnan(_lines(arr, ax)).any(axis=-1)
    return bool(res) if ax is None else np.ascontiguousarray(res)


def allnan(a: npt.ArrayLike, axis: int | None = None) -> bool | Array:
    """Test whether all array elements along a given axis are NaN."""
    arr, ax = _parse(a, axis)
    res = np.isnan(_lines(arr, ax)).all(axis=-1)
    return bool(res) if ax is None else np.ascontiguousarray(res)
