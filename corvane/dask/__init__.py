"""corvane's functions on dask arrays: same names, parameters and defaults, lazy results.

Each function builds a dask graph whose chunk work is corvane's own eager function
(native for float64, float32, int64 and int32, :mod:`corvane.slow` for the rest),
so it runs on any dask scheduler, threads or a ``dask.distributed`` cluster::

    import dask.array as da
    import corvane.dask as crd

    x = da.random.random((100_000, 10_000), chunks=(10_000, 10_000))
    crd.nanstd(x, axis=0).compute()
    crd.move_mean(x, window=50, axis=0)          # lazy, same shape as x

Argument errors are raised when the graph is built, with the eager messages; errors
that depend on the data (``nanargmin`` of an all-NaN slice) when it is computed.
Anything that is not a dask array is passed to the eager function unchanged.

How each function is split over chunks:

* reductions (``nansum`` ... ``allnan``, but not the medians and quantiles):
  per-chunk partials combined in a tree; float32 partials are carried in float64
  and rounded once, integer sums wrap in their own type as eagerly,
  ``nanvar``/``nanstd`` combine (count, mean, M2) with Chan's parallel update;
  ``nanargmin``/``nanargmax`` carry positions.
* ``median``, ``nanmedian``, ``quantile``, ``nanquantile``, ``partition``,
  ``argpartition``, ``rankdata``, ``nanrankdata`` and the ``move_exp_*`` functions:
  the axis is brought into one chunk.  With ``axis=None`` on several chunks the whole
  array becomes one chunk, which must fit in one worker's memory.
* the other ``move_*``: ``map_overlap`` with ``window - 1`` values of history before
  each chunk (chunks shorter than that are merged first).  Extremes, their positions,
  medians, quantiles and ranks are bit-identical to the eager results; sums and
  moments agree to rounding.
* ``push``, ``bfill``: ``map_overlap`` of depth ``n``, or with ``n=None`` a scan
  across chunks (``bfill`` on the reversed axis), so a gap may span any number of
  chunks.
* ``replace``: returns a new array (dask arrays are immutable).
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

import numpy.typing as npt

from corvane.dask._plans import TABLE, OneChunk, run

if TYPE_CHECKING:  # the aliases only: corvane's namespace stays public names
    from corvane._typing import Quantile, Quantiles

# A dask array for dask input; the eager result for anything else.
Result = Any

__all__ = [
    "allnan",
    "anynan",
    "argpartition",
    "bfill",
    "median",
    "move_argmax",
    "move_argmin",
    "move_exp_nancount",
    "move_exp_nanmean",
    "move_exp_nanstd",
    "move_exp_nansum",
    "move_exp_nanvar",
    "move_max",
    "move_mean",
    "move_median",
    "move_min",
    "move_quantile",
    "move_rank",
    "move_std",
    "move_sum",
    "move_var",
    "nanargmax",
    "nanargmin",
    "nanmax",
    "nanmean",
    "nanmedian",
    "nanmin",
    "nanquantile",
    "nanrankdata",
    "nanstd",
    "nansum",
    "nanvar",
    "partition",
    "push",
    "quantile",
    "rankdata",
    "replace",
    "ss",
]


def nansum(a: npt.ArrayLike, axis: int | None = None) -> Result:
    return run("nansum", a, {"axis": axis})


def nanmean(a: npt.ArrayLike, axis: int | None = None) -> Result:
    return run("nanmean", a, {"axis": axis})


def nanstd(a: npt.ArrayLike, axis: int | None = None, ddof: int = 0) -> Result:
    return run("nanstd", a, {"axis": axis, "ddof": ddof})


def nanvar(a: npt.ArrayLike, axis: int | None = None, ddof: int = 0) -> Result:
    return run("nanvar", a, {"axis": axis, "ddof": ddof})


def nanmin(a: npt.ArrayLike, axis: int | None = None) -> Result:
    return run("nanmin", a, {"axis": axis})


def nanmax(a: npt.ArrayLike, axis: int | None = None) -> Result:
    return run("nanmax", a, {"axis": axis})


def nanargmin(a: npt.ArrayLike, axis: int | None = None) -> Result:
    return run("nanargmin", a, {"axis": axis})


def nanargmax(a: npt.ArrayLike, axis: int | None = None) -> Result:
    return run("nanargmax", a, {"axis": axis})


def ss(a: npt.ArrayLike, axis: int | None = None) -> Result:
    return run("ss", a, {"axis": axis})


def median(a: npt.ArrayLike, axis: int | None = None) -> Result:
    return run("median", a, {"axis": axis})


def nanmedian(a: npt.ArrayLike, axis: int | None = None) -> Result:
    return run("nanmedian", a, {"axis": axis})


def quantile(a: npt.ArrayLike, q: Quantile | Quantiles, axis: int | None = None) -> Result:
    return run("quantile", a, {"q": q, "axis": axis})


def nanquantile(a: npt.ArrayLike, q: Quantile | Quantiles, axis: int | None = None) -> Result:
    return run("nanquantile", a, {"q": q, "axis": axis})


def anynan(a: npt.ArrayLike, axis: int | None = None) -> Result:
    return run("anynan", a, {"axis": axis})


def allnan(a: npt.ArrayLike, axis: int | None = None) -> Result:
    return run("allnan", a, {"axis": axis})


def move_sum(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1
) -> Result:
    return run("move_sum", a, {"window": window, "min_count": min_count, "axis": axis})


def move_mean(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1
) -> Result:
    return run("move_mean", a, {"window": window, "min_count": min_count, "axis": axis})


def move_std(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1, ddof: int = 0
) -> Result:
    params = {"window": window, "min_count": min_count, "axis": axis, "ddof": ddof}
    return run("move_std", a, params)


def move_var(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1, ddof: int = 0
) -> Result:
    params = {"window": window, "min_count": min_count, "axis": axis, "ddof": ddof}
    return run("move_var", a, params)


def move_min(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1
) -> Result:
    return run("move_min", a, {"window": window, "min_count": min_count, "axis": axis})


def move_max(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1
) -> Result:
    return run("move_max", a, {"window": window, "min_count": min_count, "axis": axis})


def move_argmin(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1
) -> Result:
    return run("move_argmin", a, {"window": window, "min_count": min_count, "axis": axis})


def move_argmax(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1
) -> Result:
    return run("move_argmax", a, {"window": window, "min_count": min_count, "axis": axis})


def move_median(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1
) -> Result:
    return run("move_median", a, {"window": window, "min_count": min_count, "axis": axis})


def move_rank(
    a: npt.ArrayLike, window: int, min_count: int | None = None, axis: int = -1
) -> Result:
    return run("move_rank", a, {"window": window, "min_count": min_count, "axis": axis})


def move_quantile(
    a: npt.ArrayLike, window: int, q: Quantile, min_count: int | None = None, axis: int = -1
) -> Result:
    params = {"window": window, "q": q, "min_count": min_count, "axis": axis}
    return run("move_quantile", a, params)


def move_exp_nanmean(
    a: npt.ArrayLike, alpha: float, min_weight: float = 0, axis: int = -1
) -> Result:
    return run("move_exp_nanmean", a, {"alpha": alpha, "min_weight": min_weight, "axis": axis})


def move_exp_nansum(
    a: npt.ArrayLike, alpha: float, min_weight: float = 0, axis: int = -1
) -> Result:
    return run("move_exp_nansum", a, {"alpha": alpha, "min_weight": min_weight, "axis": axis})


def move_exp_nanvar(
    a: npt.ArrayLike, alpha: float, min_weight: float = 0, axis: int = -1
) -> Result:
    return run("move_exp_nanvar", a, {"alpha": alpha, "min_weight": min_weight, "axis": axis})


def move_exp_nanstd(
    a: npt.ArrayLike, alpha: float, min_weight: float = 0, axis: int = -1
) -> Result:
    return run("move_exp_nanstd", a, {"alpha": alpha, "min_weight": min_weight, "axis": axis})


def move_exp_nancount(
    a: npt.ArrayLike, alpha: float, min_weight: float = 0, axis: int = -1
) -> Result:
    return run("move_exp_nancount", a, {"alpha": alpha, "min_weight": min_weight, "axis": axis})


def partition(a: npt.ArrayLike, kth: int, axis: int | None = -1) -> Result:
    return run("partition", a, {"kth": kth, "axis": axis})


def argpartition(a: npt.ArrayLike, kth: int, axis: int | None = -1) -> Result:
    return run("argpartition", a, {"kth": kth, "axis": axis})


def rankdata(a: npt.ArrayLike, axis: int | None = None) -> Result:
    return run("rankdata", a, {"axis": axis})


def nanrankdata(a: npt.ArrayLike, axis: int | None = None) -> Result:
    return run("nanrankdata", a, {"axis": axis})


def push(a: npt.ArrayLike, n: int | None = None, axis: int = -1) -> Result:
    return run("push", a, {"n": n, "axis": axis})


def bfill(a: npt.ArrayLike, n: int | None = None, axis: int = -1) -> Result:
    return run("bfill", a, {"n": n, "axis": axis})


def replace(a: npt.ArrayLike, old: float, new: float) -> Result:
    return run("replace", a, {"old": old, "new": new})


def _document() -> None:
    """Each function's docstring: the eager one's summary, then how it runs on dask."""
    import textwrap

    import corvane

    for name, plan in TABLE.items():
        doc = getattr(corvane, name).__doc__ or ""
        summary = doc.split("\n\n")[1].strip() if name != "replace" else "Replace values."
        lazy = (
            f"Lazy ``corvane.{name}`` for a dask array, with the same parameters; any "
            f"other input gets ``corvane.{name}`` itself."
        )
        how = f"{plan.note} {plan.how}" if isinstance(plan, OneChunk) and plan.note else plan.how
        paragraphs = (summary, textwrap.fill(lazy, 79), textwrap.fill(how, 79))
        globals()[name].__doc__ = "\n\n".join(paragraphs)


_document()
