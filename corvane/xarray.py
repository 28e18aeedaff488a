"""The ``.corvane`` accessor on xarray DataArrays, registered when this module is imported.

::

    import corvane.xarray  # noqa: F401  (registers the accessor)

    da.corvane.move_mean(10, dim="time")
    da.corvane.nanmedian(dim=("lat", "lon"))
    da.corvane.push(n=3, dim="time")

Every function of :mod:`corvane` is a method taking the function's own parameters,
with ``dim`` in place of ``axis``:

* reductions take ``dim=None`` (all dimensions, as xarray's own reductions do), one
  dimension name or several; the reduced dimensions and their coordinates go;
  ``quantile`` and ``nanquantile`` add a ``quantile`` coordinate as xarray's own
  ``quantile`` does (a leading dimension for a sequence of them);
* moving windows, ``push``, ``bfill``, ``partition`` and ``argpartition`` need the dimension
  named (keyword ``dim``, like ``ffill``); the result has the input's dimensions,
  coordinates and attributes;
* ``rankdata`` and ``nanrankdata`` with ``dim=None`` rank over all elements and keep
  the array's shape; ``replace`` returns a new DataArray.

Numpy-backed data goes to :mod:`corvane`, dask-backed data to :mod:`corvane.dask`
(the result stays lazy).  Attributes follow xarray's ``keep_attrs`` option: by
default reductions drop them and the other methods keep them.
"""

from __future__ import annotations

from collections.abc import Callable, Hashable, Iterable
from typing import TYPE_CHECKING, Any

import numpy as np
import xarray as xr

import corvane

if TYPE_CHECKING:  # the aliases only: corvane's namespace stays public names
    from corvane._typing import Quantile, Quantiles

__all__ = ["CorvaneAccessor"]

Dims = Hashable | Iterable[Hashable] | None


def _functions(obj: xr.DataArray) -> Any:
    """corvane.dask for dask-backed data, corvane for the rest."""
    if obj.chunks is not None:
        import corvane.dask as lazy

        return lazy
    return corvane


def _keep_attrs(keep_attrs: bool | None, default: bool) -> bool:
    option = xr.get_options()["keep_attrs"]
    if keep_attrs is not None:
        return keep_attrs
    return default if option == "default" else bool(option)


def _whole_type(name: str, dtype: np.dtype[Any], params: dict[str, Any]) -> np.dtype[Any]:
    """Element type of the eager result along an axis (whole-array ones are Python scalars)."""
    res = getattr(corvane, name)(np.zeros((1, 1), dtype), axis=1, **params)
    return np.asarray(res).dtype


@xr.register_dataarray_accessor("corvane")
class CorvaneAccessor:
    """corvane's functions on a DataArray, dimensions by name (``da.corvane.nansum()``)."""

    def __init__(self, obj: xr.DataArray) -> None:
        self._obj = obj

    # --- the three shapes of call -------------------------------------------------

    def _reduce(
        self,
        name: str,
        dim: Dims,
        keep_attrs: bool | None,
        new_dims: tuple[Hashable, ...] = (),
        **params: Any,
    ) -> xr.DataArray:
        """``name`` over ``dim``; ``new_dims``: dimensions the function puts first in
        its result (a sequence of quantiles)."""
        obj = self._obj
        if dim is None:
            dims = list(obj.dims)
        elif isinstance(dim, str) or not isinstance(dim, Iterable):
            dims = [dim]
        else:
            dims = list(dim)
        for d in dims:
            obj.get_axis_num(d)  # xarray's own error for an unknown name
        everything = set(dims) == set(obj.dims)
        if everything:
            dims = list(obj.dims)  # ravel in the array's own order
        funcs = _functions(obj)
        func = getattr(funcs, name)
        scalar_type = _whole_type(name, obj.dtype, params)

        def reduce(data: Any) -> Any:
            if everything:
                res = func(data, axis=None, **params)
                return res if funcs is not corvane else np.asarray(res, scalar_type)
            if len(dims) > 1:
                data = data.reshape((*data.shape[: -len(dims)], -1))
            return func(data, axis=-1, **params)

        def apply(data: Any) -> Any:
            # apply_ufunc wants the new dimensions last.
            res = reduce(data)
            return np.moveaxis(res, range(len(new_dims)), range(-len(new_dims), 0))

        res = xr.apply_ufunc(
            apply,
            obj,
            input_core_dims=[dims],
            output_core_dims=[list(new_dims)],
            dask="allowed",
            keep_attrs=_keep_attrs(keep_attrs, default=False),
        )
        return res.transpose(*new_dims, ...) if new_dims else res

    def _quantile(self, name: str, q: Any, dim: Dims, keep_attrs: bool | None) -> xr.DataArray:
        # As xarray's own quantile: q becomes the ``quantile`` coordinate, a leading
        # dimension for a sequence, a scalar coordinate for one value.
        several = np.ndim(q) == 1
        res = self._reduce(name, dim, keep_attrs, ("quantile",) if several else (), q=q)
        return res.assign_coords(quantile=np.asarray(q, np.float64) if several else q)

    def _along(
        self,
        name: str,
        dim: Hashable,
        keep_attrs: bool | None,
        **params: Any,
    ) -> xr.DataArray:
        obj = self._obj
        obj.get_axis_num(dim)
        func = getattr(_functions(obj), name)
        res = xr.apply_ufunc(
            func,
            obj,
            input_core_dims=[[dim]],
            output_core_dims=[[dim]],
            kwargs={**params, "axis": -1},
            dask="allowed",
            keep_attrs=_keep_attrs(keep_attrs, default=True),
        )
        return res.transpose(*obj.dims)

    def _whole(self, name: str, keep_attrs: bool | None, **params: Any) -> xr.DataArray:
        """An element-wise or all-elements result in the array's own shape."""
        obj = self._obj
        func: Callable[..., Any] = getattr(_functions(obj), name)
        shape = obj.shape

        def apply(data: Any) -> Any:
            if name == "replace":
                # The eager replace works in place: a copy keeps the caller's data.
                return func(data if obj.chunks is not None else np.array(data), **params)
            return func(data, axis=None, **params).reshape(shape)

        return xr.apply_ufunc(
            apply, obj, dask="allowed", keep_attrs=_keep_attrs(keep_attrs, default=True)
        )

    # --- reductions ---------------------------------------------------------------

    def nansum(self, dim: Dims = None, *, keep_attrs: bool | None = None) -> xr.DataArray:
        """Sum over ``dim`` (default: all dimensions), NaNs as zero."""
        return self._reduce("nansum", dim, keep_attrs)

    def nanmean(self, dim: Dims = None, *, keep_attrs: bool | None = None) -> xr.DataArray:
        """Mean over ``dim`` ignoring NaNs."""
        return self._reduce("nanmean", dim, keep_attrs)

    def nanstd(
        self, dim: Dims = None, ddof: int = 0, *, keep_attrs: bool | None = None
    ) -> xr.DataArray:
        """Standard deviation over ``dim`` ignoring NaNs, divisor ``N - ddof``."""
        return self._reduce("nanstd", dim, keep_attrs, ddof=ddof)

    def nanvar(
        self, dim: Dims = None, ddof: int = 0, *, keep_attrs: bool | None = None
    ) -> xr.DataArray:
        """Variance over ``dim`` ignoring NaNs, divisor ``N - ddof``."""
        return self._reduce("nanvar", dim, keep_attrs, ddof=ddof)

    def nanmin(self, dim: Dims = None, *, keep_attrs: bool | None = None) -> xr.DataArray:
        """Minimum over ``dim`` ignoring NaNs."""
        return self._reduce("nanmin", dim, keep_attrs)

    def nanmax(self, dim: Dims = None, *, keep_attrs: bool | None = None) -> xr.DataArray:
        """Maximum over ``dim`` ignoring NaNs."""
        return self._reduce("nanmax", dim, keep_attrs)

    def nanargmin(self, dim: Dims = None, *, keep_attrs: bool | None = None) -> xr.DataArray:
        """Position of the first minimum over ``dim`` ignoring NaNs; over several
        dimensions, the flat (C-order) position in them."""
        return self._reduce("nanargmin", dim, keep_attrs)

    def nanargmax(self, dim: Dims = None, *, keep_attrs: bool | None = None) -> xr.DataArray:
        """Position of the first maximum over ``dim`` ignoring NaNs; over several
        dimensions, the flat (C-order) position in them."""
        return self._reduce("nanargmax", dim, keep_attrs)

    def ss(self, dim: Dims = None, *, keep_attrs: bool | None = None) -> xr.DataArray:
        """Sum of squares over ``dim``."""
        return self._reduce("ss", dim, keep_attrs)

    def median(self, dim: Dims = None, *, keep_attrs: bool | None = None) -> xr.DataArray:
        """Median over ``dim``; NaN where a NaN is present.  On dask data the reduced
        dimensions are brought into one chunk (all of the array for ``dim=None``)."""
        return self._reduce("median", dim, keep_attrs)

    def nanmedian(self, dim: Dims = None, *, keep_attrs: bool | None = None) -> xr.DataArray:
        """Median over ``dim`` ignoring NaNs.  On dask data the reduced dimensions are
        brought into one chunk (all of the array for ``dim=None``)."""
        return self._reduce("nanmedian", dim, keep_attrs)

    def quantile(
        self, q: Quantile | Quantiles, dim: Dims = None, *, keep_attrs: bool | None = None
    ) -> xr.DataArray:
        """The ``q``-th quantile over ``dim``, NumPy's linear method; NaN where a NaN is
        present.  A sequence ``q`` gives a leading ``quantile`` dimension, a single one
        a scalar ``quantile`` coordinate.  On dask data the reduced dimensions are
        brought into one chunk (all of the array for ``dim=None``)."""
        return self._quantile("quantile", q, dim, keep_attrs)

    def nanquantile(
        self, q: Quantile | Quantiles, dim: Dims = None, *, keep_attrs: bool | None = None
    ) -> xr.DataArray:
        """As ``quantile``, ignoring NaNs."""
        return self._quantile("nanquantile", q, dim, keep_attrs)

    def anynan(self, dim: Dims = None, *, keep_attrs: bool | None = None) -> xr.DataArray:
        """Whether any value over ``dim`` is NaN."""
        return self._reduce("anynan", dim, keep_attrs)

    def allnan(self, dim: Dims = None, *, keep_attrs: bool | None = None) -> xr.DataArray:
        """Whether every value over ``dim`` is NaN."""
        return self._reduce("allnan", dim, keep_attrs)

    # --- moving windows -----------------------------------------------------------

    def move_sum(
        self,
        window: int,
        min_count: int | None = None,
        *,
        dim: Hashable,
        keep_attrs: bool | None = None,
    ) -> xr.DataArray:
        """Moving sum over the last ``window`` values along ``dim``, ignoring NaNs; NaN
        where fewer than ``min_count`` (default ``window``) values are present."""
        return self._along("move_sum", dim, keep_attrs, window=window, min_count=min_count)

    def move_mean(
        self,
        window: int,
        min_count: int | None = None,
        *,
        dim: Hashable,
        keep_attrs: bool | None = None,
    ) -> xr.DataArray:
        """Moving mean along ``dim`` (``min_count`` as for ``move_sum``)."""
        return self._along("move_mean", dim, keep_attrs, window=window, min_count=min_count)

    def move_std(
        self,
        window: int,
        min_count: int | None = None,
        ddof: int = 0,
        *,
        dim: Hashable,
        keep_attrs: bool | None = None,
    ) -> xr.DataArray:
        """Moving standard deviation along ``dim``, divisor ``N - ddof``."""
        params = {"window": window, "min_count": min_count, "ddof": ddof}
        return self._along("move_std", dim, keep_attrs, **params)

    def move_var(
        self,
        window: int,
        min_count: int | None = None,
        ddof: int = 0,
        *,
        dim: Hashable,
        keep_attrs: bool | None = None,
    ) -> xr.DataArray:
        """Moving variance along ``dim``, divisor ``N - ddof``."""
        params = {"window": window, "min_count": min_count, "ddof": ddof}
        return self._along("move_var", dim, keep_attrs, **params)

    def move_min(
        self,
        window: int,
        min_count: int | None = None,
        *,
        dim: Hashable,
        keep_attrs: bool | None = None,
    ) -> xr.DataArray:
        """Moving minimum along ``dim``."""
        return self._along("move_min", dim, keep_attrs, window=window, min_count=min_count)

    def move_max(
        self,
        window: int,
        min_count: int | None = None,
        *,
        dim: Hashable,
        keep_attrs: bool | None = None,
    ) -> xr.DataArray:
        """Moving maximum along ``dim``."""
        return self._along("move_max", dim, keep_attrs, window=window, min_count=min_count)

    def move_argmin(
        self,
        window: int,
        min_count: int | None = None,
        *,
        dim: Hashable,
        keep_attrs: bool | None = None,
    ) -> xr.DataArray:
        """Moving position of the minimum along ``dim``, counted back from the window's end."""
        return self._along("move_argmin", dim, keep_attrs, window=window, min_count=min_count)

    def move_argmax(
        self,
        window: int,
        min_count: int | None = None,
        *,
        dim: Hashable,
        keep_attrs: bool | None = None,
    ) -> xr.DataArray:
        """Moving position of the maximum along ``dim``, counted back from the window's end."""
        return self._along("move_argmax", dim, keep_attrs, window=window, min_count=min_count)

    def move_median(
        self,
        window: int,
        min_count: int | None = None,
        *,
        dim: Hashable,
        keep_attrs: bool | None = None,
    ) -> xr.DataArray:
        """Moving median along ``dim``."""
        return self._along("move_median", dim, keep_attrs, window=window, min_count=min_count)

    def move_rank(
        self,
        window: int,
        min_count: int | None = None,
        *,
        dim: Hashable,
        keep_attrs: bool | None = None,
    ) -> xr.DataArray:
        """Moving rank of each value within its window along ``dim``, scaled to [-1, 1]."""
        return self._along("move_rank", dim, keep_attrs, window=window, min_count=min_count)

    def move_quantile(
        self,
        window: int,
        q: Quantile,
        min_count: int | None = None,
        *,
        dim: Hashable,
        keep_attrs: bool | None = None,
    ) -> xr.DataArray:
        """Moving ``q``-th quantile along ``dim``, linear between order statistics of
        the non-NaN values (pandas' ``rolling(...).quantile``)."""
        params = {"window": window, "q": q, "min_count": min_count}
        return self._along("move_quantile", dim, keep_attrs, **params)

    # --- exponentially weighted windows ---------------------------------------------

    def move_exp_nanmean(
        self, alpha: float, min_weight: float = 0, *, dim: Hashable, keep_attrs: bool | None = None
    ) -> xr.DataArray:
        """Exponentially weighted mean along ``dim`` (weights ``(1 - alpha)**k``,
        pandas' ``ewm(alpha=alpha).mean()``), ignoring NaNs; NaN where the decayed
        weight of the values so far is below ``min_weight``.  On dask data ``dim`` is
        brought into one chunk."""
        params = {"alpha": alpha, "min_weight": min_weight}
        return self._along("move_exp_nanmean", dim, keep_attrs, **params)

    def move_exp_nansum(
        self, alpha: float, min_weight: float = 0, *, dim: Hashable, keep_attrs: bool | None = None
    ) -> xr.DataArray:
        """Exponentially weighted sum along ``dim`` (as ``move_exp_nanmean``)."""
        params = {"alpha": alpha, "min_weight": min_weight}
        return self._along("move_exp_nansum", dim, keep_attrs, **params)

    def move_exp_nanvar(
        self, alpha: float, min_weight: float = 0, *, dim: Hashable, keep_attrs: bool | None = None
    ) -> xr.DataArray:
        """Exponentially weighted variance along ``dim``, bias-corrected."""
        params = {"alpha": alpha, "min_weight": min_weight}
        return self._along("move_exp_nanvar", dim, keep_attrs, **params)

    def move_exp_nanstd(
        self, alpha: float, min_weight: float = 0, *, dim: Hashable, keep_attrs: bool | None = None
    ) -> xr.DataArray:
        """Exponentially weighted standard deviation along ``dim``, bias-corrected."""
        params = {"alpha": alpha, "min_weight": min_weight}
        return self._along("move_exp_nanstd", dim, keep_attrs, **params)

    def move_exp_nancount(
        self, alpha: float, min_weight: float = 0, *, dim: Hashable, keep_attrs: bool | None = None
    ) -> xr.DataArray:
        """Exponentially weighted count of the non-NaN values along ``dim``."""
        params = {"alpha": alpha, "min_weight": min_weight}
        return self._along("move_exp_nancount", dim, keep_attrs, **params)

    # --- along one dimension ------------------------------------------------------

    def partition(
        self, kth: int, *, dim: Hashable, keep_attrs: bool | None = None
    ) -> xr.DataArray:
        """Values along ``dim`` partitioned around the ``kth`` smallest (dask data: the
        dimension is brought into one chunk)."""
        return self._along("partition", dim, keep_attrs, kth=kth)

    def argpartition(
        self, kth: int, *, dim: Hashable, keep_attrs: bool | None = None
    ) -> xr.DataArray:
        """Positions that partition ``dim`` around the ``kth`` smallest value."""
        return self._along("argpartition", dim, keep_attrs, kth=kth)

    def rankdata(
        self, dim: Hashable | None = None, *, keep_attrs: bool | None = None
    ) -> xr.DataArray:
        """Ranks from 1 along ``dim``, ties averaged; ``dim=None`` ranks all elements
        (on dask data the whole array then becomes one chunk)."""
        if dim is None:
            return self._whole("rankdata", keep_attrs)
        return self._along("rankdata", dim, keep_attrs)

    def nanrankdata(
        self, dim: Hashable | None = None, *, keep_attrs: bool | None = None
    ) -> xr.DataArray:
        """As ``rankdata``, NaNs ranked NaN."""
        if dim is None:
            return self._whole("nanrankdata", keep_attrs)
        return self._along("nanrankdata", dim, keep_attrs)

    def push(
        self, n: int | None = None, *, dim: Hashable, keep_attrs: bool | None = None
    ) -> xr.DataArray:
        """Forward-fill NaNs along ``dim``, at most ``n`` steps (``None``: no limit)."""
        return self._along("push", dim, keep_attrs, n=n)

    def bfill(
        self, n: int | None = None, *, dim: Hashable, keep_attrs: bool | None = None
    ) -> xr.DataArray:
        """Backward-fill NaNs along ``dim`` from the next value at most ``n`` steps
        ahead (``None``: no limit)."""
        return self._along("bfill", dim, keep_attrs, n=n)

    def replace(self, old: float, new: float, *, keep_attrs: bool | None = None) -> xr.DataArray:
        """A new DataArray with ``old`` (or NaN) replaced by ``new``; the original is
        left as it is."""
        return self._whole("replace", keep_attrs, old=old, new=new)
