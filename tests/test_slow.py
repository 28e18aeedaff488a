"""Tests of the pure-NumPy reference module against NumPy, SciPy and pandas."""

from __future__ import annotations

import re
import warnings
from collections.abc import Callable
from typing import Any

import numpy as np
import pandas as pd
import pytest
import scipy.stats
from hypothesis import given
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import corvane.slow as slow

NATIVE = ["float64", "float32", "int64", "int32"]
LAYOUTS = ["C", "F", "reversed", "strided", "broadcast", "readonly"]
nan, inf = np.nan, np.inf


def _layout(x: np.ndarray, layout: str) -> np.ndarray:
    """``x`` in another memory layout (same values except for "broadcast")."""
    if x.ndim == 0 or layout == "C":
        return x
    if layout == "F":
        return np.asfortranarray(x)
    if layout == "reversed":
        return x[::-1].copy()[::-1]
    if layout == "strided":
        return np.repeat(x, 2, axis=-1)[..., ::2]
    if layout == "broadcast":  # zero stride: every row repeats row 0
        return np.broadcast_to(x[:1], x.shape) if len(x) else x
    y = x.copy()
    y.flags.writeable = False
    return y


@st.composite
def arrays(
    draw: st.DrawFn,
    dtypes: list[str] = NATIVE,  # noqa: B006
    min_dims: int = 0,
    max_dims: int = 4,
    min_side: int = 0,
    max_side: int = 5,
    with_inf: bool = True,
    with_nan: bool = True,
    big_ints: bool = True,
) -> np.ndarray:
    """Random arrays of the native types: NaN/inf densities, ties, big integers, layouts."""
    dtype = np.dtype(draw(st.sampled_from(dtypes)))
    shape = draw(hnp.array_shapes(min_dims=min_dims, max_dims=max_dims, min_side=min_side,
                                  max_side=max_side))  # fmt: skip
    rng = np.random.default_rng(draw(st.integers(0, 2**32 - 1)))
    if dtype.kind == "f":
        x = np.asarray(rng.standard_normal(shape) * 10)
        if draw(st.booleans()):
            x = np.asarray(np.round(x))  # ties
        if with_nan:
            x[rng.random(shape) < draw(st.sampled_from([0.0, 0.2, 0.6, 1.0]))] = nan
        if with_inf and draw(st.booleans()):
            x[rng.random(shape) < 0.1] = inf
            x[rng.random(shape) < 0.1] = -inf
    elif big_ints and draw(st.booleans()):
        info = np.iinfo(dtype)
        x = rng.integers(info.min, info.max, shape, dtype=dtype, endpoint=True)
    else:
        x = rng.integers(-5, 6, shape)
    return _layout(np.asarray(x, dtype), draw(st.sampled_from(LAYOUTS)))


def quiet(func: Callable[..., Any], *args: Any, **kwargs: Any) -> Any:
    with warnings.catch_warnings(), np.errstate(all="ignore"):
        warnings.simplefilter("ignore")
        return func(*args, **kwargs)


def assert_close(got: Any, want: Any, dtype: np.dtype, atol: float = 0.0) -> None:
    tol = 2e-4 if dtype == np.float32 else 1e-9
    np.testing.assert_allclose(np.asarray(got, float), np.asarray(want, float),
                               rtol=tol, atol=max(tol, atol), equal_nan=True)  # fmt: skip


# ----------------------------------------------------------------------------------------
# reduce
# ----------------------------------------------------------------------------------------

FLOAT_OUT = {"float64": "float64", "float32": "float32", "int64": "float64", "int32": "float64"}


def _argextreme(x: np.ndarray, axis: int | None, largest: bool) -> Any:
    """First position of the extreme, NaN never chosen: a stable sort on (NaN?, key)."""
    lines = x.reshape(-1) if axis is None else np.moveaxis(x, axis, -1)
    if lines.dtype.kind == "f":
        nan_flag = np.isnan(lines)
        key = np.where(nan_flag, 0.0, -lines if largest else lines)
    else:
        nan_flag = np.zeros(lines.shape, bool)
        key = ~lines if largest else lines  # ~v == -v - 1 reverses the order, no overflow
    return np.lexsort((key, nan_flag), axis=-1)[..., 0]


def reduce_expected(name: str, x: np.ndarray, axis: int | None, ddof: int) -> Any:
    """What the reduction should give, from NumPy (integer sums wrap in their own type)."""
    f = x.astype(float) if x.dtype.kind == "i" else x
    if name == "nansum":
        return np.sum(x, axis, dtype=x.dtype) if x.dtype.kind == "i" else quiet(np.nansum, x, axis)
    if name == "ss":
        return quiet(np.sum, x * x, axis, dtype=x.dtype)
    if name in ("nanargmin", "nanargmax"):
        return _argextreme(x, axis, name == "nanargmax")
    if name in ("anynan", "allnan"):
        test = np.isnan(x)
        return test.any(axis) if name == "anynan" else test.all(axis)
    if name in ("nanvar", "nanstd"):
        want = quiet(getattr(np, name), f, axis, ddof=ddof)
        # Unlike NumPy with a negative ddof, a zero-length axis always gives NaN.
        return want if axis is None or x.shape[axis] else want + nan
    return quiet(getattr(np, name), f, axis)


REDUCE_TYPES = {  # whole-array Python type, along-axis dtype (per input dtype)
    "nansum": (None, None),
    "ss": (None, None),
    "nanmin": (None, None),
    "nanmax": (None, None),
    "nanmean": (float, FLOAT_OUT),
    "nanvar": (float, FLOAT_OUT),
    "nanstd": (float, FLOAT_OUT),
    "median": (float, FLOAT_OUT),
    "nanmedian": (float, FLOAT_OUT),
    "nanargmin": (int, "int64"),
    "nanargmax": (int, "int64"),
    "anynan": (bool, "bool"),
    "allnan": (bool, "bool"),
}


@given(x=arrays(), data=st.data(), ddof=st.integers(-1, 2))
def test_reduce_matches_numpy(x: np.ndarray, data: st.DataObject, ddof: int) -> None:
    axis = data.draw(st.sampled_from([None, *range(-x.ndim, x.ndim)]))
    whole = axis is None or x.ndim == 1
    before = x.copy()
    for name, (scalar_type, axis_dtype) in REDUCE_TYPES.items():
        func = getattr(slow, name)
        args = (x, axis, ddof) if name in ("nanvar", "nanstd") else (x, axis)
        empty = x.size == 0 if whole else x.shape[axis] == 0
        if name in ("nanmin", "nanmax", "nanargmin", "nanargmax") and empty:
            what = "a.size==0 and axis=None" if whole else "a.shape[axis]==0"
            with pytest.raises(ValueError, match=re.escape(f"numpy.{name} raises on {what}")):
                func(*args)
            continue
        lines = x.reshape(-1) if whole else np.moveaxis(x, axis, -1)
        if name.startswith("nanarg") and x.dtype.kind == "f" and np.isnan(lines).all(-1).any():
            with pytest.raises(ValueError, match="^All-NaN slice encountered$"):
                func(*args)
            continue
        got = func(*args)
        want = reduce_expected(name, x, None if whole else axis, ddof)
        if whole:
            py_type = {"f": float, "i": int}[x.dtype.kind]
            assert type(got) is (scalar_type or py_type), name
        else:
            dtype = axis_dtype[x.dtype.name] if isinstance(axis_dtype, dict) else axis_dtype
            assert got.dtype == np.dtype(dtype or x.dtype), name
            assert got.flags.c_contiguous and got.shape == np.shape(want)
        exact = name.startswith(("nanarg", "any", "all"))
        if exact or (name in ("nansum", "ss") and x.dtype.kind == "i"):
            np.testing.assert_array_equal(got, want, err_msg=name)
        elif name in ("nanmean", "nanvar", "nanstd") and np.isinf(x).any():
            # Infinities: NaN versus inf placement must agree exactly.
            np.testing.assert_array_equal(np.isfinite(got), np.isfinite(want), err_msg=name)
        elif name in ("nanvar", "nanstd") and x.size:
            # A sequential mean and NumPy's pairwise one may differ by the rounding of
            # the values' size (int64 near 2**61: 512), and the spread inherits that.
            size = float(np.max(np.abs(lines[np.isfinite(lines)].astype(float)), initial=0))
            noise = np.finfo(float).eps * size * x.size
            assert_close(got, want, x.dtype, noise * noise if name == "nanvar" else noise)
        else:
            assert_close(got, want, x.dtype)
    np.testing.assert_array_equal(x, before)


def test_sums_are_sequential_in_the_input_precision() -> None:
    # Sequential float64: each 1.0 added to 1e16 rounds away; pairwise summation keeps them.
    x = np.array([1e16] + [1.0] * 64)
    assert slow.nansum(x) == 1e16
    assert slow.nanmean(x) == 1e16 / 65
    np.testing.assert_array_equal(slow.nansum(np.stack([x, x]), axis=1), [1e16, 1e16])
    assert slow.nansum(np.array([0.1, 0.2], np.float32)) == 0.30000001192092896
    assert slow.nansum(np.array([2147483647, 1], np.int32)) == -2147483648
    assert slow.ss(np.array([2**32], np.int64)) == 0
    assert slow.nansum(np.array([-0.0])) == 0.0 and not np.signbit(slow.nansum([-0.0]))


@pytest.mark.parametrize(
    ("call", "expected"),
    [
        (lambda: slow.nansum(1), 1),
        (lambda: slow.nansum([[1, 1], [1, nan]], axis=0), [2.0, 1.0]),
        (lambda: slow.nansum([1, nan, inf, -inf]), nan),
        (lambda: slow.nanmean(np.zeros((3, 0)), axis=1), [nan, nan, nan]),
        (lambda: slow.nanstd([[1, 4], [1, nan]]), 1.4142135623730951),
        (lambda: slow.nanvar([1, nan, inf]), nan),
        (lambda: slow.nanvar([1, 2, 3, 4], ddof=1), 1.6666666666666667),
        (lambda: slow.nanvar([nan, nan], ddof=-1), 0.0),
        (lambda: slow.nanvar(np.zeros((2, 0)), axis=1, ddof=-5), [nan, nan]),
        (lambda: slow.nanmin([nan, inf]), inf),
        (lambda: slow.nanmax([nan, nan]), nan),
        (lambda: slow.nanargmin([nan, inf, 2.0, inf]), 2),
        (lambda: slow.nanargmin([nan, inf, inf]), 1),
        (lambda: slow.nanargmax([nan, -inf]), 1),
        (lambda: slow.nanargmin(np.array([[1.0, 0.0], [0.0, 1.0]], order="F")), 1),
        (lambda: slow.nanargmin(np.full(3, 2147483647, np.int32)), 0),
        (lambda: slow.nanargmin(np.zeros((0, 3)), axis=1), np.zeros(0, np.int64)),
        (lambda: slow.median([[10, 7, 4], [3, 2, 1]], axis=0), [6.5, 4.5, 2.5]),
        (lambda: slow.nanmedian([[nan, 7, 4], [3, 2, 1]], axis=1), [5.5, 2.0]),
        (lambda: slow.median([[nan, 7, 4], [3, 2, 1]], axis=1), [nan, 2.0]),
        (lambda: slow.median([]), nan),
        # Integer middle values are averaged in float64, so their sum cannot overflow.
        (lambda: slow.median(np.array([2**62, 2**62 + 2**11] * 2, np.int64)), 2.0**62 + 2**10),
        (lambda: slow.median(np.array([2**31 - 1] * 2, np.int32)), 2.0**31 - 1),
        (lambda: slow.median(np.array([3e38, 3e38], np.float32)), inf),
        (lambda: slow.anynan(np.zeros((3, 0)), axis=1), [False] * 3),
        (lambda: slow.allnan(np.zeros((3, 0), np.int64), axis=1), [True] * 3),
        (lambda: slow.allnan(np.zeros(0, np.int64)), True),
    ],
)
def test_reduce_edge_cases(call: Callable[[], Any], expected: Any) -> None:
    np.testing.assert_array_equal(call(), expected)


def test_extremes_keep_the_later_of_equal_zeros() -> None:
    assert np.signbit(slow.nanmin([0.0, -0.0])) and not np.signbit(slow.nanmin([-0.0, 0.0]))
    assert np.signbit(slow.nanmax([nan, 0.0, -0.0], axis=0))
    np.testing.assert_array_equal(np.signbit(slow.nanmin([[0.0, -0.0], [-0.0, 0.0]], 1)),
                                  [True, False])  # fmt: skip


# ----------------------------------------------------------------------------------------
# Argument errors (exact messages)
# ----------------------------------------------------------------------------------------

x2 = np.ones((2, 5))
ERRORS = [
    (lambda: slow.nansum(x2, axis=1.5), TypeError, "`axis` must be an integer or None"),
    (lambda: slow.nansum(x2, axis="0"), TypeError, "`axis` must be an integer or None"),
    (lambda: slow.nansum(x2, axis=2**40), TypeError, "`axis` must be an integer or None"),
    (lambda: slow.nansum(x2, axis=True), TypeError, "`axis` must be an integer or None"),
    (lambda: slow.nansum(x2, axis=2), ValueError, "axis(=2) out of bounds"),
    (lambda: slow.nansum(x2, axis=-3), ValueError, "axis(=-1) out of bounds"),
    (lambda: slow.nansum(np.array(3.0), axis=0), ValueError, "axis(=0) out of bounds"),
    (lambda: slow.nanstd(x2, ddof=0.5), TypeError, "`ddof` must be an integer"),
    (lambda: slow.nanvar(x2, axis=9, ddof=0.5), ValueError, "axis(=9) out of bounds"),
    (lambda: slow.nanmin([]), ValueError,
     "numpy.nanmin raises on a.size==0 and axis=None; So Corvane too."),
    (lambda: slow.nanmax(np.zeros((3, 0)), axis=1), ValueError,
     "numpy.nanmax raises on a.shape[axis]==0; So Corvane too."),
    (lambda: slow.nanargmax([], axis=0), ValueError,
     "numpy.nanargmax raises on a.size==0 and axis=None; So Corvane too."),
    (lambda: slow.nanargmin(np.zeros((3, 0)), axis=1), ValueError,
     "numpy.nanargmin raises on a.shape[axis]==0; So Corvane too."),
    (lambda: slow.nanargmin([[nan, 1.0], [nan, nan]], axis=1), ValueError,
     "All-NaN slice encountered"),
    (lambda: slow.move_sum(x2, 2.5), TypeError, "`window` must be an integer"),
    (lambda: slow.move_sum(x2, "2"), TypeError, "`window` must be an integer"),
    (lambda: slow.move_sum(x2, 2**40), TypeError, "`window` must be an integer"),
    (lambda: slow.move_sum(x2, 2, 1.0), TypeError, "`min_count` must be an integer or None"),
    (lambda: slow.move_sum(x2, 2, min_count=3), ValueError,
     "min_count (3) cannot be greater than window (2)"),
    (lambda: slow.move_sum(x2, -5, min_count=-1), ValueError,
     "min_count (-1) cannot be greater than window (-5)"),
    (lambda: slow.move_sum(x2, 2, min_count=0), ValueError,
     "`min_count` must be greater than zero."),
    (lambda: slow.move_mean(3.0, 1), ValueError, "moving window functions require ndim > 0"),
    (lambda: slow.move_max(x2, 2, axis=None), TypeError, "`axis` must be an integer"),
    (lambda: slow.move_min(x2, 2, axis=-3), ValueError, "axis(=-1) out of bounds"),
    (lambda: slow.move_var(x2, 2, ddof="1"), TypeError, "`ddof` must be an integer"),
    (lambda: slow.move_std(x2, 9, axis=0, ddof="1"), TypeError, "`ddof` must be an integer"),
    (lambda: slow.move_sum(x2, 0), ValueError,
     "Moving window (=0) must between 1 and 5, inclusive"),
    (lambda: slow.move_rank(x2, 3, axis=0), ValueError,
     "Moving window (=3) must between 1 and 2, inclusive"),
    (lambda: slow.move_median(np.zeros((2, 0)), 1), ValueError,
     "Moving window (=1) must between 1 and 0, inclusive"),
    (lambda: slow.partition(x2, "1"), TypeError, "`n` must be an integer"),
    (lambda: slow.partition(x2, 5), ValueError, "`n` (=5) must be between 0 and 4, inclusive."),
    (lambda: slow.argpartition(x2, -1, axis=0), ValueError,
     "`n` (=-1) must be between 0 and 1, inclusive."),
    (lambda: slow.partition(np.array(1.0), 0), ValueError, "axis(=-1) out of bounds"),
    (lambda: slow.argpartition(x2, 0, axis=-5), ValueError, "axis(=-3) out of bounds"),
    (lambda: slow.rankdata(x2, axis=5), ValueError, "axis(=5) out of bounds"),
    (lambda: slow.nanrankdata(x2, axis=0.0), TypeError, "`axis` must be an integer"),
    (lambda: slow.push(x2, axis=None), ValueError, "`axis` cannot be None"),
    (lambda: slow.push(x2, n=-1), ValueError, "`n` must be nonnegative"),
    (lambda: slow.push(x2, n=1.5), TypeError, "`n` must be an integer"),
    (lambda: slow.push(np.array(1.0)), ValueError, "axis(=-1) out of bounds"),
    (lambda: slow.replace([1, 2, 0], 0, 3), TypeError,
     "works in place so input must be an array, not (e.g.) a list"),
    (lambda: slow.replace(np.zeros(2, np.int16), "x", 1), TypeError, "`old` must be a number"),
    (lambda: slow.replace(x2.copy(), 1, None), TypeError, "`new` must be a number"),
    (lambda: slow.replace(np.zeros(2, np.int64), 1.5, 0), ValueError,
     "Cannot safely cast `old` to int"),
    (lambda: slow.replace(np.zeros(2, np.int64), 1, 2.5), ValueError,
     "Cannot safely cast `new` to int"),
    (lambda: slow.replace(np.zeros(2, np.int32), 2**31, 0), ValueError,
     "Cannot safely cast `old` to int"),
    (lambda: slow.replace(np.zeros(2, np.int64), 2.0**63, 0), ValueError,
     "Cannot safely cast `old` to int"),
    (lambda: slow.replace(np.zeros(2, np.int64), 0, 2**63), ValueError,
     "Cannot safely cast `new` to int"),
    (lambda: slow.replace(np.broadcast_to(x2, (3, 2, 5)), 1, 0), ValueError,
     "assignment destination is read-only"),
]  # fmt: skip


@pytest.mark.parametrize(("call", "error", "message"), ERRORS)
def test_argument_errors(call: Callable[[], Any], error: type, message: str) -> None:
    with pytest.raises(error, match=f"^{re.escape(message)}$"):
        call()


# ----------------------------------------------------------------------------------------
# move
# ----------------------------------------------------------------------------------------


def _rolling_rank(df: pd.DataFrame, window: int, min_count: int) -> np.ndarray:
    """pandas' average rank in each window, scaled to [-1, 1] as move_rank scales it."""
    rank = df.rolling(window, min_periods=min_count).rank().to_numpy()
    valid = df.notna().rolling(window, min_periods=1).sum().to_numpy()
    with np.errstate(all="ignore"):
        scaled = np.where(valid == 1, 0.0, 2 * (rank - 1) / (valid - 1) - 1)
    return np.where(np.isnan(rank), nan, scaled)


def _brute_argextreme(x: np.ndarray, window: int, min_count: int, largest: bool) -> np.ndarray:
    """Newest position of the window's non-NaN extreme, counted back from the window's end."""
    out = np.full(len(x), nan)
    for i in range(len(x)):
        w = x[max(0, i - window + 1) : i + 1][::-1]
        ok = ~np.isnan(w)
        if ok.sum() >= min_count:
            best = w[ok].max() if largest else w[ok].min()
            out[i] = np.flatnonzero(ok & (w == best))[0]
    return out


@given(
    x=arrays(min_dims=1, max_dims=2, min_side=1, max_side=12, with_inf=False, big_ints=False),
    data=st.data(),
)
def test_move_matches_pandas(x: np.ndarray, data: st.DataObject) -> None:
    axis = data.draw(st.sampled_from(range(-x.ndim, x.ndim)))
    n = x.shape[axis]
    window = data.draw(st.integers(1, n))
    min_count = data.draw(st.none() | st.integers(1, window))
    ddof = data.draw(st.integers(0, 2))
    mc = window if min_count is None else min_count
    lines = np.moveaxis(x, axis, 0).reshape(n, -1).astype(float)
    df = pd.DataFrame(lines)
    roll = df.rolling(window, min_periods=mc)
    count = df.notna().rolling(window, min_periods=1).sum().to_numpy()
    out_dtype = np.float32 if x.dtype == np.float32 else np.float64
    expected = {
        "move_sum": roll.sum().to_numpy(),
        "move_mean": roll.mean().to_numpy(),
        "move_var": np.where(count > ddof, roll.var(ddof=ddof).to_numpy(), nan),
        "move_std": np.where(count > ddof, roll.std(ddof=ddof).to_numpy(), nan),
        "move_min": roll.min().to_numpy(),
        "move_max": roll.max().to_numpy(),
        "move_median": roll.median().to_numpy(),
        "move_rank": _rolling_rank(df, window, mc),
        "move_argmin": np.column_stack(
            [_brute_argextreme(c, window, mc, False) for c in lines.T]),
        "move_argmax": np.column_stack(
            [_brute_argextreme(c, window, mc, True) for c in lines.T]),
    }  # fmt: skip
    before = x.copy()
    for name, want in expected.items():
        kwargs = {"ddof": ddof} if name in ("move_var", "move_std") else {}
        got = getattr(slow, name)(x, window, min_count, axis, **kwargs)
        assert got.dtype == out_dtype and got.shape == x.shape and got.flags.c_contiguous
        got = np.moveaxis(got, axis, 0).reshape(n, -1)
        if name in ("move_var", "move_std"):
            got = np.where(count > ddof, got, nan)
        if name in ("move_min", "move_max", "move_argmin", "move_argmax", "move_median"):
            np.testing.assert_array_equal(got, want.astype(out_dtype), err_msg=name)
        else:
            assert_close(got, want, x.dtype)
    np.testing.assert_array_equal(x, before)


@pytest.mark.parametrize(
    ("func", "args", "expected"),
    [
        # An infinity affects exactly the windows that hold it.
        (slow.move_sum, ([1.0, inf, 2.0, 3.0, 4.0], 2), [nan, inf, inf, 5, 7]),
        (slow.move_sum, ([1.0, inf, -inf, 3.0, 4.0], 2), [nan, inf, nan, -inf, 7]),
        (slow.move_mean, ([-inf, 1.0, 3.0, nan, 5.0], 2, 1), [-inf, -inf, 2, 3, 5]),
        (slow.move_var, ([1.0, inf, 2.0, 3.0, 4.0], 2), [nan, nan, nan, 0.25, 0.25]),
        (slow.move_std, ([inf, 1.0, 3.0], 1), [nan, 0, 0]),
        (slow.move_sum, ([1e16, 1.0], 1), [1e16, 1.0]),
        (slow.move_mean, ([1e16, 1.0, nan], 1), [1e16, 1.0, nan]),
        (
            slow.move_sum,
            (np.array([2**31 - 1, -(2**31), 5], np.int32), 2),
            [nan, -1, -(2**31) + 5],
        ),
        (slow.move_var, ([1.0, 2.0, nan, 4.0], 2, 1, -1, 1), [nan, 0.5, nan, nan]),
        (slow.move_argmin, ([inf, nan], 2, 1), [0, 1]),
        (slow.move_argmax, ([-inf, nan, nan], 3, 1), [0, 1, 2]),
        (slow.move_argmin, ([3.0, 3.0, 3.0], 3), [nan, nan, 0]),
        (slow.move_argmin, ([2.0, 3.0, 4.0, 1.0, 7.0, 5.0, 6.0], 3), [nan, nan, 2, 0, 1, 2, 1]),
        (slow.move_min, ([1.0, nan, nan, 2.0], 1), [1, nan, nan, 2]),
        (slow.move_rank, ([1, 2, 3, 9, 8, 7, 5, 6, 4], 3), [nan, nan, 1, 1, 0, -1, -1, 0, -1]),
        (slow.move_rank, ([1, 2, 3, 3, 3, 4], 3), [nan, nan, 1, 0.5, 0, 1]),
        (slow.move_rank, (np.full(60, 7, np.int64), 50), [nan] * 49 + [0.0] * 11),
        (slow.move_rank, ([nan, 1.0, 2.0], 2, 1), [nan, 0, 1]),
        (slow.move_median, ([1.0, 2.0, 3.0, 4.0], 2, 1), [1, 1.5, 2.5, 3.5]),
        (slow.move_median, ([1.0, nan, 3.0, 4.0, nan, nan], 3, 2), [nan, nan, 2, 3.5, 3.5, nan]),
    ],
)
def test_move_edge_cases(func: Callable[..., Any], args: tuple, expected: list) -> None:
    got = func(*args)
    np.testing.assert_array_equal(got, np.array(expected, got.dtype))


def test_move_rank_compares_int64_exactly() -> None:
    x = np.array([2**60, 2**60 + 1], np.int64)  # equal once converted to float64
    np.testing.assert_array_equal(slow.move_rank(x, 2), [nan, 1.0])


def test_move_functions_refuse_unorderable_types() -> None:
    with pytest.raises(TypeError):
        slow.move_sum(np.ones(3, complex), 2)


# ----------------------------------------------------------------------------------------
# slicewise
# ----------------------------------------------------------------------------------------


@given(x=arrays(min_dims=1, max_dims=3, min_side=1, with_nan=False, with_inf=False),
       data=st.data())  # fmt: skip
def test_partition_and_argpartition(x: np.ndarray, data: st.DataObject) -> None:
    axis = data.draw(st.sampled_from([None, *range(-x.ndim, x.ndim)]))
    flat = x.ravel() if axis is None else x
    ax = 0 if axis is None else axis
    kth = data.draw(st.integers(0, flat.shape[ax] - 1))
    before = x.copy()
    part = slow.partition(x, kth, axis)
    index = slow.argpartition(x, kth, axis)
    np.testing.assert_array_equal(x, before)
    assert part.dtype == x.dtype and index.dtype == np.int64
    # argpartition follows the very exchanges partition makes.
    np.testing.assert_array_equal(np.take_along_axis(flat, index, ax), part)
    np.testing.assert_array_equal(np.sort(index, ax), np.indices(flat.shape)[ax])
    pivot = np.take(part, [kth], ax)
    np.testing.assert_array_equal(pivot, np.take(np.partition(flat, kth, ax), [kth], ax))
    assert (np.take(part, range(kth), ax) <= pivot).all()
    assert (np.take(part, range(kth + 1, flat.shape[ax]), ax) >= pivot).all()


def test_partition_selection_layout() -> None:
    np.testing.assert_array_equal(slow.partition([1, 0, 3, 4, 2], 2), [1, 0, 2, 4, 3])
    np.testing.assert_array_equal(slow.partition([1, 0, 3, 4, 2], kth=3), [1, 0, 2, 3, 4])
    np.testing.assert_array_equal(slow.argpartition([10, 0, 30, 40, 20], 2), [0, 1, 4, 3, 2])
    np.testing.assert_array_equal(slow.partition(np.zeros((2, 0)), 7), np.zeros((2, 0)))
    assert slow.argpartition(np.zeros((2, 0)), 7).shape == (2, 0)
    slow.partition([nan, 1.0, nan, 0.0, 2.0], 2)  # finishes


@given(x=arrays(min_dims=1, max_dims=3, with_inf=False), data=st.data())
def test_rankdata_matches_scipy(x: np.ndarray, data: st.DataObject) -> None:
    axis = data.draw(st.sampled_from([None, *range(-x.ndim, x.ndim)]))
    ranks = slow.rankdata(x, axis)
    nanranks = slow.nanrankdata(x, axis)
    assert ranks.dtype == nanranks.dtype == np.float64
    flat = x.ravel() if axis is None else x
    if flat.size == 0:
        assert ranks.shape == nanranks.shape == flat.shape
        return
    want = quiet(scipy.stats.rankdata, flat, axis=axis or 0, nan_policy="omit")
    np.testing.assert_array_equal(nanranks, want)
    nans = np.isnan(flat) if x.dtype.kind == "f" else np.zeros(flat.shape, bool)
    np.testing.assert_array_equal(np.where(nans, nan, ranks), want)
    # Each NaN takes its own rank after those of the numbers, as distinct huge values would.
    ax = axis or 0
    huge = np.where(nans, 1e10 + np.indices(flat.shape)[ax], flat)
    np.testing.assert_array_equal(
        np.sort(ranks, ax), np.sort(scipy.stats.rankdata(huge, axis=ax), ax)
    )


@given(x=arrays(min_dims=1, max_dims=2, with_inf=False), data=st.data())
def test_push_matches_pandas_ffill(x: np.ndarray, data: st.DataObject) -> None:
    axis = data.draw(st.sampled_from(range(-x.ndim, x.ndim)))
    n = data.draw(st.none() | st.integers(0, 4))
    before = x.copy()
    got = slow.push(x, n, axis)
    np.testing.assert_array_equal(x, before)
    assert got.dtype == x.dtype and got.flags.c_contiguous
    if n == 0 or x.dtype.kind == "i":
        np.testing.assert_array_equal(got, x)
        return
    frame = pd.DataFrame(np.atleast_2d(x).T if x.ndim == 1 else x)
    want = frame.ffill(axis=0 if x.ndim == 1 else axis % 2, limit=n).to_numpy()
    np.testing.assert_array_equal(got, want.T[0] if x.ndim == 1 else want)


# ----------------------------------------------------------------------------------------
# replace
# ----------------------------------------------------------------------------------------


@given(x=arrays(min_dims=0, max_dims=3, with_inf=False), data=st.data())
def test_replace_matches_masked_assignment(x: np.ndarray, data: st.DataObject) -> None:
    choices = [nan, 0, 1, 2.5, -3] + ([x.flat[0].item()] if x.size else [])
    old = data.draw(st.sampled_from(choices))
    new = data.draw(st.sampled_from([0, 7, -1.0, nan]))
    want = x.copy()
    error = None
    if not x.flags.writeable:
        error = "assignment destination is read-only"
    elif x.dtype.kind == "f":
        want[np.isnan(want) if np.isnan(old) else want == x.dtype.type(old)] = new
    elif not np.isnan(old):
        if not float(old).is_integer():
            error = "Cannot safely cast `old` to int"
        elif not float(new).is_integer():
            error = "Cannot safely cast `new` to int"
        else:
            want[want == old] = new
    if error is None:
        assert slow.replace(x, old, new) is x
    else:
        with pytest.raises(ValueError, match=f"^{re.escape(error)}$"):
            slow.replace(x, old, new)
    np.testing.assert_array_equal(x, want)


def test_replace_is_exact_for_integers() -> None:
    ts = np.array([2**62, 2**62 + 1, 2**62 + 2], np.int64)  # equal as doubles
    slow.replace(ts, 2**62 + 1, 2**62 + 5)
    np.testing.assert_array_equal(ts, [2**62, 2**62 + 5, 2**62 + 2])
    a = np.array([9223372036854775807, 0], np.int64)
    slow.replace(a, 2**63 - 1, np.int64(-(2**63)))
    np.testing.assert_array_equal(a, [-(2**63), 0])
    b = np.array([5, 1], np.int32)
    slow.replace(b, nan, 2.5)  # an integer array holds no NaN: nothing to check or change
    slow.replace(b, 1.0, 2.0)
    np.testing.assert_array_equal(b, [5, 2])
    c = np.array([0.1, 0.2], np.float32)
    slow.replace(c, 0.1, 1)
    np.testing.assert_array_equal(c, [1.0, np.float32(0.2)])
    d = np.array([0.0, -0.0, 1.0])
    slow.replace(d, 0, 5)
    np.testing.assert_array_equal(d, [5, 5, 1])
    e = np.ones(3)
    e.flags.writeable = False
    with pytest.raises(ValueError, match="read-only"):
        slow.replace(e, 1, 0)
    np.testing.assert_array_equal(e, [1, 1, 1])


# ----------------------------------------------------------------------------------------
# Other element types and byte orders
# ----------------------------------------------------------------------------------------

SAMPLE = np.array([[1.0, nan, 3.0, 2.0], [4.0, 5.0, nan, 2.0], [0.5, 0.5, 7.0, -1.0]])
MOVES = ["move_sum", "move_mean", "move_std", "move_var", "move_min", "move_max",
         "move_argmin", "move_argmax", "move_median", "move_rank"]  # fmt: skip


def _with_args(name: str, *args: Any, **kwargs: Any) -> Callable[[np.ndarray], Any]:
    func = getattr(slow, name)
    return lambda a: func(a, *args, **kwargs)


CALLS: list[tuple[str, Callable[[np.ndarray], Any]]] = [
    *[(name, _with_args(name)) for name in REDUCE_TYPES],
    *[(f"{name}(axis=0)", _with_args(name, axis=0)) for name in REDUCE_TYPES],
    *[(name, _with_args(name, 2, 1, 0)) for name in MOVES],
    ("partition", _with_args("partition", 1)),
    ("argpartition", _with_args("argpartition", 2, axis=0)),
    ("rankdata", _with_args("rankdata", axis=1)),
    ("nanrankdata", _with_args("nanrankdata")),
    ("push", _with_args("push", 1)),
    ("replace", _with_args("replace", 1, 0)),
]


@pytest.mark.parametrize(("name", "call"), CALLS, ids=[c[0] for c in CALLS])
@pytest.mark.parametrize("dtype", [">f8", ">f4", ">i8", "q"])
def test_big_endian_and_longlong_behave_like_native(name: str, call: Callable, dtype: str) -> None:
    data = SAMPLE if np.dtype(dtype).kind == "f" else np.nan_to_num(SAMPLE).astype(int)
    native = data.astype(np.dtype(dtype).newbyteorder("="))
    other = native.astype(dtype)
    want = call(native.copy())
    got = call(other)
    assert type(got) is type(want)
    np.testing.assert_array_equal(got, want)


@pytest.mark.parametrize(("name", "call"), CALLS, ids=[c[0] for c in CALLS])
@pytest.mark.parametrize("dtype", ["float16", "bool", "int8", "uint64", "longdouble"])
def test_other_dtypes_are_answered(name: str, call: Callable, dtype: str) -> None:
    data = SAMPLE if dtype in ("float16", "longdouble") else np.nan_to_num(SAMPLE)
    a = data.astype(dtype)
    before = a.copy()
    call(a)
    if name != "replace":
        np.testing.assert_array_equal(a, before)


def test_float16_reductions_follow_numpy() -> None:
    a = SAMPLE.astype(np.float16)
    for name in ["nansum", "nanmean", "nanvar", "nanstd", "nanmin", "nanmax", "nanmedian"]:
        for axis in (None, 1):
            got = getattr(slow, name)(a, axis)
            want = quiet(getattr(np, name), a, axis)
            assert np.asarray(got).dtype == np.float16
            np.testing.assert_array_equal(got, want)
    assert slow.nansum(np.array([True, True, False])) == 2
    assert slow.ss(np.array([100, 100], np.int8)) == 20000
