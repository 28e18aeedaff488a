"""nanmin, nanmax, nanargmin, nanargmax: values, the tie and NaN rules, messages."""

from __future__ import annotations

import math
import warnings

import numpy as np
import pytest
from conftest import (
    FLOAT_DTYPES,
    LAYOUTS,
    NATIVE_DTYPES,
    array_and_axis,
    assert_same,
    values,
    with_layout,
)
from hypothesis import given
from hypothesis import strategies as st

import corvane as cr
import corvane.slow as slow

nan, inf = np.nan, np.inf


def assert_bits(got: object, want: object) -> None:
    """assert_same, and zeros of the same sign."""
    assert_same(got, want)
    g, w = np.asarray(got), np.asarray(want)
    if g.dtype.kind == "f":
        zero = w == 0
        np.testing.assert_array_equal(np.signbit(g[zero]), np.signbit(w[zero]))


def ref_extreme(line, largest: bool) -> float:
    """The per-element rule: accept on <= (>=), NaN never; NaN when nothing was accepted."""
    best, seen = (-math.inf if largest else math.inf), False
    for x in line:
        if (x >= best) if largest else (x <= best):
            best, seen = x, True
    return best if seen else math.nan


# --- nanmin / nanmax ----------------------------------------------------------------


def test_extreme_edge_cases():
    assert_same(cr.nanmin(1), 1)
    assert_same(cr.nanmin([1]), 1)
    assert_same(cr.nanmin([1, nan]), 1.0)
    a = np.array([[1, 4], [1, nan]])
    assert_same(cr.nanmin(a), 1.0)
    assert_same(cr.nanmax(a), 4.0)
    assert_same(cr.nanmin(a, axis=0), np.array([1.0, 4.0]))
    assert_same(cr.nanmax(a, axis=0), np.array([1.0, 4.0]))
    assert_same(cr.nanmin([[nan, nan], [1.0, nan]], axis=1), np.array([nan, 1.0]))
    assert_same(cr.nanmin([nan, nan]), nan)
    assert_same(cr.nanmin([nan, inf, nan]), inf)
    assert_same(cr.nanmax([nan, -inf]), -inf)
    assert_same(
        cr.nanmin(np.array([[3, 1], [2, 5]], np.int32), axis=0), np.array([2, 1], np.int32)
    )
    assert_same(cr.nanmax(np.array([[3, 1], [2, 5]], np.float32), axis=1), np.array([3, 5], "f4"))
    assert_same(cr.nanmax(np.array([1.5], np.float32)), 1.5)
    i64 = np.iinfo(np.int64)
    assert_same(cr.nanmin(np.array([i64.max, i64.max])), i64.max)
    assert_same(cr.nanmax(np.array([i64.min, i64.min])), i64.min)


def test_later_of_equal_zeros_wins(rng):
    for func in (cr.nanmin, cr.nanmax):
        assert_bits(func([0.0, -0.0]), -0.0)
        assert_bits(func([-0.0, 0.0]), 0.0)
        assert_bits(func([-0.0, nan, 0.0, nan]), 0.0)
    # Long runs go through the vector scan: the sign still comes from the last zero.
    for n in (7, 64, 1000, 4099):
        for _ in range(6):
            x = rng.choice(np.array([-0.0, 0.0, 1.0, 2.0, nan]), size=n)
            for dtype in FLOAT_DTYPES:
                y = x.astype(dtype)
                assert_bits(cr.nanmin(y), ref_extreme(y.tolist(), largest=False))
                assert_bits(cr.nanmax(-y), ref_extreme((-y).tolist(), largest=True))


@pytest.mark.parametrize("dtype", FLOAT_DTYPES)
@pytest.mark.parametrize("n", [1, 5, 33, 1000])
def test_nan_and_infinity_slices(dtype, n):
    x = np.full(n, nan, dtype)
    assert_same(cr.nanmin(x), nan)
    x[n // 2] = inf
    assert_same(cr.nanmin(x), inf)
    assert_same(cr.nanmax(x), inf)
    x[n // 2] = -inf
    assert_same(cr.nanmax(x), -inf)
    # Along an axis, by lanes (axis 0) and by slices (axis 1), with all-NaN slices.
    b = np.full((n, 5), nan, dtype)
    b[n - 1, 1] = inf
    b[0, 2] = -0.0
    b[n - 1, 2] = 0.0
    b[:, 3] = np.arange(n)
    for axis in (0, 1):
        assert_bits(cr.nanmin(b, axis), slow.nanmin(b, axis))
        assert_bits(cr.nanmax(b, axis), slow.nanmax(b, axis))
        assert_bits(cr.nanmin(b.T, 1 - axis), slow.nanmin(b.T, 1 - axis))


@pytest.mark.parametrize("name", ["nanmin", "nanmax"])
def test_extreme_empty_messages(name):
    f = getattr(cr, name)
    for a in ([], np.zeros((0, 3)), np.zeros(0, np.int32)):
        with pytest.raises(ValueError) as info:
            f(a)
        assert (
            str(info.value) == f"numpy.{name} raises on a.size==0 and axis=None; So Corvane too."
        )
    with pytest.raises(ValueError, match="a.size==0"):
        f(np.zeros(0), axis=0)  # one dimension: the whole-array path
    for dtype in NATIVE_DTYPES:
        with pytest.raises(ValueError) as info:
            f(np.zeros((3, 0), dtype), axis=1)
        assert str(info.value) == f"numpy.{name} raises on a.shape[axis]==0; So Corvane too."
        with pytest.raises(ValueError, match=r"a.shape\[axis\]==0"):
            f(np.zeros((0, 0), dtype), axis=0)
        assert_same(f(np.zeros((0, 3), dtype), axis=1), np.zeros(0, dtype))


@given(array_and_axis(), st.sampled_from(["nanmin", "nanmax"]))
def test_extremes_match_reference_and_numpy(case, name):
    a, axis = case
    empty = a.size == 0 if axis is None or a.ndim == 1 else a.shape[axis] == 0
    if empty:
        with pytest.raises(ValueError):
            getattr(cr, name)(a, axis=axis)
        return
    got = getattr(cr, name)(a, axis=axis)
    assert_bits(got, getattr(slow, name)(a, axis=axis))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # NumPy's all-NaN warning
        np.testing.assert_array_equal(got, getattr(np, name)(a, axis=axis))


@given(st.sampled_from(FLOAT_DTYPES), st.integers(1, 300), st.integers(1, 40), st.integers(0))
def test_lanes_and_slices_agree_with_the_rule(dtype, rows, cols, seed):
    # Few distinct values with zeros of both signs, NaNs and infinities.
    pool = np.array([-0.0, 0.0, 1.0, -1.0, nan, inf, -inf], dtype)
    b = np.random.default_rng(seed).choice(pool, size=(rows, cols))
    for axis in (0, 1):
        lines = np.moveaxis(b, axis, -1)
        for name, largest in (("nanmin", False), ("nanmax", True)):
            want = np.array([ref_extreme(line.tolist(), largest) for line in lines], dtype)
            assert_bits(getattr(cr, name)(b, axis), want)


# --- nanargmin / nanargmax ----------------------------------------------------------


def test_position_edge_cases():
    a = np.array([[nan, 4], [2, 3]])
    assert_same(cr.nanargmin(a), 2)
    assert_same(cr.nanargmin(a, axis=0), np.array([1, 1]))
    assert_same(cr.nanargmin(a, axis=1), np.array([1, 0]))
    assert_same(cr.nanargmax(a), 1)
    assert_same(cr.nanargmax(a, axis=0), np.array([1, 0]))
    assert_same(cr.nanargmax(a, axis=1), np.array([1, 1]))
    assert_same(cr.nanargmin([1, 0, 0]), 1)
    assert_same(cr.nanargmax([5, 5]), 0)
    assert_same(cr.nanargmin([3, 1, 2], axis=0), 1)
    assert_same(cr.nanargmin(7.0), 0)
    assert_same(cr.nanargmin([nan, inf, nan, inf]), 1)
    assert_same(cr.nanargmax([nan, -inf, -inf]), 1)
    assert_same(cr.nanargmin([inf, nan]), 0)  # never the NaN beside an equal infinity
    assert_same(cr.nanargmin([0.0, -0.0]), 0)  # the zeros are equal
    assert_same(cr.nanargmin(np.full(5, 2**31 - 1, np.int32)), 0)
    assert_same(cr.nanargmax(np.full(5, -(2**63), np.int64)), 0)
    out = cr.nanargmin(np.array([[3, 1], [2, 5]], np.float32), axis=0)
    assert_same(out, np.array([1, 0], np.int64))
    assert_same(cr.nanargmax(np.zeros((0, 3), np.int32), axis=1), np.zeros(0, np.int64))


@pytest.mark.parametrize("name", ["nanargmin", "nanargmax"])
def test_position_errors(name):
    f = getattr(cr, name)
    for a in ([nan], nan, [nan, nan], np.array([[nan, nan]], np.float32)):
        with pytest.raises(ValueError) as info:
            f(a)
        assert str(info.value) == "All-NaN slice encountered"
    # One all-NaN slice among many, by lanes and by slices: an error, no array.
    b = np.arange(20.0).reshape(4, 5)
    b[:, 3] = nan
    with pytest.raises(ValueError, match="^All-NaN slice encountered$"):
        f(b, axis=0)
    with pytest.raises(ValueError, match="^All-NaN slice encountered$"):
        f(b.T, axis=1)
    for a in ([], np.zeros((2, 0)), np.zeros(0, np.int64)):
        with pytest.raises(ValueError) as info:
            f(a)
        assert (
            str(info.value) == f"numpy.{name} raises on a.size==0 and axis=None; So Corvane too."
        )
    for dtype in NATIVE_DTYPES:
        with pytest.raises(ValueError) as info:
            f(np.zeros((3, 0), dtype), axis=1)
        assert str(info.value) == f"numpy.{name} raises on a.shape[axis]==0; So Corvane too."
    # Integers never raise the all-NaN error.
    assert_same(f(np.zeros((2, 3), np.int32), axis=0), np.zeros(3, np.int64))


@pytest.mark.parametrize("layout", LAYOUTS)
@pytest.mark.parametrize("dtype", NATIVE_DTYPES)
def test_whole_array_position_is_c_order(layout, dtype, rng):
    base = rng.integers(-3, 4, size=(4, 5, 3)).astype(dtype)
    a = with_layout(base, layout)
    flat = np.ascontiguousarray(a).ravel()
    assert_same(cr.nanargmin(a), int(np.argmin(flat)))
    assert_same(cr.nanargmax(a), int(np.argmax(flat)))
    assert_same(cr.nanargmin(a[:, 1]), int(np.argmin(np.ascontiguousarray(a[:, 1]).ravel())))


def test_first_occurrence_in_long_slices():
    # The vector search and the lanes must report the first of equal extremes.
    for n in (3, 17, 100, 1000, 5000):
        for first in sorted({0, 1, n // 3, n - 2, n - 1}):
            if first < 0:
                continue
            for dtype in NATIVE_DTYPES:
                x = np.full(n, 5, dtype)
                x[first:] = np.where(np.arange(n - first) % 4 == 0, 1, 5).astype(dtype)
                assert_same(cr.nanargmin(x), first)
                assert_same(cr.nanargmax(-x), first)
                b = np.stack([x, np.roll(x, 1)], axis=1)
                want = np.argmin(b, axis=0).astype(np.int64)  # the first of equal minima
                assert_same(cr.nanargmin(b, axis=0), want)
                assert_same(cr.nanargmin(np.ascontiguousarray(b.T), axis=1), want)


@given(array_and_axis(), st.sampled_from(["nanargmin", "nanargmax"]))
def test_positions_match_reference_and_numpy(case, name):
    a, axis = case
    f, ref = getattr(cr, name), getattr(slow, name)
    try:
        want = ref(a, axis=axis)
    except ValueError as err:
        with pytest.raises(ValueError) as info:
            f(a, axis=axis)
        assert str(info.value) == str(err)
        return
    got = f(a, axis=axis)
    assert_same(got, want)
    if a.dtype.kind != "f" or not np.isinf(a).any():
        # NumPy agrees where no NaN can stand beside an equal infinity.
        np.testing.assert_array_equal(got, getattr(np, name)(a, axis=axis))


@given(st.sampled_from(NATIVE_DTYPES), st.integers(1, 200), st.integers(1, 30), st.data())
def test_positions_by_lanes_and_slices(dtype, rows, cols, data):
    b = data.draw(values((rows, cols), dtype))
    for axis in (0, 1):
        lines = np.moveaxis(b, axis, -1)
        if b.dtype.kind == "f" and np.isnan(lines).all(axis=-1).any():
            continue
        for name in ("nanargmin", "nanargmax"):
            assert_same(getattr(cr, name)(b, axis), getattr(slow, name)(b, axis))


@pytest.mark.parametrize("n", [1, 3, 5, 33, 1000])
def test_positions_of_start_values_by_lanes_and_slices(n):
    # Slices in which nothing beats the start value take the settling pass.
    for dtype in FLOAT_DTYPES:
        b = np.full((n, 4), nan, dtype)
        b[n // 2, 0] = inf
        b[n - 1, 0] = inf
        b[:, 1] = -inf
        b[n - 1, 2] = 1.0
        b[0, 3] = 0.0
        for a, axis in ((b, 0), (np.ascontiguousarray(b.T), 1)):
            assert_same(cr.nanargmin(a, axis), np.array([n // 2, 0, n - 1, 0], np.int64))
            assert_same(cr.nanargmax(-a, axis), np.array([n // 2, 0, n - 1, 0], np.int64))
        b[:, 3] = nan
        with pytest.raises(ValueError, match="^All-NaN slice encountered$"):
            cr.nanargmin(b, 0)
    for dtype in ("int64", "int32"):
        top, bottom = np.iinfo(dtype).max, np.iinfo(dtype).min
        c = np.full((n, 3), top, dtype)
        c[n - 1, 1] = 5
        c[:, 2] = bottom
        assert_same(cr.nanargmin(c, 0), np.array([0, n - 1, 0], np.int64))
        assert_same(cr.nanargmin(np.ascontiguousarray(c.T), 1), np.array([0, n - 1, 0], np.int64))
        assert_same(cr.nanargmax(c, 0), np.array([0, 0, 0], np.int64))
        assert_same(cr.nanargmax(np.full((n, 2), bottom, dtype), 0), np.zeros(2, np.int64))
