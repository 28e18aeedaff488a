"""move_median: differential tests against a NumPy oracle, pandas and corvane.slow."""

from __future__ import annotations

import ctypes
import os
import subprocess
import sys
import textwrap
import threading
import warnings
from pathlib import Path

import numpy as np
import pandas as pd
import pytest
from conftest import FALLBACK_DTYPES, arrays, assert_same
from hypothesis import given
from hypothesis import strategies as st
from numpy.lib.stride_tricks import sliding_window_view

import corvane as cr


def oracle(a: np.ndarray, window: int, min_count: int | None = None, axis: int = -1) -> np.ndarray:
    """np.nanmedian of each trailing window, NaN below min_count non-NaN values.

    The window starts window - 1 NaN values before the slice, so the first
    positions see only the values so far. Medians are taken in float64 and
    narrowed for float32 input, as the kernels do.
    """
    a = np.asarray(a)
    out_dtype = np.float32 if a.dtype == np.float32 else np.float64
    if min_count is None:
        min_count = window
    x = np.moveaxis(a.astype(np.float64), axis, -1)
    pad = np.full(x.shape[:-1] + (window - 1,), np.nan)
    windows = sliding_window_view(np.concatenate([pad, x], axis=-1), window, axis=-1)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        med = np.nanmedian(windows, axis=-1) if windows.size else np.empty(windows.shape[:-1])
    count = (~np.isnan(windows)).sum(axis=-1)
    med[count < min_count] = np.nan
    return np.ascontiguousarray(np.moveaxis(med, -1, axis).astype(out_dtype))


def pandas_median(a: np.ndarray, window: int, min_count: int | None, axis: int) -> np.ndarray:
    x = np.moveaxis(np.asarray(a, dtype=np.float64), axis, 0)
    flat = x.reshape(x.shape[0], -1)
    got = pd.DataFrame(flat).rolling(window, min_periods=min_count).median().to_numpy()
    return np.moveaxis(got.reshape(x.shape), 0, axis)


@st.composite
def cases(draw: st.DrawFn, max_dims: int = 4) -> tuple[np.ndarray, int, int | None, int]:
    """An array with a non-empty axis, a window, a min_count and the axis."""
    a = draw(arrays(min_dims=1, max_dims=max_dims, max_side=9))
    axes = [ax for ax in range(-a.ndim, a.ndim) if a.shape[ax] > 0]
    if not axes:
        a = np.zeros((1,) + a.shape[1:], a.dtype)
        axes = [0]
    axis = draw(st.sampled_from(axes))
    window = draw(st.integers(1, a.shape[axis]))
    min_count = draw(st.one_of(st.none(), st.integers(1, window)))
    return a, window, min_count, axis


def call(a: np.ndarray, window: int, min_count: int | None, axis: int) -> np.ndarray:
    if min_count is None and axis == -1:
        return cr.move_median(a, window)
    return cr.move_median(a, window, min_count=min_count, axis=axis)


# --- values ------------------------------------------------------------------


def test_docstring_examples() -> None:
    a = [1.0, 2.0, 3.0, 4.0]
    assert_same(cr.move_median(a, window=2), np.array([np.nan, 1.5, 2.5, 3.5]))
    assert_same(cr.move_median(a, window=2, min_count=1), np.array([1.0, 1.5, 2.5, 3.5]))


@given(cases())
def test_against_oracle(case: tuple) -> None:
    a, window, min_count, axis = case
    assert_same(call(a, window, min_count, axis), oracle(a, window, min_count, axis))


@given(cases(max_dims=3))
def test_against_pandas(case: tuple) -> None:
    a, window, min_count, axis = case
    if a.dtype.kind == "f":
        # pandas reads infinities as missing values; keep them out of its way.
        a = np.nan_to_num(a, nan=np.nan, posinf=1e30, neginf=-1e30)
    got = call(a, window, min_count, axis)
    want = pandas_median(a, window, window if min_count is None else min_count, axis)
    np.testing.assert_array_equal(got, want.astype(got.dtype))


@given(cases(max_dims=3))
def test_against_slow(case: tuple) -> None:
    slow = pytest.importorskip("corvane.slow")
    a, window, min_count, axis = case
    got = call(a, window, min_count, axis)
    want = slow.move_median(a, window, min_count=min_count, axis=axis)
    assert_same(got, np.asarray(want))


@pytest.mark.parametrize("window", [1, 2, 3, 10, 99, 100, 257, 1000])
@pytest.mark.parametrize("nan_p", [0.0, 0.3, 0.9])
@pytest.mark.parametrize("dtype", ["float64", "float32", "int64", "int32"])
def test_long_slices(window: int, nan_p: float, dtype: str) -> None:
    rng = np.random.default_rng(window)
    n = 3000
    if dtype.startswith("float"):
        a = rng.standard_normal(n).astype(dtype)
        # NaN in runs as well as scattered.
        a[rng.random(n) < nan_p / 2] = np.nan
        starts = rng.integers(0, n, size=int(nan_p * 20))
        for s in starts:
            a[s : s + rng.integers(1, 2 * window + 2)] = np.nan
    else:
        a = rng.integers(-50, 50, size=n).astype(dtype)
    for min_count in sorted({1, max(1, window // 2), window}):
        got = cr.move_median(a, window, min_count)
        assert_same(got, oracle(a, window, min_count))
        want = pd.Series(a.astype(np.float64)).rolling(window, min_periods=min_count).median()
        np.testing.assert_array_equal(got, want.to_numpy().astype(got.dtype))


def test_window_is_the_whole_slice() -> None:
    a = np.array([[5.0, 1.0, np.nan, 3.0, 2.0], [4.0, 4.0, 4.0, 4.0, 4.0]])
    got = cr.move_median(a, 5, min_count=1)
    assert got[0, -1] == np.nanmedian(a[0]) == 2.5
    assert_same(got[1], np.full(5, 4.0))


def test_slices_are_independent() -> None:
    rng = np.random.default_rng(3)
    a = rng.standard_normal((40, 7))
    a[rng.random(a.shape) < 0.2] = np.nan
    got = cr.move_median(a, 6, min_count=2, axis=0)
    for j in range(a.shape[1]):
        assert_same(got[:, j], cr.move_median(a[:, j].copy(), 6, min_count=2))
    # The first rows of every column see only that column's lead-in.
    assert np.isnan(cr.move_median(a, 6, axis=0)[:5]).all()


def test_nan_and_infinity_handling() -> None:
    inf, nan = np.inf, np.nan
    a = np.array([nan, nan, 1.0, nan, inf, -inf, 3.0, nan, nan, nan, 2.0])
    assert_same(cr.move_median(a, 3, min_count=1), oracle(a, 3, 1))
    assert_same(
        cr.move_median(a, 3, min_count=2),
        np.array([nan, nan, nan, nan, inf, nan, 3.0, -inf, nan, nan, nan]),
    )
    assert_same(cr.move_median(np.full(6, np.nan), 3, 1), np.full(6, np.nan))


def test_integer_extremes_convert_to_float64() -> None:
    big = np.array([2**62, -(2**62), 2**53 + 1, 7, -(2**63)], dtype=np.int64)
    assert_same(cr.move_median(big, 2, 1), oracle(big, 2, 1))
    i32 = np.array([2**31 - 1, 2**31 - 1, -(2**31), 0], dtype=np.int32)
    assert_same(cr.move_median(i32, 2), np.array([np.nan, 2**31 - 1, -0.5, -(2**30)]))


def test_float32_median_is_computed_in_float64() -> None:
    # The mean of the two middle values would overflow in float32.
    big = np.float32(3e38)
    got = cr.move_median(np.array([big, big], np.float32), 2)
    assert got.dtype == np.float32
    assert got[1] == big


# --- output type, layout and the window of one --------------------------------


@pytest.mark.parametrize(
    ("dtype", "out"),
    [("float64", "float64"), ("float32", "float32"), ("int64", "float64"), ("int32", "float64")],
)
@pytest.mark.parametrize("window", [1, 2])
def test_output_dtype_and_order(dtype: str, out: str, window: int) -> None:
    a = np.asfortranarray(np.arange(12).reshape(3, 4).astype(dtype))
    got = cr.move_median(a, window, axis=0)
    assert type(got) is np.ndarray and got.dtype == np.dtype(out)
    assert_same(got, oracle(a, window, axis=0))
    if window == 1 and dtype.startswith("int"):
        # The integer copy keeps a Fortran-contiguous input's order.
        assert got.flags.f_contiguous
    else:
        assert got.flags.c_contiguous


@pytest.mark.parametrize("dtype", ["float64", "float32", "int64", "int32"])
def test_window_one_is_a_copy(dtype: str) -> None:
    a = np.array([[3, 1], [2, 5], [4, 0]]).astype(dtype)[::-1]
    if dtype.startswith("float"):
        a[1, 0] = np.nan
    got = cr.move_median(a, 1, axis=0)
    assert not np.shares_memory(got, a)
    assert_same(got, a.astype("float32" if dtype == "float32" else "float64"))
    a[0, 0] = 99
    assert got[0, 0] != 99


@pytest.mark.parametrize("dtype", ["float64", "float32", "int64", "int32"])
def test_unaligned_input(dtype: str) -> None:
    # A field of a packed record: every element sits at an odd address.
    rec = np.zeros(50, dtype=[("pad", "i1"), ("x", dtype)])
    rec["x"] = np.random.default_rng(2).integers(-9, 9, 50)
    x = rec["x"]
    assert not x.flags.aligned
    for window in (1, 7):
        m = min(3, window)
        assert_same(cr.move_median(x, window, m), oracle(x.copy(), window, m))


def test_subclass_input_gives_plain_ndarray() -> None:
    class Tagged(np.ndarray):
        pass

    a = np.arange(6.0).view(Tagged)
    for window in (1, 2):
        assert type(cr.move_median(a, window)) is np.ndarray
    m = np.ma.masked_array([1, 2, 3], mask=[False, False, False])  # a masked one is refused
    assert type(cr.move_median(m, 1)) is np.ndarray


@pytest.mark.parametrize("shape", [(0, 5), (3, 0, 4), (2, 3, 0)])
def test_empty_outer_dimensions(shape: tuple[int, ...]) -> None:
    for dtype, out in (("float64", "float64"), ("float32", "float32"), ("int32", "float64")):
        a = np.zeros(shape, dtype)
        for window in (1, 2):
            axis = next(i for i, n in enumerate(shape) if n >= 2)
            got = cr.move_median(a, window, axis=axis)
            assert got.shape == shape and got.dtype == np.dtype(out)


@pytest.mark.parametrize("dtype", FALLBACK_DTYPES)
def test_other_dtypes_go_to_slow(dtype: str) -> None:
    slow = pytest.importorskip("corvane.slow")
    a = np.arange(10).astype("q" if dtype == "longlong" else dtype)
    assert_same(cr.move_median(a, 3, min_count=2), slow.move_median(a, 3, min_count=2))


# --- resources -----------------------------------------------------------------


class _MallInfo2(ctypes.Structure):
    _fields_ = [
        (name, ctypes.c_size_t)
        for name in ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
                     "uordblks", "fordblks", "keepcost")
    ]  # fmt: skip


def malloc_in_use() -> int:
    """Bytes the C library's malloc has handed out and not taken back.

    Exact where glibc's mallinfo2 is available; otherwise resident memory,
    which is coarser. Under a sanitizer's allocator both stay flat.
    """
    libc = ctypes.CDLL(None)
    if hasattr(libc, "mallinfo2"):
        libc.mallinfo2.restype = _MallInfo2
        info = libc.mallinfo2()
        return int(info.uordblks + info.hblkhd)
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.skipif(sys.platform != "linux", reason="reads the C library's allocator")
def test_memory_stays_flat() -> None:
    rng = np.random.default_rng(5)
    a = rng.standard_normal((20, 500))
    a[rng.random(a.shape) < 0.1] = np.nan
    ints = rng.integers(0, 9, size=(500, 20))
    for _ in range(50):
        cr.move_median(a, 200)
        cr.move_median(ints, 200, 1, 0)
    before = malloc_in_use()
    for _ in range(2000):
        cr.move_median(a, 200)
        cr.move_median(ints, 200, 1, 0)
        cr.move_median(a, 1)
    # A lost handle of window 200 would cost over 9 kB a call: 36 MB here.
    assert malloc_in_use() - before < 2**20


def test_reference_counts_unchanged() -> None:
    a = np.arange(20.0).reshape(4, 5)
    window, min_count = 3, 2
    before = [sys.getrefcount(o) for o in (a, window, min_count)]
    for _ in range(200):
        cr.move_median(a, window, min_count, 0)
        cr.move_median(a, 1)
    assert [sys.getrefcount(o) for o in (a, window, min_count)] == before


def test_threads_run_independently() -> None:
    rng = np.random.default_rng(11)
    inputs = [rng.standard_normal((30, 400)) for _ in range(4)]
    for x in inputs:
        x[rng.random(x.shape) < 0.1] = np.nan
    want = [cr.move_median(x, 50, 10) for x in inputs]
    got: list[list[np.ndarray]] = [[] for _ in inputs]

    def work(k: int) -> None:
        for _ in range(5):
            got[k].append(cr.move_median(inputs[k], 50, 10))

    threads = [threading.Thread(target=work, args=(k,)) for k in range(len(inputs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for k, results in enumerate(got):
        for r in results:
            assert_same(r, want[k])


@pytest.mark.skipif(sys.platform != "linux", reason="address-space limit")
@pytest.mark.parametrize("dtype", ["float64", "int64"])
def test_memory_error_when_the_handle_cannot_be_allocated(dtype: str, tmp_path: Path) -> None:
    # A zero-stride array of 10**8 elements costs nothing, but a window that
    # long needs gigabytes of handle under an address-space limit of 1.5 GB
    # more than the interpreter already uses; the output (800 MB) still fits.
    code = textwrap.dedent(
        f"""
        import resource
        import numpy as np
        import corvane as cr
        n = 10**8
        a = np.broadcast_to(np.{dtype}(1), (n,))
        with open("/proc/self/statm") as f:
            used = int(f.read().split()[0]) * resource.getpagesize()
        limit = used + 1500 * 2**20
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        try:
            cr.move_median(a, n)
        except MemoryError as e:
            print("MemoryError:", e)
        """
    )
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1")
    # Under AddressSanitizer a failed allocation must come back as null too.
    env["ASAN_OPTIONS"] = ":".join(
        filter(None, [env.get("ASAN_OPTIONS", ""), "allocator_may_return_null=1"])
    )
    # Away from the source tree, so that `import corvane` finds the build.
    r = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, env=env, cwd=tmp_path
    )
    assert r.stdout.strip() == "MemoryError: Could not allocate memory for move_median", r.stderr
