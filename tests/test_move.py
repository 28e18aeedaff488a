"""The move module: argument rules, fallback, and the moving-window kernels
(sums and means, variance, extremes and their positions, rank)."""

from __future__ import annotations

import itertools
import os
import sys

import numpy as np
import pandas as pd
import pytest
from conftest import (
    FALLBACK_DTYPES,
    LAYOUTS,
    NATIVE_DTYPES,
    assert_same,
    run_python,
    values,
    with_layout,
)
from hypothesis import given
from hypothesis import strategies as st

import corvane as cr
import corvane.slow as slow

MOVE = [
    "move_sum", "move_mean", "move_std", "move_var", "move_min", "move_max",
    "move_argmin", "move_argmax", "move_median", "move_rank",
]  # fmt: skip
WITH_DDOF = {"move_std", "move_var"}
NATIVE = MOVE
ROUNDED = {"move_sum", "move_mean", "move_std", "move_var"}  # running updates
nan, inf = np.nan, np.inf
A5 = np.arange(5.0)


def out_dtype(dtype: np.dtype) -> np.dtype:
    return np.dtype(np.float32 if dtype == np.float32 else np.float64)


# --- argument rules ---------------------------------------------------------

ARG_ERRORS = [
    ("move_sum", (A5,), {}, TypeError, "wrong number of arguments"),
    ("move_sum", (), {}, TypeError, "wrong number of arguments"),
    ("move_sum", (A5, 2, None, -1, 0), {}, TypeError, "wrong number of arguments"),
    ("move_var", (A5, 2, None, -1, 0, 1), {}, TypeError, "wrong number of arguments"),
    ("move_sum", (A5, 2, None, -1), {"ddof": 0}, TypeError, "wrong number of arguments"),
    ("move_var", (A5, 2, None, -1, 0), {"ddof": 0}, TypeError, "wrong number of arguments"),
    ("move_sum", (), {"window": 2}, TypeError, "Cannot find `a` keyword input"),
    ("move_sum", (), {"a": A5}, TypeError, "Cannot find `window` keyword input"),
    ("move_sum", (A5,), {"min_count": 1}, TypeError, "Cannot find `window` keyword input"),
    ("move_sum", (A5, 2), {"foo": 1}, TypeError, "wrong number of keyword arguments"),
    ("move_sum", (A5, 2), {"a": A5}, TypeError, "wrong number of keyword arguments"),
    ("move_sum", (A5, 2), {"ddof": 0}, TypeError, "wrong number of keyword arguments"),
    ("move_sum", (A5, 2, 1), {"min_count": 1}, TypeError, "wrong number of keyword arguments"),
    ("move_var", (A5, 2, 1, 0), {"axis": 0}, TypeError, "wrong number of keyword arguments"),
    ("move_sum", (A5, 2.5), {}, TypeError, "`window` must be an integer"),
    ("move_sum", (A5, "2"), {}, TypeError, "`window` must be an integer"),
    ("move_sum", (A5, 2**40), {}, TypeError, "`window` must be an integer"),
    ("move_sum", (A5, None), {}, TypeError, "`window` must be an integer"),
    ("move_sum", (A5, 2, 1.5), {}, TypeError, "`min_count` must be an integer or None"),
    ("move_sum", (A5, 2, "1"), {}, TypeError, "`min_count` must be an integer or None"),
    ("move_sum", (A5, 2, 3), {}, ValueError, "min_count (3) cannot be greater than window (2)"),
    ("move_sum", (A5, -5, -1), {}, ValueError,
     "min_count (-1) cannot be greater than window (-5)"),
    ("move_sum", (A5, 2, 0), {}, ValueError, "`min_count` must be greater than zero."),
    ("move_sum", (A5, 2, -1), {}, ValueError, "`min_count` must be greater than zero."),
    ("move_sum", (3.0, 1), {}, ValueError, "moving window functions require ndim > 0"),
    ("move_sum", (np.array(3.0), 1), {}, ValueError, "moving window functions require ndim > 0"),
    ("move_sum", (A5, 2), {"axis": None}, TypeError, "`axis` must be an integer"),
    ("move_sum", (A5, 2, None, 0.5), {}, TypeError, "`axis` must be an integer"),
    ("move_sum", (np.ones((2, 3)), 1), {"axis": 2}, ValueError, "axis(=2) out of bounds"),
    ("move_sum", (np.ones((2, 3)), 1), {"axis": -3}, ValueError, "axis(=-1) out of bounds"),
    ("move_var", (A5, 2), {"ddof": 0.5}, TypeError, "`ddof` must be an integer"),
    ("move_std", (A5, 2, None, -1, "1"), {}, TypeError, "`ddof` must be an integer"),
    ("move_sum", (A5, 0), {}, ValueError, "Moving window (=0) must between 1 and 5, inclusive"),
    ("move_sum", (A5, -1), {}, ValueError, "Moving window (=-1) must between 1 and 5, inclusive"),
    ("move_sum", (A5, 6), {}, ValueError, "Moving window (=6) must between 1 and 5, inclusive"),
    ("move_min", (np.ones((4, 0)), 1), {"axis": 1}, ValueError,
     "Moving window (=1) must between 1 and 0, inclusive"),
    # Arguments of unsupported element types are checked before corvane.slow.
    ("move_sum", (np.ones(3, bool), 4), {}, ValueError,
     "Moving window (=4) must between 1 and 3, inclusive"),
]  # fmt: skip


@pytest.mark.parametrize(("name", "args", "kwargs", "exc", "msg"), ARG_ERRORS)
def test_argument_errors(name, args, kwargs, exc, msg):
    with pytest.raises(exc) as info:
        getattr(cr, name)(*args, **kwargs)
    assert str(info.value) == msg


def test_checks_run_in_order():
    # window before min_count before ndim before axis before ddof before the length.
    with pytest.raises(TypeError, match="`window`"):
        cr.move_var(np.array(1.0), "w", "m", "x", "d")
    with pytest.raises(TypeError, match="`min_count`"):
        cr.move_var(np.array(1.0), 9, "m", "x", "d")
    with pytest.raises(ValueError, match="ndim > 0"):
        cr.move_var(np.array(1.0), 9, 1, "x", "d")
    with pytest.raises(TypeError, match="`axis`"):
        cr.move_var(A5, 9, 1, "x", "d")
    with pytest.raises(TypeError, match="`ddof`"):
        cr.move_var(A5, 9, 1, 0, "d")


@pytest.mark.parametrize("name", MOVE)
def test_positional_and_keyword_forms_agree(name):
    f = getattr(cr, name)
    a = np.array([[1.0, 2.0, 4.0, 3.0], [3.0, 5.0, 9.0, -1.0]])
    want = f(a, 2)
    for got in (
        f(a, window=2),
        f(a=a, window=2),
        f(a, 2, None),
        f(a, 2, min_count=None),
        f(a, 2, None, -1),
        f(a, 2, axis=1),
        f(a, 2, 2, 1),
        f(a=a, window=2, min_count=2, axis=-1),
    ):
        assert_same(got, want)
    assert_same(f(a, 2, 1, 0), f(a, window=2, min_count=1, axis=0))
    assert_same(f(a, 2, np.int32(1), np.int64(0)), f(a, 2, 1, 0))
    if name in WITH_DDOF:
        assert_same(f(a, 2, None, -1, 1), f(a, 2, ddof=1))
        assert_same(f(a, 2, None, -1, ddof=1), f(a=a, window=2, ddof=1))
        assert_same(f(a, 2, 1, 1, -1), f(a, 2, 1, axis=1, ddof=-1))  # negative ddof accepted


@pytest.mark.parametrize("name", MOVE)
def test_docstrings(name):
    f = getattr(cr, name)
    sig = f"{name}(a, window, min_count=None, axis=-1" + (
        ", ddof=0)" if name in WITH_DDOF else ")"
    )
    lines = f.__doc__.splitlines()
    assert lines[0] == sig
    assert f.__text_signature__ == sig[len(name) :]
    for section in ("Parameters", "Returns", "Examples"):
        assert section + "\n" + "-" * len(section) in f.__doc__
    assert "incorrectly" not in f.__doc__  # the Inf fault is mended
    assert cr.move.__doc__ == "Corvane moving window functions."


@pytest.mark.parametrize("name", MOVE)
def test_docstring_examples_hold(name):
    # Every ">>> " line of the docstring is run and its shown result compared.
    lines = getattr(cr, name).__doc__.splitlines()
    env = {"np": np, "cr": cr}
    for i, line in enumerate(lines):
        if line.startswith(">>> "):
            src = line[4:]
            if i + 1 < len(lines) and lines[i + 1].startswith("array("):
                assert repr(eval(src, env)) == lines[i + 1]
            else:
                exec(src, env)


# --- fallback -------------------------------------------------------------------


@pytest.mark.parametrize("dtype", [*FALLBACK_DTYPES, ">f8", ">i8", ">f4"])
@pytest.mark.parametrize("name", NATIVE)
def test_unsupported_types_get_the_reference_result(name, dtype):
    a = ((np.arange(12) * 7) % 5).reshape(3, 4).astype(dtype)
    for axis in (0, 1):
        got = getattr(cr, name)(a, 2, 1, axis)
        assert_same(got, getattr(slow, name)(a, 2, 1, axis))


def test_fallback_receives_the_call_unchanged(monkeypatch):
    seen = []

    def spy(*args, **kwargs):
        seen.append((args, kwargs))
        return "from slow"

    monkeypatch.setattr(slow, "move_mean", spy)
    a = np.ones(3, np.float16)
    big = np.ones((2, 2), ">f8")
    assert cr.move_mean(a=a, window=2) == "from slow"
    assert cr.move_mean(a, 2, None, 0) == "from slow"
    # Big-endian arrays go before any look at the other arguments.
    assert cr.move_mean(big, "x", axis=5) == "from slow"
    assert [s[1] for s in seen] == [{"a": a, "window": 2}, {}, {"axis": 5}]
    assert seen[1][0][1:] == (2, None, 0)


def test_move_median_is_answered_for_every_dtype():
    a = np.array([[1.0, 4.0, 2.0, nan, 3.0], [5.0, 1.0, 1.0, 2.0, 9.0]])
    for dtype in (*NATIVE_DTYPES, "float16"):
        x = np.nan_to_num(a).astype(dtype) if dtype[0] == "i" else a.astype(dtype)
        assert_same(cr.move_median(x, 3, 1), slow.move_median(x, 3, 1))


# --- kernels: documented values ---------------------------------------------------

A = [1.0, 2.0, 3.0, nan, 5.0]
DOCUMENTED = [
    ("move_sum", A, 2, None, [nan, 3, 5, nan, nan]),
    ("move_sum", A, 2, 1, [1, 3, 5, 3, 5]),
    ("move_mean", A, 2, None, [nan, 1.5, 2.5, nan, nan]),
    ("move_mean", A, 2, 1, [1, 1.5, 2.5, 3, 5]),
    ("move_var", A, 2, None, [nan, 0.25, 0.25, nan, nan]),
    ("move_var", A, 2, 1, [0, 0.25, 0.25, 0, 0]),
    ("move_std", A, 2, None, [nan, 0.5, 0.5, nan, nan]),
    ("move_std", A, 2, 1, [0, 0.5, 0.5, 0, 0]),
    ("move_min", A, 2, None, [nan, 1, 2, nan, nan]),
    ("move_min", A, 2, 1, [1, 1, 2, 3, 5]),
    ("move_max", A, 2, None, [nan, 2, 3, nan, nan]),
    ("move_max", A, 2, 1, [1, 2, 3, 3, 5]),
    ("move_argmin", [1.0, 2, 3, 4, 5], 2, None, [nan, 1, 1, 1, 1]),
    ("move_argmin", [5.0, 4, 3, 2, 1], 2, None, [nan, 0, 0, 0, 0]),
    ("move_argmin", [2.0, 3, 4, 1, 7, 5, 6], 3, None, [nan, nan, 2, 0, 1, 2, 1]),
    ("move_argmax", [1.0, 2, 3, 4, 5], 2, None, [nan, 0, 0, 0, 0]),
    ("move_argmax", [5.0, 4, 3, 2, 1], 2, None, [nan, 1, 1, 1, 1]),
    ("move_argmax", [2.0, 3, 4, 1, 7, 5, 6], 3, None, [nan, nan, 0, 1, 0, 1, 2]),
    ("move_argmin", [3.0, 3, 3], 3, None, [nan, nan, 0]),
    ("move_argmax", [3.0, 3, 3], 3, None, [nan, nan, 0]),
    ("move_rank", [1, 2, 3, 9, 8, 7, 5, 6, 4], 3, None, [nan, nan, 1, 1, 0, -1, -1, 0, -1]),
    ("move_rank", [1, 2, 3, 3, 3, 4], 3, None, [nan, nan, 1, 0.5, 0, 1]),
    ("move_rank", [1, 2, 3, 4, 5], 2, None, [nan, 1, 1, 1, 1]),
    ("move_rank", [nan, 1.0, nan, 2.0], 2, 1, [nan, 0, nan, 0]),
    ("move_rank", [1.0, 1.0, nan, 2.0], 3, 2, [nan, 0, nan, 1]),
]


@pytest.mark.parametrize(("name", "a", "window", "min_count", "want"), DOCUMENTED)
def test_documented_values(name, a, window, min_count, want):
    for dtype in ("float64", "float32") if np.isnan(a).any() else NATIVE_DTYPES:
        x = np.array(a, dtype)
        got = getattr(cr, name)(x, window, min_count)
        assert_same(got, np.array(want, out_dtype(x.dtype)))


def test_window_one():
    x = np.array([1e16, 1.0, -0.0, nan, inf, 3.0, -inf, 7.0])
    for dtype in ("float64", "float32"):
        a = x.astype(dtype)
        zeros = np.where(np.isnan(a), nan, 0).astype(dtype)
        for name in ("move_sum", "move_mean", "move_min", "move_max"):
            assert_same(getattr(cr, name)(a, 1), a)
        for name in ("move_argmin", "move_argmax", "move_rank"):
            assert_same(getattr(cr, name)(a, 1), zeros)
        with np.errstate(invalid="ignore"):
            want_var = np.where(np.isfinite(a), 0, nan).astype(dtype)
        assert_same(cr.move_var(a, 1), want_var)
        assert_same(cr.move_std(a, 1), want_var)
    big = np.array([2**62 + 1, -(2**63), 2**63 - 1], np.int64)
    for name in ("move_sum", "move_mean", "move_min", "move_max"):
        assert_same(getattr(cr, name)(big, 1), big.astype(np.float64))


def test_window_spanning_the_slice():
    a = np.array([[1.0, 2.0, 4.0], [nan, 1.0, 2.0]])
    assert_same(cr.move_sum(a, 3), np.array([[nan, nan, 7.0], [nan, nan, nan]]))
    assert_same(cr.move_mean(a, 3, 2), np.array([[nan, 1.5, 7 / 3], [nan, nan, 1.5]]))


def test_empty_outer_dimension_and_dtypes():
    for dtype in (*NATIVE_DTYPES, "float16"):
        a = np.ones((0, 4), dtype)
        for name in MOVE:
            got = getattr(cr, name)(a, 2)
            assert got.shape == (0, 4)
            assert got.dtype == getattr(slow, name)(a, 2).dtype
            if dtype != "float16":
                assert got.dtype == out_dtype(a.dtype)
        a = np.ones((2, 3), dtype)
        for name in MOVE:
            assert getattr(cr, name)(a, 2).dtype == getattr(slow, name)(a, 2).dtype


def test_inputs_that_are_not_arrays_and_subclasses():
    assert_same(cr.move_sum([1, 2, 3], 2), np.array([nan, 3.0, 5.0]))
    assert_same(cr.move_max(((1.0, 5.0), (3.0, 4.0)), 2, axis=0), np.array([[nan, nan], [3, 5.0]]))

    class Sub(np.ndarray):
        pass

    out = cr.move_mean(np.arange(4.0).view(Sub), 2)
    assert type(out) is np.ndarray
    assert_same(out, np.array([nan, 0.5, 1.5, 2.5]))


def test_layouts_give_the_values_of_a_c_ordered_copy():
    rng = np.random.default_rng(1)
    x = rng.standard_normal((4, 5, 6))
    x[rng.random(x.shape) < 0.2] = nan
    views = [np.asfortranarray(x), x[::-1, ::-1, ::-1][::-1, ::-1, ::-1], x.transpose(2, 0, 1)]
    for name in NATIVE:
        f = getattr(cr, name)
        for v in views:
            for axis in range(3):
                got = f(v, 3, 2, axis)
                assert got.flags.c_contiguous
                assert_same(got, f(np.ascontiguousarray(v), 3, 2, axis))


def test_blocks_of_neighbouring_slices_match_single_slices():
    # Along axis 0 of a C-ordered array the kernels walk many slices side by
    # side; the Fortran-ordered copy is walked one slice at a time.
    rng = np.random.default_rng(7)
    x = rng.standard_normal((40, 700))
    r = rng.random(x.shape)
    x[r < 0.15] = nan
    x[(r > 0.98)] = inf
    x[(r > 0.995)] = -inf
    for dtype in NATIVE_DTYPES:
        ints = np.where(np.isfinite(x), x * 100, 7)
        a = ints.astype(dtype) if dtype[0] == "i" else x.astype(dtype)
        f = np.asfortranarray(a)
        for name in NATIVE:
            for window, min_count in ((1, 1), (5, 2), (40, None)):
                extra = (1,) if name in WITH_DDOF else ()
                want = getattr(cr, name)(f, window, min_count, 0, *extra)
                assert_same(getattr(cr, name)(a, window, min_count, 0, *extra), want)


# --- kernels: the mended faults --------------------------------------------------


def test_infinities_leave_the_window_cleanly():
    a = np.array([1.0, inf, 2.0, 3.0, 4.0, -inf, 5.0, 6.0, 7.0, inf, -inf, 8.0, 9.0, 10.0])
    for dtype in ("float64", "float32"):
        x = a.astype(dtype)
        f = np.dtype(dtype).type
        assert_same(
            cr.move_sum(x, 2),
            np.array([nan, inf, inf, 5, 7, -inf, -inf, 11, 13, inf, nan, -inf, 17, 19], dtype),
        )
        assert_same(
            cr.move_mean(x, 2),
            np.array(
                [nan, inf, inf, 2.5, 3.5, -inf, -inf, 5.5, 6.5, inf, nan, -inf, 8.5, 9.5], dtype
            ),
        )
        var = np.array(
            [nan, nan, nan, 0.25, 0.25, nan, nan, 0.25, 0.25, nan, nan, nan, 0.25, 0.25]
        )
        assert_same(cr.move_var(x, 2), var.astype(dtype))
        assert_same(cr.move_std(x, 2), np.sqrt(var).astype(dtype))
        # Infinities with NaNs and min_count: counted as values, never as NaN.
        y = np.array([inf, nan, nan, 1.0, nan, 2.0], dtype)
        assert_same(cr.move_sum(y, 3, 1), np.array([inf, inf, inf, 1, 1, 3], dtype))
        assert_same(cr.move_mean(y, 3, 2), np.array([nan, nan, nan, nan, nan, 1.5], dtype))
        assert_same(cr.move_var(y, 3, 1), np.array([nan, nan, nan, 0, 0, 0.25], dtype))
        assert f(cr.move_sum(x, 3)[-1]) == 27


def test_window_one_sum_returns_the_values():
    assert_same(cr.move_sum(np.array([1e16, 1.0]), 1), np.array([1e16, 1.0]))
    assert_same(cr.move_sum(np.array([inf, 1.0, nan, 2.0]), 1), np.array([inf, 1.0, nan, 2.0]))


def test_integer_differences_do_not_overflow():
    i32 = np.array([2**31 - 1, 0, -(2**31), 2**31 - 1, -(2**31)], np.int32)
    want = np.array([nan, 2**31 - 1, -(2**31), -1, -1], float)
    assert_same(cr.move_sum(i32, 2), want)
    assert_same(cr.move_mean(i32, 2), want / 2)
    i64 = np.array([2**63 - 1, 0, -(2**63), 2**63 - 1, 5], np.int64)
    got = cr.move_sum(i64, 2)
    assert_same(got[:3], np.array([nan, 2.0**63, -(2.0**63)]))
    np.testing.assert_allclose(got[3:], [0.0, 2.0**63], atol=2.0**11)


def test_extreme_positions_never_point_at_nan():
    assert_same(cr.move_argmin(np.array([inf, nan]), 2, 1), np.array([0.0, 1.0]))
    assert_same(cr.move_argmax(np.array([-inf, nan]), 2, 1), np.array([0.0, 1.0]))
    assert_same(cr.move_argmin(np.float32([inf, nan, nan, inf]), 3, 1), np.float32([0, 1, 2, 0]))
    assert_same(cr.move_min(np.array([inf, nan, nan]), 2, 1), np.array([inf, inf, nan]))
    assert_same(cr.move_argmax(np.array([-inf, nan, -inf, nan]), 3, 1), np.array([0, 1, 0, 1.0]))


def test_extremes_of_long_tied_slices_match_reference():
    # Long enough for several groups of blocks taken side by side and a tail
    # after them; few distinct values, NaN, infinities and signed zeros, so
    # ties decide the positions at every block boundary.
    v = np.random.default_rng(7).choice([-1.0, -0.0, 0.0, 1.0, inf, -inf, nan], 1203)
    for dtype in NATIVE_DTYPES:
        whole = np.nan_to_num(v, posinf=2, neginf=-2)
        x = v.astype(dtype) if dtype.startswith("float") else whole.astype(dtype)
        for a, w in itertools.product((x, x[::-1]), (1, 7, 8, 9, 64, 65)):
            for name in ("move_min", "move_max", "move_argmin", "move_argmax"):
                for m in (1, w):
                    assert_same(getattr(cr, name)(a, w, m), getattr(slow, name)(a, w, m))


def test_extremes_of_tied_slices_side_by_side_match_reference():
    # Along either axis of a C-ordered array neighbouring slices run side by
    # side, in groups with a partial one after them; ties, NaN and signed
    # zeros decide the positions at every block boundary.
    v = np.random.default_rng(8).choice([-1.0, -0.0, 0.0, 1.0, inf, -inf, nan], (70, 301))
    whole = np.nan_to_num(v, posinf=2, neginf=-2)
    for dtype in NATIVE_DTYPES:
        x = v.astype(dtype) if dtype.startswith("float") else whole.astype(dtype)
        for axis, w in itertools.product((0, 1), (1, 7, 60)):
            for name in ("move_min", "move_max", "move_argmin", "move_argmax"):
                got = getattr(cr, name)(x, w, w // 2 + 1, axis)
                assert_same(got, getattr(slow, name)(x, w, w // 2 + 1, axis))


def test_rank_of_equal_integers_is_exactly_zero():
    for dtype in ("int64", "int32", "float64", "float32"):
        for window in (3, 50, 99):
            got = cr.move_rank(np.full(200, 7, dtype), window)
            assert (got[window - 1 :] == 0).all()
            assert not np.signbit(got[window - 1 :]).any()
    x = np.array([5, 1, 5, 3, 5, 5, 9] * 10, np.int64)
    assert_same(cr.move_rank(x, 7), cr.move_rank(x.astype(np.float64), 7))


@pytest.mark.skipif(
    "asan" in os.environ.get("LD_PRELOAD", "") or sys.platform != "linux",
    reason="address-space limit (ASan reserves its shadow memory)",
)
def test_failed_ring_allocation_raises_memory_error():
    res = run_python(
        """
        import resource
        import numpy as np
        import corvane as cr
        def vm_bytes():
            for line in open("/proc/self/status"):
                if line.startswith("VmSize:"):
                    return int(line.split()[1]) * 1024
        limit = vm_bytes() + (256 << 20)
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        n = 100_000_000  # a ring of 1.6 GB, an output of 800 MB: neither fits
        x = np.broadcast_to(np.float64(1.0), (n,))
        for name in ("move_min", "move_max", "move_argmin", "move_argmax"):
            for _ in range(3):
                try:
                    getattr(cr, name)(x, n)
                except MemoryError as e:
                    print(e)
        try:  # the ring fits, the output does not
            cr.move_min(x, 3)
        except MemoryError:
            print("output")
        print(cr.move_min(np.arange(4.0), 2))
        """
    )
    assert res.returncode == 0, res.stderr
    lines = res.stdout.splitlines()
    names = ("move_min", "move_max", "move_argmin", "move_argmax")
    assert lines[:12] == [f"Could not allocate memory for {n}" for n in names for _ in range(3)]
    assert lines[12:] == ["output", "[nan  0.  1.  2.]"]


@pytest.mark.skipif(
    os.environ.get("CORVANE_BIG_TESTS") != "1",
    reason="needs ~11 GB and a minute; set CORVANE_BIG_TESTS=1",
)
def test_positions_beyond_two_to_the_31():
    # A float32 view that steps one byte at a time through a periodic byte
    # pattern: periodic values, no copy, 2**31 + 64 positions.
    n = 2**31 + 64
    pattern = np.array([0, 0, 128, 63, 64, 65, 0], np.uint8)  # period 7
    buf = np.tile(pattern, n // 7 + 2)[: n + 3]
    x = np.ndarray((n,), np.float32, buffer=buf, strides=(1,))
    tail = np.array(x[-200:])
    for name in ("move_argmin", "move_max"):
        got = getattr(cr, name)(x, 5)[-100:].copy()  # lets the 8 GB output go
        assert_same(got, getattr(slow, name)(tail, 5)[-100:])


# --- differential: against corvane.slow -------------------------------------------


@st.composite
def move_cases(draw, dtypes=NATIVE_DTYPES, max_len=40):
    """An array, an axis with at least one element, a window and a min_count."""
    ndim = draw(st.integers(1, 3))
    if ndim == 1:
        shape = (draw(st.integers(1, max_len)),)
    else:
        shape = tuple(draw(st.lists(st.integers(0, 7), min_size=ndim, max_size=ndim)))
    axis = draw(st.integers(-ndim, ndim - 1))
    shape = tuple(max(s, 1) if d == axis % ndim else s for d, s in enumerate(shape))
    dtype = draw(st.sampled_from(dtypes))
    a = with_layout(draw(values(shape, dtype)), draw(st.sampled_from(LAYOUTS)))
    n = shape[axis]
    window = draw(st.integers(1, n))
    min_count = draw(st.one_of(st.none(), st.integers(1, window)))
    return a, axis, window, min_count


def _tolerance(name: str, a: np.ndarray, window: int, axis: int) -> float:
    """Room for the rounding of running updates, relative to the data's scale."""
    x = a.astype(np.float64)
    finite = x[np.isfinite(x)]
    scale = float(np.abs(finite).max()) if finite.size else 0.0
    eps = float(np.finfo(out_dtype(a.dtype)).eps)
    steps = a.shape[axis] * window * 8.0
    if name in ("move_sum", "move_mean"):
        return eps * steps * scale
    var = eps * steps * scale * scale
    return var if name == "move_var" else float(np.sqrt(var)) + eps * scale


def assert_close(name: str, got: np.ndarray, want: np.ndarray, atol: float) -> None:
    """Same dtype, shape, NaN and infinity placement; finite values within atol."""
    assert type(got) is np.ndarray
    assert (got.dtype, got.shape) == (want.dtype, want.shape)
    np.testing.assert_array_equal(np.isnan(got), np.isnan(want), err_msg=name)
    with np.errstate(invalid="ignore"):
        np.testing.assert_array_equal(got[np.isinf(want)], want[np.isinf(want)], err_msg=name)
    np.testing.assert_allclose(got, want, rtol=0, atol=atol, equal_nan=True, err_msg=name)


@given(move_cases())
def test_matches_reference(case):
    a, axis, window, min_count = case
    for name in NATIVE:
        got = getattr(cr, name)(a, window, min_count, axis)
        want = getattr(slow, name)(a, window, min_count, axis)
        if name in ROUNDED and window > 1:
            assert_close(name, got, want, _tolerance(name, a, window, axis))
        else:
            assert_same(got, want)


@given(move_cases(), st.data())
def test_var_and_std_with_ddof_match_reference(case, data):
    a, axis, window, min_count = case
    m = window if min_count is None else min_count
    ddof = data.draw(st.integers(-2, m - 1))  # every divisor N - ddof is positive
    for name in ("move_var", "move_std"):
        got = getattr(cr, name)(a, window, min_count, axis, ddof)
        want = getattr(slow, name)(a, window, min_count, axis, ddof)
        assert_close(name, got, want, _tolerance(name, a, window, axis))
        if a.dtype.kind == "i" or not np.isinf(a).any():
            assert not (got < 0).any()


def test_ddof_without_positive_divisor():
    # N - ddof <= 0 has no divisor: NaN, never a negative variance or inf.
    a = np.array([1.0, 2.0, nan, 4.0])
    assert_same(cr.move_var(a, 2, 1, ddof=1), np.array([nan, 0.5, nan, nan]))
    for dtype in NATIVE_DTYPES:
        x = np.array([1, 2, 4, 3], dtype)
        for name in ("move_var", "move_std"):
            for f in (getattr(cr, name), getattr(slow, name)):
                want = np.full(4, nan, out_dtype(x.dtype))
                assert_same(f(x, 2, 1, ddof=2), want)  # divisors -1, 0, 0, 0
                assert_same(f(x, 1, ddof=1), want)
                want[2:] = f(x.astype(np.float64), 3, ddof=2)[2:]
                assert_same(f(x, 3, 2, ddof=2), want)  # divisors -, 0, 1, 1


def test_variance_state_recovers():
    # One value left: exactly no spread, and nothing carried on.
    x = np.array([0.3, 0.6, 0.9, nan, nan, 0.1, 0.2, nan, 0.7])
    for f in (cr.move_var, slow.move_var):
        got = f(x, 2, 1)
        assert_same(got[[3, 5, 7, 8]], np.zeros(4))
        assert got[6] == f(x[5:7], 2)[1]  # as from a fresh start
    # An overflowed state is rebuilt once no infinity is in the window.
    big = [1e200, -1e200, 1, 2, 3, inf, 5, 6, 1e300, -1e300, nan, 4, 5]
    want = np.array([0, inf, inf, 0.25, 0.25, nan, nan, 0.25, inf, inf, 0, 0, 0.25])
    for f in (cr.move_var, slow.move_var):
        assert_same(f(np.array(big), 2, 1), want)
    a = np.array([1e200, -1e200, *range(9)] * 40)
    assert_same(cr.move_var(a, 2)[3:], slow.move_var(a, 2)[3:])
    assert_same(cr.move_var(np.tile(a[:, None], 3), 2, axis=0)[:, 1], cr.move_var(a, 2))


def test_variance_same_along_every_layout():
    # Long runs of common steps (sums of squares rounding below zero), then
    # NaN and inf moving alone: a slice read contiguously, reversed, or as one
    # lane of many gives the same bits.
    rng = np.random.default_rng(5)
    x = np.repeat(1e6 + rng.integers(0, 3, 600) * 1e-10, 4)
    x[1500:1700][rng.random(200) < 0.3] = nan
    x[1800::97] = inf
    for dtype in (np.float64, np.float32):
        v = x.astype(dtype)
        for name, w, m in (("move_var", 7, 7), ("move_std", 300, 2)):
            f = getattr(cr, name)
            want = f(v, w, m)
            assert_same(f(v[::-1].copy()[::-1], w, m), want)
            assert_same(f(np.tile(v[:, None], 5), w, m, axis=0)[:, 3], want)
            assert_same(f(v[::-1], w, m, ddof=1)[::-1], f(v[::-1].copy(), w, m, ddof=1)[::-1])


@given(move_cases(dtypes=("float32",)), st.integers(-1, 2))
def test_float32_is_float64_rounded_once(case, ddof):
    a, axis, window, min_count = case
    for name in ("move_var", "move_std"):
        for f in (getattr(cr, name), getattr(slow, name)):
            got = f(a, window, min_count, axis, ddof)
            want = f(a.astype(np.float64), window, min_count, axis, ddof).astype(np.float32)
            assert got.dtype == np.float32
            np.testing.assert_array_equal(got.view(np.int32), want.view(np.int32))


@given(move_cases(dtypes=("float32",)))
def test_float32_sums_are_the_float64_sums_rounded_once(case):
    a, axis, window, min_count = case
    for mod in (cr, slow):
        for name in ("move_sum", "move_mean"):
            f = getattr(mod, name)
            want = f(a.astype(np.float64), window, min_count, axis).astype(np.float32)
            assert_same(f(a, window, min_count, axis), want)


def test_float32_sums_do_not_drift_over_long_slices():
    x = (1000 + 100 * np.random.default_rng(3).standard_normal((2, 200_000))).astype(np.float32)
    for axis, v in ((1, x), (0, x.T.copy())):
        for name in ("move_sum", "move_mean"):
            want = getattr(cr, name)(v.astype(np.float64), 10, axis=axis).astype(np.float32)
            assert_same(getattr(cr, name)(v, 10, axis=axis), want)


def test_rank_counts_windows_beyond_float32_integers():
    # 2**24 + 1 values in float32 would round to 2**24: the counts are integers.
    n = 2**24 + 2
    x = np.zeros(n, np.float32)
    x[0], x[-2], x[-1] = nan, 2, 1
    got = cr.move_rank(x, n, n - 1)[-2:]
    assert_same(got, np.float32([nan, 2 * ((2**24 - 1) / 2**24 - 0.5)]))


# --- differential: against pandas ---------------------------------------------------


def _scaled_rank(frame: pd.DataFrame, window: int, min_count: int) -> np.ndarray:
    roll = frame.rolling(window, min_periods=min_count)
    rank = roll.rank(method="average").to_numpy()
    valid = roll.count().to_numpy()
    with np.errstate(invalid="ignore", divide="ignore"):
        scaled = 2 * (rank - 1) / (valid - 1) - 1
    return np.where(valid == 1, np.where(np.isnan(rank), nan, 0.0), scaled)


@given(
    move_cases(dtypes=("float64", "int32", "int64"), max_len=60).filter(lambda c: c[0].ndim <= 2),
    st.data(),
)
def test_matches_pandas_rolling(case, data):
    a, axis, window, min_count = case
    a = np.where(np.isinf(a), nan, a) if a.dtype.kind == "f" else a
    m = window if min_count is None else min_count
    two_d = a if a.ndim == 2 else a[:, None]
    ax = axis % a.ndim if a.ndim == 2 else 0
    frame = pd.DataFrame((two_d if ax == 0 else two_d.T).astype(np.float64))
    roll = frame.rolling(window, min_periods=m)
    ddof = data.draw(st.integers(0, m - 1))

    def back(values: np.ndarray) -> np.ndarray:
        v = values if ax == 0 else values.T
        return v.reshape(a.shape)

    want = {
        "move_sum": roll.sum(),
        "move_mean": roll.mean(),
        "move_var": roll.var(ddof=ddof),
        "move_std": roll.std(ddof=ddof),
        "move_min": roll.min(),
        "move_max": roll.max(),
    }
    for name, w in want.items():
        extra = (ddof,) if name in WITH_DDOF else ()
        got = getattr(cr, name)(a, window, min_count, axis, *extra)
        atol = _tolerance(name, a, window, axis) + 1e-12
        np.testing.assert_allclose(got, back(w.to_numpy()), rtol=0, atol=atol, err_msg=name)
    got = cr.move_rank(a, window, min_count, axis)
    np.testing.assert_allclose(got, back(_scaled_rank(frame, window, m)), rtol=0, atol=1e-12)


# --- bit-for-bit: the running updates as defined ----------------------------------


def _model_sum(x: list[float], w: int, m: int, mean: bool) -> list[float]:
    """The running sum of finite data (NaNs allowed) step by step, in Python floats."""
    s, c, r, out = 0.0, 0, 0.0, []
    for i, v in enumerate(x):
        if i < w:
            if v == v:
                s, c = s + v, c + 1
            y = nan if (i < m - 1 or c < m) else (s / c if mean else s)
        else:
            if i == w:
                r = 1.0 / c if c else inf
            b = x[i - w]
            if v == v and b == b:
                s += v - b
            elif v == v:
                s, c = s + v, c + 1
                r = 1.0 / c
            elif b == b:
                s, c = s - b, c - 1
                r = 1.0 / c if c else inf
            y = nan if c < m else (s * r if mean else s)
        out.append(y)
    return out


def _model_var(x: list[float], w: int, m: int, ddof: int) -> list[float]:
    """Welford's updates of finite data (NaNs allowed), in Python floats; a window left
    with one value holds exactly that value."""
    mu, q, c, out = 0.0, 0.0, 0, []

    def recips(c):
        return (1.0 / c if c else inf), (1.0 / (c - ddof) if c != ddof else inf)

    for i, v in enumerate(x):
        if i < w:
            if v == v:
                c += 1
                d = v - mu
                mu = mu + d / c
                q = q + (v - mu) * d
            y = nan
            if i >= m - 1 and c >= m:
                q = max(q, 0.0)
                y = q / (c - ddof)
        else:
            if i == w:
                r, p = recips(c)
            b = x[i - w]
            if v == v and b == b and c == 1:
                mu, q = v, 0.0
            elif v == v and b == b:
                d = v - b
                m1 = mu + r * d
                q = q + ((v - m1) + (b - mu)) * d
                mu = m1
            elif v == v:
                c += 1
                r, p = recips(c)
                e = v - mu
                m1 = mu + r * e
                q = q + (v - m1) * e
                mu = m1
            elif b == b:
                c -= 1
                r, p = recips(c)
                if c <= 0:
                    mu = q = 0.0
                elif c == 1:  # the one left: the newest non-NaN value in the window
                    mu, q = next(t for t in reversed(x[i - w + 1 : i + 1]) if t == t), 0.0
                else:
                    e = b - mu
                    m1 = mu - r * e
                    q = q - (b - m1) * e
                    mu = m1
            y = nan
            if c >= m:
                q = max(q, 0.0)
                y = q * p
        out.append(y)
    return out


def test_long_slices_with_many_nans_follow_the_running_updates_exactly():
    # Long enough for the steady phase's blocks, NaN-heavy enough for each way
    # of taking them; a column of a C-ordered array goes another way again.
    rng = np.random.default_rng(5)
    for share in (0.05, 0.6):
        x = np.round(rng.standard_normal(3000), 2)
        x[rng.random(x.size) < share] = nan
        want = np.array(_model_var(x.tolist(), 7, 2, 1))
        assert_same(cr.move_var(x, 7, 2, ddof=1), want)
        assert_same(cr.move_var(np.tile(x[:, None], 3), 7, 2, 0, 1)[:, 1], want)


def test_long_sums_are_the_same_contiguous_or_strided():
    # Several blocks of the steady phase: finite stretches, NaN runs,
    # infinities, overflowing differences; a contiguous slice is taken a block
    # at a time, a strided one a step at a time, in the same order of
    # additions. Finite data also follow the running updates exactly.
    rng = np.random.default_rng(3)
    x = np.round(rng.standard_normal(3000), 2)
    x[900:1000] = nan
    x[rng.random(x.size) < 0.01] = nan
    y = x.copy()
    x[[1500, 2400, 2600]] = inf
    x[[1700, 2401]] = -inf
    x[2800:2802] = [1e308, -1e308]
    for dtype in NATIVE_DTYPES:
        if dtype[0] == "f":
            with np.errstate(over="ignore"):
                a = x.astype(dtype)
        else:
            info = np.iinfo(dtype)
            a = rng.integers(info.min, info.max, x.size, dtype=dtype, endpoint=True)
        for w, m in ((3, 1), (130, 100), (700, 700)):
            for f in (cr.move_sum, cr.move_mean):
                assert_same(f(a, w, m), f(np.repeat(a, 2)[::2], w, m))
    for mean in (False, True):
        f = cr.move_mean if mean else cr.move_sum
        assert_same(f(y, 130, 100), np.array(_model_sum(y.tolist(), 130, 100, mean)))


@given(
    st.lists(
        st.one_of(st.floats(-1e6, 1e6, allow_nan=False), st.just(nan), st.integers(-5, 5)),
        min_size=1,
        max_size=30,
    ).map(lambda v: [float(t) for t in v]),
    st.data(),
)
def test_finite_data_follow_the_running_updates_exactly(x, data):
    n = len(x)
    w = data.draw(st.integers(2, n)) if n > 1 else 1
    m = data.draw(st.integers(1, w))
    ddof = data.draw(st.integers(0, m - 1))
    a = np.array(x)
    if w > 1:
        assert_same(cr.move_sum(a, w, m), np.array(_model_sum(x, w, m, False)))
        assert_same(cr.move_mean(a, w, m), np.array(_model_sum(x, w, m, True)))
    assert_same(cr.move_var(a, w, m, ddof=ddof), np.array(_model_var(x, w, m, ddof)))


# --- arguments whose conversion changes the array ----------------------------------


def _reshape(a: np.ndarray) -> None:
    a.shape = (60,)


def _to_float32(a: np.ndarray) -> None:
    if a.dtype == np.float64:
        a.dtype = np.float32  # (3, 4, 10)


def _to_int64(a: np.ndarray) -> None:
    if a.dtype == np.float64:
        a.dtype = np.int64


def _to_big_endian(a: np.ndarray) -> None:
    if a.dtype == np.float64:
        a.dtype = np.dtype(">f8")


def _read_only(a: np.ndarray) -> None:
    a.flags.writeable = False


class _Hostile:
    """An integer whose conversion first does something to the array."""

    def __init__(self, value: int, act, a: np.ndarray) -> None:
        self.value, self.act, self.a = value, act, a

    def __index__(self) -> int:
        self.act(self.a)
        return self.value


def _outcome(f, a, kwargs):
    try:
        return f(a, **kwargs)
    except (TypeError, ValueError) as e:
        return type(e), str(e)


@pytest.mark.parametrize("act", [_reshape, _to_float32, _to_int64, _to_big_endian, _read_only])
@pytest.mark.parametrize("name", MOVE)
def test_arguments_that_change_the_array(name, act):
    # The outcome is that of a clean copy of the array as the conversions left it.
    rng = np.random.default_rng(3)
    x = rng.integers(-50, 50, (3, 4, 5)).astype(np.float64)
    x[rng.random(x.shape) < 0.2] = nan
    f = getattr(cr, name)
    params = ["window", "min_count", "axis"] + (["ddof"] if name in WITH_DDOF else [])
    for hostile in params:
        for axis in (-1, 2):
            plain = {"window": 3, "min_count": 2, "axis": axis, "ddof": 1}
            a = x.copy()
            kwargs = {k: plain[k] for k in params}
            kwargs[hostile] = _Hostile(plain[hostile], act, a)
            with np.errstate(all="ignore"):
                got = _outcome(f, a, kwargs)
                clean = x.copy()
                act(clean)
                want = _outcome(f, clean.copy(), {k: plain[k] for k in params})
            if isinstance(want, tuple):
                assert got == want, (hostile, axis)
            else:
                assert_same(got, want)


# --- reference counts -------------------------------------------------------------


def test_no_reference_leaks():
    a = np.arange(12.0).reshape(3, 4)
    i = np.arange(12).reshape(3, 4)
    lst = [1.0, 2.0, 3.0]
    window, axis = np.int64(2), np.int32(0)  # own objects, unlike the cached small ints
    objs = (a, i, lst, window, axis)
    funcs = [getattr(cr, name) for name in NATIVE]
    calls = [lambda f=f: f(a, window, 1, axis) for f in funcs]
    calls += [
        lambda: cr.move_sum(i, window),
        lambda: cr.move_var(a=a, window=window, ddof=axis),
        lambda: cr.move_rank(lst, window),
        lambda: cr.move_mean(a.astype(np.float16), window, axis=axis),
        lambda: cr.move_min(a.astype(">f8"), window),
        lambda: cr.move_median(a, window),
    ]
    errors = [
        lambda: cr.move_sum(a, 9),
        lambda: cr.move_sum(a, "x"),
        lambda: cr.move_sum(lst, window, 5),
        lambda: cr.move_sum(a, window, axis=5),
        lambda: cr.move_var(a, window, ddof="x"),
        lambda: cr.move_sum(a, window, foo=1),
        lambda: cr.move_sum(a=a),
        lambda: cr.move_mean(np.float64(1.0), window),
    ]
    before = [sys.getrefcount(o) for o in objs]
    for _ in range(200):
        for call in calls:
            call()
        for call in errors:
            with pytest.raises((TypeError, ValueError)):
                call()
    assert [sys.getrefcount(o) for o in objs] == before
