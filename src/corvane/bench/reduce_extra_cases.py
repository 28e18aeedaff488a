"""The other reductions (variance, extremes, their positions, medians, NaN tests)
against NumPy and numbagg."""

from __future__ import annotations

from collections.abc import Callable

import numpy as np

import corvane as cr
from corvane.bench.data import optional, reduce_inputs
from corvane.bench.harness import Case, Peer

numbagg = optional("numbagg")


def _anynan(a: np.ndarray, axis: int | None) -> object:
    return np.isnan(a).any(axis=axis)


def _allnan(a: np.ndarray, axis: int | None) -> object:
    return np.isnan(a).all(axis=axis)


# corvane function -> (NumPy peer, name of the numbagg function, if it has one)
PEERS: dict[str, tuple[Callable[..., object], str | None]] = {
    "nanvar": (np.nanvar, "nanvar"),
    "nanstd": (np.nanstd, "nanstd"),
    "nanmin": (np.nanmin, "nanmin"),
    "nanmax": (np.nanmax, "nanmax"),
    "nanargmin": (np.nanargmin, "nanargmin"),
    "nanargmax": (np.nanargmax, "nanargmax"),
    "median": (np.median, None),
    "nanmedian": (np.nanmedian, "nanmedian"),
    "anynan": (_anynan, "anynan"),
    "allnan": (_allnan, "allnan"),
}


def cases(quick: bool) -> list[Case]:
    out = []
    for name, (np_func, nb_name) in PEERS.items():
        func = getattr(cr, name)
        nb = getattr(numbagg, nb_name, None) if numbagg is not None and nb_name else None
        for inp in reduce_inputs(quick):
            a, axis = inp.array, inp.axis
            if name.startswith("nanarg") and np.isnan(a).all(axis=axis).any():
                continue  # an all-NaN slice: every implementation raises
            peers = [Peer("numpy", lambda f=np_func, a=a, axis=axis: f(a, axis=axis))]
            if nb is not None:
                peers.append(Peer("numbagg", lambda f=nb, a=a, axis=axis: f(a, axis=axis)))
            out.append(
                Case(name, inp.label, lambda f=func, a=a, axis=axis: f(a, axis=axis), tuple(peers))
            )
    return out
