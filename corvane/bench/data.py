"""Benchmark inputs and the labels that describe them, shared by every family."""

from __future__ import annotations

import importlib
from dataclasses import dataclass
from types import ModuleType
from typing import Literal, TypeAlias

import numpy as np
import numpy.typing as npt

Array: TypeAlias = npt.NDArray[np.floating]
#: How much of the data is NaN: none, 10% at random places, or all of it.
Nans: TypeAlias = bool | Literal["all"]


@dataclass(frozen=True)
class Input:
    label: str
    array: Array
    axis: int | None


_made: dict[tuple[tuple[int, ...], str, Nans, int], Array] = {}


def make(shape: tuple[int, ...], dtype: str, nans: Nans, seed: int = 0) -> Array:
    """Standard normal values of `dtype`; `nans` True puts NaN at 10% of the places.

    Made once per argument set and shared by the families: treat it as read-only."""
    key = (shape, dtype, nans, seed)
    if key not in _made:
        _made[key] = _generate(*key)
    return _made[key]


def _generate(shape: tuple[int, ...], dtype: str, nans: Nans, seed: int) -> Array:
    rng = np.random.default_rng(seed)
    a: Array = rng.standard_normal(shape).astype(dtype)
    if nans == "all":
        a[...] = np.nan
    elif nans:
        a[rng.random(shape) < 0.1] = np.nan
    return a


def shape_label(shape: tuple[int, ...]) -> str:
    """``10``, ``1e6``, ``1000x1000``: powers of ten from 10**4 on in short form."""

    def side(n: int) -> str:
        exp = len(str(n)) - 1
        return f"1e{exp}" if n >= 10**4 and n == 10**exp else str(n)

    return "x".join(side(n) for n in shape)


def label(
    shape: tuple[int, ...],
    dtype: str,
    nans: Nans = False,
    axis: int | None = None,
    window: int | None = None,
) -> str:
    """The data column: shape, axis (for 2-d inputs), dtype, NaN tag, window."""
    parts = [shape_label(shape)]
    if axis is not None and len(shape) > 1:
        parts.append(f"axis {axis}")
    parts.append(dtype)
    if nans:
        parts.append("all nan" if nans == "all" else "nan")
    if window is not None:
        parts.append(f"window {window}")
    return " ".join(parts)


def reduce_inputs(quick: bool, nans: tuple[Nans, ...] = (False, True)) -> list[Input]:
    """10 elements, 10**6, and 1000x1000 along each axis and over all of it;
    float64 and float32; each of the NaN densities `nans`.

    The quick set keeps float64: 10 elements with the first NaN density, and 10**6
    and 1000x1000 along each axis with the last."""
    inputs = []
    for dtype in ("float64",) if quick else ("float64", "float32"):
        for nan in nans:
            small = not quick or nan == nans[0]
            large = not quick or nan == nans[-1]
            if small:
                inputs.append(Input(label((10,), dtype, nan), make((10,), dtype, nan), None))
            if not large:
                continue
            big = (10**6,)
            inputs.append(Input(label(big, dtype, nan), make(big, dtype, nan), None))
            square = make((1000, 1000), dtype, nan)
            for axis in (0, 1) if quick else (0, 1, None):
                name = label(square.shape, dtype, nan, axis)
                if axis is None:
                    name = f"{label(square.shape, dtype, nan)} whole"
                inputs.append(Input(name, square, axis))
    return inputs


def optional(name: str) -> ModuleType | None:
    """The peer module `name`, or None when it is not installed (cases then pass
    ``Peer(name, None)``, so that the harness names the library and skips the row)."""
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


def against_median_of_three(n: int, k: int, signed_zeros: bool = False) -> np.ndarray:
    """n values on which a quickselect of rank k (0 < k < n - 1) with the median-of-three
    pivot of v[lo], v[k], v[hi] and Hoare's exchanges cuts only two elements per round.

    Built by following the selection's rounds: each takes the smallest value left at
    ``lo`` and the next one at ``k`` as its pivot, and the exchange that moves the pivot
    next to ``lo`` brings a fresh element to ``k`` for the next round. With
    ``signed_zeros`` the value of rank k is 0.0 and the largest is -0.0, so a median of
    the values (n odd, k = n // 2) is a zero while both signs are present.
    """
    at = np.arange(n)  # at[p]: the element now at position p
    rank = np.full(n, -1)
    given, lo = 0, 0
    while lo + 1 < k:
        rank[at[lo]], rank[at[k]] = given, given + 1
        given += 2
        at[lo + 1], at[k] = at[k], at[lo + 1]
        lo += 2
    rest = rank < 0
    rank[rest] = np.arange(given, n)
    values = (rank - k).astype(np.float64)
    if signed_zeros:
        values[rank == n - 1] = -0.0
    return values
