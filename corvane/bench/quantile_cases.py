"""quantile and nanquantile against NumPy and numbagg; bfill against
pandas, numbagg and corvane's own push on the same input.

The quantile rows take one q and five q on the same data, so the pair shows what
the extra q cost when they share one selection.
"""

from __future__ import annotations

import numpy as np

import corvane as cr
from corvane.bench.data import label, make, optional
from corvane.bench.harness import Call, Case, Peer, bind

numbagg = optional("numbagg")
pandas = optional("pandas")

ONE_Q = 0.3
FIVE_Q = [0.1, 0.25, 0.5, 0.75, 0.9]
# How far bfill fills, as push's rows do.
LIMIT = 10


def _inputs(quick: bool) -> list[tuple[str, np.ndarray, int | None]]:
    big = make((10**6,), "float64", True)
    square = make((1000, 1000), "float64", True)
    inputs = [
        (label((10,), "float64", True), make((10,), "float64", True), None),
        (label(big.shape, "float64", True), big, None),
        (label(square.shape, "float64", True, 1), square, 1),
        (label(square.shape, "float64", True, 0), square, 0),
    ]
    if not quick:
        inputs.append((label(big.shape, "float64"), make((10**6,), "float64", False), None))
        inputs.append((label(big.shape, "float32", True), make((10**6,), "float32", True), None))
        inputs.append((label(big.shape, "int64"), np.arange(10**6)[::-1].copy(), None))
    return inputs


def _quantile_cases(quick: bool) -> list[Case]:
    out = []
    for name in ("nanquantile", "quantile"):
        func = getattr(cr, name)
        np_func = getattr(np, name)
        for data, a, axis in _inputs(quick):
            for q, tag in ((ONE_Q, "1 q"), (FIVE_Q, "5 q")):
                peers = [Peer("numpy", bind(np_func, a, q, axis=axis))]
                # numbagg has nanquantile only.
                if a.dtype.kind == "f" and name == "nanquantile":
                    nb = None if numbagg is None else bind(numbagg.nanquantile, a, q, axis=axis)
                    peers.append(Peer("numbagg", nb))
                out.append(Case(name, f"{data} {tag}", bind(func, a, q, axis), tuple(peers)))
    return out


def _pandas_bfill(a: np.ndarray, axis: int) -> Call | None:
    if pandas is None:
        return None
    if a.ndim == 1:
        return bind(pandas.Series(a).bfill, limit=LIMIT)
    return bind(pandas.DataFrame(a).bfill, axis=axis, limit=LIMIT)


def _bfill_cases(quick: bool) -> list[Case]:
    out = []
    for data, a, axis in _inputs(quick):
        if a.dtype.kind != "f":
            continue
        ax = -1 if axis is None else axis
        nb = None if numbagg is None else bind(numbagg.bfill, a, limit=LIMIT, axis=ax)
        peers = (
            Peer("corvane push", bind(cr.push, a, LIMIT, ax)),
            Peer("pandas bfill", _pandas_bfill(a, ax % a.ndim)),
            Peer("numbagg", nb),
        )
        out.append(Case("bfill", data, bind(cr.bfill, a, LIMIT, ax), peers))
    return out


def cases(quick: bool) -> list[Case]:
    return _quantile_cases(quick) + _bfill_cases(quick)
