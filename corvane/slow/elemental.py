"""Reference ``replace``: overwrite matching values of an array in place."""

from __future__ import annotations

import math
import operator
import warnings
from typing import Any

import numpy as np
import numpy.typing as npt

Array = npt.NDArray[Any]

__all__ = ["replace"]


def _as_double(obj: object, message: str) -> float:
    """Read a number as a double (``__float__``, else ``__index__``), else ``TypeError``."""
    try:
        if hasattr(type(obj), "__float__"):
            return float(obj)  # type: ignore[arg-type]
        return float(operator.index(obj))  # type: ignore[arg-type]
    except Exception:
        raise TypeError(message) from None


def _integer_value(obj: object, value: float, lo: int, hi: int, name: str) -> int:
    """The exact value of an integer object, or a whole double, if it fits ``lo..hi``."""
    if isinstance(obj, (int, np.integer, np.bool_)):
        exact = int(obj)
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
    if not a.flags.writeable:
        raise ValueError("assignment destination is read-only")
    old_value = _as_double(old, "`old` must be a number")
    new_value = _as_double(new, "`new` must be a number")
    kind = a.dtype.kind

    if kind in "iub":
        if not isinstance(old, (int, np.integer, np.bool_)) and math.isnan(old_value):
            return a  # integers hold no NaN
        if kind == "b":
            lo, hi = 0, 1
        else:
            info = np.iinfo(a.dtype)
            lo, hi = int(info.min), int(info.max)
        old_int = _integer_value(old, old_value, lo, hi, "old")
        new_int = _integer_value(new, new_value, lo, hi, "new")
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

    np.copyto(a, np.asarray(new), where=np.asarray(a == old, bool), casting="unsafe")
    return a
