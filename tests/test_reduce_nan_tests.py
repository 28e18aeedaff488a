"""anynan and allnan: the same answers as np.isnan(a).any / .all, for every layout."""

from __future__ import annotations

import numpy as np
import pytest
from conftest import NATIVE_DTYPES, array_and_axis, assert_same
from hypothesis import given
from hypothesis import strategies as st

import corvane as cr
import corvane.slow as slow

nan, inf = np.nan, np.inf


def test_nan_test_edge_cases():
    assert_same(cr.anynan(1), False)
    assert_same(cr.anynan(nan), True)
    assert_same(cr.anynan([1, nan]), True)
    assert_same(cr.anynan([[1, 4], [1, nan]]), True)
    assert_same(cr.anynan([[1, 4], [1, nan]], axis=0), np.array([False, True]))
    assert_same(cr.allnan(1), False)
    assert_same(cr.allnan(nan), True)
    assert_same(cr.allnan([1, nan]), False)
    assert_same(cr.allnan([[1, nan], [1, nan]]), False)
    assert_same(cr.allnan([[1, nan], [1, nan]], axis=0), np.array([False, True]))
    assert_same(cr.allnan([]), True)
    assert_same(cr.anynan([]), False)
    assert_same(cr.allnan(np.zeros(0, np.int64)), True)
    assert_same(cr.allnan(np.zeros(3, np.int64)), False)
    assert_same(cr.anynan([inf, -inf]), False)
    assert_same(cr.allnan([inf]), False)


@pytest.mark.parametrize("dtype", NATIVE_DTYPES)
def test_zero_length_axis(dtype):
    a = np.zeros((3, 0), dtype)
    assert_same(cr.anynan(a, axis=1), np.zeros(3, bool))
    assert_same(cr.allnan(a, axis=1), np.ones(3, bool))
    assert_same(cr.anynan(a.T, axis=0), np.zeros(3, bool))
    assert_same(cr.allnan(np.zeros((0, 3), dtype), axis=1), np.zeros(0, bool))
    b = np.zeros((2, 3), dtype)
    assert_same(cr.anynan(b, axis=0), np.zeros(3, bool))
    assert_same(cr.allnan(b, axis=1), np.zeros(2, bool))


@pytest.mark.parametrize("dtype", ["float64", "float32"])
@pytest.mark.parametrize("n", [1, 2, 7, 15, 16, 17, 255, 256, 257, 1000, 5000])
def test_one_deciding_element_anywhere(dtype, n):
    # The block scans must find a single NaN (or non-NaN) at every position.
    for pos in sorted({p for p in (0, 1, n // 2, n - 2, n - 1) if 0 <= p < n}):
        x = np.zeros(n, dtype)
        x[pos] = nan
        assert cr.anynan(x) is True
        assert cr.allnan(x) is (n == 1)
        y = np.full(n, nan, dtype)
        y[pos] = inf
        assert cr.allnan(y) is False
        assert cr.anynan(y) is (n > 1)
        for b in (np.stack([x, x * 0]), np.stack([y, y])):
            for axis in (0, 1):
                want = np.isnan(b).any(axis=axis)
                assert_same(cr.anynan(b, axis), want)
                assert_same(cr.anynan(np.ascontiguousarray(b.T), 1 - axis), want)
                assert_same(cr.allnan(b, axis), np.isnan(b).all(axis=axis))


@given(array_and_axis(), st.booleans())
def test_nan_tests_match_numpy_and_reference(case, any_):
    a, axis = case
    name = "anynan" if any_ else "allnan"
    got = getattr(cr, name)(a, axis=axis)
    res = np.isnan(a).any(axis=axis) if any_ else np.isnan(a).all(axis=axis)
    want = bool(res) if axis is None or a.ndim <= 1 else res
    assert_same(got, want)
    assert_same(got, getattr(slow, name)(a, axis=axis))


@given(st.integers(1, 300), st.integers(1, 40), st.floats(0, 1), st.integers(0))
def test_lanes_and_slices(rows, cols, density, seed):
    rng = np.random.default_rng(seed)
    b = rng.standard_normal((rows, cols))
    b[rng.random((rows, cols)) < density] = nan
    for dtype in ("float64", "float32"):
        c = b.astype(dtype)
        for axis in (0, 1):
            assert_same(cr.anynan(c, axis), np.isnan(c).any(axis=axis))
            assert_same(cr.allnan(c, axis), np.isnan(c).all(axis=axis))
