"""move_median against pandas rolling median and SciPy's median filter.

The 1-d cases run the same 10**6 values through windows of 10 to 10,000, so
the rows side by side show how the cost per element grows with the window.
SciPy's ``median_filter`` is a peer only without NaNs (it has no NaN rule);
shifted by ``origin`` it covers the same trailing windows, but it takes one
of the two middle values of an even window where a median takes their mean.
numbagg has no moving median.
"""

from __future__ import annotations

import numpy as np
import pandas as pd
from scipy import ndimage

import corvane as cr
from corvane.bench.data import make
from corvane.bench.harness import Case, Peer


def _pandas(a: np.ndarray, window: int, axis: int) -> object:
    if a.ndim == 1:
        return pd.Series(a).rolling(window).median()
    frame = pd.DataFrame(a if axis == 0 else a.T)
    return frame.rolling(window).median()


def _scipy(a: np.ndarray, window: int, axis: int) -> object:
    # A trailing window: the filter's footprint shifted to end at each element.
    return ndimage.median_filter(
        a, size=window, axes=(axis,), mode="nearest", origin=(window - 1) // 2
    )


def _case(label: str, a: np.ndarray, window: int, axis: int, nans: bool) -> Case:
    peers = [Peer("pandas", lambda: _pandas(a, window, axis))]
    if not nans:
        peers.append(Peer("scipy", lambda: _scipy(a, window, axis)))
    tag = " nan" if nans else ""
    return Case(
        "move_median",
        f"{label} w={window}{tag}",
        lambda: cr.move_median(a, window, axis=axis),
        tuple(peers),
    )


def cases(quick: bool) -> list[Case]:
    out = []
    windows = (10, 1000) if quick else (10, 100, 1000, 10_000)
    for nans in (True,) if quick else (False, True):
        line = make((10**6,), "float64", nans)
        out += [_case("(10**6,) float64", line, w, 0, nans) for w in windows]
        square = make((1000, 1000), "float64", nans)
        axes = (0,) if quick else (0, 1)
        out += [_case(f"1000x1000 axis={ax}", square, 100, ax, nans) for ax in axes]
    return out
