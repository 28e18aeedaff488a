"""Argument reading and element-type helpers shared by the reference functions."""

from __future__ import annotations

import operator
from typing import Any, Literal, TypeAlias

import numpy as np
import numpy.typing as npt

Kind = Literal["f64", "f32", "i64", "i32"]

#: Result of a reduction: a Python scalar over the whole array, else an array.
ReduceResult: TypeAlias = float | int | bool | np.generic | npt.NDArray[Any]

try:
    from numpy.exceptions import AxisError
except ImportError:  # NumPy < 1.25
    from numpy import AxisError  # type: ignore[attr-defined,no-redef]

INT_MIN = -(2**31)
INT_MAX = 2**31 - 1

NATIVE_DTYPES: dict[Kind, np.dtype[Any]] = {
    "f64": np.dtype(np.float64),
    "f32": np.dtype(np.float32),
    "i64": np.dtype(np.int64),
    "i32": np.dtype(np.int32),
}


def as_c_int(obj: object, message: str) -> int:
    """Read ``obj`` as a C ``int`` like NumPy's index conversion, else ``TypeError(message)``."""
    # NumPy's conversion refuses bools and anything without ``__index__``; a value outside
    # the C ``int`` range fails as well.  Every such failure becomes the caller's message.
    if isinstance(obj, (bool, np.bool_)):
        raise TypeError(message)
    try:
        value = operator.index(obj)  # type: ignore[arg-type]
    except Exception:
        raise TypeError(message) from None
    if not INT_MIN <= value <= INT_MAX:
        raise TypeError(message)
    return value


def check_axis(axis: int, ndim: int) -> int:
    """Normalise an integer axis to ``0 <= axis < ndim`` or raise the out-of-bounds error."""
    if axis < 0:
        axis += ndim
        if axis < 0:
            raise AxisError(f"axis(={axis}) out of bounds")
    elif axis >= ndim:
        raise AxisError(f"axis(={axis}) out of bounds")
    return axis


def as_array(a: npt.ArrayLike) -> npt.NDArray[Any]:
    """Convert ``a`` to a plain ndarray in native byte order (no copy when already one)."""
    arr = np.asarray(a)
    if not arr.dtype.isnative:
        arr = arr.astype(arr.dtype.newbyteorder("="))
    return arr


def native_kind(dtype: np.dtype[Any]) -> Kind | None:
    """The native kernel family an element type belongs to, or None for the others."""
    if dtype.kind == "f":
        return {8: "f64", 4: "f32"}.get(dtype.itemsize)  # type: ignore[return-value]
    if dtype.kind == "i":
        return {8: "i64", 4: "i32"}.get(dtype.itemsize)  # type: ignore[return-value]
    return None
