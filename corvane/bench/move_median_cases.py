"""move_median against pandas rolling median and SciPy's median filter.

The 1-d cases run the same 10**6 values through windows of 10 to 10,000, so the rows
side by side show how the cost per element grows with the window. SciPy's
``median_filter`` is a peer only without NaNs (it has no NaN rule); shifted by
``origin`` it covers the same trailing windows, but it takes one of the two middle
values of an even window where a median takes their mean. numbagg has no moving
median.
"""

from __future__ import annotations

import corvane as cr
from corvane.bench.data import Array, label, make, optional
from corvane.bench.harness import Case, Peer, bind

pd = optional("pandas")
ndimage = optional("scipy.ndimage")


def _pandas(a: Array, window: int, axis: int) -> Peer:
    name = "pandas rolling median"
    if pd is None:
        return Peer(name, None)
    frame = pd.Series(a) if a.ndim == 1 else pd.DataFrame(a if axis == 0 else a.T)
    return Peer(name, frame.rolling(window).median)


def _scipy(a: Array, window: int, axis: int) -> Peer:
    name = "scipy median_filter"
    if ndimage is None:
        return Peer(name, None)
    filt = ndimage.median_filter
    # A trailing window: the filter's footprint shifted to end at each element.
    origin = (window - 1) // 2
    return Peer(name, lambda: filt(a, size=window, axes=(axis,), mode="nearest", origin=origin))


def _case(a: Array, window: int, axis: int, nans: bool) -> Case:
    peers = [_pandas(a, window, axis)]
    if not nans:
        peers.append(_scipy(a, window, axis))
    call = bind(cr.move_median, a, window, axis=axis)
    name = label(a.shape, str(a.dtype), nans, axis if a.ndim > 1 else None, window)
    return Case("move_median", name, call, tuple(peers))


def cases(quick: bool) -> list[Case]:
    out = []
    windows = (10, 1000) if quick else (10, 100, 1000, 10_000)
    for nans in (True,) if quick else (False, True):
        line = make((10**6,), "float64", nans)
        out += [_case(line, w, 0, nans) for w in windows]
        square = make((1000, 1000), "float64", nans)
        axes = (0,) if quick else (0, 1)
        out += [_case(square, 100, ax, nans) for ax in axes]
    return out
