"""move_quantile and the exponentially weighted windows: against pandas, corvane.slow
and move_median; argument rules; the exported running-quantile library (mq_*)."""

from __future__ import annotations

import bisect
import ctypes
import math
from collections import deque

import numpy as np
import pandas as pd
import pytest
from conftest import FALLBACK_DTYPES, NATIVE_DTYPES, arrays, assert_same, values
from hypothesis import given
from hypothesis import strategies as st

import corvane as cr
import corvane.move
import corvane.slow as slow

EXP = ["move_exp_nanmean", "move_exp_nansum", "move_exp_nanvar", "move_exp_nanstd",
       "move_exp_nancount"]  # fmt: skip
A5 = np.arange(5.0)
QS = st.one_of(st.sampled_from([0.0, 1.0, 0.5, 0.25, 0.75, 1 / 3, 0.1]), st.floats(0, 1))
# Within a few ulps of 1 the old weight (1 - alpha) vanishes against the new one and the
# bias correction divides by the rounding of 1 + (1 - alpha): both libraries' answers are
# rounding noise there, so the drawn values stay clear of it (1.0 itself is sampled).
ALPHAS = st.one_of(st.sampled_from([1.0, 0.5, 0.1, 1e-3]), st.floats(1e-3, 1 - 1e-9))


def _pandas_exp(name: str, s: pd.Series, alpha: float) -> np.ndarray:
    if name == "move_exp_nancount":
        return s.notnull().astype(float).ewm(alpha=alpha).sum().to_numpy()
    return getattr(s.ewm(alpha=alpha), name.removeprefix("move_exp_nan"))().to_numpy()


@st.composite
def finite_series(draw: st.DrawFn, max_len: int = 40) -> np.ndarray:
    """float64 values (NaN allowed, no infinity: pandas has its own rules there)."""
    n = draw(st.integers(1, max_len))
    a = draw(values((n,), "float64"))
    return np.where(np.isinf(a), np.nan, a)


# --- against pandas -----------------------------------------------------------------


@given(a=finite_series(), data=st.data(), q=QS)
def test_move_quantile_equals_pandas(a, data, q):
    window = data.draw(st.integers(1, a.size))
    min_count = data.draw(st.integers(1, window))
    want = pd.Series(a).rolling(window, min_periods=min_count).quantile(q).to_numpy()
    scale = np.nanmax(np.abs(a), initial=1.0)
    got = cr.move_quantile(a, window, q, min_count)
    np.testing.assert_allclose(got, want, rtol=1e-14, atol=1e-14 * scale, equal_nan=True)
    # Whole ranks are the order statistic itself, bit for bit.
    if q in (0.0, 1.0):
        np.testing.assert_array_equal(got, want)


def _bias_correction(a: np.ndarray, alpha: float) -> np.ndarray:
    """W^2 / (W^2 - W2) at each position (inf where there is no divisor)."""
    decay, w, w2, out = 1.0 - alpha, 0.0, 0.0, []
    for x in a:
        w, w2 = w * decay + (x == x), w2 * decay * decay + (x == x)
        out.append(w * w / (w * w - w2) if w * w > w2 else np.inf)
    return np.array(out)


@given(a=finite_series(60), alpha=ALPHAS, name=st.sampled_from(EXP))
def test_exp_equal_pandas(a, alpha, name):
    want = _pandas_exp(name, pd.Series(a), alpha)
    got = getattr(cr, name)(a, alpha)
    if name in ("move_exp_nanvar", "move_exp_nanstd"):
        # One value seen: no spread to estimate. pandas' answer there, 0 or NaN, hangs
        # on whether its W^2 - W2 rounds to zero.
        one = np.cumsum(~np.isnan(a)) < 2
        assert np.isnan(got[one]).all()
        # The bias correction magnifies rounding once the older weights are tiny
        # against the newest: beyond 1e4 both libraries' digits are noise.
        noise = one | (_bias_correction(a, alpha) > 1e4)
        got, want = got[~noise], want[~noise]
    # Cancellation in the mean of mixed signs is relative to the values' size.
    scale = np.nanmax(np.abs(a), initial=1.0) ** (2 if name == "move_exp_nanvar" else 1)
    np.testing.assert_allclose(got, want, rtol=1e-9, atol=1e-12 * scale, equal_nan=True)


def test_exp_variance_of_one_value_is_nan():
    # A lone value, decayed over a NaN run: W^2 - W2 rounds to a tiny positive number,
    # which once gave a variance of 0 where there is no spread to estimate. (At 7 the
    # old weight is lost below the new value's: a fresh start, one value again.)
    nan = np.nan
    a = np.array([nan, nan, -1.786, nan, nan, nan, nan, 0.5, 1.0])
    for module in (cr, slow):
        for name in ("move_exp_nanvar", "move_exp_nanstd"):
            got = getattr(module, name)(a, 0.999999999)
            assert np.isnan(got[:8]).all() and not np.isnan(got[8]), (module, name)


def test_exp_frames_and_stable_variance():
    rng = np.random.default_rng(4)
    a = rng.standard_normal((50, 7))
    a[rng.random(a.shape) < 0.2] = np.nan
    frame = pd.DataFrame(a)
    for name in EXP:
        want = np.stack([_pandas_exp(name, frame[c], 0.3) for c in frame], axis=1)
        np.testing.assert_allclose(getattr(cr, name)(a, 0.3, axis=0), want, rtol=1e-10)
    # A large offset with a small spread: no difference of large sums.
    x = 1e9 + rng.standard_normal(2000)
    want = pd.Series(x).ewm(alpha=0.05).var().to_numpy()
    np.testing.assert_allclose(cr.move_exp_nanvar(x, 0.05), want, rtol=1e-6)
    # A constant series has variance 0 and its own value as the mean.
    c = np.full(100, 0.1)
    assert (cr.move_exp_nanvar(c, 0.2)[1:] == 0).all()
    np.testing.assert_allclose(cr.move_exp_nanmean(c, 0.2), c, rtol=1e-15)


@given(a=finite_series(60), alpha=ALPHAS, min_weight=st.floats(0, 1.2))
def test_min_weight_is_the_decayed_weight_of_the_values(a, alpha, min_weight):
    count = _pandas_exp("move_exp_nancount", pd.Series(a), alpha)
    weight = alpha * count
    clear = np.abs(weight - min_weight) > 1e-9  # away from rounding at the threshold
    for name in EXP:
        plain = getattr(cr, name)(a, alpha)
        got = getattr(cr, name)(a, alpha, min_weight)
        want = np.where(weight < min_weight, np.nan, plain)
        np.testing.assert_array_equal(got[clear], want[clear])


# --- against corvane.slow and move_median ---------------------------------------------


@given(a=arrays(NATIVE_DTYPES + FALLBACK_DTYPES, min_dims=1, max_dims=3), data=st.data())
def test_native_equals_reference(a, data):
    axis = data.draw(st.integers(-a.ndim, a.ndim - 1))
    n = a.shape[axis]
    finite = np.abs(a[np.isfinite(a)]).astype(np.float64)
    scale = float(finite.max()) if finite.size else 1.0
    if n > 0:
        window = data.draw(st.integers(1, n))
        min_count = data.draw(st.integers(1, window))
        q = data.draw(QS)
        want = slow.move_quantile(a, window, q, min_count, axis)
        assert_same(cr.move_quantile(a, window, q, min_count, axis), want)
        if q == 0.5:
            median = cr.move_median(a, window, min_count, axis)
            # (a + b) * 0.5 against a + (b - a) * 0.5: an ulp of the larger.
            tol = 1e-6 if median.dtype == np.float32 else 1e-15
            np.testing.assert_allclose(want, median, rtol=tol, atol=tol * scale, equal_nan=True)
    alpha = data.draw(ALPHAS)
    min_weight = data.draw(st.sampled_from([0.0, 0.5, -1.0]))
    for name in EXP:
        want = getattr(slow, name)(a, alpha, min_weight, axis)
        got = getattr(cr, name)(a, alpha, min_weight, axis)
        assert_same(np.isnan(got), np.isnan(want))
        # The native linear recurrences advance two steps at a time.
        tol = 1e-5 if got.dtype == np.float32 else 1e-12
        sq = scale ** (2 if name == "move_exp_nanvar" else 1)
        np.testing.assert_allclose(got, want, rtol=tol, atol=tol * sq, equal_nan=True)
        assert got.dtype == want.dtype


def test_infinities():
    inf, nan = np.inf, np.nan
    a = np.array([1.0, inf, 2.0, nan, -inf, 3.0])
    got = cr.move_quantile(a, 2, 0.25, 1)
    # Between a finite value and an infinity: the infinity; between -inf and +inf: NaN.
    assert_same(got, np.array([1.0, inf, inf, 2.0, -inf, -inf]))
    assert_same(cr.move_quantile(np.array([inf, inf]), 2, 0.3), np.array([nan, inf]))
    assert_same(cr.move_quantile(np.array([-inf, inf]), 2, 0.5), np.array([nan, nan]))
    # With alpha < 1 an infinity never leaves; with alpha = 1 only the newest counts.
    assert_same(cr.move_exp_nanmean(a, 0.5), np.array([1.0, inf, inf, inf, nan, nan]))
    assert_same(cr.move_exp_nansum(a, 1.0), np.array([1.0, inf, 2.0, 0.0, -inf, 3.0]))
    assert_same(cr.move_exp_nanmean(a, 1.0), np.array([1.0, inf, 2.0, 2.0, -inf, 3.0]))
    assert np.isnan(cr.move_exp_nanvar(a, 0.5)[1:]).all()
    assert np.isnan(cr.move_exp_nanvar(a, 1.0)).all()


# --- arguments ----------------------------------------------------------------------


ARG_ERRORS = [
    ("move_quantile", (A5, 2), {}, TypeError, "wrong number of arguments"),
    ("move_quantile", (A5, 2, 0.5, 1, -1, 0), {}, TypeError, "wrong number of arguments"),
    ("move_quantile", (A5, 2, 0.5, 1, -1), {"q": 1}, TypeError, "wrong number of arguments"),
    ("move_quantile", (), {"window": 2, "q": 0.5}, TypeError, "Cannot find `a` keyword input"),
    ("move_quantile", (A5,), {"q": 0.5}, TypeError, "Cannot find `window` keyword input"),
    ("move_quantile", (A5, 2), {"axis": 0}, TypeError, "Cannot find `q` keyword input"),
    ("move_quantile", (A5, 2, 0.5), {"ddof": 0}, TypeError, "wrong number of keyword arguments"),
    ("move_quantile", (A5, 2.5, 0.5), {}, TypeError, "`window` must be an integer"),
    ("move_quantile", (A5, 2, "0.5"), {}, TypeError, "`q` must be a float"),
    ("move_quantile", (A5, 2, [0.5]), {}, TypeError, "`q` must be a float"),
    ("move_quantile", (A5, 2, np.array([0.5])), {}, TypeError, "`q` must be a float"),
    ("move_quantile", (A5, 2, 1.5), {}, ValueError, "Quantiles must be in the range [0, 1]"),
    ("move_quantile", (A5, 2, -0.1), {}, ValueError, "Quantiles must be in the range [0, 1]"),
    ("move_quantile", (A5, 2, np.nan), {}, ValueError, "Quantiles must be in the range [0, 1]"),
    ("move_quantile", (A5, 2, 0.5, 1.5), {}, TypeError, "`min_count` must be an integer or None"),
    ("move_quantile", (A5, 2, 0.5, 3), {}, ValueError,
     "min_count (3) cannot be greater than window (2)"),
    ("move_quantile", (A5, 2, 0.5, 0), {}, ValueError, "`min_count` must be greater than zero."),
    ("move_quantile", (A5, 2, 0.5), {"axis": None}, TypeError, "`axis` must be an integer"),
    ("move_quantile", (A5, 2, 0.5, 1, 1), {}, ValueError, "axis(=1) out of bounds"),
    ("move_quantile", (np.array(1.0), 1, 0.5), {}, ValueError,
     "moving window functions require ndim > 0"),
    ("move_quantile", (A5, 6, 0.5), {}, ValueError,
     "Moving window (=6) must between 1 and 5, inclusive"),
    ("move_exp_nanmean", (A5,), {}, TypeError, "wrong number of arguments"),
    ("move_exp_nanmean", (A5, 0.5, 0, -1, 1), {}, TypeError, "wrong number of arguments"),
    ("move_exp_nansum", (), {"alpha": 0.5}, TypeError, "Cannot find `a` keyword input"),
    ("move_exp_nanvar", (A5,), {"axis": 0}, TypeError, "Cannot find `alpha` keyword input"),
    ("move_exp_nanstd", (A5, 0.5), {"window": 2}, TypeError,
     "wrong number of keyword arguments"),
    ("move_exp_nancount", (A5, "0.5"), {}, TypeError, "`alpha` must be a float"),
    ("move_exp_nancount", (A5, None), {}, TypeError, "`alpha` must be a float"),
    ("move_exp_nanmean", (A5, 0), {}, ValueError, "`alpha` must be in the range (0, 1]"),
    ("move_exp_nanmean", (A5, 1.5), {}, ValueError, "`alpha` must be in the range (0, 1]"),
    ("move_exp_nanmean", (A5, np.nan), {}, ValueError, "`alpha` must be in the range (0, 1]"),
    ("move_exp_nanmean", (A5, 0.5, "x"), {}, TypeError, "`min_weight` must be a float"),
    ("move_exp_nanmean", (A5, 0.5, np.nan), {}, ValueError, "`min_weight` must not be NaN"),
    ("move_exp_nanmean", (A5, 0.5), {"axis": None}, TypeError, "`axis` must be an integer"),
    ("move_exp_nanmean", (A5, 0.5, 0, -2), {}, ValueError, "axis(=-1) out of bounds"),
    ("move_exp_nanmean", (np.array(1.0), 0.5), {}, ValueError,
     "moving window functions require ndim > 0"),
]  # fmt: skip


@pytest.mark.parametrize(("name", "args", "kwargs", "exc", "msg"), ARG_ERRORS)
def test_argument_errors(name, args, kwargs, exc, msg):
    # (Python itself reads the reference functions' arguments.)
    parsing = "arguments" in msg or "keyword input" in msg
    for mod in (cr,) if parsing else (cr, slow):
        with pytest.raises(exc) as info:
            getattr(mod, name)(*args, **kwargs)
        assert str(info.value) == msg


def test_call_forms_and_fallback():
    a = np.array([[1.0, 2.0, np.nan, 3.0], [3.0, 5.0, 9.0, -1.0]])
    want = cr.move_quantile(a, 3, 0.3, 2, -1)
    for got in (cr.move_quantile(a, 3, q=0.3, min_count=2), cr.move_quantile(a=a, window=3,
                q=np.float64(0.3), min_count=2, axis=-1), cr.move_quantile(a, 3, 0.3, 2, 1),
                cr.move_quantile(a.astype(">f8"), 3, 0.3, 2)):  # fmt: skip
        assert_same(got, want)
    assert_same(cr.move_quantile(a, 3, np.array(0.5)), cr.move_quantile(a, 3, 0.5))
    for name in EXP:
        f = getattr(cr, name)
        want = f(a, 0.4)
        forms = [f(a, alpha=0.4), f(a=a, alpha=0.4, min_weight=0, axis=1), f(a, 0.4, 0, -1)]
        forms += [f(a.astype(">f8"), 0.4), f(a.T, 0.4, axis=0).T, f(a.astype(np.float16), 0.4)]
        for got in forms:
            assert_same(got, want, rtol=1e-12)
        assert f(np.zeros((3, 0)), 0.5).shape == (3, 0)
        assert f(np.zeros((0, 3), np.float32), 0.5).dtype == np.float32


# --- the running-quantile library ---------------------------------------------------


lib = ctypes.CDLL(corvane.move.__file__)
lib.mq_new.argtypes = [ctypes.c_uint64, ctypes.c_uint64, ctypes.c_double]
lib.mq_new.restype = ctypes.c_void_p
for _name in ("mq_update_init", "mq_update"):
    getattr(lib, _name).argtypes = [ctypes.c_void_p, ctypes.c_double]
    getattr(lib, _name).restype = ctypes.c_double
for _name in ("mq_reset", "mq_free"):
    getattr(lib, _name).argtypes = [ctypes.c_void_p]
    getattr(lib, _name).restype = None


def _oracle(xs: list[float], window: int, min_count: int, q: float) -> list[float]:
    out, win, srt = [], deque(), []
    for x in xs:
        win.append(x)
        if not math.isnan(x):
            bisect.insort(srt, x)
        if len(win) > window:
            old = win.popleft()
            if not math.isnan(old):
                del srt[bisect.bisect_left(srt, old)]
        n = len(srt)
        if n < min_count:
            out.append(math.nan)
            continue
        h = q * (n - 1)
        k = int(h)
        out.append(srt[k] if h == k else srt[k] + (srt[k + 1] - srt[k]) * (h - k))
    return out


@given(
    xs=st.lists(st.sampled_from([0.0, 1.0, 2.0, -3.5, 7.25, math.nan]) | st.floats(-9, 9),
                max_size=80),
    data=st.data(),
)  # fmt: skip
def test_mq_library_against_sorted_windows(xs, data):
    window = data.draw(st.integers(1, 12))
    min_count = data.draw(st.integers(1, window))
    q = data.draw(QS | st.just(1 - 2**-53))
    mq = lib.mq_new(window, min_count, q)
    assert mq
    try:
        for _ in range(2):  # the second sequence after a reset
            got = [
                (lib.mq_update_init if i < window else lib.mq_update)(mq, x)
                for i, x in enumerate(xs)
            ]
            np.testing.assert_array_equal(got, _oracle(xs, window, min_count, q))
            lib.mq_reset(mq)
    finally:
        lib.mq_free(mq)


def test_mq_new_refuses_bad_arguments():
    for args in [(0, 1, 0.5), (3, 0, 0.5), (3, 4, 0.5), (3, 1, -0.5), (3, 1, 1.5),
                 (3, 1, math.nan), (2**62, 1, 0.5)]:  # fmt: skip
        assert not lib.mq_new(*args), args
    lib.mq_free(None)


def test_scalars_are_converted_before_the_array_is_read():
    class Changing:
        """A number whose conversion changes an element of an object array first."""

        def __init__(self, value: float) -> None:
            self.value = value

        def __float__(self) -> float:
            target[1] = 10.0
            return self.value

        def __index__(self) -> int:
            target[1] = 10.0
            return 2

    for mod in (cr, slow):
        target = np.array([1.0, 2.0, None, 3.0], dtype=object)
        got = mod.move_exp_nanmean(target, Changing(0.5))
        assert_same(got, mod.move_exp_nanmean(np.array([1.0, 10.0, np.nan, 3.0]), 0.5))
        target = np.array([1.0, 2.0, None, 3.0], dtype=object)
        got = mod.move_quantile(target, 2, Changing(0.25), min_count=1)
        assert_same(got, mod.move_quantile(np.array([1.0, 10.0, np.nan, 3.0]), 2, 0.25, 1))
