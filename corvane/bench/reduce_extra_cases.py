"""Variances, extremes and their positions, medians and NaN tests against NumPy and numbagg.

``median`` returns NaN at the first NaN it meets and ``anynan`` stops there, so both
are timed on NaN-free data; ``allnan`` stops at the first number, so it is timed on
all-NaN data. Each also has a row where it stops early, labelled so.
"""

from __future__ import annotations

import numpy as np

import corvane as cr
from corvane.bench.data import Input, Nans, label, make, reduce_inputs
from corvane.bench.harness import Case, Peer
from corvane.bench.reduce_cases import Reduction, bind_input, numbagg_peer


def _anynan(a: np.ndarray, axis: int | None) -> object:
    return np.isnan(a).any(axis=axis)


def _allnan(a: np.ndarray, axis: int | None) -> object:
    return np.isnan(a).all(axis=axis)


# corvane function -> (NumPy peer and its label, numbagg function, NaN densities of
# the full-work rows, NaN density and note of the early-exit row)
PEERS: dict[str, tuple[Reduction, str, str | None, tuple[Nans, ...], str | None]] = {
    "nanvar": (np.nanvar, "numpy", "nanvar", (False, True), None),
    "nanstd": (np.nanstd, "numpy", "nanstd", (False, True), None),
    "nanmin": (np.nanmin, "numpy", "nanmin", (False, True), None),
    "nanmax": (np.nanmax, "numpy", "nanmax", (False, True), None),
    "nanargmin": (np.nanargmin, "numpy", "nanargmin", (False, True), None),
    "nanargmax": (np.nanargmax, "numpy", "nanargmax", (False, True), None),
    "median": (np.median, "numpy", None, (False,), "stops at the first NaN"),
    "nanmedian": (np.nanmedian, "numpy", "nanmedian", (False, True), None),
    "anynan": (_anynan, "numpy isnan().any()", "anynan", (False,), "stops at the first NaN"),
    "allnan": (_allnan, "numpy isnan().all()", "allnan", ("all",), "stops at the first number"),
}


def cases(quick: bool) -> list[Case]:
    out = []
    for name, (np_func, np_label, nb_name, nans, early) in PEERS.items():
        func = getattr(cr, name)
        inputs = reduce_inputs(quick, nans)
        if early is not None:
            shape = (10**6,)
            inputs.append(
                Input(
                    f"{label(shape, 'float64', True)} ({early})",
                    make(shape, "float64", True),
                    None,
                )
            )
        for inp in inputs:
            if name.startswith("nanarg") and np.isnan(inp.array).all(axis=inp.axis).any():
                continue  # an all-NaN slice: every implementation raises
            peers = [Peer(np_label, bind_input(np_func, inp)), *numbagg_peer(nb_name, inp)]
            out.append(Case(name, inp.label, bind_input(func, inp), tuple(peers)))
    return out
