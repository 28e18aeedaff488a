"""The running-median library, called through the symbols the move module exports.

Every result is checked against a sorted-window oracle, and the handle's own
records (read through ctypes with the layout of running_median.h) are checked
for the heap, balance, position and list invariants after every update.
"""

from __future__ import annotations

import bisect
import ctypes
import math
import random
from collections import deque
from collections.abc import Iterator, Sequence
from contextlib import contextmanager
from typing import TYPE_CHECKING, Any, TypeAlias

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import corvane.move

NAN = float("nan")
INF = float("inf")
HOME_LOWER, HOME_UPPER, HOME_NAN = 0, 1, 2
FANOUT = 8


class MMEntry(ctypes.Structure):
    pass


MMEntry._fields_ = [
    ("home", ctypes.c_uint32),
    ("value", ctypes.c_double),
    ("pos", ctypes.c_uint64),
    ("newer", ctypes.POINTER(MMEntry)),
]

EntryArray = ctypes.POINTER(ctypes.POINTER(MMEntry))


class MMState(ctypes.Structure):
    _fields_ = [
        ("window", ctypes.c_uint64),
        ("window_is_odd", ctypes.c_uint32),
        ("min_count", ctypes.c_uint64),
        ("lower_size", ctypes.c_uint64),
        ("upper_size", ctypes.c_uint64),
        ("nan_size", ctypes.c_uint64),
        ("lower_heap", EntryArray),
        ("upper_heap", EntryArray),
        ("nan_list", EntryArray),
        ("slot_block", ctypes.c_void_p),
        ("entries", ctypes.POINTER(MMEntry)),
        ("oldest", ctypes.POINTER(MMEntry)),
        ("newest", ctypes.POINTER(MMEntry)),
        ("lower_leaf_start", ctypes.c_uint64),
        ("upper_leaf_start", ctypes.c_uint64),
    ]


if TYPE_CHECKING:
    Handle: TypeAlias = ctypes._Pointer[MMState]
else:
    Handle = ctypes.POINTER(MMState)
lib = ctypes.CDLL(corvane.move.__file__)
for _name in ("mm_new", "mm_new_nan"):
    getattr(lib, _name).argtypes = [ctypes.c_uint64, ctypes.c_uint64]
    getattr(lib, _name).restype = Handle
for _name in ("mm_update_init", "mm_update_init_nan", "mm_update", "mm_update_nan"):
    getattr(lib, _name).argtypes = [Handle, ctypes.c_double]
    getattr(lib, _name).restype = ctypes.c_double
for _name in ("mm_reset", "mm_free"):
    getattr(lib, _name).argtypes = [Handle]
    getattr(lib, _name).restype = None


@contextmanager
def handle(window: int, min_count: int, nan_aware: bool) -> Iterator[Handle]:
    mm = (lib.mm_new_nan if nan_aware else lib.mm_new)(window, min_count)
    assert mm, "allocation failed"
    try:
        yield mm
    finally:
        lib.mm_free(mm)


def same(a: float, b: float) -> bool:
    return a == b or (math.isnan(a) and math.isnan(b))


def addr(p: ctypes._Pointer[Any]) -> int:
    return ctypes.cast(p, ctypes.c_void_p).value or 0


class Oracle:
    """The window as a deque plus the sorted list of its non-NaN values."""

    def __init__(self, window: int, min_count: int) -> None:
        self.window = window
        self.min_count = min_count
        self.values: deque[float] = deque()
        self.sorted: list[float] = []

    def push(self, x: float) -> float:
        self.values.append(x)
        if not math.isnan(x):
            bisect.insort(self.sorted, x)
        if len(self.values) > self.window:
            old = self.values.popleft()
            if not math.isnan(old):
                del self.sorted[bisect.bisect_left(self.sorted, old)]
        return self.median()

    def median(self) -> float:
        s = self.sorted
        n = len(s)
        if n < self.min_count or n == 0:
            return NAN
        if n % 2:
            return s[n // 2]
        return (s[n // 2 - 1] + s[n // 2]) * 0.5


def leaf_start(n: int) -> int:
    return 0 if n <= 1 else math.ceil((n - 1) / FANOUT)


def check_invariants(mm: Handle, window_values: Sequence[float], filling: bool) -> None:
    """The handle's records agree with the window and obey the heap rules."""
    s = mm.contents
    lower, upper, nans = s.lower_size, s.upper_size, s.nan_size
    assert lower - upper in (0, 1)
    assert s.lower_leaf_start == leaf_start(lower)
    assert s.upper_leaf_start == leaf_start(upper)
    seen: set[int] = set()
    for heap, size, home, above in (
        (s.lower_heap, lower, HOME_LOWER, lambda a, b: a > b),
        (s.upper_heap, upper, HOME_UPPER, lambda a, b: a < b),
    ):
        for i in range(size):
            e = heap[i].contents
            assert (e.home, e.pos) == (home, i)
            assert not math.isnan(e.value)
            if i:
                assert not above(e.value, heap[(i - 1) // FANOUT].contents.value)
            seen.add(addr(heap[i]))
    if lower and upper:
        assert s.lower_heap[0].contents.value <= s.upper_heap[0].contents.value
    for i in range(nans):
        e = s.nan_list[i].contents
        assert (e.home, e.pos) == (HOME_NAN, i)
        assert math.isnan(e.value)
        seen.add(addr(s.nan_list[i]))
    total = lower + upper + nans
    assert total == len(window_values) == len(seen)
    # Oldest to newest along `newer`; during the fill that is the pool in order.
    p = s.oldest
    base = addr(s.entries)
    for k, expected in enumerate(window_values):
        assert addr(p) in seen
        if filling:
            assert addr(p) == base + k * ctypes.sizeof(MMEntry)
        assert same(p.contents.value, expected)
        if k < total - 1:
            p = p.contents.newer
    assert addr(p) == addr(s.newest)


def run_sequence(
    mm: Handle, xs: Sequence[float], window: int, min_count: int, nan_aware: bool, check: bool
) -> list[float]:
    """Feeds one sequence and compares every result with the oracle."""
    init = lib.mm_update_init_nan if nan_aware else lib.mm_update_init
    steady = lib.mm_update_nan if nan_aware else lib.mm_update
    oracle = Oracle(window, min_count)
    out = []
    for i, x in enumerate(xs):
        got = (init if i < window else steady)(mm, x)
        want = oracle.push(x)
        assert same(got, want), (i, x, got, want, sorted(oracle.values))
        if check:
            check_invariants(mm, list(oracle.values), filling=i < window)
        out.append(got)
    lib.mm_reset(mm)
    return out


def stream(rng: random.Random, n: int, nan_aware: bool, kind: str) -> list[float]:
    """Random values with runs of NaN (NaN-aware only), ties or infinities."""
    xs: list[float] = []
    while len(xs) < n:
        if nan_aware and rng.random() < 0.08:
            xs.extend([NAN] * int(rng.expovariate(1 / 6) + 1))
        elif kind == "ties":
            xs.append(float(rng.randint(-3, 3)))
        elif kind == "inf":
            xs.append(rng.choice([INF, -INF, rng.gauss(0, 1), rng.gauss(0, 1)]))
        else:
            xs.append(rng.gauss(0, 1))
    return xs[:n]


# ---------------------------------------------------------------- sequences


def test_plain_odd_window() -> None:
    with handle(3, 1, False) as mm:
        assert [lib.mm_update_init(mm, x) for x in (1.0, 2.0, 3.0)] == [1.0, 1.5, 2.0]
        assert lib.mm_update(mm, 10.0) == 3.0


def test_plain_min_count_lead_in() -> None:
    with handle(4, 3, False) as mm:
        r = [lib.mm_update_init(mm, x) for x in (5.0, 1.0, 9.0, 2.0)]
        assert math.isnan(r[0]) and math.isnan(r[1])
        assert r[2:] == [5.0, 3.5]
        # The steady state reads a full even window: mean of the two roots.
        assert lib.mm_update(mm, 4.0) == 3.0
        assert lib.mm_update(mm, 8.0) == 6.0


def test_even_window_mean_of_roots() -> None:
    # (a + b) * 0.5 in that form: two huge values overflow exactly as it says.
    with handle(2, 1, False) as mm:
        lib.mm_update_init(mm, 1e308)
        assert lib.mm_update_init(mm, 1e308) == INF
        assert lib.mm_update(mm, 3.0) == 5e307
        assert lib.mm_update(mm, 4.0) == 3.5


def test_nan_aware_sequence() -> None:
    with handle(3, 2, True) as mm:
        r = [lib.mm_update_init_nan(mm, x) for x in (1.0, NAN, 3.0)]
        assert math.isnan(r[0]) and math.isnan(r[1]) and r[2] == 2.0
        assert lib.mm_update_nan(mm, 5.0) == 4.0
        assert lib.mm_update_nan(mm, NAN) == 4.0
        assert math.isnan(lib.mm_update_nan(mm, NAN))


def test_all_nan_window_then_values_return() -> None:
    with handle(3, 1, True) as mm:
        xs = [NAN, NAN, NAN, NAN, 2.0, NAN, 7.0, 1.0, NAN, NAN, NAN, 4.0]
        got = run_sequence(mm, xs, 3, 1, True, check=True)
        assert all(math.isnan(g) for g in got[:4])
        assert got[4:8] == [2.0, 2.0, 4.5, 4.0]


def test_first_values_nan_then_fill() -> None:
    # NaN values at the head of the pool: the first number is not entry 0.
    with handle(5, 2, True) as mm:
        got = run_sequence(mm, [NAN, NAN, 3.0, 1.0, 2.0, 6.0, NAN], 5, 2, True, check=True)
        assert got[3:] == [2.0, 2.0, 2.5, 2.5]


@pytest.mark.parametrize("nan_aware", [False, True])
@pytest.mark.parametrize("window", [2, 3, 9, 10, 73])
def test_ties_never_move_an_entry(nan_aware: bool, window: int) -> None:
    init = lib.mm_update_init_nan if nan_aware else lib.mm_update_init
    steady = lib.mm_update_nan if nan_aware else lib.mm_update
    with handle(window, 1, nan_aware) as mm:
        for _ in range(window):
            assert init(mm, 5.0) == 5.0
        s = mm.contents
        entries = s.entries
        layout = [(entries[k].home, entries[k].pos) for k in range(window)]
        for _ in range(3 * window):
            assert steady(mm, 5.0) == 5.0
            assert [(entries[k].home, entries[k].pos) for k in range(window)] == layout


@pytest.mark.parametrize("nan_aware", [False, True])
def test_reset_gives_a_fresh_handle(nan_aware: bool) -> None:
    rng = random.Random(7)
    xs = stream(rng, 300, nan_aware, "normal")
    ys = stream(rng, 50, nan_aware, "ties")
    with handle(17, 5, nan_aware) as fresh:
        want = run_sequence(fresh, xs, 17, 5, nan_aware, check=False)
    with handle(17, 5, nan_aware) as used:
        run_sequence(used, ys, 17, 5, nan_aware, check=False)
        run_sequence(used, xs[:40], 17, 5, nan_aware, check=False)
        got = run_sequence(used, xs, 17, 5, nan_aware, check=True)
    assert all(same(a, b) for a, b in zip(got, want, strict=True))


def test_construction() -> None:
    for new, nan_aware in ((lib.mm_new, False), (lib.mm_new_nan, True)):
        mm = new(7, 3)
        s = mm.contents
        assert (s.window, s.min_count) == (7, 3)
        assert (s.lower_size, s.upper_size, s.nan_size) == (0, 0, 0)
        assert (s.lower_leaf_start, s.upper_leaf_start) == (0, 0)
        slots = s.slot_block
        assert addr(s.lower_heap) == slots
        assert addr(s.upper_heap) == slots + 4 * ctypes.sizeof(ctypes.c_void_p)
        if nan_aware:
            assert addr(s.nan_list) == slots + 7 * ctypes.sizeof(ctypes.c_void_p)
        else:
            assert s.window_is_odd == 1
        lib.mm_free(mm)
    with handle(8, 1, False) as mm:
        assert mm.contents.window_is_odd == 0
    # Sizes that cannot be allocated give null rather than a short allocation.
    for new in (lib.mm_new, lib.mm_new_nan):
        assert not new(0, 1)
        assert not new(2**62, 1)
        assert not new(2**64 - 1, 1)
    lib.mm_free(None)


def test_arguments_outside_the_header_rules_give_null() -> None:
    for new in (lib.mm_new, lib.mm_new_nan):
        for window, min_count in ((4, 0), (4, 5), (4, 10), (1, 0), (1, 2), (0, 0)):
            assert not new(window, min_count), (window, min_count)


@pytest.mark.parametrize("nan_aware", [False, True])
def test_window_one_through_every_update(nan_aware: bool) -> None:
    rng = random.Random(int(nan_aware))
    with handle(1, 1, nan_aware) as mm:
        for kind in ("normal", "inf", "ties"):
            xs = stream(rng, 50, nan_aware, kind)
            run_sequence(mm, xs, 1, 1, nan_aware, check=True)


# ------------------------------------------------------------ random streams


@pytest.mark.parametrize("nan_aware", [False, True])
@pytest.mark.parametrize("kind", ["normal", "ties", "inf"])
@pytest.mark.parametrize("window", [2, 3, 8, 9, 10, 64, 65, 74])
def test_random_streams_with_invariants(nan_aware: bool, kind: str, window: int) -> None:
    rng = random.Random(f"{nan_aware}{kind}{window}")
    for min_count in sorted({1, 2, (window + 1) // 2, window}):
        with handle(window, min_count, nan_aware) as mm:
            for n in (window // 2 + 1, window, 6 * window + 30):
                xs = stream(rng, n, nan_aware, kind)
                run_sequence(mm, xs, window, min_count, nan_aware, check=True)


@pytest.mark.parametrize("nan_aware", [False, True])
@pytest.mark.parametrize("window", [1, 2, 5, 100, 513, 1000])
def test_long_random_streams(nan_aware: bool, window: int) -> None:
    rng = random.Random(window * 2 + nan_aware)
    for min_count in sorted({1, max(1, window // 3), window}):
        with handle(window, min_count, nan_aware) as mm:
            for kind in ("normal", "ties"):
                n = 1 if window == 1 else 8000
                for _ in range(3 if window == 1 else 1):
                    xs = stream(rng, n, nan_aware, kind)
                    run_sequence(mm, xs, window, min_count, nan_aware, check=False)


@settings(max_examples=300, deadline=None)
@given(
    data=st.data(),
    window=st.integers(2, 20),
    values=st.lists(
        st.one_of(
            st.floats(allow_nan=True, allow_infinity=True, width=64),
            st.sampled_from([NAN, 0.0, 1.0, -1.0]),
        ),
        min_size=1,
        max_size=80,
    ),
)
def test_hypothesis_nan_aware(data: st.DataObject, window: int, values: list[float]) -> None:
    min_count = data.draw(st.integers(1, window))
    with handle(window, min_count, True) as mm:
        run_sequence(mm, values, window, min_count, True, check=True)


@settings(max_examples=200, deadline=None)
@given(
    data=st.data(),
    window=st.integers(2, 20),
    values=st.lists(
        st.one_of(
            st.floats(allow_nan=False, allow_infinity=True, width=64),
            st.sampled_from([0.0, 1.0, -1.0]),
        ),
        min_size=1,
        max_size=80,
    ),
)
def test_hypothesis_plain(data: st.DataObject, window: int, values: list[float]) -> None:
    min_count = data.draw(st.integers(1, window))
    with handle(window, min_count, False) as mm:
        run_sequence(mm, values, window, min_count, False, check=True)


@pytest.mark.parametrize(("lower", "window"), [(True, 15), (True, 17), (False, 16), (False, 18)])
def test_sink_takes_the_last_of_equal_children(lower: bool, window: int) -> None:
    # The root of one heap gets seven (partial node) or eight (full node)
    # children with two equal extremes; when the root's value is replaced by
    # one that sinks, the equal child at the higher position rises.
    # Fill values alternate: even steps go to the lower heap, odd to the upper.
    kids = [1.0, 4.0, 2.0, 4.0, 3.0, 0.0, 1.0, 2.0] if lower else [9.0, 6.0, 8.0, 6.0, 7.0]
    kids += [10.0, 9.0, 8.0]
    xs = []
    for k in range(window):
        if lower:
            xs.append(5.0 if k == 0 else 100.0 + k if k % 2 else kids[k // 2 - 1])
        else:
            upper = kids[k // 2 - 1] if k % 2 else -100.0 - k
            xs.append(-1.0 if k == 0 else 5.0 if k == 1 else upper)
    with handle(window, 1, False) as mm:
        for x in xs:
            lib.mm_update_init(mm, x)
        s = mm.contents
        heap = s.lower_heap if lower else s.upper_heap
        size = s.lower_size if lower else s.upper_size
        assert size - 1 == (8 if window > 16 else 7)
        children = [heap[i].contents.value for i in range(1, size)]
        assert children == kids[: size - 1]
        # Positions 2 and 4 hold the equal extremes.
        winner = addr(heap[4])
        if lower:
            new, window_values = 0.5, [*xs[1:], 0.5]
        else:
            # First the lower root's entry comes round again, unchanged.
            assert lib.mm_update(mm, -1.0) == 2.0
            new, window_values = 50.0, [*xs[2:], -1.0, 50.0]
        lib.mm_update(mm, new)
        assert addr(heap[0]) == winner
        assert heap[4].contents.value == new
        check_invariants(mm, window_values, filling=False)
