"""Moving windows against pandas rolling and numbagg (its default threads and one thread)."""

from __future__ import annotations

from dataclasses import dataclass

import corvane as cr
from corvane.bench.data import Array, label, make, optional
from corvane.bench.harness import Case, Peer, bind

numbagg = optional("numbagg")
pd = optional("pandas")

# corvane function -> (pandas rolling method, numbagg function or None). pandas has
# no rolling argmin/argmax: its rolling min/max, which finds the same extreme, stands
# in for them (and is named so in the table).
PEERS: dict[str, tuple[str, str | None]] = {
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
    array: Array
    window: int
    axis: int


def move_inputs(quick: bool) -> list[MoveInput]:
    """10 elements (window 3); 10**6 with windows 10 and 1000; 1000x1000 along each
    axis with window 100; float64 and float32; with and without NaN. The quick set
    keeps one small and three large float64 inputs."""
    inputs = []
    for dtype in ("float64", "float32"):
        for nans in (False, True):
            small = make((10,), dtype, nans)
            inputs.append(MoveInput(label(small.shape, dtype, nans, window=3), small, 3, -1))
            big = make((10**6,), dtype, nans)
            for window in (10, 1000):
                inputs.append(
                    MoveInput(label(big.shape, dtype, nans, window=window), big, window, -1)
                )
            square = make((1000, 1000), dtype, nans)
            for axis in (0, 1):
                name = label(square.shape, dtype, nans, axis, window=100)
                inputs.append(MoveInput(name, square, 100, axis))
    if quick:
        keep = ("10 float64 window 3", "1e6 float64 nan window 10", "1e6 float64 nan window 1000",
                "1000x1000 axis 0 float64 nan window 100")  # fmt: skip
        inputs = [i for i in inputs if i.label in keep]
    return inputs


def _pandas_peer(method: str, inp: MoveInput) -> Peer:
    name = f"pandas rolling {method}"
    if pd is None:
        return Peer(name, None)
    a = inp.array
    frame = pd.Series(a) if a.ndim == 1 else pd.DataFrame(a if inp.axis == 0 else a.T)
    rolling = frame.rolling(inp.window)
    return Peer(name, getattr(rolling, method))


def _numbagg_peers(nb_name: str, inp: MoveInput) -> list[Peer]:
    if numbagg is None:
        return [Peer("numbagg", None)]
    func = getattr(numbagg, nb_name)
    single = func.gufunc(target="cpu")
    a, w, axis = inp.array, inp.window, inp.axis
    return [
        Peer("numbagg", lambda: func(a, window=w, axis=axis)),
        Peer("numbagg (1 thread)", lambda: single(a, w, w, axis=axis)),
    ]


def cases(quick: bool) -> list[Case]:
    out = []
    for name, (method, nb_name) in PEERS.items():
        func = getattr(cr, name)
        for inp in move_inputs(quick):
            if name == "move_rank" and inp.window > 100:
                continue  # O(window) per element by design; the target is window 10
            peers = [_pandas_peer(method, inp)]
            if nb_name is not None:
                peers += _numbagg_peers(nb_name, inp)
            out.append(
                Case(
                    name, inp.label, bind(func, inp.array, inp.window, axis=inp.axis), tuple(peers)
                )
            )
    return out
