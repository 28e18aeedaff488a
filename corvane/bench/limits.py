"""This machine's limits, measured in the same run as the kernels (``--limits``).

No kernel can beat the hardware: a scan is bound by how fast memory is read, a kernel
that writes an array of its input's size by how fast memory is copied, and a float
accumulation in a fixed order by the latency of one addition per element. Each row of
the benchmark is shown as a multiple of the limit that bounds it:

=======================================================  ===================================
function                                                 limit
=======================================================  ===================================
nanmin, nanmax, nanargmin, nanargmax, anynan, allnan,    scan: read the input once
replace
nansum, nanmean, ss, nanvar, nanstd                      scan, or the addition chain of the
                                                         longest slice if that is slower
move_sum, move_mean, move_var, move_std                  copy, or the addition chain of the
                                                         longest slice if that is slower
move_min, move_max, move_argmin, move_argmax,            copy: read the input, write an
move_median, move_rank, median, nanmedian, partition,    output of its size
argpartition, rankdata, nanrankdata, push
=======================================================  ===================================

The limits come from operations that run at them: ``np.copyto`` (copy),
``np.bitwise_or.reduce`` over the data viewed as 64-bit integers (scan), and for the
addition chain a small native probe, ``corvane._probes.add_chain``, that adds float64
values one after the other into one sum (NumPy's own sums are pairwise, and
``np.add.accumulate`` writes an output as well). Scan and copy are measured at the
byte size of each row's input. Rows under 10**5 elements are left out: their time is
the cost of a call, not of the data.
"""

from __future__ import annotations

import re
import time
from collections.abc import Callable, Iterable
from dataclasses import dataclass, field

import numpy as np

from corvane._probes import add_chain

SCAN = "scan"
COPY = "copy"

# function -> (the bandwidth limit, whether its slices are an addition chain)
BOUNDS: dict[str, tuple[str, bool]] = {
    **{f: (SCAN, False) for f in ("nanmin", "nanmax", "nanargmin", "nanargmax")},
    **{f: (SCAN, False) for f in ("anynan", "allnan", "replace")},
    **{f: (SCAN, True) for f in ("nansum", "nanmean", "ss", "nanvar", "nanstd")},
    **{f: (COPY, True) for f in ("move_sum", "move_mean", "move_var", "move_std")},
    **{
        f: (COPY, False)
        for f in (
            "move_min",
            "move_max",
            "move_argmin",
            "move_argmax",
            "move_median",
            "move_rank",
            "median",
            "nanmedian",
            "partition",
            "argpartition",
            "rankdata",
            "nanrankdata",
            "push",
        )  # fmt: skip
    },
}

# The smallest input whose row is set against the limits.
MIN_ELEMENTS = 10**5

_DTYPES = ("float64", "float32", "int64", "int32")


@dataclass(frozen=True)
class Shape:
    """What a row's data label tells of its input."""

    shape: tuple[int, ...]
    dtype: np.dtype
    axis: int | None

    @property
    def size(self) -> int:
        return int(np.prod(self.shape))

    @property
    def nbytes(self) -> int:
        return self.size * self.dtype.itemsize

    @property
    def slice_len(self) -> int:
        """Elements of the longest chain: a slice along the axis, or all of them."""
        if self.axis is None or len(self.shape) == 1:
            return self.size if self.axis is None else self.shape[0]
        return self.shape[self.axis]


def _number(text: str) -> int:
    """A length written as in the labels: "1000", "1e6" or "10**6"."""
    if "**" in text:
        base, _, power = text.partition("**")
        return int(int(base) ** int(power))
    if "e" in text:
        mantissa, _, exp = text.partition("e")
        return int(int(mantissa) * 10 ** int(exp))
    return int(text)


def parse_label(label: str, function: str = "") -> Shape | None:
    """The input described by a benchmark data label, e.g. "1000x1000 axis 0 float32 nan"
    or "1e6 float64 window 100"; None when the label does not say."""
    words = label.split()
    if not words:
        return None
    try:
        shape = tuple(_number(p) for p in re.split(r"[x,]", words[0].strip("(),")) if p)
    except ValueError:
        return None
    dtype = next((d for d in _DTYPES if d in words), "float64")
    am = re.search(r"\baxis[ =](-?\d+|None)", label)
    if am is not None:
        axis = None if am.group(1) == "None" else int(am.group(1))
    elif "whole" in words:
        axis = None
    else:
        # The functions' own defaults: the whole array for reductions, else the last axis.
        axis = None if BOUNDS.get(function, (SCAN, False))[0] == SCAN else -1
    return Shape(shape, np.dtype(dtype), axis)


def _best(call: Callable[[], object], repeats: int) -> float:
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        call()
        best = min(best, time.perf_counter() - start)
    return best


@dataclass
class Limits:
    """Measured limits: seconds per byte (scan, copy) and per addition."""

    repeats: int = 15
    addition_s: float = float("nan")
    _per_byte: dict[tuple[str, int], float] = field(default_factory=dict)

    def measure_chain(self) -> float:
        x = np.random.default_rng(0).standard_normal(10**6)
        add_chain(x)
        self.addition_s = _best(lambda: add_chain(x), self.repeats) / x.size
        return self.addition_s

    def per_byte(self, kind: str, nbytes: int) -> float:
        """Seconds per byte of a scan or a copy of `nbytes` bytes."""
        cache = self._per_byte
        if (kind, nbytes) not in cache:
            words = max(nbytes // 8, 1)
            x = np.random.default_rng(0).integers(0, 2**62, words)
            if kind == SCAN:
                cache[kind, nbytes] = _best(lambda: np.bitwise_or.reduce(x), self.repeats)
            else:
                y = np.empty_like(x)
                cache[kind, nbytes] = _best(lambda: np.copyto(y, x), self.repeats)
            cache[kind, nbytes] /= words * 8
        return cache[kind, nbytes]

    def bound(self, function: str, label: str) -> tuple[str, float] | None:
        """The limit that bounds a row and its time; None when there is none to give."""
        if function not in BOUNDS:
            return None
        shape = parse_label(label, function)
        if shape is None or shape.size < MIN_ELEMENTS:
            return None
        kind, chained = BOUNDS[function]
        name, limit = kind, self.per_byte(kind, shape.nbytes) * shape.nbytes
        if chained:
            if self.addition_s != self.addition_s:
                self.measure_chain()
            chain = self.addition_s * shape.slice_len
            if chain > limit:
                name, limit = "chain", chain
        return name, limit


def _fmt(seconds: float) -> str:
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def report(rows: Iterable[object], limits: Limits | None = None) -> str:
    """The rows (with ``case.function``, ``case.data`` and ``corvane_s``) as multiples of
    their limits, after a header with the limits themselves."""
    lim = limits or Limits()
    lim.measure_chain()
    mb8 = 8 * 10**6
    head = (
        f"limits on this machine (8 MB): scan {_fmt(lim.per_byte(SCAN, mb8) * mb8)}, "
        f"copy {_fmt(lim.per_byte(COPY, mb8) * mb8)}, "
        f"float64 addition chain {lim.addition_s * 1e9:.3g} ns per element"
    )
    lines = [("function", "data", "corvane", "limit", "limit time", "x limit")]
    for row in rows:
        case = row.case  # type: ignore[attr-defined]
        bound = lim.bound(case.function, case.data)
        if bound is None:
            continue
        name, limit = bound
        t = row.corvane_s  # type: ignore[attr-defined]
        lines.append((case.function, case.data, _fmt(t), name, _fmt(limit), f"{t / limit:.2f}x"))
    widths = [max(len(line[i]) for line in lines) for i in range(len(lines[0]))]
    table = ["  ".join(c.ljust(w) for c, w in zip(line, widths, strict=True)) for line in lines]
    table.insert(1, "  ".join("-" * w for w in widths))
    return "\n".join([head, "", *table])
