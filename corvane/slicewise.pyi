# Partition and push keep the element type; positions are intp and ranks float64.
# axis=None (partition, argpartition, rankdata, nanrankdata) works on the
# flattened array.
from typing import SupportsIndex, overload

from numpy.typing import ArrayLike, NDArray

from corvane._typing import (
    Axis,
    F64Array,
    I64Array,
    IndexArray,
    PyFloats,
    PyInts,
    ScalarT,
)

@overload
def partition(
    a: NDArray[ScalarT], kth: SupportsIndex, axis: Axis | None = -1
) -> NDArray[ScalarT]: ...
@overload
def partition(a: PyInts, kth: SupportsIndex, axis: Axis | None = -1) -> I64Array: ...
@overload
def partition(a: PyFloats, kth: SupportsIndex, axis: Axis | None = -1) -> F64Array: ...
def argpartition(a: ArrayLike, kth: SupportsIndex, axis: Axis | None = -1) -> IndexArray: ...
def rankdata(a: ArrayLike, axis: Axis | None = None) -> F64Array: ...
def nanrankdata(a: ArrayLike, axis: Axis | None = None) -> F64Array: ...
@overload
def push(
    a: NDArray[ScalarT], n: SupportsIndex | None = None, axis: Axis = -1
) -> NDArray[ScalarT]: ...
@overload
def push(a: PyInts, n: SupportsIndex | None = None, axis: Axis = -1) -> I64Array: ...
@overload
def push(a: PyFloats, n: SupportsIndex | None = None, axis: Axis = -1) -> F64Array: ...
@overload
def bfill(
    a: NDArray[ScalarT], n: SupportsIndex | None = None, axis: Axis = -1
) -> NDArray[ScalarT]: ...
@overload
def bfill(a: PyInts, n: SupportsIndex | None = None, axis: Axis = -1) -> I64Array: ...
@overload
def bfill(a: PyFloats, n: SupportsIndex | None = None, axis: Axis = -1) -> F64Array: ...
