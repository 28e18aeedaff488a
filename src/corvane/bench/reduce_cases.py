"""Reductions against NumPy's nan-functions and numbagg."""

from __future__ import annotations

from functools import partial

import numpy as np

import corvane as cr
from corvane.bench.data import optional, reduce_inputs
from corvane.bench.harness import Case, Peer

numbagg = optional("numbagg")


def _sum_of_squares(a: np.ndarray, axis: int | None) -> object:
    return np.sum(a * a, axis=axis)


# corvane function -> (NumPy peer, numbagg function name or None)
PEERS = {
    "nansum": (np.nansum, "nansum"),
    "nanmean": (np.nanmean, "nanmean"),
    "ss": (_sum_of_squares, None),
}


def cases(quick: bool) -> list[Case]:
    out = []
    for name, (np_func, nb_name) in PEERS.items():
        func = getattr(cr, name)
        for inp in reduce_inputs(quick):
            a, axis = inp.array, inp.axis
            peers = [Peer("numpy", partial(np_func, a, axis=axis))]
            if numbagg is not None and nb_name is not None:
                nb = getattr(numbagg, nb_name)
                peers.append(Peer("numbagg", partial(nb, a, axis=axis)))
            out.append(Case(name, inp.label, partial(func, a, axis=axis), tuple(peers)))
    return out
