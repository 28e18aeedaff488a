"""The slicewise module: partition, argpartition, rankdata, nanrankdata, push."""

from __future__ import annotations

import os
import sys
import warnings

import numpy as np
import pandas as pd
import pytest
import scipy.stats
from conftest import (
    FALLBACK_DTYPES,
    NATIVE_DTYPES,
    arrays,
    assert_same,
    run_python,
    values,
    with_layout,
)
from hypothesis import given
from hypothesis import strategies as st

import corvane as cr
import corvane.slow as slow
from corvane.bench.data import against_median_of_three

NAMES = ["partition", "argpartition", "rankdata", "nanrankdata", "push"]
SIGNATURES = {
    "partition": "partition(a, kth, axis=-1)",
    "argpartition": "argpartition(a, kth, axis=-1)",
    "rankdata": "rankdata(a, axis=None)",
    "nanrankdata": "nanrankdata(a, axis=None)",
    "push": "push(a, n=None, axis=-1)",
}
SCIPY = tuple(int(p) for p in scipy.__version__.split(".")[:2])
X = np.arange(12.0).reshape(3, 4)
V = np.arange(5.0)
S = np.array(3.0)


# --- argument rules --------------------------------------------------------------

WRONG_ARGS = "wrong number of arguments"
WRONG_KWARGS = "wrong number of keyword arguments"
KTH_RANGE = "`n` (={}) must be between 0 and {}, inclusive."
ARG_ERRORS = [
    ("partition", (X,), {}, TypeError, WRONG_ARGS),
    ("partition", (X, 1, -1, 0), {}, TypeError, WRONG_ARGS),
    ("partition", (X, 1, -1), {"axis": 0}, TypeError, WRONG_ARGS),
    ("partition", (), {}, TypeError, WRONG_ARGS),
    ("partition", (X,), {"axis": 0}, TypeError, "Cannot find `kth` keyword input"),
    ("partition", (), {"kth": 1}, TypeError, "Cannot find `a` keyword input"),
    ("partition", (X, 2), {"kth": 2}, TypeError, WRONG_KWARGS),
    ("partition", (X,), {"kth": 2, "n": 1}, TypeError, WRONG_KWARGS),
    ("partition", (X,), {"kth": 2, "a": X}, TypeError, WRONG_KWARGS),
    ("argpartition", (X,), {"axis": 0}, TypeError, "Cannot find `kth` keyword input"),
    ("rankdata", (), {}, TypeError, WRONG_ARGS),
    ("rankdata", (X, 0, 1), {}, TypeError, WRONG_ARGS),
    ("rankdata", (X, 0), {"axis": 0}, TypeError, WRONG_ARGS),
    ("rankdata", (), {"axis": 0}, TypeError, "Cannot find `a` keyword input"),
    ("nanrankdata", (X,), {"kth": 0}, TypeError, WRONG_KWARGS),
    ("push", (), {}, TypeError, WRONG_ARGS),
    ("push", (X, 1, 0, 0), {}, TypeError, WRONG_ARGS),
    ("push", (X, 1, 0), {"axis": 0}, TypeError, WRONG_ARGS),
    ("push", (X,), {"window": 1}, TypeError, WRONG_KWARGS),
    ("push", (X, 1), {"n": 1}, TypeError, WRONG_KWARGS),
    ("push", (), {"n": 1}, TypeError, "Cannot find `a` keyword input"),
    # kth and n share one message.
    ("partition", (X, "x"), {}, TypeError, "`n` must be an integer"),
    ("partition", (X, 1.5), {}, TypeError, "`n` must be an integer"),
    ("partition", (X, None), {}, TypeError, "`n` must be an integer"),
    ("argpartition", (X, 2**40), {}, TypeError, "`n` must be an integer"),
    ("push", (X, "x"), {}, TypeError, "`n` must be an integer"),
    ("push", (X, -1), {}, ValueError, "`n` must be nonnegative"),
    ("push", (X,), {"axis": None}, ValueError, "`axis` cannot be None"),
    ("push", (X, None, None), {}, ValueError, "`axis` cannot be None"),
    ("partition", (X, 1, "0"), {}, TypeError, "`axis` must be an integer"),
    ("rankdata", (X, 1.5), {}, TypeError, "`axis` must be an integer"),
    ("push", (X,), {"axis": 2**40}, TypeError, "`axis` must be an integer"),
    ("partition", (X, 1, 5), {}, ValueError, "axis(=5) out of bounds"),
    ("partition", (X, 1, -5), {}, ValueError, "axis(=-3) out of bounds"),
    ("rankdata", (X, 2), {}, ValueError, "axis(=2) out of bounds"),
    ("nanrankdata", (X, -3), {}, ValueError, "axis(=-1) out of bounds"),
    ("push", (X, None, -3), {}, ValueError, "axis(=-1) out of bounds"),
    # A 0-d input has no last axis.
    ("partition", (S, 0), {}, ValueError, "axis(=-1) out of bounds"),
    ("argpartition", (3.0, 0), {}, ValueError, "axis(=-1) out of bounds"),
    ("push", (S,), {}, ValueError, "axis(=-1) out of bounds"),
    ("rankdata", (S, 0), {}, ValueError, "axis(=0) out of bounds"),
    # The axis comes before kth and n.
    ("partition", (X, "x", 7), {}, ValueError, "axis(=7) out of bounds"),
    ("push", (X, -1, 7), {}, ValueError, "axis(=7) out of bounds"),
    # kth is checked against the slice length by the kernels.
    ("partition", (V, 5), {}, ValueError, KTH_RANGE.format(5, 4)),
    ("partition", (V, -1), {}, ValueError, KTH_RANGE.format(-1, 4)),
    ("argpartition", (X, 3, 0), {}, ValueError, KTH_RANGE.format(3, 2)),
    ("argpartition", (X, 12, None), {}, ValueError, KTH_RANGE.format(12, 11)),
    # Element types without kernels are checked before they go to corvane.slow.
    ("partition", (X.astype(np.float16), 1, 5), {}, ValueError, "axis(=5) out of bounds"),
    ("push", (X.astype(bool), 1, None), {}, ValueError, "`axis` cannot be None"),
]  # fmt: skip


@pytest.mark.parametrize(("name", "args", "kwargs", "exc", "msg"), ARG_ERRORS)
def test_argument_errors(name, args, kwargs, exc, msg):
    with pytest.raises(exc) as info:
        getattr(cr, name)(*args, **kwargs)
    assert str(info.value) == msg


def test_every_call_form_gives_the_same_result():
    a = np.array([[3.0, 1.0, np.nan, 2.0], [0.0, np.nan, 5.0, 5.0], [1.0, 1.0, 0.0, 9.0]])
    for f in (cr.partition, cr.argpartition):
        want = f(a, 2, 1)
        for got in (f(a, 2), f(a, kth=2), f(a=a, kth=2), f(a, 2, axis=1), f(a, kth=2, axis=-1),
                    f(a=a, kth=2, axis=1), f(a, 2, -1)):  # fmt: skip
            assert_same(got, want)
        assert_same(f(a=a, kth=1, axis=0), f(a, 1, 0))
        assert_same(f(a, 5, None), f(a.ravel(), 5))
    for f in (cr.rankdata, cr.nanrankdata):
        want = f(a, None)
        for got in (f(a), f(a=a), f(a, axis=None), f(a=a, axis=None), f(a.ravel(), 0)):
            assert_same(got, want)
        assert_same(f(a, 0), f(a=a, axis=0))
        assert_same(f(a, -1), f(a, axis=1))
    want = cr.push(a, 1, 0)
    for got in (cr.push(a, 1, axis=0), cr.push(a, n=1, axis=0), cr.push(a=a, n=1, axis=0),
                cr.push(a, axis=0, n=1), cr.push(a, np.int32(1), np.int64(0))):  # fmt: skip
        assert_same(got, want)
    unlimited = cr.push(a)
    for got in (cr.push(a, None), cr.push(a, None, -1), cr.push(a=a), cr.push(a, n=None)):
        assert_same(got, unlimited)


def test_inputs_that_are_not_arrays_are_converted():
    assert_same(cr.partition([3, 1, 2], 1), np.array([1, 2, 3]))
    assert_same(cr.argpartition((3.0, 1.0, 2.0), 0), np.array([1, 2, 0]))
    assert_same(cr.rankdata(5), np.array([1.0]))
    assert_same(cr.rankdata(np.array(5.0)), np.array([1.0]))
    assert_same(cr.nanrankdata([[1, 1], [0, 2]]), np.array([2.5, 2.5, 1.0, 4.0]))
    assert_same(cr.push([1.0, np.nan]), np.array([1.0, 1.0]))

    class Unconvertible:
        def __array__(self, *args, **kwargs):
            raise ValueError("no array here")

    for name in NAMES:
        with pytest.raises(ValueError, match="^no array here$"):
            getattr(cr, name)(Unconvertible(), *_extra(name))


@pytest.mark.parametrize("name", NAMES)
def test_signature_line_opens_the_docstring(name):
    f = getattr(cr, name)
    sig = SIGNATURES[name]
    assert f.__doc__.splitlines()[0] == sig
    assert f.__text_signature__ == sig[len(name) :]
    for section in ("Parameters\n----------", "Returns\n-------", "Examples\n--------"):
        assert section in f.__doc__


def test_module_docstring():
    assert cr.slicewise.__doc__ == "Corvane non-reducing functions that operate along an axis."


# --- fallback ----------------------------------------------------------------------


def _extra(name: str) -> tuple:
    """The argument after `a` that the function needs (kth or n), if any."""
    return () if "rank" in name else (1,)


@pytest.mark.parametrize("dtype", [*FALLBACK_DTYPES, ">f8", ">i4", ">f4"])
@pytest.mark.parametrize("name", NAMES)
def test_unsupported_types_get_the_reference_result(name, dtype):
    base = np.array([[3, 0, 2, 1], [1, 1, 0, 4], [2, 0, 4, 1]])
    a = base.astype(dtype)
    if a.dtype.kind == "f":
        a[0, 1] = np.nan
    for axis in (0, 1, -1):
        got = getattr(cr, name)(a, *_extra(name), axis=axis)
        want = getattr(slow, name)(a, *_extra(name), axis=axis)
        assert_same(got, want)


def test_fallback_receives_the_call_unchanged(monkeypatch):
    seen = []

    def spy(*args, **kwargs):
        seen.append((args, kwargs))
        return "from slow"

    monkeypatch.setattr(slow, "partition", spy)
    monkeypatch.setattr(slow, "push", spy)
    half = np.ones(3, np.float16)
    big = np.ones((2, 2), ">f8")
    assert cr.partition(half, kth=1) == "from slow"
    assert cr.partition(a=half, kth=1, axis=0) == "from slow"
    # Big-endian arrays go before any look at the axis or kth.
    assert cr.partition(big, "x", 9) == "from slow"
    assert cr.push(big, -1, axis=None) == "from slow"
    assert seen == [
        ((half,), {"kth": 1}),
        ((), {"a": half, "kth": 1, "axis": 0}),
        ((big, "x", 9), {}),
        ((big, -1), {"axis": None}),
    ]


# --- partition and argpartition ------------------------------------------------------


def test_partition_examples():
    assert_same(cr.partition(np.array([1, 0, 3, 4, 2]), kth=2), np.array([1, 0, 2, 4, 3]))
    assert_same(cr.partition(np.array([1, 0, 3, 4, 2]), kth=3), np.array([1, 0, 2, 3, 4]))
    a = np.array([10, 0, 30, 40, 20])
    index = cr.argpartition(a, kth=2)
    assert_same(index, np.array([0, 1, 4, 3, 2]))
    assert_same(a[index], np.array([10, 0, 20, 40, 30]))
    assert_same(cr.partition(V, 4), V)  # kth = length - 1 is accepted
    assert_same(cr.partition(np.array([7.0]), 0), np.array([7.0]))
    assert_same(cr.argpartition(np.array([7.0]), 0), np.array([0]))
    # A zero-length axis takes any kth.
    for kth in (-3, 0, 99):
        assert_same(cr.partition(np.ones((2, 0)), kth), np.ones((2, 0)))
        assert_same(cr.argpartition(np.ones((0, 3), np.int32), kth, 0), np.ones((0, 3), np.intp))
    # Slices of length 1 along the axis are left as they are.
    assert_same(cr.partition(X[:1], 0, 0), X[:1])
    assert_same(cr.argpartition(X[:1], 0, 0), np.zeros((1, 4), np.intp))


def test_partition_keeps_the_memory_order_and_gives_plain_arrays():
    class Sub(np.ndarray):
        pass

    f = np.asfortranarray(np.arange(20.0)[::-1].reshape(4, 5))
    assert cr.partition(f, 1, 0).flags.f_contiguous
    assert cr.partition(f, 1, 1).flags.f_contiguous
    assert cr.partition(f[:, ::2], 1).flags.c_contiguous
    assert cr.argpartition(f, 1, 0).flags.c_contiguous
    for name in NAMES:
        out = getattr(cr, name)(f.view(Sub), *_extra(name))
        assert type(out) is np.ndarray
    # A matrix stays 2-d through its own ravel; axis=None still flattens it.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", PendingDeprecationWarning)
        m = np.matrix([[3.0, 1.0], [2.0, 5.0]])
    assert_same(cr.rankdata(m), np.array([3.0, 1.0, 2.0, 4.0]))
    assert_same(cr.nanrankdata(m), np.array([3.0, 1.0, 2.0, 4.0]))
    assert_same(cr.partition(m, 1, None), slow.partition(np.asarray(m), 1, None))
    assert_same(cr.argpartition(m, 3, None), slow.argpartition(np.asarray(m), 3, None))


def _check_partitioned(a: np.ndarray, out: np.ndarray, kth: int, axis: int | None) -> None:
    """`out` is a rearrangement of each slice of `a`, partitioned at kth (NaN-free data)."""
    if axis is None:
        a, axis = a.ravel(), 0
    if a.shape[axis] == 0:
        return
    x = np.moveaxis(a, axis, -1)
    y = np.moveaxis(out, axis, -1)
    np.testing.assert_array_equal(np.sort(y, axis=-1), np.sort(x, axis=-1))
    pivot = y[..., kth : kth + 1]
    assert (y[..., :kth] <= pivot).all() and (y[..., kth + 1 :] >= pivot).all()
    np.testing.assert_array_equal(y[..., kth], np.partition(x, kth, axis=-1)[..., kth])


@st.composite
def partition_args(draw, dtypes=NATIVE_DTYPES):
    a = draw(arrays(dtypes, min_dims=1, max_side=7))
    axis = draw(st.sampled_from([None, *range(-a.ndim, a.ndim)]))
    length = a.size if axis is None else a.shape[axis]
    kth = draw(st.integers(0, max(length - 1, 0)))
    return a, kth, axis


@given(partition_args())
def test_partition_matches_reference_and_numpy(args):
    a, kth, axis = args
    before = a.copy()
    got = cr.partition(a, kth, axis)
    index = cr.argpartition(a, kth, axis)
    np.testing.assert_array_equal(a, before)
    # Same selection as the reference, exchange for exchange.
    assert_same(got, slow.partition(a, kth, axis))
    assert_same(index, slow.argpartition(a, kth, axis))
    flat = a.ravel() if axis is None else a
    ax = 0 if axis is None else axis
    np.testing.assert_array_equal(np.take_along_axis(flat, index, ax), got)
    if got.size and not np.isnan(got.astype(float)).any():
        _check_partitioned(a, got, kth, axis)


@pytest.mark.parametrize("dtype", NATIVE_DTYPES)
@pytest.mark.parametrize("n", [2, 3, 17, 64, 65, 300, 4099])
def test_long_slices_match_reference(dtype, n):
    # Long enough for the block-wise exchanges, with ties, NaN and extremes.
    rng = np.random.default_rng(n)
    a = (rng.integers(-4, 5, n) if n % 2 else rng.standard_normal(n) * 100).astype(dtype)
    if a.dtype.kind == "f":
        a[rng.random(n) < 0.05] = np.nan
        a[rng.random(n) < 0.02] = np.inf
    for kth in sorted({0, n // 3, n // 2, n - 1}):
        assert_same(cr.partition(a, kth), slow.partition(a, kth))
        assert_same(cr.argpartition(a, kth), slow.argpartition(a, kth))
    # Slices across memory, gathered a group at a time and one by one.
    wide = np.stack([np.roll(a, s) for s in range(11)], axis=1)
    for kth in sorted({0, n // 2, n - 1}):
        assert_same(cr.argpartition(wide, kth, 0), slow.argpartition(wide, kth, 0))
        assert_same(cr.partition(wide, kth, 0), slow.partition(wide, kth, 0))


def test_partition_with_nan_finishes():
    a = np.array([np.nan, 1.0, np.nan, 0.0, np.nan, 2.0])
    for kth in range(6):
        assert_same(cr.partition(a, kth), slow.partition(a, kth))
        assert_same(cr.argpartition(a, kth), slow.argpartition(a, kth))
    assert_same(cr.partition(np.full(9, np.nan), 4), np.full(9, np.nan))


@pytest.mark.parametrize("n", [101, 3001])
def test_inputs_against_the_pivot_rule_match_reference(n):
    # Built to make median-of-three cut two elements a round; past the work bound the
    # selection takes medians of medians, the reference exchange for exchange.
    pipe = np.concatenate([np.arange(n // 2), np.arange(n - n // 2)[::-1]]).astype(float)
    for k in (n // 2, n // 3, 7):
        for a in (against_median_of_three(n, k), pipe, -pipe):
            for x in (a, a.astype(np.float32), a.astype(np.int32)):
                assert_same(cr.partition(x, k), slow.partition(x, k))
                assert_same(cr.argpartition(x, k), slow.argpartition(x, k))
                _check_partitioned(x, cr.partition(x, k), k, -1)
    for skip in (False, True):
        z = against_median_of_three(n, n // 2, signed_zeros=True)
        got = (cr.nanmedian if skip else cr.median)(z)
        assert got == 0.0 and got == np.median(z)
        z[::7] = np.nan
        assert cr.nanmedian(z) == np.nanmedian(z)


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""), reason="ASan reserves memory")
def test_argpartition_scratch_failure_is_a_memory_error():
    # The address space is capped so that the output fits but the scratch
    # block does not; afterwards the output must be gone again and the
    # interpreter fully usable (the lock was taken back).
    res = run_python(
        """
        import resource
        import numpy as np
        import corvane as cr

        def used():
            with open("/proc/self/statm") as fh:
                return int(fh.read().split()[0]) * resource.getpagesize()

        soft, hard = resource.getrlimit(resource.RLIMIT_AS)
        gib = 1 << 30
        for shape, axis in (((200_000_000,), 0), ((50_000_000, 2), 0)):
            x = np.broadcast_to(np.float64(1.0), shape)
            out_bytes = x.size * 8
            resource.setrlimit(resource.RLIMIT_AS, (used() + out_bytes + gib // 4, hard))
            try:
                cr.argpartition(x, 3, axis)
            except MemoryError:
                print("MemoryError")
            np.ones(out_bytes // 8)  # the output was released
            resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
        print("ok")
        """
    )
    assert res.returncode == 0, res.stderr
    assert res.stdout.split() == ["MemoryError", "MemoryError", "ok"]


# --- ranking -----------------------------------------------------------------------


def test_ranking_examples():
    nan = np.nan
    assert_same(cr.rankdata([0, 2, 2, 3]), np.array([1.0, 2.5, 2.5, 4.0]))
    assert_same(cr.rankdata([[0, 2], [2, 3]]), np.array([1.0, 2.5, 2.5, 4.0]))
    assert_same(cr.rankdata([[0, 2], [2, 3]], axis=0), np.array([[1.0, 1.0], [2.0, 2.0]]))
    assert_same(cr.rankdata([[0, 2], [2, 3]], axis=1), np.array([[1.0, 2.0], [1.0, 2.0]]))
    assert_same(cr.nanrankdata([nan, 2, 2, 3]), np.array([nan, 1.5, 1.5, 3.0]))
    want = np.array([[nan, 1.0], [1.0, 2.0]])
    assert_same(cr.nanrankdata([[nan, 2], [2, 3]], axis=0), want)
    assert_same(cr.nanrankdata([[nan, 2], [2, 3]], axis=1), want)
    assert_same(cr.rankdata([7.0]), np.array([1.0]))
    assert_same(cr.rankdata(np.full(5, 3, np.int32)), np.full(5, 3.0))
    assert_same(cr.rankdata([nan, 1.0]), np.array([2.0, 1.0]))
    assert_same(cr.nanrankdata([nan, nan, nan]), np.full(3, nan))
    assert_same(cr.nanrankdata([np.inf, nan, -np.inf, np.inf, nan]),
                np.array([2.5, nan, 1.0, 2.5, nan]))  # fmt: skip
    assert_same(cr.rankdata(np.ones((2, 0))), np.ones(0))
    assert_same(cr.rankdata(np.ones((2, 0)), axis=1), np.ones((2, 0)))
    for dtype in ("int64", "int32"):
        a = np.array([[5, -1, 5], [2**31 - 1, 0, -(2**31)]], dtype)
        assert_same(cr.nanrankdata(a, 1), cr.rankdata(a, 1))
        assert_same(cr.rankdata(a, 1), np.array([[2.5, 1.0, 2.5], [3.0, 2.0, 1.0]]))
    # Integers are compared exactly, not through float64.
    big = np.array([2**62 + 1, 2**62], np.int64)
    assert_same(cr.rankdata(big), np.array([2.0, 1.0]))


@given(arrays(), st.data())
def test_ranking_matches_reference(a, data):
    axis = data.draw(st.sampled_from([None, *range(-a.ndim, a.ndim)]))
    if a.ndim == 0 and axis is not None:
        return
    before = a.copy()
    for name in ("rankdata", "nanrankdata"):
        assert_same(getattr(cr, name)(a, axis), getattr(slow, name)(a, axis))
    np.testing.assert_array_equal(a, before)


@given(arrays(min_dims=1), st.data())
def test_ranking_matches_scipy(a, data):
    axis = data.draw(st.sampled_from([None, *range(-a.ndim, a.ndim)]))
    flat, ax = (a.ravel(), 0) if axis is None else (a, axis)
    if flat.size == 0:
        return
    if SCIPY < (1, 11) and a.dtype.kind == "f" and np.isinf(a).any():
        return  # SciPy 1.10 takes +inf and -inf together for a NaN
    if a.dtype.kind == "i" or not np.isnan(a).any():
        np.testing.assert_array_equal(
            cr.rankdata(a, axis), scipy.stats.rankdata(flat, axis=ax, method="average")
        )
    if a.dtype.kind == "f":
        # NaN stays NaN; every slice ranks its other values among themselves.
        want = scipy.stats.rankdata(flat.astype(np.float64), axis=ax, nan_policy="omit")
        np.testing.assert_array_equal(cr.nanrankdata(a, axis), want)


# --- push ----------------------------------------------------------------------------


def test_push_examples():
    nan = np.nan
    a = np.array([5, nan, nan, 6, nan])
    assert_same(cr.push(a), np.array([5.0, 5.0, 5.0, 6.0, 6.0]))
    assert_same(cr.push(a, n=1), np.array([5.0, 5.0, nan, 6.0, 6.0]))
    assert_same(cr.push(a, n=2), np.array([5.0, 5.0, 5.0, 6.0, 6.0]))
    assert_same(cr.push(a, n=0), a)
    assert_same(cr.push([nan, nan, 1, nan]), np.array([nan, nan, 1.0, 1.0]))
    assert_same(cr.push(np.full((2, 3), nan, np.float32)), np.full((2, 3), nan, np.float32))
    for dtype in ("int64", "int32"):
        b = np.arange(6, dtype=dtype).reshape(2, 3)[:, ::-1]
        assert_same(cr.push(b, axis=0), np.ascontiguousarray(b))
    m = np.array([[1.0, nan], [nan, 2.0], [nan, nan]])
    assert_same(cr.push(m, axis=0), np.array([[1.0, nan], [1.0, 2.0], [1.0, 2.0]]))
    assert_same(cr.push(m), np.array([[1.0, 1.0], [nan, 2.0], [nan, nan]]))


def _pandas_ffill(a: np.ndarray, n: int | None, axis: int) -> np.ndarray:
    """pandas' forward fill with `limit` along `axis` of any array."""
    x = np.moveaxis(np.asarray(a, np.float64), axis, -1)
    if n == 0:  # pandas wants a positive limit; nothing is filled
        return np.moveaxis(x, -1, axis)
    rows = x.reshape(-1, x.shape[-1]) if x.size else x.reshape(0, x.shape[-1])
    filled = pd.DataFrame(rows).ffill(axis=1, limit=n).to_numpy()
    return np.moveaxis(filled.reshape(x.shape), -1, axis)


@given(arrays(min_dims=1, max_side=9), st.data())
def test_push_matches_reference_and_pandas(a, data):
    axis = data.draw(st.integers(-a.ndim, a.ndim - 1))
    n = data.draw(st.sampled_from([None, 0, 1, 2, 3, 8]))
    before = a.copy()
    got = cr.push(a, n, axis)
    np.testing.assert_array_equal(a, before)
    assert_same(got, slow.push(a, n, axis))
    assert got.flags.c_contiguous
    if a.dtype.kind == "f":
        np.testing.assert_array_equal(got.astype(np.float64), _pandas_ffill(a, n, axis))


@pytest.mark.parametrize("dtype", ["float64", "float32"])
@pytest.mark.parametrize("layout", ["C", "F", "reversed", "strided"])
def test_push_long_slices_every_walk(dtype, layout):
    # Long packed runs, slices across memory (row-wise lanes) and strided ones.
    rng = np.random.default_rng(7)
    a = rng.standard_normal((300, 70)).astype(dtype)
    a[rng.random(a.shape) < 0.6] = np.nan
    a[:40] = np.nan
    b = with_layout(a, layout)
    for axis in (0, 1):
        for n in (None, 0, 1, 5, 15, 16, 17, 33):
            want = _pandas_ffill(a, n, axis)
            np.testing.assert_array_equal(cr.push(b, n, axis).astype(np.float64), want)


def test_push_limit_is_exact_for_long_float32_slices():
    # 2**24 + 1 rounds to 2**24 in float32; the distance must not.
    a = np.full(2**24 + 2, np.nan, np.float32)
    a[0] = 1.0
    out = cr.push(a, n=2**24)
    assert out[2**24] == 1.0
    assert np.isnan(out[2**24 + 1])


# --- references ------------------------------------------------------------------------


def test_reference_counts_unchanged():
    a = np.array([[3.0, np.nan, 1.0], [2.0, 2.0, 0.0]])
    half = a.astype(np.float16)
    lst = [[3, 1, 2], [0, 5, 4]]
    kth = 1
    calls = [
        lambda: cr.partition(a, kth),
        lambda: cr.partition(lst, kth, None),
        lambda: cr.argpartition(a=a, kth=kth, axis=0),
        lambda: cr.argpartition(half, kth),
        lambda: cr.rankdata(a),
        lambda: cr.nanrankdata(a, 1),
        lambda: cr.nanrankdata(lst),
        lambda: cr.rankdata(half, 0),
        lambda: cr.push(a, kth, 0),
        lambda: cr.push(half),
    ]
    errors = [
        lambda: cr.partition(a, 9),
        lambda: cr.partition(a, kth, 5),
        lambda: cr.argpartition(lst, "x"),
        lambda: cr.argpartition(a, kth, None, x=1),
        lambda: cr.rankdata(a, "x"),
        lambda: cr.nanrankdata(lst, 4),
        lambda: cr.push(a, -1),
        lambda: cr.push(a, axis=None),
    ]
    objs = (a, half, lst)
    before = [sys.getrefcount(o) for o in objs]
    for _ in range(200):
        for call in calls:
            call()
        for call in errors:
            with pytest.raises((TypeError, ValueError)):
                call()
    assert [sys.getrefcount(o) for o in objs] == before


@given(st.data())
def test_zero_length_outer_dimensions(data):
    shape = data.draw(st.sampled_from([(0, 3), (3, 0, 2), (2, 0)]))
    dtype = data.draw(st.sampled_from(NATIVE_DTYPES))
    a = data.draw(values(shape, dtype))
    for axis in range(a.ndim):
        assert_same(cr.partition(a, 0, axis), slow.partition(a, 0, axis))
        assert_same(cr.argpartition(a, 0, axis), slow.argpartition(a, 0, axis))
        assert_same(cr.rankdata(a, axis), slow.rankdata(a, axis))
        assert_same(cr.push(a, 1, axis), slow.push(a, 1, axis))


def _unaligned(a: np.ndarray) -> np.ndarray:
    """A copy of `a` whose data starts one byte past an aligned address."""
    buf = np.zeros(a.nbytes + 1, np.uint8)
    out = np.ndarray(a.shape, a.dtype, buffer=buf, offset=1)
    out[...] = a
    assert not out.flags.aligned
    return out


@pytest.mark.parametrize("dtype", NATIVE_DTYPES)
def test_unaligned_arrays_give_the_same_results(dtype):
    rng = np.random.default_rng(11)
    a = (rng.standard_normal((40, 9)) * 10).astype(dtype)
    if a.dtype.kind == "f":
        a[rng.random(a.shape) < 0.2] = np.nan
    u = _unaligned(a)
    for axis in (0, 1):
        assert_same(cr.partition(u, 4, axis), cr.partition(a, 4, axis))
        assert_same(cr.argpartition(u, 4, axis), cr.argpartition(a, 4, axis))
        assert_same(cr.rankdata(u, axis), cr.rankdata(a, axis))
        assert_same(cr.nanrankdata(u, axis), cr.nanrankdata(a, axis))
        assert_same(cr.push(u, 2, axis), cr.push(a, 2, axis))
    assert_same(cr.rankdata(u), cr.rankdata(a))
