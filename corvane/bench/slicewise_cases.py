"""Partition, ranking and forward fill against NumPy, SciPy, pandas and numbagg;
replace against NumPy's boolean assignment."""

from __future__ import annotations

import numpy as np

import corvane as cr
from corvane.bench.data import Array, Input, label, make, optional, reduce_inputs
from corvane.bench.harness import Case, Peer, bind

numbagg = optional("numbagg")
pandas = optional("pandas")
scipy_stats = optional("scipy.stats")

# How far push fills, in every case.
LIMIT = 10


def _kth(inp: Input) -> int:
    a = inp.array
    return (a.size if inp.axis is None else a.shape[inp.axis]) // 2


def _partition_cases(inputs: list[Input]) -> list[Case]:
    out = []
    for name, peer in (("partition", np.partition), ("argpartition", np.argpartition)):
        func = getattr(cr, name)
        for inp in inputs:
            a, axis, kth = inp.array, inp.axis, _kth(inp)
            theirs = Peer(f"numpy {name}", bind(peer, a, kth, axis))
            out.append(Case(name, inp.label, bind(func, a, kth, axis), (theirs,)))
    return out


def _rank_peer(a: Array, axis: int | None, policy: str) -> Peer:
    if scipy_stats is None:
        return Peer("scipy rankdata", None)
    rank = scipy_stats.rankdata
    return Peer("scipy rankdata", lambda: rank(a, axis=axis, nan_policy=policy))


def _rank_cases(inputs: list[Input]) -> list[Case]:
    out = []
    for inp in inputs:
        a, axis = inp.array, inp.axis
        if not np.isnan(a).any():
            # SciPy's rankdata agrees with corvane's only on NaN-free data.
            ours = bind(cr.rankdata, a, axis=axis)
            out.append(Case("rankdata", inp.label, ours, (_rank_peer(a, axis, "propagate"),)))
        nan_ours = bind(cr.nanrankdata, a, axis=axis)
        out.append(Case("nanrankdata", inp.label, nan_ours, (_rank_peer(a, axis, "omit"),)))
    return out


def _push_peers(a: Array, axis: int) -> list[Peer]:
    peers = []
    if pandas is None:
        peers.append(Peer("pandas ffill", None))
    elif a.ndim == 1:
        series = pandas.Series(a)
        peers.append(Peer("pandas ffill", lambda: series.ffill(limit=LIMIT)))
    else:
        frame = pandas.DataFrame(a)
        peers.append(Peer("pandas ffill", lambda: frame.ffill(axis=axis % 2, limit=LIMIT)))
    if numbagg is None:
        peers.append(Peer("numbagg ffill", None))
    else:
        ffill = numbagg.ffill
        peers.append(Peer("numbagg ffill", lambda: ffill(a, limit=LIMIT, axis=axis)))
    return peers


def _push_cases(inputs: list[Input]) -> list[Case]:
    out = []
    for inp in inputs:
        if inp.axis is None and inp.array.ndim > 1:
            continue  # push has no whole-array form
        a = inp.array
        axis = -1 if inp.axis is None else inp.axis
        ours = bind(cr.push, a, LIMIT, axis)
        out.append(Case("push", inp.label, ours, tuple(_push_peers(a, axis))))
    return out


def _replace_pair(a: Array) -> tuple[float, float]:
    """A value present in `a` and one that is not."""
    return (np.nan, 1e300) if np.isnan(a).any() else (1.0, 99.0)


def _numpy_replace(a: np.ndarray, old: float, new: float) -> None:
    if old != old:
        a[np.isnan(a)] = new
    else:
        a[a == old] = new


def _replace_cases(quick: bool) -> list[Case]:
    # Each call replaces there and back, so that every call finds matches.
    dtypes = ["float64"] if quick else ["float64", "float32", "int64"]
    out = []
    for dtype in dtypes:
        for nans in (False, True) if dtype != "int64" else (False,):
            for shape in ((10,), (10**6,), (1000, 1000)):
                a = np.round(make(shape, "float64", nans) * 3).astype(dtype)
                b = a.copy()
                old, new = _replace_pair(a)

                def native(a: np.ndarray = a, old: float = old, new: float = new) -> None:
                    cr.replace(a, old, new)
                    cr.replace(a, new, old)

                def peer(b: np.ndarray = b, old: float = old, new: float = new) -> None:
                    _numpy_replace(b, old, new)
                    _numpy_replace(b, new, old)

                name = label(shape, dtype, nans)
                out.append(Case("replace", name, native, (Peer("numpy a[a == old] = new", peer),)))
    return out


def cases(quick: bool) -> list[Case]:
    inputs = reduce_inputs(quick)
    return (
        _partition_cases(inputs)
        + _rank_cases(inputs)
        + _push_cases(inputs)
        + _replace_cases(quick)
    )
