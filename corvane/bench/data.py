"""Benchmark inputs: the same arrays for every family of functions."""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np


@dataclass(frozen=True)
class Input:
    label: str
    array: np.ndarray
    axis: int | None


def make(shape: tuple[int, ...], dtype: str, nans: bool, seed: int = 0) -> np.ndarray:
    rng = np.random.default_rng(seed)
    a = rng.standard_normal(shape).astype(dtype)
    if nans:
        a[rng.random(shape) < 0.1] = np.nan
    return a


def reduce_inputs(quick: bool) -> list[Input]:
    """Small, large 1-d and 1000x1000 along each axis; float64/float32; +/- NaN.

    The quick set keeps one small and three large float64 inputs."""
    inputs = []
    for dtype in ("float64", "float32"):
        for nans in (False, True):
            tag = f"{dtype}{' nan' if nans else ''}"
            inputs.append(Input(f"(10,) {tag}", make((10,), dtype, nans), None))
            inputs.append(Input(f"(10**6,) {tag}", make((10**6,), dtype, nans), None))
            square = make((1000, 1000), dtype, nans)
            for axis in (0, 1, None):
                inputs.append(Input(f"1000x1000 axis={axis} {tag}", square, axis))
    if quick:
        keep = ("(10,) float64", "(10**6,) float64 nan", "1000x1000 axis=0 float64 nan",
                "1000x1000 axis=1 float64 nan")  # fmt: skip
        inputs = [i for i in inputs if i.label in keep]
    return inputs


def optional(name: str):
    """The peer module `name`, or None when it is not installed."""
    try:
        return __import__(name)
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
