"""Integer extremes and their positions against NumPy and numbagg; the selections on
inputs built against their median-of-three pivot, at two sizes ten times apart, to show
that their time grows linearly."""

from __future__ import annotations

from functools import partial

import numpy as np

import corvane as cr
from corvane.bench.data import against_median_of_three, label, optional
from corvane.bench.harness import Case, Peer

numbagg = optional("numbagg")


def _extreme_cases(quick: bool) -> list[Case]:
    rng = np.random.default_rng(0)
    out = []
    for dtype in ("int64",) if quick else ("int64", "int32"):
        a = rng.integers(-(10**9), 10**9, 10**6).astype(dtype)
        for name in ("nanmin", "nanmax", "nanargmin", "nanargmax"):
            nb = None if numbagg is None else partial(getattr(numbagg, name), a)
            peers = (Peer("numpy", partial(getattr(np, name), a)), Peer("numbagg", nb))
            out.append(Case(name, label(a.shape, dtype), partial(getattr(cr, name), a), peers))
    return out


def _adversary_cases(quick: bool) -> list[Case]:
    out = []
    for n in (20_001,) if quick else (20_001, 200_001):
        k = n // 2
        a = against_median_of_three(n, k)
        z = against_median_of_three(n, k, signed_zeros=True)
        data = f"{label(a.shape, 'float64')} against median-of-three"
        for name, peer in (("partition", np.partition), ("argpartition", np.argpartition)):
            native = partial(getattr(cr, name), a, k)
            out.append(Case(name, data, native, (Peer("numpy", partial(peer, a, k)),)))
        zeros = f"{data}, both zeros"
        out.append(
            Case("median", zeros, partial(cr.median, z), (Peer("numpy", partial(np.median, z)),))
        )
    return out


def cases(quick: bool) -> list[Case]:
    return _extreme_cases(quick) + _adversary_cases(quick)
