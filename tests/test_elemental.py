"""The elemental module: replace, in place."""

from __future__ import annotations

import sys

import numpy as np
import pytest
from conftest import FALLBACK_DTYPES, NATIVE_DTYPES, assert_same, values, with_layout
from hypothesis import given
from hypothesis import strategies as st

import corvane as cr
import corvane.slow as slow

I64_MAX = 2**63 - 1
I64_MIN = -(2**63)


def numpy_replace(a: np.ndarray, old: float, new: float) -> np.ndarray:
    """What replace must do, in NumPy terms."""
    b = a.copy()
    if isinstance(old, float) and old != old:
        if b.dtype.kind == "f":
            b[np.isnan(b)] = new
    else:
        b[b == old] = new
    return b


# --- arguments --------------------------------------------------------------------


def test_call_forms():
    for call in (
        lambda a: cr.replace(a, 0, 3),
        lambda a: cr.replace(a, 0, new=3),
        lambda a: cr.replace(a, old=0, new=3),
        lambda a: cr.replace(a=a, old=0, new=3),
        lambda a: cr.replace(a, new=3, old=0),
    ):
        a = np.array([1, 2, 0])
        assert call(a) is a
        assert_same(a, np.array([1, 2, 3]))


ARG_ERRORS = [
    ((0,), {}, "wrong number of arguments 4"),
    ((0, 3, 4), {}, "wrong number of arguments 4"),
    ((0, 3), {"new": 3}, "wrong number of arguments 1"),
    ((0,), {"old": 1}, "Cannot find `new` keyword input"),
    ((), {"new": 1}, "Cannot find `old` keyword input"),
    ((), {"old": 0, "new": 3, "x": 1}, "wrong number of keyword arguments 3"),
    ((0,), {"new": 3, "a": 1}, "wrong number of keyword arguments 3"),
]


@pytest.mark.parametrize(("args", "kwargs", "msg"), ARG_ERRORS)
def test_argument_errors(args, kwargs, msg):
    a = np.array([1.0, 0.0])
    with pytest.raises(TypeError) as info:
        cr.replace(a, *args, **kwargs)
    assert str(info.value) == msg
    assert_same(a, np.array([1.0, 0.0]))


def test_more_argument_errors():
    with pytest.raises(TypeError, match="^Cannot find `a` keyword input$"):
        cr.replace(old=0, new=3)
    with pytest.raises(TypeError, match="^wrong number of arguments 4$"):
        cr.replace()
    message = "works in place so input must be an array, not (e.g.) a list"
    for not_array in ([1, 2, 0], (1.0,), 3.0, None):
        with pytest.raises(TypeError) as info:
            cr.replace(not_array, 0, 3)
        assert str(info.value) == message
    for dtype in ("float64", "int32", "float16", ">f8", "complex128"):
        a = np.zeros(3, dtype)
        with pytest.raises(TypeError, match="^`old` must be a number$"):
            cr.replace(a, "x", 1)
        with pytest.raises(TypeError, match="^`new` must be a number$"):
            cr.replace(a, 0, [1])
        assert (a == 0).all()
    # A Python int beyond the double range is a number no float array holds.
    with pytest.raises(TypeError, match="^`old` must be a number$"):
        cr.replace(np.zeros(2), 2**1100, 1)


def test_signature_and_docstrings():
    assert cr.replace.__doc__.splitlines()[0] == "replace(a, old, new)"
    assert cr.replace.__text_signature__ == "(a, old, new)"
    assert "Replace (inplace) given scalar values of an array with new values." in (
        cr.replace.__doc__
    )
    for section in ("Parameters\n----------", "Returns\n-------", "Examples\n--------"):
        assert section in cr.replace.__doc__
    assert cr.elemental.__doc__ == "Corvane nonreducing functions."


# --- floats ---------------------------------------------------------------------------


def test_float_examples():
    a = np.array([1.0, 2.0, np.nan])
    cr.replace(a, np.nan, 0)
    assert_same(a, np.array([1.0, 2.0, 0.0]))
    a = np.array([0.0, -0.0, 1.0, 1.0])
    cr.replace(a, 0, 5)
    assert_same(a, np.array([5.0, 5.0, 1.0, 1.0]))
    cr.replace(a, 1, np.nan)
    assert_same(a, np.array([5.0, 5.0, np.nan, np.nan]))
    f = np.array([0.1, np.float32(0.1), 0.2], np.float32)
    cr.replace(f, 0.1, 1)
    assert_same(f, np.array([1.0, 1.0, 0.2], np.float32))
    f = np.array([np.inf, 1.0, np.nan], np.float32)
    cr.replace(f, 1e300, 1e300)  # beyond float32: both round to +inf
    assert_same(f, np.array([np.inf, 1.0, np.nan], np.float32))
    cr.replace(f, np.nan, 2**70)
    assert_same(f, np.array([np.inf, 1.0, np.float32(2**70)], np.float32))
    z = np.array(4.0)
    assert cr.replace(z, 4, 7) is z
    assert z[()] == 7.0


# --- integers ---------------------------------------------------------------------------


def _ints(dtype: str) -> np.ndarray:
    return np.array([1, 2, 1, 0], dtype)


@pytest.mark.parametrize("dtype", ["int64", "int32"])
def test_integer_cast_checks(dtype):
    a = _ints(dtype)
    for old, new, which in ((1.5, 0, "old"), (1, 2.5, "new"), (np.inf, 0, "old"),
                            (1, -np.inf, "new"), (1, np.nan, "new")):  # fmt: skip
        with pytest.raises(ValueError) as info:
            cr.replace(a, old, new)
        assert str(info.value) == f"Cannot safely cast `{which}` to int"
        assert_same(a, _ints(dtype))
    # NaN matches nothing, and `new` is not even looked at.
    assert cr.replace(a, np.nan, 2.5) is a
    assert_same(a, _ints(dtype))
    cr.replace(a, 1.0, 2.0)
    assert_same(a, np.array([2, 2, 2, 0], dtype))
    cr.replace(a, np.int8(2), np.float32(7))
    assert_same(a, np.array([7, 7, 7, 0], dtype))
    cr.replace(a, False, True)
    assert_same(a, np.array([7, 7, 7, 1], dtype))
    cr.replace(a, np.True_, np.False_)
    assert_same(a, np.array([7, 7, 7, 0], dtype))


def test_int32_range():
    a = np.array([-(2**31), 2**31 - 1, 0], np.int32)
    for old in (2**31, 2.0**31, -(2**31) - 1, np.int64(2**40)):
        with pytest.raises(ValueError, match="^Cannot safely cast `old` to int$"):
            cr.replace(a, old, 0)
    cr.replace(a, -(2**31), 2**31 - 1)
    cr.replace(a, -2147483648.0, 0)
    assert_same(a, np.array([2**31 - 1, 2**31 - 1, 0], np.int32))


def test_int64_values_are_exact():
    # Nanosecond timestamps: neighbours above 2**53 share one double.
    t = 1_700_000_000_123_456_789
    ts = np.array([t, t + 1, t - 1, t], np.int64)
    cr.replace(ts, t, 0)
    assert_same(ts, np.array([0, t + 1, t - 1, 0], np.int64))
    cr.replace(ts, np.int64(t + 1), t + 3)
    assert_same(ts, np.array([0, t + 3, t - 1, 0], np.int64))
    a = np.array([I64_MAX, I64_MIN, 5], np.int64)
    cr.replace(a, I64_MAX, 0)
    cr.replace(a, I64_MIN, I64_MAX)
    assert_same(a, np.array([0, I64_MAX, 5], np.int64))
    for old in (2**63, I64_MIN - 1, np.uint64(2**64 - 1), 2**1100):
        with pytest.raises(ValueError, match="^Cannot safely cast `old` to int$"):
            cr.replace(a, old, 0)
    with pytest.raises(ValueError, match="^Cannot safely cast `new` to int$"):
        cr.replace(a, 5, 2**63)
    # Floats keep the double path: 2.0**63 is outside, -2.0**63 inside.
    with pytest.raises(ValueError, match="^Cannot safely cast `old` to int$"):
        cr.replace(a, 2.0**63, 0)
    cr.replace(a, -(2.0**63), 1)
    assert_same(a, np.array([0, I64_MAX, 5], np.int64))
    # A float that rounds onto a neighbour compares as that float's value.
    b = np.array([t, 1_700_000_000_123_456_768], np.int64)
    cr.replace(b, float(t), 1)
    assert_same(b, np.array([t, 1], np.int64))


NUMBER_KINDS = [
    *(np.timedelta64(2), np.timedelta64(2, "s"), np.timedelta64("NaT"), 2**1100, 2**70),
    *(np.uint64(2**64 - 1), np.True_, np.float32(2), 2.0, np.nan, None, "2"),
]


@pytest.mark.parametrize("dtype", ["int64", "int32", "int8", "bool", "float64", "float32"])
def test_every_kind_of_number_is_read_as_the_reference_reads_it(dtype):
    # NumPy compares integers with a unitless timedelta64 by its count.
    assert_same(cr.replace(np.array([1, 2, 3]), np.timedelta64(2), 9), np.array([1, 9, 3]))

    def outcome(f, old, new):
        a = np.array([1, 2, 0], dtype)
        try:
            return f(a, old, new)
        except (TypeError, ValueError) as e:
            return (type(e), str(e))

    for x in NUMBER_KINDS:
        for old, new in ((x, 1), (1, x)):
            got, want = outcome(cr.replace, old, new), outcome(slow.replace, old, new)
            assert type(got) is type(want) and (isinstance(want, tuple) or got.dtype == want.dtype)
            np.testing.assert_array_equal(got, want)


# --- read-only arrays ---------------------------------------------------------------------


@pytest.mark.parametrize("dtype", ["float64", "float32", "int64", "int32", "int16", ">f8"])
def test_read_only_arrays_are_refused_and_untouched(dtype):
    base = np.array([[1, 0], [0, 1]], dtype)
    ro = base.copy()
    ro.flags.writeable = False
    views = [ro, np.broadcast_to(base[:1], (3, 2)), base.view()]
    views[2].flags.writeable = False
    for a in views:
        before = a.copy()
        for old, new in ((0, 5), (np.nan, 5), (1.5, 0)):
            with pytest.raises(ValueError) as info:
                cr.replace(a, old, new)
            assert str(info.value) == "assignment destination is read-only"
        assert_same(np.asarray(a), before)
    assert_same(base, np.array([[1, 0], [0, 1]], dtype))


# --- against NumPy and the reference ------------------------------------------------------


@st.composite
def writeable_arrays(draw, dtypes=NATIVE_DTYPES):
    shape = draw(st.lists(st.integers(0, 5), min_size=0, max_size=4).map(tuple))
    dtype = draw(st.sampled_from(dtypes))
    a = draw(values(shape, dtype))
    return with_layout(a, draw(st.sampled_from(["C", "F", "reversed", "strided"])))


@given(writeable_arrays(), st.data())
def test_replace_matches_numpy_and_reference(a, data):
    pool = [0, 1, -1, 2.0, -0.0, np.nan, np.inf, 0.5, 20, -20]
    if a.size:
        pool.append(a.flat[0].item())
    old = data.draw(st.sampled_from(pool))
    new = data.draw(st.sampled_from([0, 7, -3.0, np.nan, np.inf, 1.25, 2**40]))
    ref = a.copy()
    try:
        slow.replace(ref, old, new)
    except ValueError as err:
        before = a.copy()
        with pytest.raises(ValueError) as info:
            cr.replace(a, old, new)
        assert str(info.value) == str(err)
        assert_same(np.asarray(a).copy(), before)
        return
    want = numpy_replace(a, old, new)
    assert cr.replace(a, old, new) is a
    assert_same(np.asarray(a).copy(), ref)
    np.testing.assert_array_equal(a, want)


@pytest.mark.parametrize("dtype", [*FALLBACK_DTYPES, ">f8", ">i8", ">f4", "complex128"])
def test_unsupported_types_are_replaced_by_the_reference(dtype):
    base = np.array([[1, 0, 1], [0, 0, 1]])
    a = base.astype(dtype)
    want = base.astype(dtype)
    slow.replace(want, 1, 0)
    assert cr.replace(a, 1, 0) is a
    assert_same(a, want)


def test_fallback_receives_the_call_unchanged(monkeypatch):
    seen = []

    def spy(*args, **kwargs):
        seen.append((args, kwargs))
        return "from slow"

    monkeypatch.setattr(slow, "replace", spy)
    half = np.ones(3, np.float16)
    big = np.ones(3, ">f8")
    assert cr.replace(half, 1, new=2) == "from slow"
    # Big-endian arrays go before old and new are read.
    assert cr.replace(a=big, old="x", new=None) == "from slow"
    assert seen == [((half, 1), {"new": 2}), ((), {"a": big, "old": "x", "new": None})]


def test_subclass_is_replaced_in_place():
    class Sub(np.ndarray):
        pass

    base = np.array([1.0, 2.0, 1.0])
    s = base.view(Sub)
    assert cr.replace(s, 1, 9) is s
    assert_same(base, np.array([9.0, 2.0, 9.0]))


def test_reference_counts_unchanged():
    a = np.array([1.0, np.nan, 0.0])
    i = np.array([1, 2, 3], np.int64)
    ro = a.copy()
    ro.flags.writeable = False
    half = a.astype(np.float16)
    old, new = 2**62, 5
    objs = (a, i, ro, half, old)
    before = [sys.getrefcount(o) for o in objs]
    for _ in range(300):
        cr.replace(a, np.nan, 0.0)
        cr.replace(i, old, new)
        cr.replace(a=i, old=old, new=new)
        cr.replace(half, 1, 0)
        for bad in (
            lambda: cr.replace(ro, 0, 1),
            lambda: cr.replace(i, 1.5, new),
            lambda: cr.replace(i, old, 2**64),
            lambda: cr.replace(a, "x", new),
            lambda: cr.replace(a, old, new, new=1),
        ):
            with pytest.raises((TypeError, ValueError)):
                bad()
    assert [sys.getrefcount(o) for o in objs] == before


@pytest.mark.parametrize("dtype", NATIVE_DTYPES)
def test_unaligned_arrays_are_replaced_in_place(dtype):
    base = np.array([[1, 0, 1], [0, 7, 1]], dtype)
    buf = np.zeros(base.nbytes + 1, np.uint8)
    u = np.ndarray(base.shape, base.dtype, buffer=buf, offset=1)
    u[...] = base
    assert not u.flags.aligned
    assert cr.replace(u, 1, 5) is u
    assert_same(np.array(u), numpy_replace(base, 1, 5))
