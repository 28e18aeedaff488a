"""nanvar and nanstd: two passes, ddof, result types, bit-for-bit sequential sums."""

from __future__ import annotations

import math
import warnings

import numpy as np
import pytest
from conftest import FLOAT_DTYPES, NATIVE_DTYPES, array_and_axis, assert_same, values
from hypothesis import given
from hypothesis import strategies as st

import corvane as cr
import corvane.slow as slow

nan, inf = np.nan, np.inf


def test_variance_edge_cases():
    assert_same(cr.nanstd(1), 0.0)
    assert_same(cr.nanstd([1]), 0.0)
    assert_same(cr.nanstd([1, nan]), 0.0)
    assert_same(cr.nanstd([[1, 4], [1, nan]]), 1.4142135623730951)
    assert_same(cr.nanstd([[1, 4], [1, nan]], axis=0), np.array([0.0, 0.0]))
    assert_same(cr.nanstd([1, nan, inf]), nan)
    assert_same(cr.nanvar([1, nan, inf]), nan)
    assert_same(cr.nanvar([1, 2, 3, 4]), 1.25)
    assert_same(cr.nanvar([1, 2, 3, 4], ddof=1), 1.6666666666666667)
    assert_same(cr.nanvar([1, 2, 3, 4], 0, 1), 1.6666666666666667)
    for ddof in (4, 5, 2**31 - 1):
        assert_same(cr.nanvar([1, 2, 3, 4], ddof=ddof), nan)
    # An all-NaN slice or an empty array: NaN for ddof >= 0, 0.0 for a negative one.
    for a in ([nan, nan], [], np.zeros((0, 4))):
        assert_same(cr.nanvar(a), nan)
        assert_same(cr.nanvar(a, ddof=-1), 0.0)
        assert_same(cr.nanstd(a, ddof=-3), 0.0)
    assert_same(cr.nanvar([[nan, 1.0], [nan, 3.0]], axis=0, ddof=-1), np.array([0.0, 2.0 / 3.0]))
    # A zero-length axis gives NaN whatever ddof is.
    for ddof in (-2, 0, 3):
        assert_same(cr.nanvar(np.zeros((3, 0)), axis=1, ddof=ddof), np.full(3, nan))
        assert_same(cr.nanstd(np.zeros((3, 0), np.float32), 1, ddof), np.full(3, nan, "f4"))
        assert_same(cr.nanvar(np.zeros((3, 0), np.int32), 1, ddof), np.full(3, nan))
    assert_same(cr.nanvar(np.zeros((0, 3)), axis=1), np.zeros(0))


@pytest.mark.parametrize("dtype", NATIVE_DTYPES)
def test_result_types(dtype):
    a = np.arange(12).reshape(3, 4).astype(dtype)
    out = np.float32 if dtype == "float32" else np.float64
    for func in (cr.nanvar, cr.nanstd):
        assert type(func(a)) is float
        assert type(func(a[0], axis=0)) is float
        assert func(a, axis=1).dtype == out
        assert func(a, axis=0).dtype == out


def test_float32_is_computed_in_float64():
    a = np.array([0.1, 0.2, 0.7, 1e-3], np.float32)
    s = 0.0
    for x in a:
        s += float(x)
    mean = s / 4
    ssd = 0.0
    for x in a:
        ssd += (float(x) - mean) ** 2
    var = ssd / 3
    assert_same(cr.nanvar(a, ddof=1), float(np.float32(var)))
    assert_same(cr.nanstd(a, ddof=1), float(np.float32(math.sqrt(var))))
    assert_same(cr.nanvar(a.reshape(1, 4), axis=1, ddof=1), np.array([var], np.float32))
    # A float32 accumulator would drift from 1000 on this many elements.
    big = np.full(10**6, 1000, np.float32)
    assert (cr.nanmean(big), cr.nanstd(big)) == (1000.0, 0.0)


def test_integer_slices_along_an_axis_use_reciprocals():
    a = np.array([[1, 2, 4], [7, 9, 10], [2**40, 3, -5]], np.int64)
    for ddof in (0, 1, 2):
        r1, r2 = 1.0 / 3.0, 1.0 / (3 - ddof)
        want = []
        for row in a.tolist():
            mean = float(sum(float(x) for x in row)) * r1
            ssd = 0.0
            for x in row:
                ssd += (float(x) - mean) ** 2
            want.append(ssd * r2)
        assert_same(cr.nanvar(a, axis=1, ddof=ddof), np.array(want))
        assert cr.nanstd(a.astype(np.int32) % 1000, axis=1, ddof=ddof).dtype == np.float64
    # ddof reaching the slice length: NaN.
    assert_same(cr.nanvar(a, axis=1, ddof=3), np.full(3, nan))


def test_overflowing_mean_is_infinite_not_nan():
    big = np.finfo(np.float64).max
    assert cr.nanvar([big, big, nan]) == inf
    assert math.isnan(cr.nanvar([big, -inf]))


@given(array_and_axis(), st.integers(-3, 4), st.booleans())
def test_variance_matches_reference_bit_for_bit(case, ddof, root):
    a, axis = case
    name = "nanstd" if root else "nanvar"
    with np.errstate(all="ignore"):
        got = getattr(cr, name)(a, axis=axis, ddof=ddof)
        want = getattr(slow, name)(a, axis=axis, ddof=ddof)
    assert_same(got, want)


@given(st.sampled_from(NATIVE_DTYPES), st.integers(1, 200), st.integers(1, 30), st.data())
def test_lanes_and_slices_match_reference(dtype, rows, cols, data):
    b = data.draw(values((rows, cols), dtype))
    ddof = data.draw(st.integers(-1, 3))
    for axis in (0, 1):
        with np.errstate(all="ignore"):
            assert_same(cr.nanvar(b, axis, ddof), slow.nanvar(b, axis, ddof))
            assert_same(cr.nanstd(b.T, 1 - axis, ddof), slow.nanstd(b.T, 1 - axis, ddof))


@given(array_and_axis(dtypes=FLOAT_DTYPES + ("int64", "int32")), st.integers(0, 2))
def test_variance_is_close_to_numpy(case, ddof):
    a, axis = case
    if a.dtype.kind == "f" and np.isinf(a).any():
        return
    if a.dtype.kind == "i":
        a = a % 1000  # keep float64 sums exact enough to compare
    with warnings.catch_warnings(), np.errstate(all="ignore"):
        warnings.simplefilter("ignore", RuntimeWarning)
        want = np.nanvar(a, axis=axis, ddof=ddof)
    got = np.asarray(cr.nanvar(a, axis=axis, ddof=ddof))
    # Too few values for ddof: NaN here (NumPy gives inf or NaN).
    count = np.asarray((~np.isnan(a)).sum(axis=axis if a.ndim > 1 else None))
    defined = count > ddof
    assert np.isnan(got[~defined]).all()
    rtol = 2e-3 if a.dtype == np.float32 else 1e-7
    np.testing.assert_allclose(
        got[defined], np.asarray(want)[defined], rtol=rtol, atol=rtol, equal_nan=True
    )
