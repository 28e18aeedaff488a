"""Argument reading and element-type helpers shared by the reference functions."""

from __future__ import annotations

import operator
import sys
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


MASKED_MESSAGE = (
    "masked arrays are not supported: fill the masked values first, e.g. a.filled(np.nan)"
)

#: Elements an object array may hold: it is then computed as its float64 conversion.
#: (A unitless timedelta64 is an integer subclass, but not a number here.)
_NUMBERS = (bool, int, float, np.bool_, np.integer, np.floating, type(None))


def refuse_masked(a: object) -> None:
    """``TypeError`` for a masked array with a masked element: its data there is no value."""
    # Without numpy.ma imported no masked array can exist; importing it is not needed.
    ma = sys.modules.get("numpy.ma")
    if ma is not None and isinstance(a, ma.MaskedArray) and ma.is_masked(a):
        raise TypeError(MASKED_MESSAGE)


def _is_number_type(t: type) -> bool:
    return issubclass(t, _NUMBERS) and not issubclass(t, np.timedelta64)


def check_numbers(arr: npt.NDArray[Any]) -> None:
    """``TypeError`` naming the first element type (C order) of an object array that is
    not a number: bool, int, float, their NumPy scalars, or None (which counts as NaN)."""
    types = set(map(type, arr.flat))
    if not all(map(_is_number_type, types)):
        bad = next(t for t in map(type, arr.flat) if not _is_number_type(t))
        raise TypeError(f"object arrays must hold numbers only, got {bad.__name__}")


def as_array(a: npt.ArrayLike) -> npt.NDArray[Any]:
    """Convert ``a`` to a plain ndarray in native byte order (no copy when already one).

    A masked array without masked elements gives its data; an object array of numbers
    gives its float64 conversion (None as NaN).
    """
    refuse_masked(a)
    arr = np.asarray(a)
    if arr.dtype == object:
        check_numbers(arr)
        arr = arr.astype(np.float64)
    elif not arr.dtype.isnative:
        arr = arr.astype(arr.dtype.newbyteorder("="))
    return arr


def is_missing(x: npt.NDArray[Any]) -> npt.NDArray[np.bool_]:
    """Where ``x`` holds NaN (float, complex) or NaT (datetime64, timedelta64)."""
    if x.dtype.kind in "fcmM":
        missing: npt.NDArray[np.bool_] = np.isnan(x)
        return missing
    return np.zeros(x.shape, bool)


def native_kind(dtype: np.dtype[Any]) -> Kind | None:
    """The native kernel family an element type belongs to, or None for the others."""
    if dtype.kind == "f":
        return {8: "f64", 4: "f32"}.get(dtype.itemsize)  # type: ignore[return-value]
    if dtype.kind == "i":
        return {8: "i64", 4: "i32"}.get(dtype.itemsize)  # type: ignore[return-value]
    return None
