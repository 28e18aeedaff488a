"""How each function runs on a dask array: one of four patterns plus its few parameters.

The chunk work is always corvane's own eager function (native for the four kernel
types, :mod:`corvane.slow` for the rest); this module only arranges the pieces:

* ``Reduction``: ``dask.array.reduction`` with chunk / combine / aggregate pieces,
  or ``arg_reduction`` for the positions of the extremes;
* ``Overlap``: ``map_overlap`` with ``depth - 1`` values of history before each chunk;
* ``Scan``: ``push`` across chunks with ``cumreduction`` (or an overlap when ``n`` is set);
* ``OneChunk``: the axis (or the whole array) brought into one chunk.

Argument checks run when the graph is built: the eager function is called with the
same arguments on a zero-stride stand-in of the input's dtype and ndim (see
``_probe``), so errors and their messages are exactly the eager ones.
"""

from __future__ import annotations

import operator
import warnings
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from functools import partial
from typing import Any, ClassVar

import dask.array as da
import numpy as np
import numpy.typing as npt
from dask.array.reductions import arg_reduction, cumreduction

import corvane
from corvane.slow._common import native_kind

Array = npt.NDArray[Any]
Params = dict[str, Any]

_F64 = np.dtype(np.float64)
_NO_POSITION = np.iinfo(np.int64).max


# --------------------------------------------------------------------------------------
# Argument checks and output types
# --------------------------------------------------------------------------------------


def _as_index(obj: object) -> int | None:
    """``obj`` as an integer the way the eager functions read one, or None."""
    if isinstance(obj, (bool, np.bool_)):
        return None
    try:
        return operator.index(obj)  # type: ignore[arg-type]
    except TypeError:
        return None


def _valid_axis(axis: object, ndim: int) -> int | None:
    """The normalised axis if ``axis`` is a valid one for ``ndim`` dimensions, else None."""
    ax = _as_index(axis)
    if ax is None or not -ndim <= ax < ndim:
        return None
    return ax % ndim


def _probe(x: da.Array, axis: object, extent: int | None, flatten: bool, writeable: bool) -> Array:
    """A stand-in for ``x`` on which the eager function checks its arguments.

    Same dtype and ndim; along the axis the real length capped at ``extent`` (enough
    for every length check to come out as it would on ``x``), length 1 elsewhere
    (0 where ``x`` has 0); ``extent=None``: the real length.  ``flatten``: the
    function ravels for ``axis=None``, so the stand-in is 1-d with the real size
    capped.  Zero strides keep it free.
    """
    if any(np.isnan(s) for s in x.shape):
        raise ValueError(
            "corvane.dask needs known chunk sizes; call `compute_chunk_sizes()` first"
        )
    shape: tuple[int, ...]
    if flatten and axis is None:
        shape = (int(x.size) if extent is None else min(int(x.size), extent),)
    else:
        ax = _valid_axis(axis, x.ndim)
        along = (lambda d: d) if extent is None else (lambda d: min(d, extent))
        shape = tuple(along(d) if i == ax else min(d, 1) for i, d in enumerate(x.shape))
    if writeable:
        return np.zeros(shape, x.dtype)
    return np.broadcast_to(np.zeros((), x.dtype), shape)


def _checked(
    name: str,
    x: da.Array,
    params: Params,
    axis: object,
    extent: int,
    flatten: bool,
    writeable: bool,
) -> Any:
    """The eager function's result on a stand-in for ``x``, or its exact error.

    A failed check is repeated on a stand-in with the real axis length, since the
    messages quote it; the checks fail before any work, so that costs nothing.
    """
    try:
        return _eager(name, _probe(x, axis, extent, flatten, writeable), params)
    except Exception:
        return _eager(name, _probe(x, axis, None, flatten, writeable), params)


def _extent(*values: object) -> int:
    """Probe length that keeps every ``value <= length`` style check as on the real axis."""
    ints = [v for v in map(_as_index, values) if v is not None]
    return max([1] + [v + 1 for v in ints])


# --------------------------------------------------------------------------------------
# Reductions
# --------------------------------------------------------------------------------------


def _whole(axes: Sequence[int], ndim: int) -> bool:
    return len(axes) == ndim


def _eager_axis(axes: Sequence[int], ndim: int) -> int | None:
    """The axis argument the eager function gets for a chunk reduced over ``axes``."""
    return None if _whole(axes, ndim) else axes[0]


def _keep(res: object, ndim: int, ax: int | None, dtype: np.dtype[Any] | None = None) -> Array:
    """An eager result with the reduced axes kept as length 1 (dask's keepdims)."""
    out = np.asarray(res, dtype=dtype)
    if ax is None:
        return out.reshape((1,) * ndim)
    return np.expand_dims(out, ax)


def _merge_axes(a: Array, axes: Sequence[int]) -> Array:
    """``a`` with the reduced ``axes`` moved to the end and merged into one."""
    rest = [i for i in range(a.ndim) if i not in axes]
    moved = np.transpose(a, rest + sorted(axes))
    kept = moved.shape[: len(rest)]
    return moved.reshape((*kept, int(np.prod(moved.shape[len(rest) :]))))


def _unmerge(res: Array, shape: tuple[int, ...], axes: Sequence[int], keepdims: bool) -> Array:
    """Inverse of ``_merge_axes`` for a result reduced over the merged axis."""
    if keepdims:
        return res.reshape(tuple(1 if i in axes else n for i, n in enumerate(shape)))
    return res.reshape(tuple(n for i, n in enumerate(shape) if i not in axes))


def _widen(x: Array) -> Array:
    """Floats narrower than float64 are summed in float64 and rounded once at the end."""
    if x.dtype.kind == "f" and x.dtype.itemsize < 8:
        return x.astype(np.float64)
    return x


def _count(x: Array, ax: int | None) -> Array | int:
    """Number of non-NaN values along ``ax`` (all of them for types without NaN)."""
    n = x.size if ax is None else x.shape[ax]
    if x.dtype.kind not in "fc":
        return n if ax is None else np.full(np.delete(x.shape, ax), n, np.int64)
    return n - np.count_nonzero(np.isnan(x), axis=ax)


def _no_meta(x: Array) -> Array:
    # dask asks the chunk piece for its output type on an empty input; the reduction's
    # own ``meta`` already says it.
    return np.empty((0,) * x.ndim)


def _sum_chunk(
    func: Callable[..., Any],
    part: np.dtype[Any],
    x: Array,
    axis: tuple[int, ...],
    keepdims: bool,
    computing_meta: bool = False,
) -> Array:
    if computing_meta:
        return _no_meta(x)
    ax = _eager_axis(axis, x.ndim)
    return _keep(func(_widen(x), axis=ax), x.ndim, ax, part)


def _sum_combine(parts: Array, axis: tuple[int, ...], keepdims: bool) -> Array:
    # A plain sum: a NaN partial (inf - inf inside a chunk) must stay NaN, and integer
    # partials wrap in their own type, as the eager sums do.
    with np.errstate(all="ignore"):
        return np.sum(parts, axis=axis, keepdims=keepdims, dtype=parts.dtype)


def _pick_chunk(
    func: Callable[..., Any],
    part: np.dtype[Any],
    x: Array,
    axis: tuple[int, ...],
    keepdims: bool,
    computing_meta: bool = False,
) -> Array:
    """Per-chunk nanmin/nanmax/anynan/allnan; the same function combines the partials."""
    if computing_meta:
        return _no_meta(x)
    ax = _eager_axis(axis, x.ndim)
    return _keep(func(x, axis=ax), x.ndim, ax, part)


def _pick_combine(
    func: Callable[..., Any], parts: Array, axis: tuple[int, ...], keepdims: bool
) -> Array:
    merged = _merge_axes(parts, axis)
    res = func(merged, axis=-1 if merged.ndim > 1 else None)
    return _unmerge(np.asarray(res), parts.shape, axis, keepdims)


_MEAN_PARTS = np.dtype([("n", np.int64), ("sum", np.float64)])
_MOMENT_PARTS = np.dtype([("n", np.int64), ("mean", np.float64), ("m2", np.float64)])


def _mean_chunk(
    x: Array, axis: tuple[int, ...], keepdims: bool, computing_meta: bool = False
) -> Array:
    if computing_meta:
        return _no_meta(x)
    ax = _eager_axis(axis, x.ndim)
    x64 = x.astype(np.float64, copy=False)
    n = _keep(_count(x, ax), x.ndim, ax)
    out = np.empty(n.shape, _MEAN_PARTS)
    out["n"] = n
    out["sum"] = _keep(corvane.nansum(x64, axis=ax), x.ndim, ax)
    return out


def _mean_combine(parts: Array, axis: tuple[int, ...], keepdims: bool) -> Array:
    out = np.empty(np.sum(parts["n"], axis=axis, keepdims=keepdims).shape, _MEAN_PARTS)
    out["n"] = np.sum(parts["n"], axis=axis, keepdims=keepdims)
    with np.errstate(all="ignore"):
        out["sum"] = np.sum(parts["sum"], axis=axis, keepdims=keepdims)
    return out


def _mean_aggregate(
    parts: Array, axis: tuple[int, ...], keepdims: bool, dtype: np.dtype[Any]
) -> Array:
    total = _mean_combine(parts, axis, keepdims)
    with np.errstate(all="ignore"):
        return (total["sum"] / total["n"]).astype(dtype)


def _moment_chunk(
    x: Array, axis: tuple[int, ...], keepdims: bool, computing_meta: bool = False
) -> Array:
    """(count, mean, M2) of the non-NaN values, each computed by the eager kernels."""
    if computing_meta:
        return _no_meta(x)
    ax = _eager_axis(axis, x.ndim)
    x64 = x.astype(np.float64, copy=False)
    n = _keep(_count(x, ax), x.ndim, ax)
    out = np.empty(n.shape, _MOMENT_PARTS)
    out["n"] = n
    with np.errstate(all="ignore"), warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        mean = _keep(corvane.nanmean(x64, axis=ax), x.ndim, ax)
        m2 = _keep(corvane.nanvar(x64, axis=ax), x.ndim, ax) * n
    empty = n == 0
    out["mean"] = np.where(empty, 0.0, mean)
    out["m2"] = np.where(empty, 0.0, m2)
    return out


def _chan(a: Array, b: Array) -> Array:
    """Chan, Golub and LeVeque's parallel update of two (count, mean, M2) partials."""
    out = np.empty(a.shape, _MOMENT_PARTS)
    n = a["n"] + b["n"]
    with np.errstate(all="ignore"):
        share = np.where(n > 0, b["n"] / n, 0.0)
        delta = b["mean"] - a["mean"]
        both = (a["n"] > 0) & (b["n"] > 0)
        out["mean"] = np.where(both, a["mean"] + delta * share, a["mean"] + b["mean"])
        out["m2"] = a["m2"] + b["m2"] + np.where(both, delta * delta * a["n"] * share, 0.0)
    out["n"] = n
    return out


def _moment_combine(parts: Array, axis: tuple[int, ...], keepdims: bool) -> Array:
    merged = _merge_axes(parts, axis)
    total = merged[..., 0]
    for k in range(1, merged.shape[-1]):
        total = _chan(total, merged[..., k])
    return _unmerge(total, parts.shape, axis, keepdims)


def _moment_aggregate(
    parts: Array,
    axis: tuple[int, ...],
    keepdims: bool,
    *,
    ddof: int,
    root: bool,
    whole: bool,
    length: int,
    numpy_rule: bool,
    dtype: np.dtype[Any],
) -> Array:
    total = _moment_combine(parts, axis, keepdims)
    divisor = total["n"] - ddof
    with np.errstate(all="ignore"):
        if numpy_rule:
            # Integer types without kernels get NumPy's var: divisor max(N - ddof, 0).
            var = total["m2"] / np.maximum(divisor, 0)
        else:
            var = total["m2"] / divisor
            # As eagerly: a zero-length axis gives NaN whatever ddof is, an empty whole
            # array does not.
            var = np.where((divisor > 0) & (whole or length > 0), var, np.nan)
        if root:
            var = np.sqrt(var)
    return var.astype(dtype)


def _arg_chunk(func: Callable[..., Any], x: Array, axis: tuple[int, ...], offset: Any) -> Array:
    """Per-chunk (value, global position) of the first extreme; value NaN: no candidate."""
    ax = _eager_axis(axis, x.ndim)
    empty = None
    if x.dtype.kind in "fc":
        empty = np.asarray(corvane.allnan(x, axis=ax))
        if empty.any():
            # An all-NaN slice of one chunk is no error: another chunk may hold values.
            x = np.where(_keep(empty, x.ndim, ax), x.dtype.type(0), x)
    pos = np.asarray(
        corvane.nanargmin(x, axis=ax) if func is min else corvane.nanargmax(x, axis=ax)
    )
    if ax is None:
        vals = x.reshape(-1)[pos]
        starts, total_shape = offset
        where = tuple(
            s + i for s, i in zip(starts, np.unravel_index(int(pos), x.shape), strict=True)
        )
        arg = np.asarray(np.ravel_multi_index(where, total_shape), np.int64)
    else:
        vals = np.take_along_axis(x, np.expand_dims(pos, ax), ax).squeeze(ax)
        arg = pos.astype(np.int64) + offset
    if empty is not None:
        vals = np.where(empty, np.nan, vals)
    out = np.empty(_keep(vals, x.ndim, ax).shape, [("vals", vals.dtype), ("arg", np.int64)])
    out["vals"] = _keep(vals, x.ndim, ax)
    out["arg"] = _keep(arg, x.ndim, ax)
    return out


def _arg_pick(func: Callable[..., Any], parts: Array, axis: Sequence[int]) -> tuple[Array, Array]:
    """The partial with the extreme value, of equal ones the first position."""
    vals, arg = _merge_axes(parts["vals"], axis), _merge_axes(parts["arg"], axis)
    largest = func is max
    if vals.dtype.kind in "fc":
        missing = np.isnan(vals)
        key = np.where(missing, -np.inf if largest else np.inf, vals)
    else:
        missing = np.zeros(vals.shape, bool)
        key = vals
    best = key.max(axis=-1) if largest else key.min(axis=-1)
    hit = ~missing & (vals == best[..., None])
    pos = np.where(hit, arg, _NO_POSITION).min(axis=-1)
    found = hit.any(axis=-1)
    if vals.dtype.kind in "fc":
        best = np.where(found, best, np.nan)
    return best, pos


def _arg_combine(
    func: Callable[..., Any], parts: Array, axis: Sequence[int], keepdims: bool = True
) -> Array:
    best, pos = _arg_pick(func, parts, axis)
    out = np.empty(best.shape, parts.dtype)
    out["vals"], out["arg"] = best, pos
    return _unmerge(out, parts.shape, axis, keepdims)


def _arg_aggregate(
    func: Callable[..., Any], parts: Array, axis: Sequence[int], keepdims: bool = False
) -> Array:
    _, pos = _arg_pick(func, parts, axis)
    if (pos == _NO_POSITION).any():
        raise ValueError("All-NaN slice encountered")
    return _unmerge(pos, parts.shape, axis, keepdims)


# --------------------------------------------------------------------------------------
# Patterns
# --------------------------------------------------------------------------------------


def _reduced(x: da.Array, axis: int | None) -> tuple[int, ...]:
    """Axes a reduction runs over: all of them for None or a 1-d input, as eagerly."""
    if axis is None or x.ndim == 1:
        return tuple(range(x.ndim))
    return (axis % x.ndim,)


def _along_result(name: str, dtype: np.dtype[Any], params: Params) -> Array:
    """The eager function's result along axis 1 of a (1, 2) stand-in of this type:
    its element type, and (for quantiles) any leading axis the parameters add."""
    probe = np.zeros((1, 2), dtype)
    extra = {k: v for k, v in params.items() if k != "axis"}
    with np.errstate(all="ignore"), warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        return np.asarray(getattr(corvane, name)(probe, axis=1, **extra))


def _result_dtype(name: str, dtype: np.dtype[Any], params: Params) -> np.dtype[Any]:
    """The element type of the eager function's along-axis result for this input type."""
    return _along_result(name, dtype, params).dtype


@dataclass(frozen=True)
class Reduction:
    """``dask.array.reduction`` over the axis (or all axes) with three pieces.

    ``kind`` selects the pieces: "sum" (partial sums, float32 carried in float64),
    "pick" (the eager function combines its own partials: extremes, NaN tests),
    "mean" (count and sum), "moments" (count, mean, M2 by Chan's update), "arg"
    (value and position of the first extreme, an arg-reduction).
    """

    kind: str
    root: bool = False
    largest: bool = False
    #: For "pick": how partials combine, if not by the eager function itself.
    merge: Callable[..., Any] | None = None

    how: ClassVar[str] = (
        "Each chunk is reduced by the eager function and the partial results are "
        "combined in a tree (``dask.array.reduction``): float32 partials in float64, "
        "rounded once; integer sums wrap in their own type as the eager ones do; "
        "variances combine (count, mean, M2) with Chan's parallel update; positions "
        "of the extremes are carried with their values.  Sums and moments agree with "
        "the eager results to rounding, the others exactly."
    )

    def check(self, name: str, x: da.Array, params: Params) -> None:
        _checked(name, x, params, params["axis"], 1, False, False)

    def build(self, name: str, x: da.Array, params: Params) -> da.Array:
        axes = _reduced(x, params["axis"])
        dtype = _result_dtype(name, x.dtype, params)
        meta = np.empty((0,) * (x.ndim - len(axes)), dtype)
        func = getattr(corvane, name)
        if self.kind == "arg":
            pick = max if self.largest else min
            axis = None if len(axes) == x.ndim else axes[0]
            return arg_reduction(
                x,
                partial(_arg_chunk, pick),
                partial(_arg_combine, pick),
                partial(_arg_aggregate, pick),
                axis=axis,
            )
        if self.kind == "sum":
            # Integer partials keep their type (sums wrap in it); floats go float64.
            part = _F64 if dtype.kind == "f" else dtype
            chunk: Callable[..., Any] = partial(_sum_chunk, func, part)
            combine: Callable[..., Any] = _sum_combine
            aggregate: Callable[..., Any] = _cast(_sum_combine, dtype)
        elif self.kind == "pick":
            merge = self.merge or func
            chunk, combine = partial(_pick_chunk, func, dtype), partial(_pick_combine, merge)
            aggregate = _cast(combine, dtype)
        elif self.kind == "mean":
            chunk, combine = _mean_chunk, _mean_combine
            aggregate = partial(_mean_aggregate, dtype=dtype)
        else:
            chunk, combine = _moment_chunk, _moment_combine
            aggregate = partial(
                _moment_aggregate,
                ddof=operator.index(params["ddof"]),
                root=self.root,
                whole=_whole(axes, x.ndim),
                length=x.shape[axes[0]] if axes else 0,
                numpy_rule=x.dtype.kind in "iub" and native_kind(x.dtype) is None,
                dtype=dtype,
            )
        return da.reduction(
            x,
            chunk,
            aggregate,
            axis=axes,
            combine=combine,
            dtype=dtype,
            meta=meta,
            name=f"corvane-{name}",
        )


def _cast(func: Callable[..., Array], dtype: np.dtype[Any]) -> Callable[..., Array]:
    def cast(parts: Array, axis: tuple[int, ...], keepdims: bool) -> Array:
        return np.asarray(func(parts, axis=axis, keepdims=keepdims)).astype(dtype)

    return cast


def _moving_out(dtype: np.dtype[Any]) -> np.dtype[Any]:
    return np.dtype(np.float32 if dtype == np.float32 else np.float64)


@dataclass(frozen=True)
class Overlap:
    """``map_overlap`` with ``window - 1`` values of history before each chunk.

    Every window then lies inside one block, so each output value is computed from
    exactly the values the eager function sees; running sums restart per block, so
    sums and moments agree with the eager ones to rounding.
    """

    how: ClassVar[str] = (
        "``map_overlap`` with ``window - 1`` values of history before each chunk along "
        "the axis (shorter chunks are merged first), the eager function on each block. "
        "Extremes, their positions, medians and ranks are bit-identical to the eager "
        "results; sums and moments agree to rounding."
    )

    def check(self, name: str, x: da.Array, params: Params) -> None:
        extent = _extent(params["window"])
        _checked(name, x, params, params["axis"], extent, False, False)

    def build(self, name: str, x: da.Array, params: Params) -> da.Array:
        ax = params["axis"] % x.ndim
        window = operator.index(params["window"])
        # The first block sees no history, so it must hold a whole window itself.
        x = x.rechunk({ax: da.overlap.ensure_minimum_chunksize(window, x.chunks[ax])})
        func = partial(getattr(corvane, name), **{**params, "axis": ax})
        out = _moving_out(x.dtype)
        return da.map_overlap(
            func,
            x,
            depth={ax: (window - 1, 0)},
            boundary="none",
            dtype=out,
            meta=np.empty((0,) * x.ndim, out),
        )


def _fill_leading(carry: Array, block: Array) -> Array:
    """A pushed block's leading NaNs take the last valid value of the blocks before it."""
    return np.where(np.isnan(block), carry, block)


@dataclass(frozen=True)
class Scan:
    """``push`` (forward fill) or ``bfill`` (``backward``) across chunks.

    With ``n`` set (and shorter than the axis), an overlap of depth ``n`` on the side
    the values come from; otherwise a scan (``cumreduction``) whose combine fills each
    block's leading NaNs from the last valid value before it, so a gap may span any
    number of chunks.  The backward fill is that forward scan on the reversed axis.
    """

    backward: bool = False

    how: ClassVar[str] = (
        "With ``n`` set, ``map_overlap`` of depth ``n``; with ``n=None`` a scan across "
        "chunks (``cumreduction``) that fills each chunk's NaNs from the nearest valid "
        "value in the chunks before it (after it, for ``bfill``, which scans the "
        "reversed axis), so a gap may span any number of chunks.  Results are "
        "bit-identical to the eager ones."
    )

    def check(self, name: str, x: da.Array, params: Params) -> None:
        _checked(name, x, params, params["axis"], 1, False, False)

    def build(self, name: str, x: da.Array, params: Params) -> da.Array:
        ax = params["axis"] % x.ndim
        n = params["n"]
        func = getattr(corvane, name)
        meta = np.empty((0,) * x.ndim, x.dtype)
        if x.dtype.kind not in "fc":
            # Nothing to fill; the eager function returns a copy.
            return da.map_blocks(partial(func, axis=ax), x, dtype=x.dtype, meta=meta)
        if n is not None and operator.index(n) < x.shape[ax] - 1:
            n = operator.index(n)
            return da.map_overlap(
                partial(func, n=n, axis=ax),
                x,
                depth={ax: (0, n) if self.backward else (n, 0)},
                boundary="none",
                dtype=x.dtype,
                meta=meta,
            )
        if self.backward:
            # Filling backwards is filling forwards on the reversed axis.
            flipped = da.flip(x, ax)
            filled = cumreduction(
                corvane.push, _fill_leading, np.nan, flipped, axis=ax, dtype=x.dtype
            )
            return da.flip(filled, ax)
        return cumreduction(corvane.push, _fill_leading, np.nan, x, axis=ax, dtype=x.dtype)


@dataclass(frozen=True)
class OneChunk:
    """The axis brought into one chunk (other axes rechunked to dask's automatic
    size), then the eager function on each block.  With ``axis=None`` the whole
    array becomes one block, so its memory must fit on one worker.

    ``reduces``: the axis disappears (medians).  ``flattens``: ``axis=None`` ravels the
    input (partition, ranking).  ``extent``: parameter names whose value bounds the
    axis length in the eager checks.
    """

    reduces: bool = False
    flattens: bool = False
    extent: tuple[str, ...] = ()
    #: Why the axis must be in one chunk, where that is not plain from the function.
    note: str = ""

    how: ClassVar[str] = (
        "The axis is brought into one chunk (other axes rechunked to dask's automatic "
        "size) and the eager function runs on each block: results are bit-identical. "
        "With ``axis=None`` (or a 1-d input to a median or quantile) on several chunks "
        "the whole array becomes one chunk, so it must fit in one worker's memory."
    )

    def check(self, name: str, x: da.Array, params: Params) -> Any:
        extent = _extent(*(params[p] for p in self.extent))
        return _checked(name, x, params, params["axis"], extent, self.flattens, False)

    def build(self, name: str, x: da.Array, params: Params) -> da.Array:
        axis = params["axis"]
        # The eager result on the stand-in has the output's element type (a whole-array
        # median is a Python scalar, so those ask the along-axis form).
        leading: tuple[int, ...] = ()
        if self.reduces:
            along = _along_result(name, x.dtype, params)
            dtype = along.dtype
            # A sequence of quantiles puts its own axis first.
            leading = along.shape[:-1]
        else:
            dtype = np.asarray(self.check(name, x, params)).dtype
        if x.size == 0:
            # No data, nothing to gather (and dask cannot rechunk empty arrays).
            return da.from_array(
                np.asarray(_eager(name, np.zeros(x.shape, x.dtype), params), dtype)
            )
        ax: int | None = None
        if axis is None or (self.reduces and x.ndim == 1):
            x = (x.reshape(-1) if self.flattens else x).rechunk(-1)
        else:
            ax = axis % x.ndim
            x = x.rechunk({i: -1 if i == ax else "auto" for i in range(x.ndim)})
        others = {k: v for k, v in params.items() if k != "axis"}
        block = partial(_eager_block, getattr(corvane, name), dtype, axis=ax, **others)
        dropped = (list(range(x.ndim)) if ax is None else [ax]) if self.reduces else []
        meta = np.empty((0,) * (x.ndim - len(dropped) + len(leading)), dtype)
        if leading:
            kept = tuple(c for i, c in enumerate(x.chunks) if i not in dropped)
            chunks = (leading, *kept)
            return da.map_blocks(
                block, x, drop_axis=dropped, new_axis=0, chunks=chunks, dtype=dtype, meta=meta
            )
        return da.map_blocks(block, x, drop_axis=dropped, dtype=dtype, meta=meta)


def _eager_block(
    func: Callable[..., Any], dtype: np.dtype[Any], block: Array, **params: Any
) -> Array:
    # A whole-array result is a Python scalar: back to the result's element type.
    return np.asarray(func(block, **params), dtype)


def _replace_block(block: Array, old: Any, new: Any) -> Array:
    # Blocks may be views of the caller's array (``from_array``): replace in a copy.
    return corvane.replace(block.copy(), old, new)


@dataclass(frozen=True)
class Elementwise:
    """``replace`` block by block into new blocks; dask arrays are immutable."""

    how: ClassVar[str] = (
        "Returns a new dask array with ``old`` (or NaN) replaced by ``new``, block by "
        "block; dask arrays are immutable, so unlike the eager function nothing is "
        "changed in place, and a NumPy array the input wraps is left as it is."
    )

    def check(self, name: str, x: da.Array, params: Params) -> None:
        _checked(name, x, params, None, 1, False, True)

    def build(self, name: str, x: da.Array, params: Params) -> da.Array:
        return da.map_blocks(
            partial(_replace_block, **params),
            x,
            dtype=x.dtype,
            meta=np.empty((0,) * x.ndim, x.dtype),
        )


Plan = Reduction | Overlap | Scan | OneChunk | Elementwise


def _eager(name: str, probe: Array, params: Params) -> Any:
    with np.errstate(all="ignore"), warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        return getattr(corvane, name)(probe, **params)


_EXP_NOTE = (
    "An exponentially weighted value depends on every value before it in the slice, "
    "so the axis is one chunk; the other axes stay split."
)

#: Every function's pattern.  To add one: an entry here, a wrapper in
#: ``corvane.dask`` and a method in ``corvane.xarray``.
TABLE: dict[str, Plan] = {
    "nansum": Reduction("sum"),
    "ss": Reduction("sum"),
    "nanmean": Reduction("mean"),
    "nanvar": Reduction("moments"),
    "nanstd": Reduction("moments", root=True),
    "nanmin": Reduction("pick"),
    "nanmax": Reduction("pick"),
    "anynan": Reduction("pick", merge=np.any),
    "allnan": Reduction("pick", merge=np.all),
    "nanargmin": Reduction("arg"),
    "nanargmax": Reduction("arg", largest=True),
    "median": OneChunk(reduces=True),
    "nanmedian": OneChunk(reduces=True),
    "quantile": OneChunk(reduces=True),
    "nanquantile": OneChunk(reduces=True),
    **{
        name: Overlap()
        for name in (
            "move_sum",
            "move_mean",
            "move_std",
            "move_var",
            "move_min",
            "move_max",
            "move_argmin",
            "move_argmax",
            "move_median",
            "move_rank",
            "move_quantile",
        )
    },
    **{
        f"move_exp_{stat}": OneChunk(note=_EXP_NOTE)
        for stat in ("nanmean", "nansum", "nanvar", "nanstd", "nancount")
    },
    "partition": OneChunk(flattens=True, extent=("kth",)),
    "argpartition": OneChunk(flattens=True, extent=("kth",)),
    "rankdata": OneChunk(flattens=True),
    "nanrankdata": OneChunk(flattens=True),
    "push": Scan(),
    "bfill": Scan(backward=True),
    "replace": Elementwise(),
}


def run(name: str, a: Any, params: Params) -> Any:
    """``corvane.<name>`` of ``a``: lazily for a dask array, eagerly for anything else."""
    if not isinstance(a, da.Array):
        return getattr(corvane, name)(a, **params)
    plan = TABLE[name]
    plan.check(name, a, params)
    return plan.build(name, a, params)
