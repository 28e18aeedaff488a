"""corvane.dask on a 1e8-element float64 array in 1e7-element chunks (10% NaN), on
dask's threaded scheduler with both cores: against dask's own reductions, numbagg's
moving windows under ``map_overlap``, xarray's ``rolling(...).mean()``, and corvane
on one thread over the same data as one NumPy array.

Array results are persisted (computed, kept as chunks) rather than gathered, as
a pipeline bigger than memory would; graph construction is inside every timing.
numbagg runs single-threaded inside each task (its kernel built for one thread), so
both sides get their parallelism from dask alone.
"""

from __future__ import annotations

from typing import Any

import numpy as np

import corvane as cr
from corvane.bench.data import make, optional
from corvane.bench.harness import Case, Peer

dask = optional("dask")
numbagg = optional("numbagg")
xr = optional("xarray")

N, CHUNK, WINDOW = 10**8, 10**7, 100
LABEL = "1e8 f64 nan, 1e7 chunks"


_made: list[tuple[np.ndarray, Any]] = []


def _data() -> tuple[np.ndarray, Any]:
    """The array and its dask view, made at the first row that runs."""
    if not _made:
        import dask.array as da

        a = make((N,), "float64", True)
        _made.append((a, da.from_array(a, chunks=CHUNK)))
    return _made[0]


def _run(lazy: Any) -> Any:
    """Compute on two threads; arrays stay as computed chunks."""
    assert dask is not None
    if lazy.ndim:
        return dask.persist(lazy, scheduler="threads", num_workers=2)
    return lazy.compute(scheduler="threads", num_workers=2)


def _lazy(name: str, **params: Any) -> Any:
    import corvane.dask as crd

    return lambda: _run(getattr(crd, name)(_data()[1], **params))


def _eager(name: str, **params: Any) -> Peer:
    return Peer("corvane 1 thread", lambda: getattr(cr, name)(_data()[0], **params))


def _dask_own(name: str) -> Peer:
    import dask.array as da

    return Peer(f"da.{name}", lambda: _run(getattr(da, name)(_data()[1])))


def _numbagg_overlap(name: str) -> Peer:
    import dask.array as da

    single = getattr(numbagg, name).gufunc(target="cpu")
    return Peer(
        f"numbagg {name} map_overlap",
        lambda: _run(
            da.map_overlap(
                lambda b: single(b, WINDOW, WINDOW, axis=-1),
                _data()[1],
                depth={0: (WINDOW - 1, 0)},
                boundary="none",
                dtype=np.float64,
            )
        ),
    )


def _xarray_rolling() -> Peer:
    assert xr is not None

    def call() -> Any:
        rolled = xr.DataArray(_data()[1], dims="t").rolling(t=WINDOW).mean()
        return _run(rolled.data)

    return Peer("xarray rolling mean", call)


def cases(quick: bool) -> list[Case]:
    if dask is None:
        return []
    out = []
    for name in ("nansum", "nanmean", "nanstd"):
        out.append(Case(f"dask {name}", f"{LABEL}, vs dask", _lazy(name), (_dask_own(name),)))
        out.append(Case(f"dask {name}", f"{LABEL}, threads vs 1", _lazy(name), (_eager(name),)))
    for name in ("move_mean", "move_std"):
        call = _lazy(name, window=WINDOW)
        label = f"{LABEL}, w={WINDOW}"
        if numbagg is not None:
            out.append(
                Case(f"dask {name}", f"{label} vs numbagg", call, (_numbagg_overlap(name),))
            )
        if name == "move_mean" and xr is not None:
            out.append(Case(f"dask {name}", f"{label} vs xarray", call, (_xarray_rolling(),)))
        out.append(
            Case(f"dask {name}", f"{label}, threads vs 1", call, (_eager(name, window=WINDOW),))
        )
    if quick:
        keep = ("dask nanstd", "vs dask"), ("dask move_mean", "vs numbagg")
        out = [c for c in out if any(f == c.function and t in c.data for f, t in keep)]
    return out
