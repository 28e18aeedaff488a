"""Moving windows against pandas rolling and numbagg (single-threaded and default)."""

from __future__ import annotations

from dataclasses import dataclass
from functools import partial

import numpy as np

import corvane as cr
from corvane.bench.data import make, optional
from corvane.bench.harness import Case, Peer

numbagg = optional("numbagg")
pd = optional("pandas")

# corvane function -> (pandas rolling method, numbagg function name or None).
# pandas has no rolling argmin/argmax: its rolling min/max, which finds the
# same extreme, stands in for them ("pandas min").
PEERS = {
    "move_sum": ("sum", "move_sum"),
    "move_mean": ("mean", "move_mean"),
    "move_std": ("std", "move_std"),
    "move_var": ("var", "move_var"),
    "move_min": ("min", None),
    "move_max": ("max", None),
    "move_argmin": ("min", None),
    "move_argmax": ("max", None),
    "move_rank": ("rank", None),
}


@dataclass(frozen=True)
class MoveInput:
    label: str
    array: np.ndarray
    window: int
    axis: int


def move_inputs(quick: bool) -> list[MoveInput]:
    """10 elements (window 3); 10**6 with window 10 and 1000; 1000x1000 along
    each axis with window 100; float64 and float32; with and without NaN.
    The quick set keeps one small and three large float64 inputs."""
    inputs = []
    for dtype in ("float64", "float32"):
        for nans in (False, True):
            tag = f"{dtype}{' nan' if nans else ''}"
            inputs.append(MoveInput(f"(10,) w=3 {tag}", make((10,), dtype, nans), 3, -1))
            big = make((10**6,), dtype, nans)
            for window in (10, 1000):
                inputs.append(MoveInput(f"(10**6,) w={window} {tag}", big, window, -1))
            square = make((1000, 1000), dtype, nans)
            for axis in (0, 1):
                inputs.append(MoveInput(f"1000x1000 axis={axis} w=100 {tag}", square, 100, axis))
    if quick:
        keep = ("(10,) w=3 float64", "(10**6,) w=10 float64 nan", "(10**6,) w=1000 float64 nan",
                "1000x1000 axis=0 w=100 float64 nan")  # fmt: skip
        inputs = [i for i in inputs if i.label in keep]
    return inputs


def _pandas_peer(method: str, inp: MoveInput) -> Peer:
    a = inp.array
    frame = pd.Series(a) if a.ndim == 1 else pd.DataFrame(a if inp.axis == 0 else a.T)
    name = "pandas" if method not in ("min", "max") else f"pandas {method}"
    return Peer(name, lambda: getattr(frame.rolling(inp.window), method)())


def _numbagg_peers(nb_name: str, inp: MoveInput) -> list[Peer]:
    func = getattr(numbagg, nb_name)
    single = func.gufunc(target="cpu")
    a, w, axis = inp.array, inp.window, inp.axis
    return [
        Peer("numbagg", lambda: func(a, window=w, axis=axis)),
        Peer("numbagg 1 thread", lambda: single(a, w, w, axis=axis)),
    ]


def rank_inputs(quick: bool) -> list[MoveInput]:
    """move_rank's own row: 10**6 float64 with NaN, window 100."""
    return [MoveInput("(10**6,) w=100 float64 nan", make((10**6,), "float64", True), 100, -1)]


def cases(quick: bool) -> list[Case]:
    out = []
    for name, (method, nb_name) in PEERS.items():
        func = getattr(cr, name)
        extra = rank_inputs(quick) if name == "move_rank" else []
        for inp in move_inputs(quick) + extra:
            if name == "move_rank" and inp.window > 100:
                continue  # O(window) per element by design
            peers = []
            if pd is not None:
                peers.append(_pandas_peer(method, inp))
            if numbagg is not None and nb_name is not None:
                peers += _numbagg_peers(nb_name, inp)
            a, w, axis = inp.array, inp.window, inp.axis
            out.append(
                Case(
                    name,
                    inp.label,
                    partial(func, a, w, axis=axis),
                    tuple(peers),
                )
            )
    return out
