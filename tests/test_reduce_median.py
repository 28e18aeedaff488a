"""median and nanmedian: values, NaN rules, the reference selection, integer means."""

from __future__ import annotations

import math
import os
import sys
import warnings

import numpy as np
import pytest
from conftest import FLOAT_DTYPES, NATIVE_DTYPES, array_and_axis, assert_same, values
from hypothesis import given
from hypothesis import strategies as st

import corvane as cr
import corvane.slow as slow

nan, inf = np.nan, np.inf


def reference_select(buf: list, k: int) -> None:
    """Quickselect with a median-of-three pivot and Hoare's partition, exchange by
    exchange: it fixes which of two equal zeros ends up in the middle."""
    lo, hi = 0, len(buf) - 1
    while lo < hi:
        a, b, c = buf[lo], buf[k], buf[hi]
        if b < a:
            if b < c:
                j = lo if a < c else hi
                buf[k], buf[j] = buf[j], buf[k]
        elif b > c:
            j = lo if a > c else hi
            buf[k], buf[j] = buf[j], buf[k]
        x, i, j = buf[k], lo, hi
        while True:
            while buf[i] < x:
                i += 1
            while x < buf[j]:
                j -= 1
            if i <= j:
                buf[i], buf[j] = buf[j], buf[i]
                i, j = i + 1, j - 1
            if i > j:
                break
        if j < k:
            lo = i
        if k < i:
            hi = j


def reference_median(line: np.ndarray, skip_nan: bool) -> float:
    """The median of one slice as the selection above leaves it (float32 stays float32)."""
    buf = [x for x in line if x == x]
    if not buf or (not skip_nan and len(buf) < len(line)):
        return math.nan
    k = len(buf) // 2
    reference_select(buf, k)
    if len(buf) % 2:
        return buf[k]
    lower = buf[0]
    for x in buf[1:k]:
        if x > lower:
            lower = x
    if line.dtype.kind == "i":
        return float(int(lower) + int(buf[k])) * 0.5  # the exact sum, rounded once
    return (lower + buf[k]) * line.dtype.type(0.5)


def assert_bits(got: object, want: object) -> None:
    """Equal values, NaN equal to NaN, zeros of the same sign."""
    g, w = np.asarray(got, dtype=np.float64), np.asarray(want, dtype=np.float64)
    np.testing.assert_array_equal(g, w)
    np.testing.assert_array_equal(np.signbit(g[w == 0]), np.signbit(w[w == 0]))


def test_median_edge_cases():
    a = np.array([[10, 7, 4], [3, 2, 1]])
    assert_same(cr.median(a), 3.5)
    assert_same(cr.median(a, axis=0), np.array([6.5, 4.5, 2.5]))
    assert_same(cr.median(a, axis=1), np.array([7.0, 2.0]))
    a = np.array([[nan, 7, 4], [3, 2, 1]])
    assert_same(cr.nanmedian(a), 3.0)
    assert_same(cr.nanmedian(a, axis=0), np.array([3.0, 4.5, 2.5]))
    assert_same(cr.nanmedian(a, axis=1), np.array([5.5, 2.0]))
    assert_same(cr.median(a), nan)
    assert_same(cr.median(a, axis=1), np.array([nan, 2.0]))
    for func in (cr.median, cr.nanmedian):
        assert_same(func([]), nan)
        assert_same(func([], axis=0), nan)
        assert_same(func(np.zeros((3, 0)), axis=1), np.full(3, nan))
        assert_same(func(np.zeros((3, 0), np.float32), axis=1), np.full(3, nan, "f4"))
        assert_same(func(np.zeros((3, 0), np.int32), axis=1), np.full(3, nan))
        assert_same(func(np.zeros((0, 3)), axis=1), np.zeros(0))
        assert_same(func([1, 2, 3, 4]), 2.5)
        assert_same(func([5]), 5.0)
        assert_same(func(np.array(7, np.int32)), 7.0)
        assert_same(func(np.array(2.5, np.float32)), 2.5)
    assert_same(cr.nanmedian([nan, nan]), nan)
    assert_same(cr.nanmedian([[nan, nan], [1.0, nan]], axis=1), np.array([nan, 1.0]))
    # float32 halves in float32: two middle values of 3e38 give +inf.
    assert_same(cr.median(np.array([3e38, 3e38], np.float32)), inf)
    assert_same(cr.median(np.array([[3e38], [3e38]], np.float32), axis=0), np.array([inf], "f4"))


def test_integer_middle_values_are_averaged_without_overflow():
    i32, i64 = np.iinfo(np.int32), np.iinfo(np.int64)
    assert_same(cr.median(np.array([i32.max, i32.max], np.int32)), float(i32.max))
    assert_same(cr.median(np.array([i32.min, i32.min, 0, i32.min], np.int32)), float(i32.min))
    assert_same(
        cr.nanmedian(np.array([[i32.max], [i32.max - 1]], np.int32), axis=0),
        np.array([2**31 - 1.5]),
    )
    for lo, hi in [
        (i64.max, i64.max),
        (i64.min, i64.min),
        (i64.max - 1, i64.max),
        (2**62, 2**62 + 3),
    ]:
        x = np.array([hi, lo, i64.min, i64.max], np.int64)
        # The exact sum of the two middle values, rounded once, halved.
        want = float(int(np.sort(x)[1]) + int(np.sort(x)[2])) * 0.5
        assert_same(cr.median(x), want)
        assert_same(cr.median(x.reshape(4, 1), axis=0), np.array([want]))
    # Where the sum fits, the same as forming it in the element type; and no
    # cancellation of separately rounded halves.
    assert_same(cr.median(np.array([3, 8], np.int32)), 5.5)
    assert_same(cr.median(np.array([-(2**52), 2**52 + 1], np.int64)), 0.5)
    assert_same(cr.median(np.array([-(2**62), 2**62 + 1], np.int64)), 0.5)


def test_input_is_not_reordered():
    a = np.array([5.0, 1.0, 4.0, 2.0, 3.0, nan])
    b = a.copy()
    cr.nanmedian(a)
    cr.median(a.reshape(2, 3), axis=1)
    np.testing.assert_array_equal(a, b)


@pytest.mark.parametrize("dtype", FLOAT_DTYPES)
@pytest.mark.parametrize("n", [1, 2, 3, 4, 9, 16, 17, 18, 31, 64, 65, 500, 1001])
def test_zero_medians_follow_the_reference_selection(dtype, n, rng):
    pool = np.array([-0.0, 0.0, -0.0, 0.0, 1.0, -1.0, 2.0, nan], dtype)
    for _ in range(8):
        x = rng.choice(pool, size=n)
        for skip, func in ((False, cr.median), (True, cr.nanmedian)):
            assert_bits(func(x), reference_median(x, skip))
            b = np.stack([x, x[::-1]])
            want = [reference_median(line, skip) for line in b]
            assert_bits(func(b, axis=1), want)
            assert_bits(func(np.ascontiguousarray(b.T), axis=0), want)


@given(array_and_axis(), st.booleans())
def test_median_matches_reference_and_numpy(case, skip_nan):
    a, axis = case
    name = "nanmedian" if skip_nan else "median"
    with np.errstate(all="ignore"):
        got = getattr(cr, name)(a, axis=axis)
        want = getattr(slow, name)(a, axis=axis)
    # Both round the exact sum of two middle integers once: bit for bit.
    assert_same(got, want)
    # NumPy adds two int64 middle values after rounding each to float64 (off by
    # up to 2**10 each).
    atol = 2048 if a.dtype == np.int64 else 0
    with warnings.catch_warnings(), np.errstate(all="ignore"):
        warnings.simplefilter("ignore", RuntimeWarning)
        theirs = getattr(np, name)(a, axis=axis)
    # Older NumPy (1.23) sums two int64 middle values in int64, which wraps.
    wraps = a.dtype == np.int64 and a.size and np.abs(a.astype(np.float64)).max() >= 2.0**62
    if a.size and not wraps and not (a.dtype.kind == "f" and np.isinf(a).any()):
        rtol = 1e-6 if a.dtype == np.float32 else 1e-15
        np.testing.assert_allclose(got, theirs, rtol=rtol, atol=atol, equal_nan=True)


@given(st.sampled_from(NATIVE_DTYPES), st.integers(1, 80), st.integers(1, 40), st.data())
def test_slices_match_reference_selection(dtype, rows, cols, data):
    b = data.draw(values((rows, cols), dtype))
    for skip, func in ((False, cr.median), (True, cr.nanmedian)):
        for axis in (0, 1):
            lines = np.moveaxis(b, axis, -1)
            want = [float(reference_median(line, skip)) for line in lines]
            assert_bits(func(b, axis), want)


# A failed scratch allocation must raise MemoryError, not crash: ask for one far
# larger than any machine. Under AddressSanitizer a huge request aborts instead.
huge_allocation_fails = pytest.mark.skipif(
    "asan" in os.environ.get("LD_PRELOAD", "")
    or not os.path.exists("/proc/sys/vm/overcommit_memory")
    or open("/proc/sys/vm/overcommit_memory").read().strip() == "1",
    reason="a huge allocation would not fail here",
)


@huge_allocation_fails
@pytest.mark.parametrize("func", [cr.median, cr.nanmedian])
def test_failed_scratch_allocation_raises_memory_error(func):
    one = np.ones(1)
    whole = np.broadcast_to(one, (2**43,))  # 64 TiB of scratch for the whole array
    along = np.broadcast_to(one, (2, 2**43))
    before = sys.getrefcount(whole), sys.getrefcount(along)
    for _ in range(3):
        with pytest.raises(MemoryError):
            func(whole)
        with pytest.raises(MemoryError):
            func(along, axis=1)
    assert (sys.getrefcount(whole), sys.getrefcount(along)) == before


@huge_allocation_fails
def test_failed_ravel_raises_memory_error():
    # Neither C- nor F-contiguous: the whole-array paths need a flattened copy.
    a = np.broadcast_to(np.ones(1), (2**22, 2**22))
    for func in (cr.nanargmin, cr.nanargmax, cr.median, cr.nanmedian):
        with pytest.raises(MemoryError):
            func(a)


@pytest.mark.parametrize(
    "pattern",
    [
        lambda n: np.r_[np.arange(n // 2), np.arange(n // 2)[::-1]],  # organ pipe
        lambda n: np.arange(n) % 1000,  # sawtooth
        lambda n: np.arange(n)[::-1],
        lambda n: np.repeat(np.arange(n // 100), 100),
    ],
)
def test_patterned_inputs_that_defeat_fixed_pivots(pattern):
    # Series that go up and then down once sent the selection quadratic.
    a = pattern(200_000).astype(np.float64)
    for x in (a, a.astype(np.int64), a.reshape(2, -1)):
        axis = None if x.ndim == 1 else 1
        np.testing.assert_array_equal(cr.median(x, axis=axis), np.median(x, axis=axis))
        np.testing.assert_array_equal(cr.nanmedian(x, axis=axis), np.median(x, axis=axis))
