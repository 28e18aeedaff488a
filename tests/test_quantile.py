"""quantile and nanquantile: NumPy's linear method bit for bit, the infinity rule, q."""

from __future__ import annotations

import warnings

import numpy as np
import pytest
from conftest import FALLBACK_DTYPES, NATIVE_DTYPES, array_and_axis, assert_same
from hypothesis import given
from hypothesis import strategies as st

import corvane as cr
import corvane.slow as slow

nan, inf = np.nan, np.inf
NAMES = ["quantile", "nanquantile"]
NUMPY2 = np.lib.NumpyVersion(np.__version__) >= "2.0.0"
X = np.arange(12.0).reshape(3, 4)
Q_TYPE = "`q` must be a float or a 1-d sequence of floats"
Q_RANGE = "Quantiles must be in the range [0, 1]"

ARG_ERRORS = [
    ("quantile", (), {}, TypeError, "wrong number of arguments"),
    ("quantile", (X,), {}, TypeError, "wrong number of arguments"),
    ("quantile", (X, 0.5, 0, 1), {}, TypeError, "wrong number of arguments"),
    ("quantile", (X, 0.5, 0), {"axis": 0}, TypeError, "wrong number of arguments"),
    ("quantile", (X,), {"axis": 0}, TypeError, "Cannot find `q` keyword input"),
    ("nanquantile", (), {"q": 0.5}, TypeError, "Cannot find `a` keyword input"),
    ("quantile", (X, 0.5), {"q": 0.5}, TypeError, "wrong number of keyword arguments"),
    ("nanquantile", (X, 0.5), {"ddof": 1}, TypeError, "wrong number of keyword arguments"),
    ("quantile", (X, 0.5, "0"), {}, TypeError, "`axis` must be an integer or None"),
    ("nanquantile", (X, 0.5, 2), {}, ValueError, "axis(=2) out of bounds"),
    ("quantile", (X, 0.5, -3), {}, ValueError, "axis(=-1) out of bounds"),
    ("quantile", (X, 1.5), {}, ValueError, Q_RANGE),
    ("nanquantile", (X, -0.0001), {}, ValueError, Q_RANGE),
    ("quantile", (X, nan), {}, ValueError, Q_RANGE),
    ("nanquantile", (X, [0.2, 2]), {}, ValueError, Q_RANGE),
    ("quantile", (X, np.array([0.5, nan], np.float32)), {}, ValueError, Q_RANGE),
    ("quantile", (X, "0.5"), {}, TypeError, Q_TYPE),
    ("nanquantile", (X, None), {}, TypeError, Q_TYPE),
    ("quantile", (X, [[0.5]]), {}, ValueError, Q_TYPE),
    # The axis is checked before q, and both before other element types go to
    # corvane.slow (which has the same messages for big-endian input).
    ("quantile", (X, 1.5, 5), {}, ValueError, "axis(=5) out of bounds"),
    ("nanquantile", (X.astype(np.float16), 1.5), {}, ValueError, Q_RANGE),
    ("quantile", (X.astype(">f8"), [0.5, 7]), {}, ValueError, Q_RANGE),
]


@pytest.mark.parametrize(("name", "args", "kwargs", "exc", "msg"), ARG_ERRORS)
def test_argument_errors(name, args, kwargs, exc, msg):
    # corvane.slow leaves the counting of arguments to Python.
    python_counts = msg.startswith(("wrong number", "Cannot find"))
    for module in (cr,) if python_counts else (cr, slow):
        with pytest.raises(exc) as info:
            getattr(module, name)(*args, **kwargs)
        assert str(info.value) == msg


@pytest.mark.parametrize("name", NAMES)
def test_call_forms_and_shapes(name):
    f = getattr(cr, name)
    a = np.array([[10.0, 7.0, 4.0], [3.0, 2.0, 1.0]])
    assert f.__doc__.startswith(f"{name}(a, q, axis=None)")
    want = f(a, 0.25, 1)
    for got in (f(a, 0.25, axis=1), f(a, q=0.25, axis=-1), f(a=a, q=0.25, axis=1),
                f(a, np.float32(0.25), 1), f(a, np.array(0.25), 1)):  # fmt: skip
        assert_same(got, want)
    assert_same(f(a, 0.5), 3.5)
    assert_same(f(a, 1, None), 10.0)  # an integer q is a number too
    assert_same(f(a[0], 0.5, 0), 7.0)  # the only axis of a 1-d array: a scalar
    assert_same(f(a, [0.25, 0.75], axis=1), np.array([[5.5, 1.5], [8.5, 2.5]]))
    assert_same(f(a, (0.5,)), np.array([3.5]))
    assert f(a, [], 0).shape == (0, 3)
    assert f(np.zeros((2, 3, 4)), [0.1, 0.2], 1).shape == (2, 2, 4)
    assert_same(f(np.array(2.0), [0.3]), np.array([2.0]))


def test_nan_rules_and_empty_input():
    a = np.array([[nan, 7, 4], [3, 2, 1]])
    assert_same(cr.nanquantile(a, 0.5), 3.0)
    assert_same(cr.nanquantile(a, 0.5, axis=0), np.array([3.0, 4.5, 2.5]))
    assert_same(cr.quantile(a, [0.0, 1.0], axis=1), np.array([[nan, 1.0], [nan, 3.0]]))
    assert_same(cr.nanquantile(np.full((2, 3), nan, np.float32), 0.3, 1), np.full(2, nan, "f4"))
    for f in (cr.quantile, cr.nanquantile):
        assert_same(f([], 0.5), nan)
        assert_same(f(np.zeros((3, 0)), [0.5, 0.9], axis=1), np.full((2, 3), nan))
        assert_same(f(np.zeros((0, 3), np.int32), 0.5, axis=0), np.full(3, nan))


def test_infinities_give_the_order_statistic_or_its_limit():
    # NumPy's formula gives NaN next to an infinity (inf - inf); here the exact
    # ranks and the interpolation's limits.
    x = np.array([1.0, 2.0, inf])
    assert_same(cr.quantile(x, [0.5, 0.75, 1.0]), np.array([2.0, inf, inf]))
    assert_same(cr.quantile([-inf, 1.0, 2.0], [0.0, 0.1, 0.5]), np.array([-inf, -inf, 1.0]))
    assert_same(cr.quantile([-inf, inf], [0.0, 0.5, 1.0]), np.array([-inf, nan, inf]))
    assert_same(cr.nanquantile([inf, nan, inf], 0.3), inf)
    assert_same(cr.quantile(np.array([1, inf], np.float32), 0.5), inf)


def test_integers_interpolate_their_exact_difference():
    big = np.array([-(2**63), 2**63 - 1])
    assert_same(cr.quantile(big, 0.5), -0.5 * 2.0**63 + 0.5 * 2.0**63)
    assert_same(cr.quantile(big, 0.25), float(-(2**63)) + 2.0**64 * 0.25)
    assert_same(cr.quantile(np.array([-(2**31), 2**31 - 1], np.int32), 0.75), 1073741823.25)
    a = np.array([5, 1, 4], np.int32)
    cr.nanquantile(a, [0.2, 0.7])
    assert_same(a, np.array([5, 1, 4], np.int32))  # selection works on a copy


def _numpy_quantiles(name: str, a: np.ndarray, qs: list, axis) -> np.ndarray:
    """NumPy's results, one float q at a time (its float32 path for a float q)."""
    func = getattr(np, name)
    with warnings.catch_warnings(), np.errstate(all="ignore"):
        warnings.simplefilter("ignore", RuntimeWarning)
        return np.array([func(a, float(q), axis=axis) for q in qs])


@given(array_and_axis(NATIVE_DTYPES + FALLBACK_DTYPES[:2]), st.data())
def test_matches_reference_numpy_and_median(a_axis, data):
    a, axis = a_axis
    qs = data.draw(st.lists(st.sampled_from([0.0, 0.1, 0.25, 0.5, 0.7, 1.0]) | st.floats(0, 1)))
    q = data.draw(st.sampled_from([qs, qs[0] if qs else 0.5]))
    before = a.copy()
    finite = np.abs(a[np.isfinite(a)].astype(np.float64)) if a.dtype.kind in "fi" else a
    scale = float(finite.max()) if finite.size else 1.0
    for name in NAMES:
        got = getattr(cr, name)(a, q, axis)
        want = getattr(slow, name)(a, q, axis)
        if isinstance(want, np.generic):  # NumPy's own result for other element types
            assert type(got) is type(want)
            np.testing.assert_array_equal(got, want)
        else:
            assert_same(got, want)
        np.testing.assert_array_equal(a, before)
        if a.dtype.name not in NATIVE_DTYPES or a.size == 0 or not qs:
            continue
        got = np.asarray(got).reshape(len(qs), -1) if q is qs else np.asarray(got).reshape(1, -1)
        want = _numpy_quantiles(name, a, qs if q is qs else [q], axis)
        want = want.reshape(got.shape)
        if a.dtype.kind == "i" and int(a.max()) - int(a.min()) >= np.iinfo(a.dtype).max:
            continue  # NumPy's b - a wraps around
        # Bit for bit where NumPy gives a number; NaN where NumPy does, but for
        # the slices next to an infinity, where NumPy's formula fails.
        known = ~np.isnan(want)
        if a.dtype == np.float32 and not NUMPY2:
            # Older NumPy may interpolate float32 in float64: equal to rounding.
            np.testing.assert_allclose(got[known], want[known], rtol=1e-6, atol=1e-6 * scale)
        else:
            np.testing.assert_array_equal(got[known], want[known])
        if not np.isinf(a).any():
            assert np.isnan(got[~known]).all()
    # q = 0.5 is the median, to rounding.
    if a.dtype.name in NATIVE_DTYPES:
        tol = (1e-6 if a.dtype == np.float32 else 1e-12) * scale
        for name, med in (("quantile", cr.median), ("nanquantile", cr.nanmedian)):
            np.testing.assert_allclose(
                getattr(cr, name)(a, 0.5, axis), med(a, axis), rtol=0, atol=tol, equal_nan=True
            )


def test_many_quantiles_of_long_slices_share_one_selection():
    # Ranks that repeat, neighbour each other and sit at both ends, on long
    # slices with ties (the selection's multi-rank paths), against NumPy.
    rng = np.random.default_rng(11)
    qs = np.r_[np.linspace(0, 1, 41), rng.random(30), 0.5, 0.5]
    for dtype in NATIVE_DTYPES:
        a = rng.integers(-50, 50, (3, 2001)).astype(dtype)
        if a.dtype.kind == "f":
            a[rng.random(a.shape) < 0.2] = nan
        for name in NAMES:
            got = getattr(cr, name)(a, qs, axis=1)
            want = _numpy_quantiles(name, a, list(qs), 1)
            if dtype == "float32" and not NUMPY2:  # interpolated in float64 there
                np.testing.assert_allclose(got, want, rtol=1e-6, atol=1e-4)
            else:
                np.testing.assert_array_equal(got, want)


def test_long_and_patterned_series_stay_exact():
    # Long enough for the sampling round of the selection, which patterns and
    # runs of equal values must not mislead.
    n = 30001
    rng = np.random.default_rng(5)
    noisy = rng.standard_normal(n)
    noisy[rng.random(n) < 0.3] = nan
    for a in (np.arange(n, dtype=float), np.r_[np.arange(n // 2), np.arange(n // 2 + 1)[::-1]],
              np.zeros(n), np.tile([3.0, 1.0, 2.0], n // 3), noisy):  # fmt: skip
        for q in ([0.01, 0.25, 0.5, 0.75, 0.99], 0.3, 0.999):
            np.testing.assert_array_equal(cr.nanquantile(a, q), np.nanquantile(a, q))
