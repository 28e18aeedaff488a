"""Sums and means against NumPy's nan-functions and numbagg.

``ss`` propagates NaN, so it is timed on NaN-free data, where it does the whole sum.
"""

from __future__ import annotations

from collections.abc import Callable

import numpy as np

import corvane as cr
from corvane.bench.data import Input, Nans, optional, reduce_inputs
from corvane.bench.harness import Call, Case, Peer, bind

numbagg = optional("numbagg")

Reduction = Callable[..., object]


def _sum_of_squares(a: np.ndarray, axis: int | None) -> object:
    return np.sum(a * a, axis=axis)


def bind_input(func: Reduction, inp: Input) -> Call:
    return bind(func, inp.array, axis=inp.axis)


def numbagg_peer(name: str | None, inp: Input) -> list[Peer]:
    """numbagg's `name` (with its default threads), or the not-installed marker."""
    if name is None:
        return []
    if numbagg is None:
        return [Peer("numbagg", None)]
    return [Peer("numbagg", bind_input(getattr(numbagg, name), inp))]


# corvane function -> (NumPy peer and its label, numbagg function, NaN densities)
PEERS: dict[str, tuple[Reduction, str, str | None, tuple[Nans, ...]]] = {
    "nansum": (np.nansum, "numpy", "nansum", (False, True)),
    "nanmean": (np.nanmean, "numpy", "nanmean", (False, True)),
    "ss": (_sum_of_squares, "numpy sum(a * a)", None, (False,)),
}


def cases(quick: bool) -> list[Case]:
    out = []
    for name, (np_func, np_label, nb_name, nans) in PEERS.items():
        func = getattr(cr, name)
        for inp in reduce_inputs(quick, nans):
            peers = [Peer(np_label, bind_input(np_func, inp)), *numbagg_peer(nb_name, inp)]
            out.append(Case(name, inp.label, bind_input(func, inp), tuple(peers)))
    return out
