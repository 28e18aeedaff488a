"""Every reduction runs natively for float64, float32, int64 and int32, and keeps
reference counts balanced on its success and error paths."""

from __future__ import annotations

import sys

import numpy as np
import pytest
from conftest import LAYOUTS, NATIVE_DTYPES, with_layout

import corvane as cr
import corvane.slow as slow

REDUCE = [
    "nansum", "nanmean", "nanstd", "nanvar", "nanmin", "nanmax", "nanargmin",
    "nanargmax", "ss", "median", "nanmedian", "anynan", "allnan",
]  # fmt: skip
WITH_DDOF = {"nanstd", "nanvar"}


@pytest.fixture
def no_reference(monkeypatch):
    """corvane.slow functions that fail the test when called."""

    def stub(name):
        def refuse(*args, **kwargs):
            raise AssertionError(f"corvane.slow.{name} was called")

        return refuse

    for name in REDUCE:
        monkeypatch.setattr(slow, name, stub(name))


def _shapes():
    return [(), (0,), (1,), (7,), (3, 4), (0, 3), (3, 0), (2, 3, 4), (1, 5, 1), (2, 0, 2)]


@pytest.mark.parametrize("dtype", NATIVE_DTYPES)
@pytest.mark.parametrize("name", REDUCE)
def test_no_native_call_reaches_the_reference(no_reference, name, dtype):
    f = getattr(cr, name)
    rng = np.random.default_rng(7)
    for shape in _shapes():
        base = np.asarray(rng.standard_normal(shape) * 10).astype(dtype)
        if base.dtype.kind == "f" and base.size:
            base.flat[0] = np.nan
        for layout in LAYOUTS:
            a = with_layout(base, layout)
            for axis in [None, *range(-a.ndim, a.ndim)]:
                extra = [(axis, ddof) for ddof in (-1, 0, 1)] if name in WITH_DDOF else [(axis,)]
                for args in extra:
                    try:
                        f(a, *args)
                    except ValueError as err:
                        # The functions' own refusals: empty input or an all-NaN slice.
                        assert "So Corvane too" in str(err) or "All-NaN" in str(err)
    # Lists of Python numbers become int64 or float64 arrays.
    f([[1, 2], [3, 4]], 0)
    f([1.5, 2.5])


CALLS = {
    "nanstd": [(0,), (1, 1), (None, -1)],
    "nanvar": [(0,), (1, 5), (None,)],
    "nanmin": [(0,), (None,)],
    "nanmax": [(1,), (None,)],
    "nanargmin": [(0,), (None,)],
    "nanargmax": [(1,), (None,)],
    "median": [(0,), (None,)],
    "nanmedian": [(1,), (None,)],
    "anynan": [(0,), (None,)],
    "allnan": [(1,), (None,)],
}


@pytest.mark.parametrize("name", sorted(CALLS))
def test_reference_counts_unchanged(name):
    f = getattr(cr, name)
    arrays = [
        np.array([[1.0, np.nan, 3.0], [0.5, 2.0, -1.0]]),
        np.asfortranarray(np.arange(6, dtype=np.int32).reshape(2, 3)),
        np.arange(12, dtype=np.float32).reshape(3, 4)[:, ::2],
    ]
    failing = []
    if name in ("nanmin", "nanmax", "nanargmin", "nanargmax"):
        failing += [(np.zeros((2, 0)), (1,)), (np.zeros(0), (None,))]
    if name in ("nanargmin", "nanargmax"):
        failing += [(np.array([[np.nan, 1.0], [np.nan, 2.0]]), (0,)), (np.array([np.nan]), ())]
    watched = arrays + [a for a, _ in failing]

    def counts():
        return [sys.getrefcount(a) for a in watched]

    def run():
        for a in arrays:
            for args in CALLS[name]:
                f(a, *args)
        for a, args in failing:
            with pytest.raises(ValueError):
                f(a, *args)

    before = counts()
    for _ in range(100):
        run()
    assert counts() == before
