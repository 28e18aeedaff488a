"""Reference moving-window functions: the functions of ``corvane.move`` in NumPy.

Every output position i of a slice holds a statistic of the non-NaN values among the
last ``window`` values up to and including i (fewer at the start of the slice), or NaN
when there are fewer than ``min_count`` of them.  Each window is computed afresh from
its own values, so an infinity affects exactly the windows that hold it.  Output is
float32 for float32 input and float64 for every other element type; the sums, means and
variances (``move_sum``, ``move_mean``, ``move_var``, ``move_std``) compute float32 input
in float64 and round each result once to float32.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt
from numpy.lib.stride_tricks import sliding_window_view

from corvane.slow._common import as_array, as_c_int, check_axis

Array = npt.NDArray[Any]

#: A window statistic: (windows, non-NaN mask) of shape (..., window) -> values (...).
Stat = Callable[[Array, Array], Array]

__all__ = [
    "move_argmax",
    "move_argmin",
    "move_max",
    "move_mean",
    "move_median",
    "move_exp_nancount",
    "move_exp_nanmean",
    "move_exp_nanstd",
    "move_exp_nansum",
    "move_exp_nanvar",
    "move_min",
    "move_quantile",
    "move_rank",
    "move_std",
    "move_sum",
    "move_var",
]

#: Upper bound on the number of window elements materialised at once.
_BLOCK = 1 << 20


def _parse(
    a: npt.ArrayLike, window: object, min_count: object, axis: object, ddof: object
) -> tuple[Array, int, int, int, int]:
    """Convert and check the arguments in the order and with the messages of the module."""
    arr = as_array(a)
    win = as_c_int(window, "`window` must be an integer")
    if min_count is None:
        count = win
    else:
        count = as_c_int(min_count, "`min_count` must be an integer or None")
        if count > win:
            raise ValueError(f"min_count ({count}) cannot be greater than window ({win})")
        if count < 1:
            raise ValueError("`min_count` must be greater than zero.")
    if arr.ndim == 0:
        raise ValueError("moving window functions require ndim > 0")
    ax = check_axis(as_c_int(axis, "`axis` must be an integer"), arr.ndim)
    dof = as_c_int(ddof, "`ddof` must be an integer")
    length = arr.shape[ax]
    if not 1 <= win <= length:
        raise ValueError(f"Moving window (={win}) must between 1 and {length}, inclusive")
    if arr.dtype.kind not in "biuf":
        raise TypeError(f"moving window functions do not support {arr.dtype} arrays")
    return arr, win, count, ax, dof


def _out_dtype(arr: Array) -> np.dtype[Any]:
    """float32 for float32 input, float64 for everything else."""
    return np.dtype(np.float32 if arr.dtype == np.float32 else np.float64)


def _moving(
    arr: Array, window: int, min_count: int, axis: int, stat: Stat, values: Array | None = None
) -> Array:
    """Apply ``stat`` to every window along ``axis`` and apply the ``min_count`` rule.

    ``values`` (default: ``arr`` in the output's float type) are the numbers the statistic
    sees.  Each slice is preceded by ``window - 1`` padding entries that count as NaN, so
    position i of the slice sees the window ending at i, shortened at the start.
    """
    out_dtype = _out_dtype(arr)
    if values is None:
        values = arr.astype(out_dtype)
    ok = ~np.isnan(arr) if arr.dtype.kind == "f" else np.ones(arr.shape, bool)

    n = arr.shape[axis]
    x = np.moveaxis(values, axis, -1).reshape(-1, n)
    m = np.moveaxis(ok, axis, -1).reshape(-1, n)
    pad = window - 1
    x = np.concatenate([np.zeros((x.shape[0], pad), x.dtype), x], axis=1)
    m = np.concatenate([np.zeros((m.shape[0], pad), bool), m], axis=1)

    res = np.empty((x.shape[0], n), out_dtype)
    step = max(1, min(n, _BLOCK // window))
    rows = max(1, _BLOCK // (step * window))
    with np.errstate(all="ignore"):
        for r0 in range(0, x.shape[0], rows):
            for p0 in range(0, n, step):
                p1 = min(n, p0 + step)
                wx = sliding_window_view(x[r0 : r0 + rows, p0 : p1 + pad], window, axis=1)
                wm = sliding_window_view(m[r0 : r0 + rows, p0 : p1 + pad], window, axis=1)
                count = wm.sum(axis=-1)
                res[r0 : r0 + rows, p0:p1] = np.where(count >= min_count, stat(wx, wm), np.nan)

    out = np.empty(arr.shape, out_dtype)
    dest = np.moveaxis(out, axis, -1)
    dest[...] = res.reshape(dest.shape)
    return out


# --------------------------------------------------------------------------------------
# Window statistics
# --------------------------------------------------------------------------------------


def _sum(w: Array, ok: Array) -> Array:
    """Sum of the non-NaN values (IEEE: +inf and -inf together give NaN)."""
    total: Array = np.where(ok, w, w.dtype.type(0)).sum(axis=-1)
    return total


def _mean(w: Array, ok: Array) -> Array:
    """Mean of the non-NaN values."""
    mean: Array = _sum(w, ok) / ok.sum(axis=-1).astype(w.dtype)
    return mean


def _var_stat(ddof: int, root: bool) -> Stat:
    """Two-pass variance (or its square root) of the non-NaN values, divisor N - ddof;
    NaN where N - ddof <= 0."""

    def stat(w: Array, ok: Array) -> Array:
        count = ok.sum(axis=-1)
        mean = _sum(w, ok) / count.astype(w.dtype)
        dev = np.where(ok, w - mean[..., None], w.dtype.type(0))
        dof = count - ddof
        var: Array = (dev * dev).sum(axis=-1) / np.where(dof > 0, dof, np.nan).astype(w.dtype)
        if root:
            var = np.sqrt(var)
        return var

    return stat


def _newest_extreme(w: Array, ok: Array, largest: bool) -> Array:
    """Distance back from the window's end to the newest non-NaN extreme (0 = newest)."""
    key = np.where(ok, w, -np.inf if largest else np.inf)
    best = key.max(axis=-1) if largest else key.min(axis=-1)
    hit = ok & (w == best[..., None])
    back: Array = np.argmax(hit[..., ::-1], axis=-1)
    return back


def _extreme_stat(largest: bool, position: bool) -> Stat:
    """The window's extreme value, or its distance back from the window's end."""

    def stat(w: Array, ok: Array) -> Array:
        back = _newest_extreme(w, ok, largest)
        if position:
            return back
        return np.take_along_axis(w, (w.shape[-1] - 1 - back)[..., None], axis=-1)[..., 0]

    return stat


def _median(w: Array, ok: Array) -> Array:
    """Median of the non-NaN values; an even count averages the two middle ones."""
    xs = np.sort(np.where(ok, w, np.nan), axis=-1)
    count = ok.sum(axis=-1)
    last = w.shape[-1] - 1
    upper = np.take_along_axis(xs, np.minimum(count // 2, last)[..., None], axis=-1)[..., 0]
    lower = np.take_along_axis(xs, np.maximum(count // 2 - 1, 0)[..., None], axis=-1)[..., 0]
    return np.where(count % 2 == 1, upper, (lower + upper) * 0.5)


def _rank_stat(out_dtype: np.dtype[Any]) -> Stat:
    """Rank of the window's last value among its non-NaN values, scaled to [-1, 1]."""

    def stat(w: Array, ok: Array) -> Array:
        current = w[..., -1:]
        others, ok_others = w[..., :-1], ok[..., :-1]
        less2 = 2 * (ok_others & (others < current)).sum(axis=-1)
        equal = 1 + (ok_others & (others == current)).sum(axis=-1)
        valid = 1 + ok_others.sum(axis=-1)
        # 2 * (((less2 + equal) - 1) * 0.5 / (valid - 1) - 0.5), in this order of
        # operations; float32 output rounds the quotient to float32 before the last steps.
        half = ((less2 + equal).astype(np.float64) - 1.0) * 0.5
        quotient = (half / (valid - 1).astype(np.float64)).astype(out_dtype)
        scaled = (quotient.astype(np.float64) - 0.5) * 2.0
        scaled = np.where(valid == 1, 0.0, scaled)
        return np.where(ok[..., -1], scaled, np.nan)

    return stat


# --------------------------------------------------------------------------------------
# Public functions
# --------------------------------------------------------------------------------------


def move_sum(a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1) -> Array:
    """Moving window sum along the specified axis, optionally ignoring NaNs.

    float32 input is summed in float64 and each output rounded once to float32.
    """
    arr, win, count, ax, _ = _parse(a, window, min_count, axis, 0)
    # float32 is summed in float64; the output rounds each result once.
    return _moving(arr, win, count, ax, _sum, values=arr.astype(np.float64))


def move_mean(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1
) -> Array:
    """Moving window mean along the specified axis, optionally ignoring NaNs.

    float32 input is summed in float64 and each output rounded once to float32.
    """
    arr, win, count, ax, _ = _parse(a, window, min_count, axis, 0)
    # float32 is summed in float64; the output rounds each result once.
    return _moving(arr, win, count, ax, _mean, values=arr.astype(np.float64))


def move_std(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1, ddof: int = 0
) -> Array:
    """Moving window standard deviation along the specified axis, optionally ignoring NaNs.

    float32 input is computed in float64 and each result rounded once to float32; where
    the number of values minus ``ddof`` is not positive the result is NaN.
    """
    arr, win, count, ax, dof = _parse(a, window, min_count, axis, ddof)
    values = arr.astype(np.float64)
    return _moving(arr, win, count, ax, _var_stat(dof, root=True), values=values)


def move_var(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1, ddof: int = 0
) -> Array:
    """Moving window variance along the specified axis, optionally ignoring NaNs.

    float32 input is computed in float64 and each result rounded once to float32; where
    the number of values minus ``ddof`` is not positive the result is NaN.
    """
    arr, win, count, ax, dof = _parse(a, window, min_count, axis, ddof)
    values = arr.astype(np.float64)
    return _moving(arr, win, count, ax, _var_stat(dof, root=False), values=values)


def move_min(a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1) -> Array:
    """Moving window minimum along the specified axis, optionally ignoring NaNs."""
    arr, win, count, ax, _ = _parse(a, window, min_count, axis, 0)
    return _moving(arr, win, count, ax, _extreme_stat(largest=False, position=False))


def move_max(a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1) -> Array:
    """Moving window maximum along the specified axis, optionally ignoring NaNs."""
    arr, win, count, ax, _ = _parse(a, window, min_count, axis, 0)
    return _moving(arr, win, count, ax, _extreme_stat(largest=True, position=False))


def move_argmin(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1
) -> Array:
    """Moving window index of minimum along the specified axis, optionally ignoring NaNs."""
    arr, win, count, ax, _ = _parse(a, window, min_count, axis, 0)
    return _moving(arr, win, count, ax, _extreme_stat(largest=False, position=True))


def move_argmax(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1
) -> Array:
    """Moving window index of maximum along the specified axis, optionally ignoring NaNs."""
    arr, win, count, ax, _ = _parse(a, window, min_count, axis, 0)
    return _moving(arr, win, count, ax, _extreme_stat(largest=True, position=True))


def move_median(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1
) -> Array:
    """Moving window median along the specified axis, optionally ignoring NaNs."""
    arr, win, count, ax, _ = _parse(a, window, min_count, axis, 0)
    # The median is formed in float64 (float32 values widened) and then narrowed.
    return _moving(arr, win, count, ax, _median, values=arr.astype(np.float64))


def move_rank(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1
) -> Array:
    """Moving window ranking along the specified axis, optionally ignoring NaNs."""
    arr, win, count, ax, _ = _parse(a, window, min_count, axis, 0)
    # Values are compared in their own type, so large int64 values are ranked exactly.
    return _moving(arr, win, count, ax, _rank_stat(_out_dtype(arr)), values=arr)


# --------------------------------------------------------------------------------------
# Moving quantile and exponentially weighted windows
# --------------------------------------------------------------------------------------


def _as_float(obj: object, message: str) -> float:
    """Read ``obj`` as a C double like ``PyFloat_AsDouble``, else ``TypeError(message)``.

    Strings and arrays of one or more dimensions are refused (a scalar is wanted)."""
    if isinstance(obj, (str, bytes, bytearray)) or (isinstance(obj, np.ndarray) and obj.ndim):
        raise TypeError(message)
    try:
        return float(obj)  # type: ignore[arg-type]
    except (TypeError, ValueError, OverflowError):
        raise TypeError(message) from None


def _check_array(arr: Array, axis: int) -> int:
    """The axis normalised against ``arr``, after every argument has been converted."""
    if arr.ndim == 0:
        raise ValueError("moving window functions require ndim > 0")
    return check_axis(axis, arr.ndim)


def _check_kind(arr: Array) -> None:
    if arr.dtype.kind not in "biuf":
        raise TypeError(f"moving window functions do not support {arr.dtype} arrays")


def _quantile_stat(q: float) -> Stat:
    """pandas' linear interpolation between the order statistics around q * (n - 1)."""

    def stat(w: Array, ok: Array) -> Array:
        xs = np.sort(np.where(ok, w, np.nan), axis=-1)
        count = ok.sum(axis=-1)
        h = q * (count - 1).astype(np.float64)
        last = w.shape[-1] - 1
        k = np.clip(h.astype(np.int64), 0, last)
        low = np.take_along_axis(xs, k[..., None], axis=-1)[..., 0]
        high = np.take_along_axis(xs, np.minimum(k + 1, last)[..., None], axis=-1)[..., 0]
        f = h - k
        v = low + (high - low) * f
        # Infinities: the limit of the interpolation (NaN only between -inf and +inf).
        limit = np.where(low == high, low, low * (1.0 - f) + high * f)
        v = np.where(np.isnan(v), limit, v)
        return np.where(h == k, low, v)

    return stat


def move_quantile(
    a: npt.ArrayLike, window: int, q: float, min_count: int | None = None, axis: int = -1
) -> Array:
    """Moving window quantile along the specified axis, ignoring NaNs.

    With n non-NaN values in the window and h = q * (n - 1): the order statistic of
    rank h when h is whole, else pandas' linear interpolation between the ranks
    floor(h) and floor(h) + 1.  Computed in float64; float32 input gives float32.
    """
    win = as_c_int(window, "`window` must be an integer")
    qf = _as_float(q, "`q` must be a float")
    if not 0.0 <= qf <= 1.0:
        raise ValueError("Quantiles must be in the range [0, 1]")
    if min_count is None:
        count = win
    else:
        count = as_c_int(min_count, "`min_count` must be an integer or None")
        if count > win:
            raise ValueError(f"min_count ({count}) cannot be greater than window ({win})")
        if count < 1:
            raise ValueError("`min_count` must be greater than zero.")
    ax_arg = as_c_int(axis, "`axis` must be an integer")
    # The scalars first: their conversion may run code that changes the array.
    arr = as_array(a)
    ax = _check_array(arr, ax_arg)
    length = arr.shape[ax]
    if not 1 <= win <= length:
        raise ValueError(f"Moving window (={win}) must between 1 and {length}, inclusive")
    _check_kind(arr)
    values = arr.astype(np.float64)
    return _moving(arr, win, count, ax, _quantile_stat(qf), values=values)


def _exp_parse(
    a: npt.ArrayLike, alpha: object, min_weight: object, axis: object
) -> tuple[Any, ...]:
    al = _as_float(alpha, "`alpha` must be a float")
    if not 0.0 < al <= 1.0:
        raise ValueError("`alpha` must be in the range (0, 1]")
    mw = _as_float(min_weight, "`min_weight` must be a float")
    if mw != mw:
        raise ValueError("`min_weight` must not be NaN")
    ax_arg = as_c_int(axis, "`axis` must be an integer")
    # The scalars first: their conversion may run code that changes the array.
    arr = as_array(a)
    ax = _check_array(arr, ax_arg)
    _check_kind(arr)
    return arr, al, mw, ax


def _exp_scan(arr: Array, alpha: float, min_weight: float, axis: int, stat: str) -> Array:
    """One exponentially weighted statistic, position by position along ``axis`` for all
    slices at once, by the same recurrences as the native kernels (see their docstrings).
    """
    n = arr.shape[axis]
    rows = arr.size // n if n else int(np.prod(np.delete(arr.shape, axis)))
    x = np.moveaxis(arr.astype(np.float64), axis, -1).reshape(rows, n)
    decay = 1.0 - alpha
    full = alpha == 1.0
    nan = np.full(rows, np.nan)
    weight = np.zeros(rows)
    acc = np.zeros(rows)  # count, sum or the mean's numerator
    den = np.zeros(rows)  # the mean's decayed count
    seen = np.zeros(rows, bool)
    mean = nan.copy() if stat == "mean" else np.zeros(rows)
    big_w = np.zeros(rows)
    w2 = np.zeros(rows)
    var = np.zeros(rows)
    spread = np.zeros(rows, bool)  # two values or more since the last fresh start
    res = np.empty((rows, n))
    with np.errstate(all="ignore"):
        for i in range(n):
            xi = x[:, i]
            obs = ~np.isnan(xi)
            weight = weight * decay + np.where(obs, alpha, 0.0)
            if stat == "count":
                acc = acc * decay + np.where(obs, 1.0, 0.0)
                out = acc
            elif stat in ("sum", "mean"):
                kept = np.zeros(rows) if full else acc * decay
                acc = np.where(obs, kept + xi, kept)
                seen |= obs
                out = np.where(seen, acc, np.nan)
                if stat == "mean":
                    den = den * decay + np.where(obs, 1.0, 0.0)
                    mean = np.where(obs, acc / den, mean)
                    out = mean
            else:
                old = big_w * decay
                w2 = w2 * (decay * decay) + np.where(obs, 1.0, 0.0)
                big_w = np.where(obs, old + 1.0, old)
                num = big_w * big_w
                divisor = num - w2
                inv = 1.0 / (big_w * divisor)
                r = divisor * inv
                delta = xi - mean
                first = ~(divisor > 0.0)
                nxt = mean + r * delta
                var = np.where(
                    obs, np.where(first, 0.0, (old * r) * var + r * delta * (xi - nxt)), var
                )
                mean = np.where(obs, np.where(first, xi, nxt), mean)
                spread = np.where(obs, ~first, spread)
                out = np.where((divisor > 0.0) & spread, (num * big_w * inv) * var, np.nan)
                if stat == "std":
                    out = np.sqrt(out)
            res[:, i] = np.where(weight >= min_weight, out, np.nan)
    out_arr = np.empty(arr.shape, _out_dtype(arr))
    dest = np.moveaxis(out_arr, axis, -1)
    dest[...] = res.reshape(dest.shape)
    return out_arr


def move_exp_nanmean(
    a: npt.ArrayLike, alpha: float, min_weight: float = 0, axis: int = -1
) -> Array:
    """Exponentially weighted moving mean along the specified axis, ignoring NaNs."""
    arr, al, mw, ax = _exp_parse(a, alpha, min_weight, axis)
    return _exp_scan(arr, al, mw, ax, "mean")


def move_exp_nansum(
    a: npt.ArrayLike, alpha: float, min_weight: float = 0, axis: int = -1
) -> Array:
    """Exponentially weighted moving sum along the specified axis, ignoring NaNs."""
    arr, al, mw, ax = _exp_parse(a, alpha, min_weight, axis)
    return _exp_scan(arr, al, mw, ax, "sum")


def move_exp_nanvar(
    a: npt.ArrayLike, alpha: float, min_weight: float = 0, axis: int = -1
) -> Array:
    """Exponentially weighted moving variance (bias-corrected) along the specified axis,
    ignoring NaNs."""
    arr, al, mw, ax = _exp_parse(a, alpha, min_weight, axis)
    return _exp_scan(arr, al, mw, ax, "var")


def move_exp_nanstd(
    a: npt.ArrayLike, alpha: float, min_weight: float = 0, axis: int = -1
) -> Array:
    """Exponentially weighted moving standard deviation along the specified axis, ignoring
    NaNs."""
    arr, al, mw, ax = _exp_parse(a, alpha, min_weight, axis)
    return _exp_scan(arr, al, mw, ax, "std")


def move_exp_nancount(
    a: npt.ArrayLike, alpha: float, min_weight: float = 0, axis: int = -1
) -> Array:
    """Exponentially weighted moving count of the non-NaN values along the specified axis."""
    arr, al, mw, ax = _exp_parse(a, alpha, min_weight, axis)
    return _exp_scan(arr, al, mw, ax, "count")
