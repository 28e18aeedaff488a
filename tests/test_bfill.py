"""bfill: push in the other direction, against pandas, numbagg and corvane.slow."""

from __future__ import annotations

import numpy as np
import pandas as pd
import pytest
from conftest import arrays, assert_same, with_layout
from hypothesis import given
from hypothesis import strategies as st

import corvane as cr
import corvane.slow as slow

nan = np.nan
X = np.arange(12.0).reshape(3, 4)

# push's rules and messages.
ARG_ERRORS = [
    ("bfill", (), {}, TypeError, "wrong number of arguments"),
    ("bfill", (X, 1, 0, 0), {}, TypeError, "wrong number of arguments"),
    ("bfill", (X, 1), {"n": 1}, TypeError, "wrong number of keyword arguments"),
    ("bfill", (), {"n": 1}, TypeError, "Cannot find `a` keyword input"),
    ("bfill", (X, "x"), {}, TypeError, "`n` must be an integer"),
    ("bfill", (X, -1), {}, ValueError, "`n` must be nonnegative"),
    ("bfill", (X,), {"axis": None}, ValueError, "`axis` cannot be None"),
    ("bfill", (X, None, 1.5), {}, TypeError, "`axis` must be an integer"),
    ("bfill", (X, -1, 7), {}, ValueError, "axis(=7) out of bounds"),
    ("bfill", (np.array(3.0),), {}, ValueError, "axis(=-1) out of bounds"),
    ("bfill", (X.astype(bool), 1, None), {}, ValueError, "`axis` cannot be None"),
]


@pytest.mark.parametrize(("name", "args", "kwargs", "exc", "msg"), ARG_ERRORS)
def test_argument_errors(name, args, kwargs, exc, msg):
    with pytest.raises(exc) as info:
        cr.bfill(*args, **kwargs)
    assert str(info.value) == msg


def test_examples():
    a = np.array([nan, 5, nan, nan, 6, nan])
    assert cr.bfill.__doc__.startswith("bfill(a, n=None, axis=-1)")
    assert_same(cr.bfill(a), np.array([5.0, 5.0, 6.0, 6.0, 6.0, nan]))
    assert_same(cr.bfill(a, n=1), np.array([5.0, 5.0, nan, 6.0, 6.0, nan]))
    assert_same(cr.bfill(a, 0), a)
    m = np.array([[nan, nan], [nan, 2.0], [1.0, nan]], np.float32)
    assert_same(cr.bfill(m, axis=0), np.array([[1.0, 2.0], [1.0, 2.0], [1.0, nan]], np.float32))
    assert_same(cr.bfill(a=m, n=None), np.array([[nan, nan], [2.0, 2.0], [1.0, nan]], "f4"))
    b = np.arange(6, dtype=np.int32).reshape(2, 3)[:, ::-1]
    assert_same(cr.bfill(b, axis=0), np.ascontiguousarray(b))


def _pandas_bfill(a: np.ndarray, n: int | None, axis: int) -> np.ndarray:
    """pandas' backward fill with `limit` along `axis` of any array."""
    x = np.moveaxis(np.asarray(a, np.float64), axis, -1)
    if n == 0:  # pandas wants a positive limit; nothing is filled
        return np.moveaxis(x, -1, axis)
    rows = x.reshape(-1, x.shape[-1]) if x.size else x.reshape(0, x.shape[-1])
    filled = pd.DataFrame(rows).bfill(axis=1, limit=n).to_numpy()
    return np.moveaxis(filled.reshape(x.shape), -1, axis)


@given(arrays(min_dims=1, max_side=9), st.data())
def test_matches_reference_and_pandas(a, data):
    axis = data.draw(st.integers(-a.ndim, a.ndim - 1))
    n = data.draw(st.sampled_from([None, 0, 1, 2, 3, 8]))
    before = a.copy()
    got = cr.bfill(a, n, axis)
    np.testing.assert_array_equal(a, before)
    assert_same(got, slow.bfill(a, n, axis))
    assert got.flags.c_contiguous
    if a.dtype.kind == "f":
        np.testing.assert_array_equal(got.astype(np.float64), _pandas_bfill(a, n, axis))
    # Backward is forward on the reversed slices.
    flip = np.flip(a, axis)
    assert_same(got, np.flip(cr.push(flip, n, axis), axis).copy())


@pytest.mark.parametrize("dtype", ["float64", "float32"])
@pytest.mark.parametrize("layout", ["C", "F", "reversed", "strided"])
def test_long_slices_every_walk(dtype, layout):
    # Long packed runs (vectors and their tails), slices across memory and strided ones.
    rng = np.random.default_rng(8)
    a = rng.standard_normal((301, 71)).astype(dtype)
    a[rng.random(a.shape) < 0.6] = nan
    a[-40:] = nan
    b = with_layout(a, layout)
    for axis in (0, 1):
        for n in (None, 0, 1, 7, 8, 9, 15, 16, 17, 33):
            want = _pandas_bfill(a, n, axis)
            np.testing.assert_array_equal(cr.bfill(b, n, axis).astype(np.float64), want)


def test_matches_numbagg():
    numbagg = pytest.importorskip("numbagg")
    rng = np.random.default_rng(9)
    a = rng.standard_normal((50, 333))
    a[rng.random(a.shape) < 0.7] = nan
    for axis in (0, 1):
        for n in (None, 1, 5, 40):
            np.testing.assert_array_equal(
                cr.bfill(a, n, axis), numbagg.bfill(a, limit=n, axis=axis)
            )
