"""Type aliases shared by the stubs of the compiled modules and by ``corvane.slow``.

Inputs are grouped by what the functions give back for them: the four native element
types, NumPy's other integer and float types, and Python numbers (a list of ``int``
becomes an int64 array, of ``float`` a float64 array).
"""

from collections.abc import Iterator, Sequence
from typing import Protocol, SupportsFloat, SupportsIndex, TypeAlias, TypeVar

import numpy as np
import numpy.typing as npt

_T_co = TypeVar("_T_co", covariant=True)

#: Any NumPy scalar type; ``NDArray[ScalarT]`` in, ``NDArray[ScalarT]`` out.
ScalarT = TypeVar("ScalarT", bound=np.generic)
#: An array passed in and handed back (``replace``).
ArrayT = TypeVar("ArrayT", bound="np.ndarray[tuple[int, ...], np.dtype[np.generic]]")


class NestedSequence(Protocol[_T_co]):
    """A sequence of ``_T_co`` or of such sequences, nested to any depth.

    ``__reversed__`` keeps arrays out: an ndarray is not a sequence of floats to the
    type checker, whatever its element type."""

    def __len__(self, /) -> int: ...
    def __getitem__(self, index: int, /) -> "_T_co | NestedSequence[_T_co]": ...
    def __contains__(self, x: object, /) -> bool: ...
    def __iter__(self, /) -> "Iterator[_T_co | NestedSequence[_T_co]]": ...
    def __reversed__(self, /) -> "Iterator[_T_co | NestedSequence[_T_co]]": ...


#: Python booleans, integers, floats, and nested sequences of them.
PyBools: TypeAlias = bool | NestedSequence[bool]
PyInts: TypeAlias = int | NestedSequence[int]
PyFloats: TypeAlias = float | NestedSequence[float]

Float64Like: TypeAlias = npt.NDArray[np.float64] | PyFloats
Float32Like: TypeAlias = npt.NDArray[np.float32]
Int64Like: TypeAlias = npt.NDArray[np.int64] | PyInts
Int32Like: TypeAlias = npt.NDArray[np.int32]
#: Element types with a native kernel (and Python numbers, which become one).
NativeFloat: TypeAlias = npt.NDArray[np.float64 | np.float32] | PyFloats
NativeInt: TypeAlias = npt.NDArray[np.int64 | np.int32] | PyInts
#: Integers and booleans of any width: their means and medians are float64.
IntegerLike: TypeAlias = npt.NDArray[np.integer | np.bool_] | PyInts

#: An axis along which to work, or a count (anything with ``__index__``).
Axis: TypeAlias = SupportsIndex
Window: TypeAlias = SupportsIndex
#: One quantile, or several: a sequence of them gives results with q's dimension first.
Quantile: TypeAlias = float | np.floating
Quantiles: TypeAlias = Sequence[float] | npt.NDArray[np.floating]
#: A number ``replace`` reads (``__float__`` or ``__index__``).
Number: TypeAlias = SupportsFloat | SupportsIndex

F64Array: TypeAlias = npt.NDArray[np.float64]
F32Array: TypeAlias = npt.NDArray[np.float32]
I64Array: TypeAlias = npt.NDArray[np.int64]
I32Array: TypeAlias = npt.NDArray[np.int32]
IndexArray: TypeAlias = npt.NDArray[np.intp]
BoolArray: TypeAlias = npt.NDArray[np.bool_]
