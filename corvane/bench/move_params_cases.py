"""move_quantile against pandas rolling quantile (and move_median, its q = 0.5 case);
the exponentially weighted windows against pandas ewm and numbagg (single-threaded and
default)."""

from __future__ import annotations

from functools import partial

import numpy as np

import corvane as cr
from corvane.bench.data import make, optional
from corvane.bench.harness import Case, Peer

numbagg = optional("numbagg")
pd = optional("pandas")

EXP = ["move_exp_nanmean", "move_exp_nansum", "move_exp_nanvar", "move_exp_nanstd",
       "move_exp_nancount"]  # fmt: skip
ALPHA = 0.1


def _frame(a: np.ndarray, axis: int):
    return pd.Series(a) if a.ndim == 1 else pd.DataFrame(a if axis == 0 else a.T)


def _quantile_cases(quick: bool) -> list[Case]:
    out = []
    line = make((10**6,), "float64", True)
    for window in (10, 1000) if not quick else (1000,):
        peers = () if pd is None else (Peer("pandas", partial(
            lambda s, w: s.rolling(w).quantile(0.25), _frame(line, 0), window)),)  # fmt: skip
        call = partial(cr.move_quantile, line, window, 0.25)
        out.append(Case("move_quantile", f"(10**6,) w={window} q=0.25 nan", call, peers))
    # q = 0.5 side by side with move_median, which computes the same values.
    median = Peer("cr.move_median", partial(cr.move_median, line, 1000))
    call = partial(cr.move_quantile, line, 1000, 0.5)
    out.append(Case("move_quantile", "(10**6,) w=1000 q=0.5 nan", call, (median,)))
    if not quick:
        square = make((1000, 1000), "float64", True)
        peers = () if pd is None else (Peer("pandas", partial(
            lambda f: f.rolling(100).quantile(0.25), _frame(square, 0))),)  # fmt: skip
        call = partial(cr.move_quantile, square, 100, 0.25, axis=0)
        out.append(Case("move_quantile", "1000x1000 axis=0 w=100 q=0.25 nan", call, peers))
    return out


def _pandas_exp(name: str, a: np.ndarray, axis: int) -> Peer:
    frame = _frame(a, axis)
    if name == "move_exp_nancount":
        return Peer("pandas", lambda: frame.notnull().ewm(alpha=ALPHA).sum())
    method = name.removeprefix("move_exp_nan")
    return Peer("pandas", lambda: getattr(frame.ewm(alpha=ALPHA), method)())


def _numbagg_exp(name: str, a: np.ndarray, axis: int) -> list[Peer]:
    func = getattr(numbagg, name)
    single = func.gufunc(target="cpu")
    alphas = np.full(a.shape[axis], ALPHA, a.dtype)
    return [
        Peer("numbagg", lambda: func(a, alpha=ALPHA, axis=axis)),
        Peer("numbagg 1 thread", lambda: single(a, alphas, 0.0, axes=[axis, -1, (), axis])),
    ]


def _exp_inputs(quick: bool) -> list[tuple[str, np.ndarray, int]]:
    inputs = [("(10,) float64 nan", make((10,), "float64", True), -1)]
    inputs.append(("(10**6,) float64 nan", make((10**6,), "float64", True), -1))
    if not quick:
        inputs.append(("(10**6,) float32 nan", make((10**6,), "float32", True), -1))
        square = make((1000, 1000), "float64", True)
        inputs += [(f"1000x1000 axis={ax} float64 nan", square, ax) for ax in (0, 1)]
    return inputs


def cases(quick: bool) -> list[Case]:
    out = _quantile_cases(quick)
    for name in EXP:
        for label, a, axis in _exp_inputs(quick):
            peers = [] if pd is None else [_pandas_exp(name, a, axis)]
            if numbagg is not None:
                peers += _numbagg_exp(name, a, axis)
            call = partial(getattr(cr, name), a, ALPHA, axis=axis)
            out.append(Case(name, label, call, tuple(peers)))
    return out
