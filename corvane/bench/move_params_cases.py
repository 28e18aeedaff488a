"""move_quantile against pandas rolling quantile (and move_median, its q = 0.5 case);
the exponentially weighted windows against pandas ewm and numbagg (single-threaded and
default)."""

from __future__ import annotations

from typing import Any

import numpy as np

import corvane as cr
from corvane.bench.data import label, make, optional
from corvane.bench.harness import Call, Case, Peer, bind
from corvane.bench.move_cases import _single_threaded

numbagg = optional("numbagg")
pd = optional("pandas")

EXP = ["move_exp_nanmean", "move_exp_nansum", "move_exp_nanvar", "move_exp_nanstd",
       "move_exp_nancount"]  # fmt: skip
ALPHA = 0.1


def _frame(a: np.ndarray, axis: int) -> Any:
    assert pd is not None
    return pd.Series(a) if a.ndim == 1 else pd.DataFrame(a if axis == 0 else a.T)


def _pandas_quantile(a: np.ndarray, window: int, axis: int) -> Peer:
    if pd is None:
        return Peer("pandas rolling quantile", None)
    rolling = _frame(a, axis).rolling(window)
    return Peer("pandas rolling quantile", bind(rolling.quantile, 0.25))


def _quantile_cases(quick: bool) -> list[Case]:
    out = []
    line = make((10**6,), "float64", True)
    for window in (1000,) if quick else (10, 1000):
        data = f"{label(line.shape, 'float64', True, None, window)} q 0.25"
        call = bind(cr.move_quantile, line, window, 0.25)
        out.append(Case("move_quantile", data, call, (_pandas_quantile(line, window, -1),)))
    # q = 0.5 side by side with move_median, which computes the same values.
    median = Peer("corvane move_median", bind(cr.move_median, line, 1000))
    data = f"{label(line.shape, 'float64', True, None, 1000)} q 0.5"
    out.append(Case("move_quantile", data, bind(cr.move_quantile, line, 1000, 0.5), (median,)))
    if not quick:
        square = make((1000, 1000), "float64", True)
        data = f"{label(square.shape, 'float64', True, 0, 100)} q 0.25"
        call = bind(cr.move_quantile, square, 100, 0.25, axis=0)
        out.append(Case("move_quantile", data, call, (_pandas_quantile(square, 100, 0),)))
    return out


def _pandas_exp(name: str, a: np.ndarray, axis: int) -> Peer:
    if pd is None:
        return Peer("pandas ewm", None)
    frame = _frame(a, axis)
    call: Call
    if name == "move_exp_nancount":
        call = lambda: frame.notnull().ewm(alpha=ALPHA).sum()  # noqa: E731
    else:
        call = bind(getattr(frame.ewm(alpha=ALPHA), name.removeprefix("move_exp_nan")))
    return Peer("pandas ewm", call)


def _numbagg_exp(name: str, a: np.ndarray, axis: int) -> list[Peer]:
    if numbagg is None:
        return [Peer("numbagg", None)]
    alphas = np.full(a.shape[axis], ALPHA, a.dtype)
    axes = [axis, -1, (), axis]
    return [
        Peer("numbagg", bind(getattr(numbagg, name), a, alpha=ALPHA, axis=axis)),
        Peer("numbagg (1 thread)", lambda: _single_threaded(name)(a, alphas, 0.0, axes=axes)),
    ]


def _exp_inputs(quick: bool) -> list[tuple[str, np.ndarray, int]]:
    inputs = [(label((10,), "float64", True), make((10,), "float64", True), -1)]
    inputs.append((label((10**6,), "float64", True), make((10**6,), "float64", True), -1))
    if not quick:
        inputs.append((label((10**6,), "float32", True), make((10**6,), "float32", True), -1))
        square = make((1000, 1000), "float64", True)
        inputs += [(label(square.shape, "float64", True, ax), square, ax) for ax in (0, 1)]
    return inputs


def cases(quick: bool) -> list[Case]:
    out = _quantile_cases(quick)
    for name in EXP:
        for data, a, axis in _exp_inputs(quick):
            peers = (_pandas_exp(name, a, axis), *_numbagg_exp(name, a, axis))
            out.append(Case(name, data, bind(getattr(cr, name), a, ALPHA, axis=axis), peers))
    return out
