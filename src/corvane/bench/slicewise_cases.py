"""Partition, ranking and forward fill against NumPy, SciPy, pandas and numbagg;
replace against NumPy's boolean assignment."""

from __future__ import annotations

from collections.abc import Callable

import numpy as np

import corvane as cr
from corvane.bench.data import Input, make, optional, reduce_inputs
from corvane.bench.harness import Case, Peer

numbagg = optional("numbagg")
pandas = optional("pandas")
try:
    import scipy.stats as scipy_stats
except ImportError:
    scipy_stats = None

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
            out.append(
                Case(
                    name,
                    inp.label,
                    lambda f=func, a=a, k=kth, axis=axis: f(a, k, axis),
                    (Peer("numpy", lambda f=peer, a=a, k=kth, axis=axis: f(a, k, axis)),),
                )
            )
    return out


def _rank_cases(inputs: list[Input]) -> list[Case]:
    if scipy_stats is None:
        return []
    out = []
    for inp in inputs:
        a, axis = inp.array, inp.axis
        if not np.isnan(a).any():
            # scipy's rankdata agrees with corvane's only on NaN-free data.
            out.append(
                Case(
                    "rankdata",
                    inp.label,
                    lambda a=a, axis=axis: cr.rankdata(a, axis=axis),
                    (Peer("scipy", lambda a=a, axis=axis: scipy_stats.rankdata(a, axis=axis)),),
                )
            )
        out.append(
            Case(
                "nanrankdata",
                inp.label,
                lambda a=a, axis=axis: cr.nanrankdata(a, axis=axis),
                (
                    Peer(
                        "scipy",
                        lambda a=a, axis=axis: scipy_stats.rankdata(
                            a, axis=axis, nan_policy="omit"
                        ),
                    ),
                ),
            )
        )
    return out


def _pandas_ffill(a: np.ndarray, axis: int) -> Callable[[], object]:
    if a.ndim == 1:
        series = pandas.Series(a)
        return lambda: series.ffill(limit=LIMIT)
    frame = pandas.DataFrame(a)
    return lambda: frame.ffill(axis=axis, limit=LIMIT)


def _push_cases(inputs: list[Input]) -> list[Case]:
    out = []
    for inp in inputs:
        if inp.axis is None and inp.array.ndim > 1:
            continue  # push has no whole-array form
        a = inp.array
        axis = -1 if inp.axis is None else inp.axis
        peers = []
        if pandas is not None:
            peers.append(Peer("pandas", _pandas_ffill(a, axis % a.ndim)))
        if numbagg is not None:
            peers.append(
                Peer("numbagg", lambda a=a, axis=axis: numbagg.ffill(a, limit=LIMIT, axis=axis))
            )
        out.append(
            Case("push", inp.label, lambda a=a, axis=axis: cr.push(a, LIMIT, axis), tuple(peers))
        )
    return out


def _replace_pair(a: np.ndarray) -> tuple[float, float]:
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
                label = f"{shape} {dtype}{' nan' if nans else ''}"

                def native(a=a, old=old, new=new):
                    cr.replace(a, old, new)
                    cr.replace(a, new, old)

                def peer(b=b, old=old, new=new):
                    _numpy_replace(b, old, new)
                    _numpy_replace(b, new, old)

                out.append(Case("replace", label, native, (Peer("numpy", peer),)))
    return out


def cases(quick: bool) -> list[Case]:
    inputs = reduce_inputs(quick)
    return (
        _partition_cases(inputs)
        + _rank_cases(inputs)
        + _push_cases(inputs)
        + _replace_cases(quick)
    )
