"""The reduce entry (argument rules, fallback) and the sums: nansum, nanmean, ss."""

from __future__ import annotations

import sys

import numpy as np
import pytest
from conftest import (
    FALLBACK_DTYPES,
    LAYOUTS,
    array_and_axis,
    arrays,
    assert_same,
    run_python,
    shapes,
    values,
    with_layout,
)
from hypothesis import given
from hypothesis import strategies as st

import corvane as cr
import corvane.slow as slow

REDUCE = [
    "nansum", "nanmean", "nanstd", "nanvar", "nanmin", "nanmax", "nanargmin",
    "nanargmax", "ss", "median", "nanmedian", "anynan", "allnan",
]  # fmt: skip
WITH_DDOF = {"nanstd", "nanvar"}
X = np.arange(12.0).reshape(3, 4)


# --- argument rules ---------------------------------------------------------

ARG_ERRORS = [
    ("nansum", (), {}, TypeError, "wrong number of arguments"),
    ("nansum", (X, 0, 1), {}, TypeError, "wrong number of arguments"),
    ("nanstd", (X, 0, 1, 2), {}, TypeError, "wrong number of arguments"),
    ("nansum", (), {"axis": 0}, TypeError, "Cannot find `a` keyword input"),
    ("nansum", (X,), {"ddof": 1}, TypeError, "wrong number of keyword arguments"),
    ("nansum", (X,), {"foo": 1}, TypeError, "wrong number of keyword arguments"),
    ("nansum", (X,), {"a": X}, TypeError, "wrong number of keyword arguments"),
    ("nansum", (X, 0), {"axis": 0}, TypeError, "wrong number of arguments"),
    ("nanstd", (X, 0), {"axis": 0}, TypeError, "wrong number of keyword arguments"),
    ("nanstd", (X, 0, 1), {"ddof": 1}, TypeError, "wrong number of arguments"),
    ("nansum", (X,), {"axis": 1.5}, TypeError, "`axis` must be an integer or None"),
    ("nansum", (X,), {"axis": "0"}, TypeError, "`axis` must be an integer or None"),
    ("nansum", (X,), {"axis": 2**40}, TypeError, "`axis` must be an integer or None"),
    ("nanstd", (X,), {"ddof": 0.5}, TypeError, "`ddof` must be an integer"),
    ("nanvar", (X, None, "1"), {}, TypeError, "`ddof` must be an integer"),
    ("nansum", (X, 2), {}, ValueError, "axis(=2) out of bounds"),
    ("nansum", (X, -3), {}, ValueError, "axis(=-1) out of bounds"),
    ("nansum", (np.array(3.0), 0), {}, ValueError, "axis(=0) out of bounds"),
    ("nansum", (np.array(3.0), -1), {}, ValueError, "axis(=-1) out of bounds"),
    # Unsupported element types are checked before they go to corvane.slow.
    ("nansum", (np.ones((2, 2), bool), 5), {}, ValueError, "axis(=5) out of bounds"),
]


@pytest.mark.parametrize(("name", "args", "kwargs", "exc", "msg"), ARG_ERRORS)
def test_argument_errors(name, args, kwargs, exc, msg):
    with pytest.raises(exc) as info:
        getattr(cr, name)(*args, **kwargs)
    assert str(info.value) == msg


@pytest.mark.parametrize("name", REDUCE)
def test_every_function_takes_positional_and_keyword_forms(name):
    f = getattr(cr, name)
    a = np.array([[1.0, 2.0, 4.0], [3.0, 5.0, 9.0]])
    want = f(a, 1)
    assert_same(f(a, axis=1), want)
    assert_same(f(a=a, axis=1), want)
    assert_same(f(a=a, axis=None), f(a))
    if name in WITH_DDOF:
        assert_same(f(a, 1, 1), f(a=a, axis=1, ddof=1))
        assert_same(f(a, 1, ddof=1), f(a, axis=1, ddof=1))
        assert_same(f(a, 1, -1), f(a, axis=1, ddof=-1))  # negative ddof accepted


@pytest.mark.parametrize("name", REDUCE)
def test_signature_line_opens_the_docstring(name):
    f = getattr(cr, name)
    sig = f"{name}(a, axis=None, ddof=0)" if name in WITH_DDOF else f"{name}(a, axis=None)"
    assert f.__doc__.splitlines()[0] == sig
    assert f.__text_signature__ == sig[len(name) :]


def test_axis_forms():
    assert_same(cr.nansum(X, axis=-1), cr.nansum(X, axis=1))
    assert_same(cr.nansum(X, np.int32(1)), cr.nansum(X, 1))
    # The only axis of a 1-d array reduces to a scalar, as axis=None does.
    for axis in (0, -1, None):
        assert_same(cr.nansum(np.arange(5.0), axis), 10.0)


def test_inputs_that_are_not_arrays_are_converted():
    assert_same(cr.nansum(3), 3)
    assert_same(cr.nansum(np.float64(3)), 3.0)
    assert_same(cr.nansum(np.array(3.0)), 3.0)
    assert_same(cr.nansum([1, 2]), 3)
    assert_same(cr.nansum(a=[1, 2], axis=None), 3)
    assert_same(cr.nansum(((1.0, 2.0), (3.0, 4.0)), 0), np.array([4.0, 6.0]))
    if np.lib.NumpyVersion(np.__version__) >= "1.24.0":
        with pytest.raises(ValueError):  # NumPy's own refusal of ragged lists
            cr.nansum([[1, 2], [3]])


def test_subclass_is_read_as_plain_array():
    class Sub(np.ndarray):
        pass

    s = X.view(Sub)
    out = cr.nansum(s, axis=0)
    assert type(out) is np.ndarray
    assert_same(out, np.array([12.0, 15.0, 18.0, 21.0]))
    assert_same(cr.nanmean(s), 5.5)


# --- fallback ------------------------------------------------------------------


@pytest.mark.parametrize("dtype", [*FALLBACK_DTYPES, ">f8", ">i4", "complex128"])
@pytest.mark.parametrize("name", ["nansum", "nanmean", "ss"])
def test_unsupported_types_get_the_reference_result(name, dtype):
    a = (np.arange(12) % 5).reshape(3, 4).astype(dtype)
    for axis in (None, 0, 1):
        assert_same(getattr(cr, name)(a, axis=axis), getattr(slow, name)(a, axis=axis))


def test_float16_gives_what_numpy_gives():
    a = np.array([[1, np.nan, 2.5], [4, 5, np.nan]], np.float16)
    np.testing.assert_array_equal(cr.nansum(a, axis=0), np.nansum(a, axis=0))
    assert cr.nansum(a, axis=0).dtype == np.float16


def test_fallback_receives_the_call_unchanged(monkeypatch):
    seen = []

    def spy(*args, **kwargs):
        seen.append((args, kwargs))
        return "from slow"

    monkeypatch.setattr(slow, "nansum", spy)
    a = np.ones(3, np.float16)
    assert cr.nansum(a=a, axis=0) == "from slow"
    assert cr.nansum(a, 0) == "from slow"
    big = np.ones((2, 2), ">f8")
    # Big-endian arrays go before any look at the axis.
    assert cr.nansum(big, axis=5) == "from slow"
    assert [s[1] for s in seen] == [{"a": a, "axis": 0}, {}, {"axis": 5}]
    assert seen[1][0][1] == 0


def test_reference_errors_pass_through_for_big_endian():
    big = np.ones((2, 2), ">f8")
    with pytest.raises(ValueError, match="out of bounds"):
        cr.nansum(big, axis=5)


def test_fallback_failures_raise_runtime_errors():
    res = run_python(
        """
        import sys, types
        import numpy as np
        import corvane as cr
        a = np.ones(3, np.float16)
        sys.modules["corvane.slow"] = None          # import fails
        try:
            cr.nansum(a)
        except RuntimeError as e:
            print(e)
        fake = types.ModuleType("corvane.slow")
        fake.nanmean = 3
        sys.modules["corvane.slow"] = fake
        for f in (cr.nansum, cr.nanmean):
            try:
                f(a)
            except RuntimeError as e:
                print(e)
        fake.nansum = lambda a, axis=None: "recovered"
        print(cr.nansum(a))
        """
    )
    assert res.returncode == 0, res.stderr
    assert res.stdout.splitlines() == [
        "Cannot import corvane.slow",
        "Cannot import nansum from corvane.slow",
        "corvane.slow.nanmean is not callable",
        "recovered",
    ]


# --- sums -----------------------------------------------------------------------


def test_sum_edge_cases():
    nan, inf = np.nan, np.inf
    assert_same(cr.nansum(1), 1)
    assert_same(cr.nansum([1]), 1)
    assert_same(cr.nansum([1, nan]), 1.0)
    assert_same(cr.nansum([[1, 1], [1, nan]]), 3.0)
    assert_same(cr.nansum([[1, 1], [1, nan]], axis=0), np.array([2.0, 1.0]))
    assert_same(cr.nansum([1, nan, inf]), inf)
    assert_same(cr.nansum([1, nan, -inf]), -inf)
    assert_same(cr.nansum([1, nan, inf, -inf]), nan)
    assert_same(cr.nansum([nan, nan]), 0.0)
    assert_same(cr.nansum(np.array([], np.float64)), 0.0)
    assert_same(cr.nansum(np.array([], np.int64)), 0)
    assert_same(cr.nansum(np.ones((3, 0), np.int32), axis=1), np.zeros(3, np.int32))
    assert_same(cr.nansum(np.ones((0, 3)), axis=1), np.zeros(0))
    assert_same(cr.nansum(np.array([2147483647, 1], np.int32)), -2147483648)
    assert_same(cr.nansum(np.array([2**63 - 1, 1], np.int64)), -(2**63))
    assert_same(cr.nansum(np.float32([0.1, 0.2])), 0.30000001192092896)
    assert_same(cr.nansum(np.float32([[0.1, 0.2]]), axis=1), np.float32([0.1 + np.float32(0.2)]))


def test_mean_edge_cases():
    nan = np.nan
    for a in (1, [1], [1, nan]):
        assert_same(cr.nanmean(a), 1.0)
    assert_same(cr.nanmean([[1, 4], [1, nan]]), 2.0)
    assert_same(cr.nanmean([[1, 4], [1, nan]], axis=0), np.array([1.0, 4.0]))
    assert_same(cr.nanmean([nan, nan]), nan)
    assert_same(cr.nanmean(np.array([])), nan)
    assert_same(cr.nanmean(np.array([], np.int32)), nan)
    assert_same(cr.nanmean(np.ones((2, 0), np.float32), axis=1), np.full(2, nan, np.float32))
    assert_same(cr.nanmean(np.ones((2, 0), np.int64), axis=1), np.full(2, nan))
    assert_same(cr.nanmean([[nan, nan], [1, 2]], axis=1), np.array([nan, 1.5]))
    assert_same(cr.nanmean(np.array([[1, 2]], np.int32), axis=1), np.array([1.5]))
    assert_same(cr.nanmean(np.float32([[1, 2]]), axis=1), np.float32([1.5]))
    # Integer means are formed in float64: no overflow of the element type.
    assert_same(cr.nanmean(np.array([2**62, 2**62], np.int64)), 2.0**62)


def test_ss_edge_cases():
    assert_same(cr.ss([1.0, 2.0, 5.0]), 30.0)
    assert_same(cr.ss([[1.0, 2.0, 5.0], [2.0, 5.0, 6.0]], axis=1), np.array([30.0, 65.0]))
    assert_same(cr.ss([1, np.nan]), np.nan)
    assert_same(cr.ss(np.array([[3, 4]], np.int32), axis=1), np.array([25], np.int32))
    assert_same(cr.ss(np.array([3, 4], np.int32)), 25)
    assert_same(cr.ss(np.array([65536], np.int32)), 0)  # wraps in 32 bits
    assert_same(cr.ss(np.array([2**32 + 1], np.int64)), 2**33 + 1)


def _sequential(a: np.ndarray, axis: int, op: str) -> np.ndarray:
    """Slice sums in index order (ufunc.accumulate is strictly sequential); float32
    data is summed in float64 and the sum rounded to float32."""
    a = np.moveaxis(a, axis, -1)
    dtype = a.dtype
    if dtype == np.float32:
        a = a.astype(np.float64)
    if op == "ss":
        terms = a * a
    else:
        terms = np.where(np.isnan(a), 0, a) if a.dtype.kind == "f" else a
    with np.errstate(over="ignore", invalid="ignore"):
        if a.shape[-1] == 0:
            return np.zeros(a.shape[:-1], dtype)
        return np.add.accumulate(terms, axis=-1, dtype=a.dtype)[..., -1].astype(dtype)


@given(array_and_axis(min_dims=2))
def test_along_axis_sums_are_sequential_bit_for_bit(case):
    a, axis = case
    if axis is None:
        axis = 0
    with np.errstate(over="ignore", invalid="ignore"):
        assert_same(cr.nansum(a, axis=axis), _sequential(a, axis, "nansum"))
        assert_same(cr.ss(a, axis=axis), _sequential(a, axis, "ss"))


@given(array_and_axis())
def test_sums_match_reference_and_numpy(case):
    a, axis = case
    with np.errstate(all="ignore"):
        for name in ("nansum", "nanmean", "ss"):
            got = getattr(cr, name)(a, axis=axis)
            want = getattr(slow, name)(a, axis=axis)
            # Float sums may be ordered differently (pairwise in NumPy).
            rtol = 1e-4 if a.dtype == np.float32 else 1e-9
            if a.dtype.kind == "f" and np.isinf(a).any():
                rtol = 0.0  # inf/nan placement must agree exactly
            assert_same(got, want, rtol=rtol) if rtol == 0.0 else _close(got, want, rtol)
        if a.dtype.kind == "f":
            np.testing.assert_allclose(
                cr.nansum(a, axis=axis), np.nansum(a, axis=axis), rtol=1e-3, atol=1e-3
            )


def _close(got: object, want: object, rtol: float) -> None:
    if isinstance(want, np.ndarray):
        assert isinstance(got, np.ndarray) and got.dtype == want.dtype
        np.testing.assert_allclose(got, want, rtol=rtol, atol=1e-6, equal_nan=True)
    else:
        assert type(got) is type(want)
        np.testing.assert_allclose(got, want, rtol=rtol, atol=1e-6, equal_nan=True)


@given(arrays(min_dims=2, max_dims=3))
def test_whole_array_sum_of_contiguous_array_is_memory_order(a):
    a = np.ascontiguousarray(a)
    with np.errstate(over="ignore", invalid="ignore"):
        want = _sequential(a.reshape(1, -1), 1, "nansum")[0] if a.size else a.dtype.type(0)
    got = cr.nansum(a)
    assert got == want or (got != got and want != want)


# --- reference counts -------------------------------------------------------------


def test_no_reference_leaks_on_success_and_errors():
    a = np.arange(6.0).reshape(2, 3)
    lst = [1.0, 2.0]
    axis = 1
    calls = [
        lambda: cr.nansum(a),
        lambda: cr.nansum(a, axis),
        lambda: cr.nanmean(a=a, axis=axis),
        lambda: cr.ss(lst),
        lambda: cr.nansum(a.astype(np.float16), axis),
    ]
    errors = [
        lambda: cr.nansum(a, 5),
        lambda: cr.nansum(a, "x"),
        lambda: cr.nanstd(a, 0, "x"),
        lambda: cr.nansum(a, foo=1),
        lambda: cr.nansum(lst, 7),
    ]
    # (Small ints are shared interpreter-wide, so `axis` is not counted.)
    before = [sys.getrefcount(o) for o in (a, lst)]
    for _ in range(200):
        for call in calls:
            call()
        for call in errors:
            with pytest.raises((TypeError, ValueError)):
                call()
    assert [sys.getrefcount(o) for o in (a, lst)] == before


# --- float32 accumulation ---------------------------------------------------------


@given(shapes(max_dims=3), st.sampled_from(LAYOUTS), st.integers(-1, 2), st.data())
def test_float32_is_accumulated_in_float64_and_rounded_once(shape, layout, ddof, data):
    base = data.draw(values(shape, "float32"))
    a = with_layout(base, layout)
    wide = with_layout(base.astype(np.float64), layout)  # same layout, same walk order
    axis = data.draw(st.sampled_from([None, *range(a.ndim)]))
    with np.errstate(all="ignore"):
        for name in ("nansum", "nanmean", "nanvar", "nanstd", "ss"):
            kw = {"ddof": ddof} if name in WITH_DDOF else {}
            want = getattr(cr, name)(wide, axis=axis, **kw)
            want = (
                want.astype(np.float32)
                if isinstance(want, np.ndarray)
                else float(np.float32(want))
            )
            assert_same(getattr(cr, name)(a, axis=axis, **kw), want)
            assert_same(getattr(slow, name)(a, axis=axis, **kw), want)


# --- arguments that change the array while they are read ------------------------


class _Index:
    """An integer whose first conversion runs `act` (which may change the array)."""

    def __init__(self, value: int, act):
        self.value, self.act = value, act

    def __index__(self) -> int:
        self.act()
        self.act = lambda: None
        return self.value


def _changes(a: np.ndarray) -> dict:
    def dtype() -> None:
        a.dtype = np.float32

    def readonly() -> None:
        a.flags.writeable = False

    def byteorder() -> None:
        a.dtype = a.dtype.newbyteorder()

    return {
        "reshape": lambda: setattr(a, "shape", (a.size,)),
        "dtype": dtype,
        "readonly": readonly,
        "byteorder": byteorder,
    }


def _outcome(f, *args, **kwargs) -> object:
    try:
        return f(*args, **kwargs)
    except (TypeError, ValueError) as e:
        return (type(e), str(e))


@pytest.mark.parametrize("change", ["reshape", "dtype", "readonly", "byteorder"])
@pytest.mark.parametrize("name", REDUCE)
def test_arguments_that_change_the_array_see_it_changed(name, change):
    f = getattr(cr, name)
    cases = [({"axis": axis}, "axis") for axis in (0, 2, -1)]
    if name in WITH_DDOF:
        cases += [({"axis": axis, "ddof": 1}, "ddof") for axis in (None, 0, 2)]
    for kw, hostile in cases:
        a = np.arange(60.0).reshape(3, 4, 5)
        a[1, 2, 3] = np.nan
        got = _outcome(f, a, **{**kw, hostile: _Index(kw[hostile], _changes(a)[change])})
        # The same as on a clean copy of the array as it now is.
        want = _outcome(f, a.copy(), **kw)
        if isinstance(want, tuple):
            assert got == want
        else:
            assert_same(got, want)


@given(st.sampled_from(("float64", "float32")), st.integers(1, 40), st.integers(1, 40), st.data())
def test_sums_of_larger_arrays_match_reference_bit_for_bit(dtype, rows, cols, data):
    # Large enough for the blocked walks: many slices side by side, vector steps, tails.
    b = data.draw(values((rows, cols), dtype))
    with np.errstate(all="ignore"):
        for a in (b, b.T, b[::-1, ::-2]):
            for axis in (None, 0, 1):
                for name in ("nansum", "nanmean", "ss"):
                    assert_same(getattr(cr, name)(a, axis), getattr(slow, name)(a, axis))
