"""Reference quantiles: ``quantile`` and ``nanquantile`` of ``corvane.reduce``, by sorting.

NumPy's default ("linear") method: for n values the order statistics of ranks
floor(v) and floor(v) + 1 next to v = (n - 1) * q are interpolated with NumPy's own
formula, so results equal NumPy's bit for bit where both are finite.  Next to an
infinity NumPy's formula gives NaN (inf - inf) even for an exact rank; here the result
is the order statistic, or the infinity the interpolation tends to (NaN only between
-inf and +inf).  float32 data is interpolated in float32, integers give float64.
"""

from __future__ import annotations

from typing import Any

import numpy as np
import numpy.typing as npt

from corvane.slow._common import ReduceResult
from corvane.slow.reduce import _native_lines, _parse, _quiet

Array = npt.NDArray[Any]

__all__ = ["nanquantile", "quantile"]

_Q_MESSAGE = "`q` must be a float or a 1-d sequence of floats"


def _parse_q(q: object) -> tuple[Array, bool]:
    """The quantiles as float64 values and whether q was a sequence (not one number)."""
    try:
        raw = np.asarray(q)
    except Exception:
        raise TypeError(_Q_MESSAGE) from None
    if raw.dtype.kind not in "biuf":
        raise TypeError(_Q_MESSAGE)
    if raw.ndim > 1:
        raise ValueError(_Q_MESSAGE)
    qs = raw.astype(np.float64).reshape(-1)
    if not np.all((qs >= 0.0) & (qs <= 1.0)):  # NaN fails too
        raise ValueError("Quantiles must be in the range [0, 1]")
    return qs, raw.ndim == 1


def _lerp(a: Array, b: Array, t: Array, kind: str) -> Array:
    """NumPy's interpolation between a <= b at t, in the precision of the native kernels."""
    with np.errstate(all="ignore"):
        if kind[0] == "i":
            # b - a exactly (Python integers), rounded once to float64.
            diff = (b.astype(object) - a.astype(object)).astype(np.float64)
            lo = a.astype(np.float64) + diff * t
            hi = b.astype(np.float64) - diff * (1.0 - t)
            mixed: Array = np.where(t >= 0.5, hi, lo)
            return mixed
        ftype = a.dtype.type
        diff = b - a
        lo = a + diff * t.astype(ftype)
        hi = b - diff * (1.0 - t).astype(ftype)
        res = np.where(t >= 0.5, hi, lo)
        inf_a, inf_b = np.isinf(a), np.isinf(b)
        near_inf = np.where(a == b, a, np.where(inf_a & inf_b, np.nan, np.where(inf_a, a, b)))
        return np.where(inf_a | inf_b, near_inf.astype(ftype), res)


def _quantile(a: npt.ArrayLike, q: object, axis: object, skip_nan: bool) -> ReduceResult:
    arr, ax = _parse(a, axis)
    qs, sequence = _parse_q(q)
    x, kind = _native_lines(arr, ax)
    lead = x.shape[:-1]
    length = x.shape[-1]
    if kind is None:
        # Element types without a native kernel get NumPy's own result.
        if x.size == 0:
            res = np.full((qs.size, *lead), np.nan)
        else:
            func = np.nanquantile if skip_nan else np.quantile
            res = _quiet(func, x, qs, axis=-1)
    else:
        out_dtype = np.dtype(np.float32 if kind == "f32" else np.float64)
        res = np.full((qs.size, *lead), np.nan, out_dtype)
        if length and qs.size:
            xs = np.sort(x, axis=-1)  # NaNs last
            count = np.full(lead, length) if kind[0] == "i" else (~np.isnan(x)).sum(axis=-1)
            n = count.astype(np.float64)
            qb = qs.reshape((-1,) + (1,) * len(lead))
            v = (n - 1.0) * qb
            above = v >= n - 1.0
            prev = np.where(above, -1.0, np.floor(v))
            t = v - prev
            j = np.where(above, n - 1.0, prev).astype(np.intp)
            k = np.where(above | (t == 0.0), j, j + 1)
            np.clip(j, 0, length - 1, out=j)  # empty slices, masked below
            np.clip(k, 0, length - 1, out=k)
            lines = np.broadcast_to(xs, (qs.size, *xs.shape))
            va = np.take_along_axis(lines, j[..., None], axis=-1)[..., 0]
            vb = np.take_along_axis(lines, k[..., None], axis=-1)[..., 0]
            bad = (count == 0) if skip_nan else (count < length)
            res = np.where(bad, np.nan, _lerp(va, vb, t, kind)).astype(out_dtype)
    res = np.asarray(res)
    if sequence:
        return np.ascontiguousarray(res)
    res = res[0]
    if ax is None:
        scalar = np.asarray(res)[()]
        return scalar.item() if kind is not None else scalar
    return np.ascontiguousarray(res)


def quantile(a: npt.ArrayLike, q: object, axis: int | None = None) -> ReduceResult:
    """Compute the q-th quantile of the data along the specified axis."""
    return _quantile(a, q, axis, skip_nan=False)


def nanquantile(a: npt.ArrayLike, q: object, axis: int | None = None) -> ReduceResult:
    """Compute the q-th quantile of the data along the specified axis, ignoring NaNs."""
    return _quantile(a, q, axis, skip_nan=True)
