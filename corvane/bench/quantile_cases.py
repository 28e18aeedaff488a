"""quantile and nanquantile against NumPy and numbagg; bfill against
pandas, numbagg and corvane's own push on the same input.

The quantile rows take one q and five q on the same data, so the pair shows what
the extra q cost when they share one selection.
"""

from __future__ import annotations

from collections.abc import Callable

import numpy as np

import corvane as cr
from corvane.bench.data import make, optional
from corvane.bench.harness import Case, Peer

numbagg = optional("numbagg")
pandas = optional("pandas")

ONE_Q = 0.3
FIVE_Q = [0.1, 0.25, 0.5, 0.75, 0.9]
# How far bfill fills, as push's rows do.
LIMIT = 10


def _inputs(quick: bool) -> list[tuple[str, np.ndarray, int | None]]:
    big = make((10**6,), "float64", nans=True)
    square = make((1000, 1000), "float64", nans=True)
    inputs = [
        ("(10,) float64 nan", make((10,), "float64", nans=True), None),
        ("(10**6,) float64 nan", big, None),
        ("1000x1000 axis=1 float64 nan", square, 1),
        ("1000x1000 axis=0 float64 nan", square, 0),
    ]
    if not quick:
        inputs.append(("(10**6,) float64", make((10**6,), "float64", nans=False), None))
        inputs.append(("(10**6,) float32 nan", make((10**6,), "float32", nans=True), None))
        inputs.append(("(10**6,) int64", np.arange(10**6)[::-1].copy(), None))
    return inputs


def _quantile_cases(quick: bool) -> list[Case]:
    out = []
    for name in ("nanquantile", "quantile"):
        func = getattr(cr, name)
        np_func = getattr(np, name)
        nb_func = getattr(numbagg, name, None) if numbagg is not None else None
        for label, a, axis in _inputs(quick):
            for q, tag in ((ONE_Q, "1 q"), (FIVE_Q, "5 q")):
                peers = [Peer("numpy", lambda f=np_func, a=a, q=q, ax=axis: f(a, q, axis=ax))]
                if nb_func is not None and a.dtype.kind == "f":
                    peers.append(
                        Peer("numbagg", lambda f=nb_func, a=a, q=q, ax=axis: f(a, q, axis=ax))
                    )
                out.append(
                    Case(
                        name,
                        f"{label} {tag}",
                        lambda f=func, a=a, q=q, ax=axis: f(a, q, ax),
                        tuple(peers),
                    )
                )
    return out


def _pandas_bfill(a: np.ndarray, axis: int) -> Callable[[], object]:
    if a.ndim == 1:
        series = pandas.Series(a)
        return lambda: series.bfill(limit=LIMIT)
    frame = pandas.DataFrame(a)
    return lambda: frame.bfill(axis=axis, limit=LIMIT)


def _bfill_cases(quick: bool) -> list[Case]:
    out = []
    for label, a, axis in _inputs(quick):
        if a.dtype.kind != "f":
            continue
        ax = -1 if axis is None else axis
        peers = [Peer("push", lambda a=a, ax=ax: cr.push(a, LIMIT, ax))]
        if pandas is not None:
            peers.append(Peer("pandas", _pandas_bfill(a, ax % a.ndim)))
        if numbagg is not None:
            peers.append(
                Peer("numbagg", lambda a=a, ax=ax: numbagg.bfill(a, limit=LIMIT, axis=ax))
            )
        out.append(Case("bfill", label, lambda a=a, ax=ax: cr.bfill(a, LIMIT, ax), tuple(peers)))
    return out


def cases(quick: bool) -> list[Case]:
    return _quantile_cases(quick) + _bfill_cases(quick)
