"""Shared hypothesis strategies: shapes, layouts, dtypes and NaN/inf densities."""

from __future__ import annotations

import os

import numpy as np
import pytest
from hypothesis import HealthCheck, settings
from hypothesis import strategies as st

settings.register_profile(
    "default", deadline=None, max_examples=60, suppress_health_check=[HealthCheck.too_slow]
)
settings.register_profile(
    "ci", deadline=None, max_examples=120, suppress_health_check=[HealthCheck.too_slow]
)
settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "default"))

NATIVE_DTYPES = ("float64", "float32", "int64", "int32")
FLOAT_DTYPES = ("float64", "float32")
# Element types without a native kernel: answered by corvane.slow.
FALLBACK_DTYPES = ("float16", "int8", "int16", "uint8", "uint32", "uint64", "bool", "longlong")
LAYOUTS = ("C", "F", "reversed", "strided", "broadcast", "readonly", "unaligned")


def shapes(min_dims: int = 0, max_dims: int = 4, max_side: int = 6) -> st.SearchStrategy:
    return st.lists(st.integers(0, max_side), min_size=min_dims, max_size=max_dims).map(tuple)


@st.composite
def values(draw: st.DrawFn, shape: tuple[int, ...], dtype: str) -> np.ndarray:
    """Random data of `dtype`; floats get a drawn density of NaN and +/-inf."""
    seed = draw(st.integers(0, 2**32 - 1))
    rng = np.random.default_rng(seed)
    kind = np.dtype(dtype).kind
    if kind == "f":
        scale = draw(st.sampled_from([1.0, 1e3, 1e-3]))
        a = np.array(rng.standard_normal(shape) * scale, dtype=dtype)
        if draw(st.booleans()):
            # Few distinct values make ties and exact cancellations likely.
            a = np.array(np.round(a), dtype=dtype)
        nan_p = draw(st.sampled_from([0.0, 0.0, 0.1, 0.5, 1.0]))
        inf_p = draw(st.sampled_from([0.0, 0.0, 0.05]))
        r = rng.random(shape)
        a[r < nan_p] = np.nan
        a[(r >= nan_p) & (r < nan_p + inf_p)] = np.inf
        a[(r >= nan_p + inf_p) & (r < nan_p + 2 * inf_p)] = -np.inf
        return a
    if kind == "b":
        return np.asarray(rng.random(shape) < 0.5)
    info = np.iinfo(dtype)
    if draw(st.booleans()):
        lo, hi = max(info.min, -20), min(info.max, 20)
    else:
        lo, hi = info.min, info.max
    return np.asarray(rng.integers(lo, hi, size=shape, dtype=dtype, endpoint=True))


def with_layout(a: np.ndarray, layout: str) -> np.ndarray:
    """`a` laid out differently in memory (same values except for "broadcast")."""
    if layout == "C":
        return np.ascontiguousarray(a)
    if layout == "F":
        return np.asfortranarray(a)
    if layout == "reversed":
        # Negative strides in every dimension, values unchanged.
        flip = (slice(None, None, -1),) * a.ndim + (Ellipsis,)  # `...` keeps 0-d arrays
        return np.ascontiguousarray(a[flip])[flip]
    if layout == "strided":
        big = np.zeros(tuple(2 * n for n in a.shape), dtype=a.dtype)
        view = big[(slice(None, None, 2),) * a.ndim + (Ellipsis,)]
        view[...] = a
        return view
    if layout == "broadcast":
        # A zero stride along the first dimension: every row repeats row 0, so
        # the values differ from `a` (fine for comparing two implementations).
        if a.ndim >= 1 and a.shape[0] > 0:
            return np.broadcast_to(a[:1], a.shape)
        return a
    if layout == "unaligned":
        # One byte into a buffer: elements off their natural alignment.
        buf = np.zeros(a.nbytes + 1, np.uint8)
        b = np.frombuffer(buf.data, a.dtype, count=a.size, offset=1).reshape(a.shape)
        b[...] = a
        return b
    if layout == "readonly":
        b = a.copy()
        b.flags.writeable = False
        return b
    raise ValueError(layout)


@st.composite
def arrays(
    draw: st.DrawFn,
    dtypes: tuple[str, ...] = NATIVE_DTYPES,
    min_dims: int = 0,
    max_dims: int = 4,
    max_side: int = 6,
) -> np.ndarray:
    shape = draw(shapes(min_dims, max_dims, max_side))
    dtype = draw(st.sampled_from(dtypes))
    a = draw(values(shape, dtype))
    return with_layout(a, draw(st.sampled_from(LAYOUTS)))


@st.composite
def array_and_axis(draw: st.DrawFn, dtypes: tuple[str, ...] = NATIVE_DTYPES, **kw) -> tuple:
    """An array and a valid axis for it (None or -ndim..ndim-1)."""
    a = draw(arrays(dtypes, **kw))
    axes = [None] + list(range(-a.ndim, a.ndim))
    return a, draw(st.sampled_from(axes))


def assert_same(got: object, want: object, *, rtol: float = 0.0) -> None:
    """Equal type, dtype, shape and values (NaN equal to NaN; rtol for floats)."""
    if isinstance(want, np.ndarray):
        assert isinstance(got, np.ndarray), f"{type(got)} is not an array"
        assert type(got) is np.ndarray
        assert got.dtype == want.dtype, (got.dtype, want.dtype)
        assert got.shape == want.shape, (got.shape, want.shape)
        if got.dtype.kind == "f" and rtol:
            np.testing.assert_allclose(got, want, rtol=rtol, atol=0, equal_nan=True)
        else:
            np.testing.assert_array_equal(got, want)
        return
    assert type(got) is type(want), (type(got), type(want))
    if isinstance(want, float):
        if want != want:
            assert got != got, got
        elif rtol:
            assert abs(got - want) <= rtol * abs(want), (got, want)
        else:
            assert got == want, (got, want)
    else:
        assert got == want, (got, want)


@pytest.fixture
def rng() -> np.random.Generator:
    return np.random.default_rng(12345)
