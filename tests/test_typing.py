"""A typed user's script: `mypy --strict` checks the types declared here against the
stubs (CI runs it), and pytest checks them against what the calls return."""

from __future__ import annotations

from typing import TYPE_CHECKING, TypeVar

import numpy as np
import numpy.typing as npt

import corvane as cr
import corvane.slow as slow

if TYPE_CHECKING:
    from typing_extensions import assert_type
else:
    T = TypeVar("T")

    def assert_type(value: T, _: object) -> T:
        return value


F64 = npt.NDArray[np.float64]
F32 = npt.NDArray[np.float32]


def check(value: object, kind: type, dtype: type | None = None) -> None:
    assert type(value) is kind, (type(value), kind)
    if dtype is not None:
        assert isinstance(value, np.ndarray) and value.dtype.type is dtype, value


def total(a: F64) -> float:
    return cr.nansum(a)


def test_whole_array_calls_give_python_scalars() -> None:
    a: F64 = np.array([[1.0, np.nan], [3.0, 4.0]])
    check(total(a), float)
    check(assert_type(cr.nanmean(a), float), float)
    check(assert_type(cr.nanstd(a.astype(np.float32), ddof=1), float), float)
    check(assert_type(cr.nanargmax(a), int), int)
    check(assert_type(cr.anynan(a), bool), bool)
    check(assert_type(cr.nansum(np.arange(4, dtype=np.int32)), int), int)
    check(assert_type(cr.nanmax([3, 1]), int), int)
    check(assert_type(cr.median([1.0, 2.0, 4.0]), float), float)
    check(assert_type(slow.nanmin(a), float), float)
    # Element types without a kernel answer with NumPy's scalars.
    half = a.astype(np.float16)
    check(assert_type(cr.nanmin(half), np.float16), np.float16)


def test_along_an_axis_the_element_type_follows_the_input() -> None:
    a32 = np.ones((3, 4), np.float32)
    i32 = np.ones((3, 4), np.int32)
    check(assert_type(cr.nansum(a32, axis=0), F32), np.ndarray, np.float32)
    check(assert_type(cr.nanvar(a32, axis=1), F32), np.ndarray, np.float32)
    check(assert_type(cr.nanmean(i32, axis=1), F64), np.ndarray, np.float64)
    check(assert_type(cr.nansum(i32, 0), npt.NDArray[np.int32]), np.ndarray, np.int32)
    check(assert_type(cr.nanargmin(a32, 1), npt.NDArray[np.intp]), np.ndarray, np.intp)
    check(assert_type(cr.allnan(a32, 1), npt.NDArray[np.bool_]), np.ndarray, np.bool_)
    check(assert_type(cr.move_mean(a32, 2), F32), np.ndarray, np.float32)
    check(assert_type(slow.move_std(i32, 2, ddof=1), F64), np.ndarray, np.float64)
    check(assert_type(cr.move_argmax([1, 2, 3], 2), F64), np.ndarray, np.float64)
    check(assert_type(cr.partition(i32, 1), npt.NDArray[np.int32]), np.ndarray, np.int32)
    check(assert_type(cr.rankdata(a32), F64), np.ndarray, np.float64)
    check(assert_type(cr.push([1.0, np.nan]), F64), np.ndarray, np.float64)
    b = cr.replace(a32, 1, 2)
    check(assert_type(b, np.ndarray[tuple[int, int], np.dtype[np.float32]]), np.ndarray)


def mean_of_anything(x: npt.ArrayLike) -> float | np.inexact:
    return assert_type(cr.nanmean(x), float | np.inexact)


def test_an_array_like_of_unknown_type_gives_the_union() -> None:
    check(mean_of_anything([1.0, 2.0]), float)
    check(mean_of_anything(np.ones(2, np.float16)), np.float16)
