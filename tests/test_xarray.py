"""The ``.corvane`` accessor: dimension names for axes, coordinates and attributes
kept where the dimension survives, numpy data eagerly and dask data lazily."""

from __future__ import annotations

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
    ],
)  # fmt: skip
@pytest.mark.parametrize("dim", ["time", "x"])
def test_along_a_dimension(arr, name, params, dim):
    res = lazy_if_dask(arr, getattr(arr.corvane, name)(dim=dim, **params))
    want = getattr(cr, name)(A, axis=arr.get_axis_num(dim), **params)
    np.testing.assert_allclose(res.values, want, rtol=1e-12, equal_nan=True)
    assert res.dims == arr.dims and res.attrs == arr.attrs
    xr.testing.assert_identical(res.coords.to_dataset(), arr.coords.to_dataset().compute())


@pytest.mark.parametrize("name", ["nansum", "nanstd", "nanargmax", "nanmedian", "anynan"])
def test_reductions(arr, name):
    f = getattr(arr.corvane, name)
    by_time = lazy_if_dask(arr, f("time"))
    np.testing.assert_allclose(by_time.values, getattr(cr, name)(A, axis=1), rtol=1e-12)
    assert by_time.dims == ("x",) and list(by_time.coords) == ["x", "label"]
    assert by_time.attrs == {}
    assert f("time", keep_attrs=True).attrs == {"units": "m"}
    # No dimension (or all of them) reduces everything, in the array's own order.
    for everything in (f(), f(("time", "x"))):
        res = lazy_if_dask(arr, everything)
        assert res.dims == ()
        np.testing.assert_allclose(res.values, getattr(cr, name)(A), rtol=1e-12)


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
