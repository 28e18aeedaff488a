"""corvane.dask against the eager functions: random chunkings, exact argument errors,
data-dependent errors at compute time, and graphs that never touch the data early."""

from __future__ import annotations

import numpy as np
import pytest
from conftest import NATIVE_DTYPES, values
from hypothesis import given
from hypothesis import strategies as st

da = pytest.importorskip("dask.array")
dask = pytest.importorskip("dask")

import test_bfill  # noqa: E402
import test_move  # noqa: E402
import test_move_params  # noqa: E402
import test_quantile  # noqa: E402
import test_reduce  # noqa: E402
import test_slicewise  # noqa: E402

import corvane as cr  # noqa: E402
import corvane.dask as crd  # noqa: E402

DTYPES = (*NATIVE_DTYPES, "int16")  # int16: answered by corvane.slow chunk by chunk
REDUCE = [
    "nansum", "nanmean", "nanstd", "nanvar", "nanmin", "nanmax", "nanargmin",
    "nanargmax", "ss", "median", "nanmedian", "anynan", "allnan", "quantile", "nanquantile",
]  # fmt: skip
MOVE = [*test_move.MOVE, "move_quantile"]
EXP = test_move_params.EXP
QS = st.one_of(st.floats(0, 1), st.lists(st.floats(0, 1), min_size=1, max_size=3))
# Results that may differ from the eager ones by rounding (sums restart per chunk).
ROUNDED = {"nansum", "nanmean", "nanstd", "nanvar", "ss", *test_move.ROUNDED}
SQUARED = {"nanvar", "ss", "move_var"}


@pytest.fixture(autouse=True, scope="module")
def synchronous():
    with dask.config.set(scheduler="synchronous"):
        yield


@st.composite
def chunked(draw, min_side=0, max_dims=3, dtypes=DTYPES):
    """A random array and a random chunking of it: single chunks, all length-1 chunks,
    or random cuts."""
    shape = tuple(draw(st.lists(st.integers(min_side, 9), min_size=1, max_size=max_dims)))
    a = draw(values(shape, draw(st.sampled_from(dtypes))))
    chunks = []
    for n in shape:
        style = draw(st.sampled_from(["one", "ones", "cuts", "cuts"]))
        if n <= 1 or style == "one":
            chunks.append((n,))
        elif style == "ones":
            chunks.append((1,) * n)
        else:
            cuts = sorted(draw(st.sets(st.integers(1, n - 1), max_size=n - 1)))
            bounds = [0, *cuts, n]
            chunks.append(tuple(b - a for a, b in zip(bounds[:-1], bounds[1:], strict=True)))
    return a, da.from_array(a, chunks=tuple(chunks))


def check(name: str, a: np.ndarray, lazy, want) -> None:
    """The computed dask result equals the eager one: exactly, or within rounding for
    sums and moments (scaled by the data's magnitude and the number of terms)."""
    got = lazy.compute()
    assert got.dtype == lazy.dtype and got.shape == lazy.shape
    want = np.asarray(want)
    if isinstance(want, np.ndarray) and want.ndim:
        assert got.dtype == want.dtype, (got.dtype, want.dtype)
    assert got.shape == want.shape
    if name not in ROUNDED or want.dtype.kind in "iub":
        np.testing.assert_array_equal(got, want)
        return
    finite = np.abs(a[np.isfinite(a)].astype(np.float64)) if a.size else np.zeros(1)
    scale = (finite.max() if finite.size else 1.0) ** (2 if name in SQUARED else 1)
    eps = np.finfo(np.float32 if a.dtype == np.float32 else np.float64).eps
    tol = 8 * eps * max(a.size, 1) * max(scale, 1.0)
    if name in {"nanstd", "move_std"}:
        tol = np.sqrt(tol)
    np.testing.assert_allclose(got, want, rtol=8 * eps, atol=tol, equal_nan=True)


@given(chunked(), st.data())
def test_reductions(case, data):
    a, x = case
    name = data.draw(st.sampled_from(REDUCE))
    axis = data.draw(st.sampled_from([None, *range(-a.ndim, a.ndim)]))
    params = {"axis": axis}
    if name in ("nanstd", "nanvar"):
        params["ddof"] = data.draw(st.integers(-1, 2))
    if name.endswith("quantile"):
        params["q"] = data.draw(QS)
    try:
        want = getattr(cr, name)(a, **params)
    except ValueError as e:
        with pytest.raises(ValueError) as info:
            getattr(crd, name)(x, **params).compute()
        assert str(info.value) == str(e)
        return
    check(name, a, getattr(crd, name)(x, **params), want)


@given(chunked(min_side=1), st.data())
def test_moving_windows(case, data):
    a, x = case
    name = data.draw(st.sampled_from([*MOVE, *EXP]))
    axis = data.draw(st.integers(-a.ndim, a.ndim - 1))
    if name in EXP:
        alpha = data.draw(st.floats(0.01, 1))
        params = {"alpha": alpha, "min_weight": data.draw(st.sampled_from([0, 0.3])), "axis": axis}
        check(name, a, getattr(crd, name)(x, **params), getattr(cr, name)(a, **params))
        return
    window = data.draw(st.integers(1, a.shape[axis]))
    params = {"window": window, "axis": axis}
    params["min_count"] = data.draw(st.one_of(st.none(), st.integers(1, window)))
    if name in ("move_std", "move_var"):
        params["ddof"] = data.draw(st.integers(0, 1))
    if name == "move_quantile":
        params["q"] = data.draw(st.floats(0, 1))
    check(name, a, getattr(crd, name)(x, **params), getattr(cr, name)(a, **params))


@given(chunked(), st.data())
def test_slicewise_and_replace(case, data):
    a, x = case
    name = data.draw(st.sampled_from(["partition", "argpartition", "rankdata", "nanrankdata",
                                      "push", "bfill", "replace"]))  # fmt: skip
    if name == "replace":
        old = data.draw(st.sampled_from([np.nan, 0, 1, -1]))
        want = cr.replace(a.copy(), old, 7)
        check(name, a, crd.replace(x, old, 7), want)
        assert_source_untouched(a, x)
        return
    axis = data.draw(st.sampled_from([None, *range(-a.ndim, a.ndim)]))
    if name in ("push", "bfill"):
        if axis is None:
            return
        params = {"axis": axis, "n": data.draw(st.one_of(st.none(), st.integers(0, 10)))}
    elif name in ("partition", "argpartition"):
        length = a.size if axis is None else a.shape[axis]
        if length == 0:
            return
        params = {"axis": axis, "kth": data.draw(st.integers(0, length - 1))}
    else:
        params = {"axis": axis}
    check(name, a, getattr(crd, name)(x, **params), getattr(cr, name)(a, **params))


def assert_source_untouched(a: np.ndarray, x) -> None:
    # The blocks of from_array are views of `a`: a lazy replace must not write to them.
    np.testing.assert_array_equal(x.compute(), a)


def test_gaps_cross_many_chunks():
    a = np.full(40, np.nan)
    a[[0, 37]] = [1.0, 2.0]
    x = da.from_array(a, chunks=3)
    for fill in ("push", "bfill"):
        for n in (None, 30):
            got = getattr(crd, fill)(x, n=n).compute()
            np.testing.assert_array_equal(got, getattr(cr, fill)(a, n=n))


def test_integer_sums_wrap_in_their_type():
    a = np.full(10, 2**30, np.int32)
    x = da.from_array(a, chunks=3)
    assert crd.nansum(x).compute() == cr.nansum(a) == np.int32(2**30 * 10 % 2**32 - 2**32)
    assert crd.nansum(x).dtype == np.int32


def test_float32_partials_are_carried_in_float64():
    # 2**24 + 1 + 1 + ...: float32 steps of one would be lost; carried in float64
    # the total is exact, then rounded once.
    a = np.array([2.0**24] + [1.0] * 8, np.float32)
    got = crd.nansum(da.from_array(a, chunks=1)).compute()
    assert got.dtype == np.float32 and got == np.float32(2.0**24 + 8)


def test_nanargmin_of_all_nan_slice_fails_on_compute():
    a = np.array([[np.nan, 1.0], [np.nan, np.nan]])
    lazy = crd.nanargmax(da.from_array(a, chunks=1), axis=1)  # built without error
    with pytest.raises(ValueError, match=r"^All-NaN slice encountered$"):
        lazy.compute()
    # An all-NaN chunk is fine while another chunk of the slice holds a value.
    b = np.array([[np.nan, 1.0], [3.0, np.nan]])
    assert crd.nanargmax(da.from_array(b, chunks=1), axis=0).compute().tolist() == [1, 0]
    assert crd.nanargmin(da.from_array(a, chunks=1)).compute() == 1


def arg_error_cases():
    """The eager modules' argument-error cases that concern values, not the call form."""
    for name, args, kwargs, exc, msg in (
        test_reduce.ARG_ERRORS
        + test_move.ARG_ERRORS
        + test_slicewise.ARG_ERRORS
        + test_quantile.ARG_ERRORS
        + test_bfill.ARG_ERRORS
        + test_move_params.ARG_ERRORS
    ):
        if not msg.startswith(("wrong number", "Cannot find")):
            yield pytest.param(name, args, kwargs, exc, msg, id=f"{name}-{msg}")
    for old, new, exc, msg in [
        ("x", 1, TypeError, "`old` must be a number"),
        (0, [1], TypeError, "`new` must be a number"),
        (0, 1.5, ValueError, "Cannot safely cast `new` to int"),
    ]:
        a = np.zeros((2, 3), np.int32)
        yield pytest.param("replace", (a, old, new), {}, exc, msg, id=f"replace-{msg}")


@pytest.mark.parametrize(("name", "args", "kwargs", "exc", "msg"), arg_error_cases())
def test_argument_errors_when_the_graph_is_built(name, args, kwargs, exc, msg):
    def lazy(v):
        return da.from_array(v, chunks=1) if isinstance(v, np.ndarray) else v

    # Only the data goes lazy; an array q stays an argument.
    args = (lazy(args[0]), *args[1:]) if args else args
    kwargs = {k: lazy(v) if k == "a" else v for k, v in kwargs.items()}
    with pytest.raises(exc) as info:
        getattr(crd, name)(*args, **kwargs)
    assert str(info.value) == msg


def test_graphs_are_built_without_touching_the_data():
    # 8 TB of float64 in 1000 chunks: building reads shapes only, and each graph has
    # a number of tasks proportional to the number of chunks.
    x = da.zeros((1000, 10**9), chunks=(1, 10**9))
    calls = {
        "nanstd": {"axis": 1}, "nanargmax": {"axis": None}, "median": {"axis": 1},
        "move_median": {"window": 10**6, "axis": 1}, "push": {"n": 3, "axis": 0},
        "partition": {"kth": 10**6, "axis": None}, "rankdata": {"axis": 1},
        "replace": {"old": 0, "new": 1}, "nanquantile": {"q": [0.1, 0.9], "axis": 1},
        "bfill": {"axis": 0}, "move_exp_nanvar": {"alpha": 0.1, "axis": 1},
    }  # fmt: skip
    for name, params in calls.items():
        lazy = getattr(crd, name)(x, **params)
        assert len(lazy.__dask_graph__()) < 10 * x.npartitions, name
    with pytest.raises(ValueError, match="must between 1 and 1000000000"):
        crd.move_mean(x, 10**9 + 1)


def test_numpy_input_is_answered_eagerly():
    a = np.array([[1.0, np.nan], [3.0, 4.0]])
    assert crd.nansum(a) == cr.nansum(a) == 8.0
    np.testing.assert_array_equal(crd.move_max(a, 2, axis=0), cr.move_max(a, 2, axis=0))
