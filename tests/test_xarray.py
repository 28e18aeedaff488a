"""The ``.corvane`` accessor: dimension names for axes, coordinates and attributes
kept where the dimension survives, numpy data eagerly and dask data lazily."""

from __future__ import annotations

from functools import partial

import numpy as np
import pytest

xr = pytest.importorskip("xarray")
pytest.importorskip("dask.array")

import corvane as cr  # noqa: E402
import corvane.xarray  # noqa: E402, F401  (registers the accessor)

A = np.random.default_rng(3).standard_normal((4, 7))
A[1, 2] = A[3, 0] = np.nan


@pytest.fixture(params=["numpy", "dask"])
def arr(request):
    d = xr.DataArray(
        A,
        dims=("x", "time"),
        coords={"time": np.arange(7), "x": list("abcd"), "label": ("x", [5, 6, 7, 8])},
        attrs={"units": "m"},
        name="v",
    )
    return d.chunk({"time": 3}) if request.param == "dask" else d


def lazy_if_dask(arr, res):
    assert (res.chunks is not None) == (arr.chunks is not None)
    return res.compute()


@pytest.mark.parametrize(
    ("name", "params"),
    [
        ("move_mean", {"window": 3}), ("move_median", {"window": 2, "min_count": 1}),
        ("move_std", {"window": 3, "ddof": 1}), ("push", {"n": 1}),
        ("partition", {"kth": 2}), ("rankdata", {}), ("nanrankdata", {}),
        ("bfill", {"n": 1}), ("move_quantile", {"window": 3, "q": 0.3, "min_count": 1}),
        ("move_exp_nanstd", {"alpha": 0.4, "min_weight": 0.5}),
    ],
)  # fmt: skip
@pytest.mark.parametrize("dim", ["time", "x"])
def test_along_a_dimension(arr, name, params, dim):
    res = lazy_if_dask(arr, getattr(arr.corvane, name)(dim=dim, **params))
    want = getattr(cr, name)(A, axis=arr.get_axis_num(dim), **params)
    np.testing.assert_allclose(res.values, want, rtol=1e-12, equal_nan=True)
    assert res.dims == arr.dims and res.attrs == arr.attrs
    xr.testing.assert_identical(res.coords.to_dataset(), arr.coords.to_dataset().compute())


@pytest.mark.parametrize(
    "name", ["nansum", "nanstd", "nanargmax", "nanmedian", "anynan", "nanquantile"]
)
def test_reductions(arr, name):
    f = getattr(arr.corvane, name)
    if name == "nanquantile":
        f = partial(f, 0.3)  # a single q: reduced as the others, a scalar coordinate
        cr_func = partial(cr.nanquantile, q=0.3)
    else:
        cr_func = getattr(cr, name)
    by_time = lazy_if_dask(arr, f("time"))
    np.testing.assert_allclose(by_time.values, cr_func(A, axis=1), rtol=1e-12)
    assert by_time.dims == ("x",)
    assert set(by_time.coords) == {"x", "label"} | (
        {"quantile"} if name == "nanquantile" else set()
    )
    assert by_time.attrs == {}
    assert f("time", keep_attrs=True).attrs == {"units": "m"}
    # No dimension (or all of them) reduces everything, in the array's own order.
    for everything in (f(), f(("time", "x"))):
        res = lazy_if_dask(arr, everything)
        assert res.dims == ()
        np.testing.assert_allclose(res.values, cr_func(A), rtol=1e-12)


@pytest.mark.parametrize("dim", [None, "time", ("x", "time")])
def test_several_quantiles_lead_with_their_coordinate(arr, dim):
    q = [0.1, 0.5, 0.9]
    res = lazy_if_dask(arr, arr.corvane.nanquantile(q, dim))
    want = arr.compute().quantile(q, dim)  # xarray's own: linear, NaNs skipped
    assert res.dims == want.dims and res.dims[0] == "quantile"
    np.testing.assert_array_equal(res["quantile"].values, q)
    np.testing.assert_allclose(res.values, want.values, rtol=1e-12)
    assert float(arr.corvane.quantile(0.5, "time")["quantile"]) == 0.5


def test_element_types_and_several_dimensions(arr):
    ints = arr.fillna(0).astype(np.int32)
    assert ints.corvane.nansum().dtype == np.int32  # as eagerly, not widened
    cube = arr.expand_dims(z=2).copy()
    res = cube.corvane.nanmean(["z", "time"]).compute()
    np.testing.assert_allclose(res.values, cr.nanmean(np.concatenate([A, A], axis=1), axis=1))


def test_replace_returns_a_new_array(arr):
    before = arr.values.copy()
    res = lazy_if_dask(arr, arr.corvane.replace(np.nan, -1.0))
    assert not np.isnan(res.values).any() and (res.values == -1).sum() == 2
    np.testing.assert_array_equal(arr.values, before)


def test_unknown_dimension_and_bad_arguments(arr):
    with pytest.raises(ValueError, match="'lat' not found in array dimensions"):
        arr.corvane.move_mean(2, dim="lat")
    with pytest.raises(ValueError, match=r"^Moving window \(=9\) must between 1 and 7"):
        arr.corvane.move_mean(9, dim="time")
