# Whole-array reductions (axis=None) return Python scalars for the native
# element types and NumPy's scalars for the others; along an axis they return
# arrays (a 1-d input reduces to a scalar along its only axis, which the types
# below cannot tell from an N-d input).
#
# Overloads are tried in order, so Python bools come before ints and ints before
# floats (a checker takes a bool for an int and an int for a float). The
# overload-overlap ignores mark that intended order.
from collections.abc import Sequence
from typing import overload

import numpy as np
import numpy.typing as npt

from corvane._typing import (
    Axis,
    BoolArray,
    F32Array,
    F64Array,
    Float32Like,
    Float64Like,
    I32Array,
    I64Array,
    IndexArray,
    Int32Like,
    Int64Like,
    IntegerLike,
    NativeFloat,
    NativeInt,
    PyBools,
    PyFloats,
    PyInts,
    ScalarT,
)

# Sums keep the native types (integers wrap around in their own width); NumPy's
# other integer types and bools are promoted as NumPy's own sum does.
@overload
def nansum(a: PyBools, axis: None = None) -> np.int64: ...  # type: ignore[overload-overlap]
@overload
def nansum(a: NativeInt, axis: None = None) -> int: ...
@overload
def nansum(a: NativeFloat, axis: None = None) -> float: ...
@overload
def nansum(a: npt.ArrayLike, axis: None = None) -> float | np.number: ...
@overload
def nansum(a: PyBools | Int64Like, axis: Axis) -> I64Array: ...
@overload
def nansum(a: Float64Like, axis: Axis) -> F64Array: ...  # type: ignore[overload-overlap]
@overload
def nansum(a: Float32Like, axis: Axis) -> F32Array: ...
@overload
def nansum(a: Int32Like, axis: Axis) -> I32Array: ...
@overload
def nansum(a: npt.ArrayLike, axis: Axis) -> npt.NDArray[np.number]: ...
@overload
def ss(a: PyBools, axis: None = None) -> np.int64: ...  # type: ignore[overload-overlap]
@overload
def ss(a: NativeInt, axis: None = None) -> int: ...
@overload
def ss(a: NativeFloat, axis: None = None) -> float: ...
@overload
def ss(a: npt.ArrayLike, axis: None = None) -> float | np.number: ...
@overload
def ss(a: PyBools | Int64Like, axis: Axis) -> I64Array: ...
@overload
def ss(a: Float64Like, axis: Axis) -> F64Array: ...  # type: ignore[overload-overlap]
@overload
def ss(a: Float32Like, axis: Axis) -> F32Array: ...
@overload
def ss(a: Int32Like, axis: Axis) -> I32Array: ...
@overload
def ss(a: npt.ArrayLike, axis: Axis) -> npt.NDArray[np.number]: ...

# Means, variances and medians: float32 stays float32, integers give float64.
@overload
def nanmean(a: NativeFloat | IntegerLike, axis: None = None) -> float: ...
@overload
def nanmean(a: npt.ArrayLike, axis: None = None) -> float | np.inexact: ...
@overload
def nanmean(a: Float32Like, axis: Axis) -> F32Array: ...  # type: ignore[overload-overlap]
@overload
def nanmean(a: Float64Like | IntegerLike, axis: Axis) -> F64Array: ...
@overload
def nanmean(a: npt.ArrayLike, axis: Axis) -> npt.NDArray[np.inexact]: ...
@overload
def nanvar(a: NativeFloat | IntegerLike, axis: None = None, ddof: int = 0) -> float: ...
@overload
def nanvar(a: npt.ArrayLike, axis: None = None, ddof: int = 0) -> float | np.inexact: ...
@overload
def nanvar(a: Float32Like, axis: Axis, ddof: int = 0) -> F32Array: ...  # type: ignore[overload-overlap]
@overload
def nanvar(a: Float64Like | IntegerLike, axis: Axis, ddof: int = 0) -> F64Array: ...
@overload
def nanvar(a: npt.ArrayLike, axis: Axis, ddof: int = 0) -> npt.NDArray[np.inexact]: ...
@overload
def nanstd(a: NativeFloat | IntegerLike, axis: None = None, ddof: int = 0) -> float: ...
@overload
def nanstd(a: npt.ArrayLike, axis: None = None, ddof: int = 0) -> float | np.inexact: ...
@overload
def nanstd(a: Float32Like, axis: Axis, ddof: int = 0) -> F32Array: ...  # type: ignore[overload-overlap]
@overload
def nanstd(a: Float64Like | IntegerLike, axis: Axis, ddof: int = 0) -> F64Array: ...
@overload
def nanstd(a: npt.ArrayLike, axis: Axis, ddof: int = 0) -> npt.NDArray[np.inexact]: ...
@overload
def median(a: NativeFloat | IntegerLike, axis: None = None) -> float: ...
@overload
def median(a: npt.ArrayLike, axis: None = None) -> float | np.inexact: ...
@overload
def median(a: Float32Like, axis: Axis) -> F32Array: ...  # type: ignore[overload-overlap]
@overload
def median(a: Float64Like | IntegerLike, axis: Axis) -> F64Array: ...
@overload
def median(a: npt.ArrayLike, axis: Axis) -> npt.NDArray[np.inexact]: ...
@overload
def nanmedian(a: NativeFloat | IntegerLike, axis: None = None) -> float: ...
@overload
def nanmedian(a: npt.ArrayLike, axis: None = None) -> float | np.inexact: ...
@overload
def nanmedian(a: Float32Like, axis: Axis) -> F32Array: ...  # type: ignore[overload-overlap]
@overload
def nanmedian(a: Float64Like | IntegerLike, axis: Axis) -> F64Array: ...
@overload
def nanmedian(a: npt.ArrayLike, axis: Axis) -> npt.NDArray[np.inexact]: ...

# Quantiles follow the medians; a sequence of q gives an array whose first
# dimension is q's, also over the whole array.
Quantile = float | np.floating
Quantiles = Sequence[float] | npt.NDArray[np.floating]

@overload
def quantile(a: NativeFloat | IntegerLike, q: Quantile, axis: None = None) -> float: ...
@overload
def quantile(a: npt.ArrayLike, q: Quantile, axis: None = None) -> float | np.inexact: ...
@overload
def quantile(a: Float32Like, q: Quantile, axis: Axis) -> F32Array: ...  # type: ignore[overload-overlap]
@overload
def quantile(a: Float64Like | IntegerLike, q: Quantile, axis: Axis) -> F64Array: ...
@overload
def quantile(a: npt.ArrayLike, q: Quantile, axis: Axis) -> npt.NDArray[np.inexact]: ...
@overload
def quantile(  # type: ignore[overload-overlap]
    a: Float32Like, q: Quantiles, axis: Axis | None = None
) -> F32Array: ...
@overload
def quantile(a: Float64Like | IntegerLike, q: Quantiles, axis: Axis | None = None) -> F64Array: ...
@overload
def quantile(
    a: npt.ArrayLike, q: Quantiles, axis: Axis | None = None
) -> npt.NDArray[np.inexact]: ...
@overload
def nanquantile(a: NativeFloat | IntegerLike, q: Quantile, axis: None = None) -> float: ...
@overload
def nanquantile(a: npt.ArrayLike, q: Quantile, axis: None = None) -> float | np.inexact: ...
@overload
def nanquantile(a: Float32Like, q: Quantile, axis: Axis) -> F32Array: ...  # type: ignore[overload-overlap]
@overload
def nanquantile(a: Float64Like | IntegerLike, q: Quantile, axis: Axis) -> F64Array: ...
@overload
def nanquantile(a: npt.ArrayLike, q: Quantile, axis: Axis) -> npt.NDArray[np.inexact]: ...
@overload
def nanquantile(  # type: ignore[overload-overlap]
    a: Float32Like, q: Quantiles, axis: Axis | None = None
) -> F32Array: ...
@overload
def nanquantile(
    a: Float64Like | IntegerLike, q: Quantiles, axis: Axis | None = None
) -> F64Array: ...
@overload
def nanquantile(
    a: npt.ArrayLike, q: Quantiles, axis: Axis | None = None
) -> npt.NDArray[np.inexact]: ...

# Extremes keep the input's element type.
@overload
def nanmin(a: PyBools, axis: None = None) -> np.bool_: ...  # type: ignore[overload-overlap]
@overload
def nanmin(a: NativeInt, axis: None = None) -> int: ...
@overload
def nanmin(a: NativeFloat, axis: None = None) -> float: ...
@overload
def nanmin(a: npt.NDArray[ScalarT], axis: None = None) -> ScalarT: ...
@overload
def nanmin(a: PyBools, axis: Axis) -> BoolArray: ...  # type: ignore[overload-overlap]
@overload
def nanmin(a: PyInts, axis: Axis) -> I64Array: ...
@overload
def nanmin(a: PyFloats, axis: Axis) -> F64Array: ...
@overload
def nanmin(a: npt.NDArray[ScalarT], axis: Axis) -> npt.NDArray[ScalarT]: ...
@overload
def nanmax(a: PyBools, axis: None = None) -> np.bool_: ...  # type: ignore[overload-overlap]
@overload
def nanmax(a: NativeInt, axis: None = None) -> int: ...
@overload
def nanmax(a: NativeFloat, axis: None = None) -> float: ...
@overload
def nanmax(a: npt.NDArray[ScalarT], axis: None = None) -> ScalarT: ...
@overload
def nanmax(a: PyBools, axis: Axis) -> BoolArray: ...  # type: ignore[overload-overlap]
@overload
def nanmax(a: PyInts, axis: Axis) -> I64Array: ...
@overload
def nanmax(a: PyFloats, axis: Axis) -> F64Array: ...
@overload
def nanmax(a: npt.NDArray[ScalarT], axis: Axis) -> npt.NDArray[ScalarT]: ...

# Positions: Python ints over the whole array (C-order flat index), else intp.
@overload
def nanargmin(a: npt.ArrayLike, axis: None = None) -> int: ...
@overload
def nanargmin(a: npt.ArrayLike, axis: Axis) -> IndexArray: ...
@overload
def nanargmax(a: npt.ArrayLike, axis: None = None) -> int: ...
@overload
def nanargmax(a: npt.ArrayLike, axis: Axis) -> IndexArray: ...

# NaN tests: Python bools over the whole array, else bool arrays.
@overload
def anynan(a: npt.ArrayLike, axis: None = None) -> bool: ...
@overload
def anynan(a: npt.ArrayLike, axis: Axis) -> BoolArray: ...
@overload
def allnan(a: npt.ArrayLike, axis: None = None) -> bool: ...
@overload
def allnan(a: npt.ArrayLike, axis: Axis) -> BoolArray: ...
