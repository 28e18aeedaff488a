"""Every function at once: leaks, threads, hostile arguments and memory layouts."""

from __future__ import annotations

import gc
import os
import subprocess
import sys
import threading
import tracemalloc

import numpy as np
import pytest
from conftest import LAYOUTS, run_python, values, with_layout
from hypothesis import given, settings
from hypothesis import strategies as st

import corvane as cr

ANY_AXIS = ["nansum", "nanmean", "nanmin", "nanmax", "nanargmin", "nanargmax", "ss",
            "median", "nanmedian", "anynan", "allnan", "rankdata", "nanrankdata"]  # fmt: skip
WITH_DDOF = ["nanstd", "nanvar"]
MOVING = ["move_sum", "move_mean", "move_std", "move_var", "move_min", "move_max",
          "move_argmin", "move_argmax", "move_median", "move_rank"]  # fmt: skip
QUANTILES = ["quantile", "nanquantile"]
FILLS = ["push", "bfill"]
QUANTILE = ["move_quantile"]
EXP = ["move_exp_nanmean", "move_exp_nansum", "move_exp_nanvar", "move_exp_nanstd",
       "move_exp_nancount"]  # fmt: skip
ALL = [*ANY_AXIS, *WITH_DDOF, *QUANTILES, *MOVING, *QUANTILE, *EXP, "partition", "argpartition",
       *FILLS, "replace"]  # fmt: skip

DATA = np.array([[1.0, np.nan, 3.0, 2.0], [4.0, 5.0, np.nan, 0.5], [7.0, 1.0, 2.0, 2.0]])


def call_forms(name: str, a: np.ndarray) -> list:
    """Representative successful calls of `name` on a 2-d array `a`."""
    f = getattr(cr, name)
    if name in ANY_AXIS or name in WITH_DDOF:
        forms = [lambda: f(a), lambda: f(a, 0), lambda: f(a=a, axis=-1)]
        if name in WITH_DDOF:
            forms.append(lambda: f(a, 1, 1))
        return forms
    if name in MOVING:
        return [lambda: f(a, 2), lambda: f(a, 3, min_count=1, axis=0)]
    if name in QUANTILE:
        return [lambda: f(a, 2, 0.25), lambda: f(a, 3, q=0.75, min_count=1, axis=0)]
    if name in EXP:
        return [lambda: f(a, 0.5), lambda: f(a, alpha=0.2, min_weight=0.3, axis=0)]
    if name in ("partition", "argpartition"):
        return [lambda: f(a, 1), lambda: f(a, kth=0, axis=0), lambda: f(a, 2, None)]
    if name in QUANTILES:
        return [lambda: f(a, 0.5), lambda: f(a, [0.1, 0.9], 0), lambda: f(a=a, q=0.3, axis=-1)]
    if name in FILLS:
        return [lambda: f(a), lambda: f(a, 1, axis=0), lambda: f(a=a, n=2)]
    assert name == "replace"
    return [lambda: f(a.copy(), np.nan, 0.0), lambda: f(a=a.copy(), old=1.0, new=2.0)]


def error_forms(name: str, a: np.ndarray) -> list:
    """Calls of `name` that must raise an ordinary exception."""
    f = getattr(cr, name)
    forms = [lambda: f(), lambda: f(a, 1, 2, 3, 4, 5, 6), lambda: f(a, bogus=1)]
    if name in ANY_AXIS or name in WITH_DDOF:
        forms += [lambda: f(a, 5), lambda: f(a, "x")]
    elif name in MOVING:
        forms += [lambda: f(a, 0), lambda: f(a, 2, 3), lambda: f(a, 2, axis=7)]
    elif name in QUANTILE:
        forms += [lambda: f(a, 0, 0.5), lambda: f(a, 2, 1.5), lambda: f(a, 2, 0.5, axis=7)]
    elif name in EXP:
        forms += [lambda: f(a, 0), lambda: f(a, "x"), lambda: f(a, 0.5, axis=4)]
    elif name in ("partition", "argpartition"):
        forms += [lambda: f(a, 9), lambda: f(a, "x")]
    elif name in QUANTILES:
        forms += [lambda: f(a, 1.5), lambda: f(a, [0.5], 5), lambda: f(a, "x")]
    elif name in FILLS:
        forms += [lambda: f(a, -1), lambda: f(a, axis=4)]
    else:
        forms += [lambda: f([1.0], 1.0, 2.0), lambda: f(a.copy(), "x", 1.0)]
    return forms


def _snapshot() -> tracemalloc.Snapshot:
    own = tracemalloc.Filter(False, tracemalloc.__file__)
    return tracemalloc.take_snapshot().filter_traces([own])


def _rss_kib() -> int:
    with open("/proc/self/statm") as fh:
        return int(fh.read().split()[1]) * 4


@pytest.mark.parametrize("name", ALL)
@pytest.mark.filterwarnings("ignore")  # recorded warnings would look like a leak
def test_no_leaks(name):
    native = DATA.copy()
    fallback = DATA.astype(np.float16)
    ints = np.arange(12, dtype=np.int32).reshape(3, 4)
    calls = call_forms(name, native) + call_forms(name, fallback) + call_forms(name, ints)
    errors = error_forms(name, native)

    def once() -> None:
        for call in calls:
            call()
        for call in errors:
            with pytest.raises(Exception) as info:
                call()
            assert isinstance(info.value, (TypeError, ValueError)), repr(info.value)

    once()  # warm caches (the fallback module, interned strings)
    gc.collect()  # tracebacks of the caught errors hold frames in cycles
    refs = [sys.getrefcount(o) for o in (native, fallback, ints)]
    tracemalloc.start()
    for _ in range(50):
        once()
    rss = _rss_kib()
    snap = _snapshot()
    for _ in range(300):
        once()
    gc.collect()
    # A leak leaves blocks behind on every round; a cache or a resized table
    # adds a few blocks once.
    blocks = sum(s.count_diff for s in _snapshot().compare_to(snap, "filename"))
    tracemalloc.stop()
    assert [sys.getrefcount(o) for o in (native, fallback, ints)] == refs
    assert blocks < 200, f"{blocks} more live blocks after 300 rounds"
    if "asan" not in os.environ.get("LD_PRELOAD", ""):
        # (AddressSanitizer keeps freed memory in quarantine: no RSS check there.)
        assert _rss_kib() - rss < 8 * 1024, "resident memory grew by more than 8 MiB"


@pytest.mark.parametrize("name", [n for n in ALL if n != "replace"])
def test_threads_agree_with_one_thread(name):
    rng = np.random.default_rng(7)
    a = rng.standard_normal((40, 300))
    a[rng.random(a.shape) < 0.1] = np.nan
    a.flags.writeable = False
    forms = call_forms(name, a)
    want = [form() for form in forms]
    failures: list[str] = []

    def worker() -> None:
        for _ in range(20):
            for form, w in zip(forms, want, strict=True):
                got = form()
                if not np.array_equal(np.asarray(got), np.asarray(w), equal_nan=True):
                    failures.append(f"{name}: {got!r} != {w!r}")

    threads = [threading.Thread(target=worker) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures, failures[:3]


def test_replace_threads_on_distinct_arrays():
    rng = np.random.default_rng(3)
    arrays = [rng.integers(0, 5, (200, 200)).astype(np.float64) for _ in range(4)]
    want = [np.where(a == 3.0, -1.0, a) for a in arrays]

    def worker(a: np.ndarray) -> None:
        for _ in range(10):
            cr.replace(a, 3.0, -1.0)

    threads = [threading.Thread(target=worker, args=(a,)) for a in arrays]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for a, w in zip(arrays, want, strict=True):
        np.testing.assert_array_equal(a, w)


class _Sub(np.ndarray):
    pass


HOSTILE = st.one_of(
    st.none(),
    st.text(max_size=3),
    st.floats(allow_nan=True),
    st.integers(-(2**70), 2**70),
    st.booleans(),
    st.lists(st.lists(st.floats(-5, 5), max_size=3), max_size=3),
    st.just(np.array([None, 1.0], dtype=object)),
    st.just(np.array(2.5)),
    st.just(np.arange(6.0).reshape(2, 3).view(_Sub)),
    st.just(np.zeros((1,) * 32)),
    st.just(np.float64(np.nan)),
    st.sampled_from(["<f8", ">f8", "<i4", ">i8", "f2", "u1", "?", "c16", "M8[ns]", "U3"]).map(
        lambda dt: np.arange(6).reshape(2, 3).astype(dt)
    ),
)


@settings(max_examples=300)
@given(name=st.sampled_from(ALL), args=st.lists(HOSTILE, max_size=5), kw=st.booleans())
def test_hostile_arguments_raise_ordinary_exceptions(name, args, kw):
    f = getattr(cr, name)
    keys = ["a", "axis", "window", "min_count", "ddof", "kth", "n", "old", "new"]
    if kw and args:
        kwargs = dict(zip(keys[: len(args)], args, strict=True))
        call_args: tuple = ()
    else:
        kwargs, call_args = {}, tuple(args)
    snapshots = [
        (o, o.copy()) for o in [*call_args, *kwargs.values()] if isinstance(o, np.ndarray)
    ]
    try:
        f(*call_args, **kwargs)
    except (TypeError, ValueError, MemoryError, OverflowError, IndexError, RuntimeError) as e:
        # RuntimeError is allowed only when it comes from NumPy, not the fallback.
        assert not str(e).startswith(("Cannot import", "corvane.slow")), e
    if name != "replace":
        for original, copy in snapshots:
            assert original.dtype == copy.dtype
            np.testing.assert_array_equal(original, copy)


def _outcome(call) -> object:
    """The result of `call`, or its exception's type and message."""
    try:
        return call()
    except (TypeError, ValueError) as e:
        return (type(e), str(e))


@settings(max_examples=40)
@given(data=st.data(), name=st.sampled_from([n for n in ALL if n != "replace"]))
def test_every_layout_gives_the_same_result(data, name):
    shape = data.draw(st.lists(st.integers(3, 5), min_size=2, max_size=3).map(tuple))
    dtype = data.draw(st.sampled_from(["float64", "float32", "int64", "int32"]))
    a = data.draw(values(shape, dtype))
    repeated = data.draw(st.booleans())
    if repeated:
        # Rows that repeat, so that the broadcast layout holds the same values.
        a = np.ascontiguousarray(np.broadcast_to(a[:1], a.shape))
    want = [_outcome(form) for form in call_forms(name, np.ascontiguousarray(a))]
    for layout in LAYOUTS:
        if layout == "broadcast" and not repeated:
            continue
        b = with_layout(a, layout)
        for form, w in zip(call_forms(name, b), want, strict=True):
            got = _outcome(form)
            assert type(got) is type(w)
            if isinstance(w, tuple) or name in ("partition", "argpartition"):
                # Errors must agree; any partitioned order is valid (checked elsewhere).
                assert not isinstance(w, tuple) or got == w, (layout, got, w)
                continue
            got, w = np.asarray(got), np.asarray(w)
            if got.dtype.kind == "f":
                # Whole-array float sums run in memory order, which differs
                # between layouts; everything else must agree exactly.
                finite = np.abs(a[np.isfinite(a)])
                scale = float(finite.max()) if finite.size else 1.0
                tol = 1e-3 if a.dtype == np.float32 else 1e-9
                np.testing.assert_allclose(
                    got, w, rtol=tol, atol=tol * scale, equal_nan=True, err_msg=layout
                )
            else:
                np.testing.assert_array_equal(got, w, err_msg=layout)


def _message_cases() -> list[tuple[str, tuple, dict]]:
    """Every argument error the module tests check the exact message of."""
    import test_bfill
    import test_elemental
    import test_move
    import test_move_params
    import test_quantile
    import test_reduce
    import test_slicewise

    cases = []
    modules = (test_reduce, test_quantile, test_move, test_move_params, test_slicewise, test_bfill)
    for module in modules:
        cases += [(name, args, kwargs) for name, args, kwargs, *_ in module.ARG_ERRORS]
    a = np.array([1.0, 0.0])
    cases += [("replace", (a, *args), kwargs) for args, kwargs, _ in test_elemental.ARG_ERRORS]
    return cases


@pytest.mark.filterwarnings("ignore")
def test_error_paths_release_everything():
    cases = _message_cases()
    objects = [o for _, args, kwargs in cases for o in (*args, *kwargs.values())]
    arrays = [o for o in objects if isinstance(o, np.ndarray | list)]

    def once() -> None:
        for name, args, kwargs in cases:
            with pytest.raises((TypeError, ValueError)):
                getattr(cr, name)(*args, **kwargs)

    once()
    gc.collect()
    refs = [sys.getrefcount(o) for o in arrays]
    tracemalloc.start()
    once()
    snap = _snapshot()
    for _ in range(100):
        once()
    gc.collect()
    blocks = sum(s.count_diff for s in _snapshot().compare_to(snap, "filename"))
    tracemalloc.stop()
    assert [sys.getrefcount(o) for o in arrays] == refs
    assert blocks < 100, f"{blocks} more live blocks after 100 rounds of {len(cases)} errors"


def test_import_from_the_root_of_a_source_checkout():
    # The checkout's root is first on sys.path there: its corvane/ has no compiled
    # modules and hands over to the installed package as a whole.
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    code = "import corvane as cr; print(cr.nansum([1, 2]), cr.move_sum([1.0, 2.0], 2)[1])"
    res = subprocess.run(
        [sys.executable, "-c", code], capture_output=True, text=True, cwd=root, timeout=120
    )
    assert res.returncode == 0, res.stderr
    assert res.stdout.split() == ["3", "3.0"]


@pytest.mark.parametrize("name", ALL)
@pytest.mark.filterwarnings("ignore::PendingDeprecationWarning")
def test_matrix_gives_what_a_plain_array_gives(name):
    # A matrix stays 2-d through ravel; every path must read it as a plain array.
    for view in (lambda x: x, lambda x: x.T, lambda x: x[:, ::2]):
        m, p = view(np.matrix(DATA)), view(DATA.copy())
        for mform, pform in zip(call_forms(name, m), call_forms(name, p), strict=True):
            got, want = _outcome(mform), _outcome(pform)
            if isinstance(want, tuple):
                assert got == want
            else:
                assert type(got) is type(want) or isinstance(got, np.matrix)
                assert np.asarray(got).shape == np.asarray(want).shape or name == "replace"
                np.testing.assert_array_equal(np.asarray(got).ravel(), np.asarray(want).ravel())


_EMPTY_CALLS = """
import numpy as np, corvane as cr

def calls(a):
    for name in ALL:
        f = getattr(cr, name)
        for ax in [None, *range(a.ndim)]:
            # Reductions only where their output is empty too (others are huge).
            if name in REDUCING and ax is not None and 0 not in a.shape[:ax] + a.shape[ax + 1:]:
                continue
            if name == "replace":
                yield name, ax, lambda: f(a, 0.0, 1.0)
            elif name in ("partition", "argpartition"):
                yield name, ax, lambda: f(a, 0, axis=ax)
            elif name.startswith("move_"):
                yield name, ax, lambda: f(a, 1, axis=ax)
            else:
                yield name, ax, lambda: f(a, axis=ax)

def outcome(call):
    try:
        r = call()
    except (TypeError, ValueError) as e:
        return type(e).__name__
    return (r.dtype.str, r.size) if isinstance(r, np.ndarray) else repr(r)

shape, small = [2**20] * 3, [3] * 3
shape[EMPTY] = small[EMPTY] = 0
for (name, ax, call), (_, _, want) in zip(calls(np.zeros(shape)), calls(np.zeros(small))):
    assert outcome(call) == outcome(want), (name, ax, outcome(call), outcome(want))
print("done")
"""


@pytest.mark.parametrize("empty", [0, 1, 2])
def test_empty_arrays_with_huge_other_dimensions_finish_at_once(empty):
    # A zero-size array has all-zero strides, and 2**40 empty slices here: no walk
    # may visit them one by one (the subprocess's timeout catches one that does).
    head = f"ALL, REDUCING, EMPTY = {ALL!r}, {ANY_AXIS[:11] + WITH_DDOF!r}, {empty}"
    res = run_python(head + _EMPTY_CALLS)
    assert res.returncode == 0 and res.stdout.split() == ["done"], res.stderr
