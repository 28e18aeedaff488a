"""Moving windows against pandas rolling and numbagg (its default threads and one thread)."""

from __future__ import annotations

from collections.abc import Callable
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
    # (shape, window, axis) for each NaN density
    shapes: list[tuple[tuple[int, ...], int, int]] = [
        ((10,), 3, -1), ((10**6,), 10, -1), ((10**6,), 1000, -1),
        ((1000, 1000), 100, 0), ((1000, 1000), 100, 1),
    ]  # fmt: skip
    plan = [(dtype, nans, shapes) for dtype in ("float64", "float32") for nans in (False, True)]
    if quick:
        plan = [("float64", False, shapes[:1]), ("float64", True, shapes[1:4])]
    inputs = []
    for dtype, nans, chosen in plan:
        for shape, window, axis in chosen:
            name = label(shape, dtype, nans, axis if len(shape) > 1 else None, window)
            inputs.append(MoveInput(name, make(shape, dtype, nans), window, axis))
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
    a, w, axis = inp.array, inp.window, inp.axis
    return [
        Peer("numbagg", lambda: func(a, window=w, axis=axis)),
        Peer("numbagg (1 thread)", lambda: _single_threaded(nb_name)(a, w, w, axis=axis)),
    ]


_single: dict[str, Callable[..., object]] = {}


def _single_threaded(nb_name: str) -> Callable[..., object]:
    """numbagg's `nb_name` built for one thread (numba compiles it here, at the first
    call, which the harness announces)."""
    if nb_name not in _single:
        assert numbagg is not None
        _single[nb_name] = getattr(numbagg, nb_name).gufunc(target="cpu")
    return _single[nb_name]


def rank_inputs() -> list[MoveInput]:
    """move_rank's own row: 1e6 float64 with NaN, window 100."""
    shape, window = (10**6,), 100
    return [
        MoveInput(
            label(shape, "float64", True, None, window), make(shape, "float64", True), window, -1
        )
    ]


def cases(quick: bool) -> list[Case]:
    out = []
    for name, (method, nb_name) in PEERS.items():
        func = getattr(cr, name)
        extra = rank_inputs() if name == "move_rank" else []
        for inp in move_inputs(quick) + extra:
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
