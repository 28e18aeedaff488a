"""Inputs beyond plain numeric arrays and plain arguments: masked arrays, object arrays,
datetimes and timedeltas, and argument objects whose conversion changes the array."""

from __future__ import annotations

import numpy as np
import pytest
from conftest import assert_same

import corvane as cr
import corvane.slow as slow

MOVING = ["move_sum", "move_mean", "move_std", "move_var", "move_min", "move_max",
          "move_argmin", "move_argmax", "move_median", "move_rank"]  # fmt: skip
REDUCING = ["nansum", "nanmean", "nanstd", "nanvar", "nanmin", "nanmax", "nanargmin",
            "nanargmax", "ss", "median", "nanmedian", "anynan", "allnan"]  # fmt: skip
PARAMS = ["move_quantile", "move_exp_nanmean", "move_exp_nansum", "move_exp_nanvar",
          "move_exp_nanstd", "move_exp_nancount"]  # fmt: skip
SLICEWISE = ["partition", "argpartition", "rankdata", "nanrankdata", "push"]
COMPUTING = REDUCING + MOVING + PARAMS + SLICEWISE

MASKED = "masked arrays are not supported: fill the masked values first, e.g. a.filled(np.nan)"


def calls(name: str) -> list[tuple[tuple, dict]]:
    """Arguments after `a` for a few calls of `name` on a 2-d array."""
    if name in MOVING:
        return [((2,), {}), ((3,), {"min_count": 1, "axis": 0})]
    if name == "move_quantile":
        return [((2, 0.25), {}), ((3, 0.5), {"min_count": 1, "axis": 0})]
    if name in PARAMS:
        return [((0.5,), {}), ((0.2, 0.3), {"axis": 0})]
    if name in ("partition", "argpartition"):
        return [((1,), {}), ((0,), {"axis": 0}), ((5, None), {})]
    if name == "push":
        return [((), {}), ((1,), {"axis": 0})]
    if name == "replace":
        return [((np.nan, 0.0), {}), ((2.0, -1.0), {})]
    return [((), {}), ((), {"axis": 0}), ((-1,), {})]


def outcome(f, a, args, kwargs) -> object:
    try:
        return f(a, *args, **kwargs)
    except (TypeError, ValueError) as e:
        return (type(e), str(e))


def assert_same_outcome(got: object, want: object) -> None:
    if isinstance(want, tuple):
        assert got == want
    else:
        assert_same(got, want)


# --- masked arrays ------------------------------------------------------------------


@pytest.mark.parametrize("dtype", ["float64", "int32", "float16"])  # native and fallback
@pytest.mark.parametrize("name", [*COMPUTING, "replace"])
def test_masked_elements_are_refused_before_anything_is_written(name, dtype):
    data = np.array([[1, 0, 3, 2], [4, 5, 2, 0], [7, 1, 2, 2]], dtype)
    for mod in (cr, slow):
        f = getattr(mod, name)
        for args, kwargs in calls(name):
            m = np.ma.masked_array(data.copy(), mask=data == 5)
            with pytest.raises(TypeError) as info:
                f(m, *args, **kwargs)
            assert str(info.value) == MASKED
            np.testing.assert_array_equal(m.data, data)
            # Without a masked element the array's data is computed on.
            m = np.ma.masked_array(data.copy(), mask=False)
            plain = data.copy()
            got, want = f(m, *args, **kwargs), f(plain, *args, **kwargs)
            if name == "replace":
                assert got is m
                np.testing.assert_array_equal(m.data, plain)
            else:
                assert_same(got, want)


# --- object arrays ------------------------------------------------------------------


NUMBERS = np.array(
    [[True, 2.5, None, 1, np.float32(0.5)],
     [np.int8(-3), np.nan, 7, 2**40, -0.0],
     [np.uint64(2**63), np.bool_(False), np.float16(4), 1e300, np.longdouble(0.25)]],
    dtype=object,
)  # fmt: skip


@pytest.mark.parametrize("name", COMPUTING)
def test_object_arrays_of_numbers_are_computed_as_float64(name):
    assert np.isnan(NUMBERS.astype(np.float64)[0, 2])  # None is NaN
    for o in (NUMBERS, np.asfortranarray(NUMBERS), NUMBERS[:, ::-2]):
        f64 = o.astype(np.float64)
        for mod in (cr, slow):
            f = getattr(mod, name)
            for args, kwargs in calls(name):
                want = outcome(f, f64, args, kwargs)
                assert_same_outcome(outcome(f, o, args, kwargs), want)
    # A list holding None becomes an object array of numbers as well.
    assert_same_outcome(outcome(getattr(cr, name), [[1, None, 2.5, 4]], (), {}),
                        outcome(getattr(cr, name), [[1, np.nan, 2.5, 4]], (), {}))  # fmt: skip


@pytest.mark.parametrize("name", [*COMPUTING, "replace"])
def test_object_arrays_of_other_things_are_refused(name):
    for element, type_name in [("x", "str"), (1j, "complex"), (np.timedelta64(1), "timedelta64"),
                               (np.array([1.0]), "ndarray"), (np.str_("1"), "str_")]:  # fmt: skip
        o = np.array([[1.0, None, 2, 3], [4, 5, element, 6], [1j, 0, 0, 0]], dtype=object)
        o[2, 0] = 1.0
        before = o.copy()
        for mod in (cr, slow):
            with pytest.raises(TypeError) as info:
                getattr(mod, name)(o, *calls(name)[0][0])
            assert str(info.value) == f"object arrays must hold numbers only, got {type_name}"
            assert all(x is y for x, y in zip(o.flat, before.flat, strict=True))


def test_replace_works_on_the_objects_themselves():
    nan = float("nan")
    for mod in (cr, slow):
        o = np.array([1, None, nan, 2.0, True, np.float32(nan), 2**70], dtype=object)
        assert mod.replace(o, np.nan, 0) is o
        assert o.tolist() == [1, 0, 0, 2.0, True, 0, 2**70]
        mod.replace(o, 1, -1)  # Python's ==: True == 1, and big integers exactly
        assert o.tolist() == [-1, 0, 0, 2.0, -1, 0, 2**70]
        mod.replace(o, 2**70, 5.5)
        assert o.tolist() == [-1, 0, 0, 2.0, -1, 0, 5.5]


# --- NaT ----------------------------------------------------------------------------


@pytest.mark.parametrize("dtype", ["m8[s]", "M8[D]", "m8[ns]"])
def test_nat_is_the_nan_of_datetimes(dtype):
    rng = np.random.default_rng(5)
    x = rng.integers(-9, 9, (4, 7)).astype(np.float64)
    x[rng.random(x.shape) < 0.3] = np.nan
    x[3] = np.nan  # one slice with no value
    d = x.astype(dtype)
    assert (np.isnat(d) == np.isnan(x)).all()
    for f in (cr, slow):  # (datetimes are answered by corvane.slow)
        for axis in (None, 0, 1):
            for name in ("nanrankdata", "nanargmin", "nanargmax"):
                got = outcome(getattr(f, name), d, (axis,), {})
                assert_same_outcome(got, outcome(getattr(f, name), x, (axis,), {}))
            # Each NaT is a group of its own after the values (in no fixed order).
            got, want = f.rankdata(d, axis), f.rankdata(x, axis)
            missing = np.isnan(x).ravel() if axis is None else np.isnan(x)
            assert_same(np.where(missing, 0, got), np.where(missing, 0, want))
            assert_same(np.sort(got, axis=-1 if axis is None else axis),
                        np.sort(want, axis=-1 if axis is None else axis))  # fmt: skip
        for axis in (0, 1):
            for name in ("nanmin", "nanmax"):
                assert_same(getattr(f, name)(d, axis), getattr(f, name)(x, axis).astype(dtype))
            assert_same(f.push(d, 2, axis), f.push(x, 2, axis).astype(dtype))
            for k in (0, 3):
                assert_same(f.argpartition(d, k, axis), f.argpartition(x, k, axis))
                assert_same(f.partition(d, k, axis), f.partition(x, k, axis).astype(dtype))
        assert f.nanmin(d) == np.nanmin(x).astype(dtype)
        assert f.nanmax(d) == np.nanmax(x).astype(dtype)
        assert np.isnat(f.nanmax(d[3]))
        if dtype[0] == "m":
            ok = ~np.isnan(x)
            assert_same(f.nansum(d, 1), np.where(ok, x, 0).sum(1).astype(dtype))
            assert f.nanmean(d) == np.mean(x[ok]).astype(dtype)
            assert np.isnat(f.nanmean(d, 1)[3])
            assert f.nanmedian(d) == np.nanmedian(x).astype(dtype)
            assert np.isnat(f.median(d))
        e = d.copy()
        assert f.replace(e, np.nan, 0) is e
        assert_same(e, np.where(np.isnan(x), 0, x).astype(dtype))


# --- argument objects that change the array -------------------------------------------


class Hostile:
    """A number whose conversion first does something to an array (by __index__ and
    __float__ alike)."""

    def __init__(self, value: float, act) -> None:
        self.value, self.act = value, act

    def __index__(self) -> int:
        self.act()
        return int(self.value)

    def __float__(self) -> float:
        self.act()
        return float(self.value)


def _fresh(dtype: str) -> np.ndarray:
    """A (2, 3, 4) view into a buffer of its own, with NaNs in the float case."""
    base = np.arange(24).astype(dtype)[::-1].copy()
    if base.dtype.kind == "f":
        base[[2, 3, 11, 17]] = np.nan
    return base[:].reshape(2, 3, 4)


# Each may run more than once (a fallback converts the arguments again) to the same end.
RETYPED = {"float64": "float32", "int64": "int32", "float32": "int16", "int32": "float32"}
ACTIONS = {
    "reshape": lambda a: setattr(a, "shape", (a.size,)),
    "transpose": lambda a: setattr(a, "shape", (4, 3, 2)),
    "retype": lambda a: setattr(a, "dtype", RETYPED[a.base.dtype.name]),
    "freeze": lambda a: setattr(a.flags, "writeable", False),
}
HOSTILE_CALLS = [
    ("partition", (1, -1), [0, 1]),
    ("argpartition", (2, 0), [0, 1]),
    ("rankdata", (1,), [0]),
    ("nanrankdata", (-1,), [0]),
    ("push", (1, 1), [0, 1]),
    ("push", (None, -1), [1]),
    ("replace", (3, 1), [0, 1]),
    ("replace", (np.nan, 7), [0, 1]),
    ("move_quantile", (2, 0.25, 1, -1), [0, 1, 2, 3]),
    ("move_exp_nanvar", (0.5, 0.1, -1), [0, 1, 2]),
]


@pytest.mark.parametrize("dtype", ["float64", "int64", "float32", "int32"])
@pytest.mark.parametrize("action", ACTIONS)
@pytest.mark.parametrize(("name", "args", "hostile"), HOSTILE_CALLS)
def test_arguments_that_change_the_array(name, args, hostile, action, dtype):
    # The outcome must be what the same call gives on the changed array with plain
    # arguments: run under AddressSanitizer this also shows that nothing is read or
    # written outside the array.
    for where in hostile:
        a = _fresh(dtype)
        clean = _fresh(dtype)
        ACTIONS[action](clean)
        want = outcome(getattr(cr, name), clean, args, {})
        call = list(args)
        call[where] = Hostile(args[where], lambda a=a: ACTIONS[action](a))
        got = outcome(getattr(cr, name), a, call, {})
        assert_same_outcome(got, want)
        if name == "replace":
            assert_same(a, clean)


class RaisingKey(str):
    """A keyword whose comparison raises, so that looking it up fails."""

    __hash__ = str.__hash__

    def __eq__(self, other: object) -> bool:
        raise LookupError(str(self))


@pytest.mark.parametrize(
    ("name", "args", "keys"),
    [
        ("nanvar", (), ["axis", "ddof"]),
        ("move_mean", (2,), ["min_count", "axis"]),
        ("move_var", (2,), ["axis", "ddof"]),
        ("push", (), ["n", "axis"]),
        ("move_quantile", (2, 0.5), ["min_count", "axis"]),
    ],
)
def test_a_failed_keyword_lookup_is_the_error(name, args, keys):
    # The first failure ends the parsing: no further lookup runs with it pending.
    with pytest.raises(LookupError, match=f"^{keys[0]}$"):
        getattr(cr, name)(np.arange(6.0), *args, **{RaisingKey(k): 1 for k in keys})
