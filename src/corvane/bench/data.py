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
