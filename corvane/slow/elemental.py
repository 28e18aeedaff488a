"""Reference ``replace``: overwrite matching values of an array in place."""

from __future__ import annotations

import math
import operator
import warnings
from typing import Any

import numpy as np
import numpy.typing as npt

from corvane.slow._common import check_numbers, refuse_masked

Array = npt.NDArray[Any]

__all__ = ["replace"]


_INTEGER_OBJECTS = (int, np.integer, np.bool_)


def _read(obj: object, message: str, integer_array: bool) -> tuple[float, int | None]:
    """``obj`` as a double (``__float__``, else ``__index__``) and None; or, for an integer
    object bound for an integer array, NaN and its exact value.  Else ``TypeError``."""
    try:
        if integer_array and isinstance(obj, _INTEGER_OBJECTS):
            if isinstance(obj, np.bool_):
                return math.nan, int(obj)
            try:
                return math.nan, operator.index(obj)
            except TypeError:
                # A unitless timedelta64 is an integer without __index__ that NumPy
                # compares with integers by its count, which int() reads.
                if not isinstance(obj, np.timedelta64):
                    raise
                return math.nan, int(obj)
        if hasattr(type(obj), "__float__"):
            return float(obj), None  # type: ignore[arg-type]
        return float(operator.index(obj)), None  # type: ignore[arg-type]
    except Exception:
        raise TypeError(message) from None


def _integer_value(exact: int | None, value: float, lo: int, hi: int, name: str) -> int:
    """The exact value of an integer object, or a whole double, if it fits ``lo..hi``."""
    if exact is not None:
        if lo <= exact <= hi:
            return exact
    elif value.is_integer() and lo <= value < hi + 1.0:
        # ``hi + 1.0`` is the power of two just above the range, exact as a double.
        return int(value)
    raise ValueError(f"Cannot safely cast `{name}` to int")


def replace(a: Array, old: float, new: float) -> Array:
    """Replace (inplace) given scalar values of an array with new values."""
    if not isinstance(a, np.ndarray):
        raise TypeError("works in place so input must be an array, not (e.g.) a list")
    refuse_masked(a)
    if not a.flags.writeable:
        raise ValueError("assignment destination is read-only")
    kind = a.dtype.kind
    old_value, old_exact = _read(old, "`old` must be a number", kind in "iub")
    new_value, new_exact = _read(new, "`new` must be a number", kind in "iub")

    if kind in "iub":
        if old_exact is None and math.isnan(old_value):
            return a  # integers hold no NaN
        if kind == "b":
            lo, hi = 0, 1
        else:
            info = np.iinfo(a.dtype)
            lo, hi = int(info.min), int(info.max)
        old_int = _integer_value(old_exact, old_value, lo, hi, "old")
        new_int = _integer_value(new_exact, new_value, lo, hi, "new")
        np.copyto(a, np.asarray(new_int, a.dtype), where=a == np.asarray(old_int, a.dtype))
        return a

    if kind in "fc":
        # Both numbers are first rounded to the array's own precision.
        with warnings.catch_warnings(), np.errstate(all="ignore"):
            warnings.simplefilter("ignore")
            old_t = np.asarray(old_value, a.dtype)
            new_t = np.asarray(new_value, a.dtype)
        mask = np.isnan(a) if math.isnan(old_value) else a == old_t
        np.copyto(a, new_t, where=mask)
        return a

    old_is_nan = math.isnan(old_value)
    if kind == "O":
        # In place on the objects themselves; None and anything unequal to itself is NaN.
        check_numbers(a)
        if old_is_nan:
            mask = np.frompyfunc(lambda x: x is None or x != x, 1, 1)(a)
        else:
            mask = a == old
        np.copyto(a, np.array(new, dtype=object), where=np.asarray(mask, bool))
        return a
    if kind in "mM" and old_is_nan:
        mask = np.isnat(a)  # NaT is the NaN of datetimes and timedeltas
    else:
        mask = np.asarray(a == old, bool)
    np.copyto(a, np.asarray(new), where=mask, casting="unsafe")
    return a
