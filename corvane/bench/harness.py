"""Timing and reporting for ``python -m corvane.bench``.

Each ``*_cases.py`` module of this package gives the rows of one family through
``cases(quick) -> list[Case]``; its docstring's first line titles the family's table.
A peer whose library is not installed is passed as ``Peer(name, None)``: its rows are
skipped (named once in the header) rather than compared with the remaining peers only.
"""

from __future__ import annotations

import dataclasses
import functools
import importlib
import math
import os
import platform
import re
import sys
import time
from collections.abc import Callable, Iterable, Sequence
from dataclasses import dataclass, field
from typing import TextIO

Call = Callable[[], object]

LEGEND = (
    'speedup = best peer time / corvane time (above 1x corvane is faster); "nan" means '
    '10% NaN, "all nan" every element NaN; times are the best of {repeats} runs'
)


def bind(func: Callable[..., object], *args: object, **kwargs: object) -> Call:
    """`func` with its arguments, as a call without any (a partial: no Python frame
    of its own, so tiny inputs are timed fairly)."""
    return functools.partial(func, *args, **kwargs)


@dataclass(frozen=True)
class Peer:
    """A competing implementation of the same computation; ``call`` None when the
    library (the first word of ``name``) is not installed."""

    name: str
    call: Call | None

    @property
    def library(self) -> str:
        return self.name.split()[0].lower()


@dataclass(frozen=True)
class Case:
    """One row of the table: corvane and its peers on the same input."""

    function: str
    data: str
    corvane: Call
    peers: tuple[Peer, ...] = field(default_factory=tuple)
    family: str = ""


@dataclass(frozen=True)
class Row:
    case: Case
    corvane_s: float
    best_peer: str
    best_peer_s: float
    peers_s: dict[str, float] = field(default_factory=dict)

    @property
    def speedup(self) -> float:
        return self.best_peer_s / self.corvane_s if self.corvane_s > 0 else math.inf


@dataclass(frozen=True)
class Family:
    name: str
    title: str
    cases: list[Case]


# --------------------------------------------------------------------------------------
# Timing
# --------------------------------------------------------------------------------------


def _loops_for(call: Call, budget_s: float) -> int:
    """Number of calls that take about `budget_s` together."""
    loops = 1
    while True:
        start = time.perf_counter()
        for _ in range(loops):
            call()
        elapsed = time.perf_counter() - start
        if elapsed >= budget_s / 4 or loops >= 1 << 22:
            return max(1, int(loops * budget_s / max(elapsed, 1e-9)))
        loops *= 4


def _per_call(call: Call, loops: int) -> float:
    start = time.perf_counter()
    for _ in range(loops):
        call()
    return (time.perf_counter() - start) / loops


def measure(case: Case, repeats: int, budget_s: float) -> Row:
    """Best-of-`repeats` time per call, corvane and peers interleaved."""
    calls: list[tuple[str, Call]] = [("corvane", case.corvane)]
    calls += [(p.name, p.call) for p in case.peers if p.call is not None]
    loops = {name: _loops_for(call, budget_s) for name, call in calls}
    best = {name: math.inf for name, _ in calls}
    for _ in range(repeats):
        for name, call in calls:
            best[name] = min(best[name], _per_call(call, loops[name]))
    peers = {name: t for name, t in best.items() if name != "corvane"}
    peer_s, peer = min((t, name) for name, t in peers.items()) if peers else (math.nan, "-")
    return Row(case, best["corvane"], peer, peer_s, peers)


def _elements(data: str) -> int:
    """The number of elements a data label names (``10``, ``1e6``, ``1000x1000``)."""
    size = 1
    for side in data.split()[0].split("x") if data else ():
        try:
            size *= int(float(side))
        except ValueError:
            return 1
    return size


def _predicted_s(case: Case, repeats: int, budget_s: float) -> float:
    """Rough cost of a row before it runs: calibration and repeats for each call, a
    call on a large input taking longer than the budget (the scale is set right by
    the rows that have run)."""
    per_call = max(budget_s, _elements(case.data) * 5e-9)
    return (1 + len(case.peers)) * (repeats + 2) * per_call


# --------------------------------------------------------------------------------------
# Reporting
# --------------------------------------------------------------------------------------


def _fmt_time(seconds: float) -> str:
    if seconds != seconds:
        return "-"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def _fmt_eta(seconds: float) -> str:
    seconds = max(0, round(seconds))
    return f"{seconds // 60}m{seconds % 60:02d}s" if seconds >= 60 else f"{seconds}s"


def _fmt_speedup(x: float) -> str:
    return "-" if x != x else f"{x:.2g}x" if x < 10 else f"{x:.0f}x"


def format_table(rows: Iterable[Row]) -> str:
    header = ("function", "data", "corvane", "best peer", "peer time", "speedup")
    lines = [
        (
            r.case.function,
            r.case.data,
            _fmt_time(r.corvane_s),
            r.best_peer,
            _fmt_time(r.best_peer_s),
            _fmt_speedup(r.speedup),
        )
        for r in rows
    ]
    widths = [max(len(h), *(len(line[i]) for line in lines)) for i, h in enumerate(header)]
    right = {2, 4, 5}

    def fmt(cells: Sequence[str]) -> str:
        out = (
            c.rjust(w) if i in right else c.ljust(w)
            for i, (c, w) in enumerate(zip(cells, widths, strict=True))
        )
        return "  ".join(out).rstrip()

    out = [fmt(header), "  ".join("-" * w for w in widths)]
    out += [fmt(line) for line in lines]
    return "\n".join(out)


def _cpu_model() -> str:
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.partition(":")[2].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def environment() -> dict[str, object]:
    """The machine and the versions the timings depend on."""
    import numpy as np

    import corvane

    try:
        usable = len(os.sched_getaffinity(0))
    except AttributeError:
        usable = os.cpu_count() or 1
    peers: dict[str, dict[str, object]] = {
        "numpy": {"version": np.__version__, "threads": 1},
    }
    for lib in ("pandas", "scipy", "numbagg"):
        try:
            module = importlib.import_module(lib)
        except ImportError:
            continue
        peers[lib] = {"version": getattr(module, "__version__", "?"), "threads": 1}
    if "numbagg" in peers:
        numba = importlib.import_module("numba")
        peers["numbagg"]["threads"] = int(numba.get_num_threads())
        peers["numbagg"]["numba"] = numba.__version__
    return {
        "corvane": corvane.__version__,
        "cpu": _cpu_model(),
        "cores": os.cpu_count() or 1,
        "usable_cores": usable,
        "python": platform.python_version(),
        "peers": peers,
    }


_DISPLAY = {"numpy": "NumPy", "pandas": "pandas", "scipy": "SciPy", "numbagg": "numbagg"}


def format_header(env: dict[str, object], repeats: int) -> str:
    peers = env["peers"]
    assert isinstance(peers, dict)
    cores = f"{env['cores']} cores"
    if env["usable_cores"] != env["cores"]:
        cores += f" ({env['usable_cores']} usable)"
    parts = []
    for lib, info in peers.items():
        threads = info["threads"]
        text = (
            f"{_DISPLAY.get(lib, lib)} {info['version']} ({threads} thread{'s' * (threads != 1)}"
        )
        if lib == "numbagg":
            text += f", numba {info['numba']}; moving windows also on 1 thread"
        parts.append(text + ")")
    return "\n".join(
        [
            f"corvane {env['corvane']} on {env['cpu']}, {cores}; Python {env['python']}",
            "peers: " + ", ".join(parts),
            LEGEND.format(repeats=repeats),
        ]
    )


class Progress:
    """One line per row, or a single line rewritten in place on a terminal; each with
    an estimate of the time left. Written to stderr, so stdout holds only tables."""

    def __init__(self, total_s: float, rows: int, stream: TextIO) -> None:
        self.total_s, self.rows, self.stream = total_s, rows, stream
        self.tty = stream.isatty()
        self.predicted_done = 0.0  # predicted cost of the finished rows
        self.spent = 0.0  # what they took (numba's compilation left out)
        self.width = 0

    def _write(self, text: str) -> None:
        if self.tty:
            self.stream.write("\r" + text.ljust(self.width))
            self.width = len(text)
        else:
            self.stream.write(text + "\n")
        self.stream.flush()

    def row(self, index: int, case: Case) -> None:
        if self.predicted_done > 0:
            # The prediction for the rest, scaled by how the finished rows went.
            left = (self.total_s - self.predicted_done) * self.spent / self.predicted_done
            eta = f"about {_fmt_eta(left)} left"
        else:
            eta = "estimating the time left"
        self._write(f"[{index}/{self.rows}] {case.function} {case.data} ({eta})")

    def finished(self, predicted_s: float, spent_s: float) -> None:
        self.predicted_done += predicted_s
        self.spent += spent_s

    def note(self, text: str) -> None:
        self._write(text)

    def clear(self) -> None:
        if self.tty and self.width:
            self.stream.write("\r" + " " * self.width + "\r")
            self.stream.flush()
            self.width = 0


# --------------------------------------------------------------------------------------
# Discovery and the run
# --------------------------------------------------------------------------------------


def discover(quick: bool) -> list[Family]:
    """Every ``*_cases`` module of this package, in name order, with its cases."""
    import pkgutil

    import corvane.bench as pkg

    families = []
    for info in sorted(pkgutil.iter_modules(pkg.__path__), key=lambda m: m.name):
        if not info.name.endswith("_cases"):
            continue
        module = importlib.import_module(f"corvane.bench.{info.name}")
        name = info.name.removesuffix("_cases")
        # The first paragraph of the module's docstring, on one line.
        first = (module.__doc__ or name).strip().split("\n\n")[0]
        title = " ".join(first.split()).rstrip(".")
        cases = [
            c if c.family else dataclasses.replace(c, family=name) for c in module.cases(quick)
        ]
        families.append(Family(name, title, cases))
    return families


def _matches(case: Case, only: str | None) -> bool:
    """`only` holds one or more comma-separated parts of function names."""
    return only is None or any(part in case.function for part in only.split(",") if part)


_NUMBA_KEY = re.compile(r"(float|int)\d+")


def _warm_numba(case: Case, warmed: set[tuple[str, str, str]], progress: Progress) -> None:
    """numba compiles numbagg's functions at their first call for each element type
    (10 to 30 seconds): say so, and do it before the timing starts."""
    dtype = m.group(0) if (m := _NUMBA_KEY.search(case.data)) else ""
    for peer in case.peers:
        key = (peer.name, case.function, dtype)
        if peer.library != "numbagg" or peer.call is None or key in warmed:
            continue
        progress.note(f"numba is compiling {peer.name} for {case.function} ({dtype}) ...")
        peer.call()
        warmed.add(key)


def run(
    quick: bool = False,
    only: str | None = None,
    out: TextIO | None = None,
    err: TextIO | None = None,
    families: list[Family] | None = None,
) -> list[Row]:
    """Time every case (or those whose function name contains one of the
    comma-separated texts in `only`); print the
    header and one table per family to `out` (stdout) and the progress to `err`
    (stderr). Returns the rows."""
    out = sys.stdout if out is None else out
    err = sys.stderr if err is None else err
    repeats, budget = (3, 0.005) if quick else (7, 0.05)
    if families is None:
        families = discover(quick)
    selected = [
        Family(f.name, f.title, [c for c in f.cases if _matches(c, only)]) for f in families
    ]
    selected = [f for f in selected if f.cases]
    if not selected:
        names = sorted({c.function for f in families for c in f.cases})
        print(f"No benchmark matches --only {only!r}; functions: {', '.join(names)}", file=out)
        return []

    print(format_header(environment(), repeats), file=out)
    missing = sorted(
        {p.library for f in selected for c in f.cases for p in c.peers if p.call is None}
    )
    for lib in missing:
        skipped = sum(
            1
            for f in selected
            for c in f.cases
            if any(p.library == lib and p.call is None for p in c.peers)
        )
        print(
            f"{_DISPLAY.get(lib, lib)} is not installed: its {skipped} rows are skipped", file=out
        )
    print(file=out, flush=True)

    runnable = [
        Family(f.name, f.title, [c for c in f.cases if all(p.call is not None for p in c.peers)])
        for f in selected
    ]
    total_rows = sum(len(f.cases) for f in runnable)
    if total_rows == 0:
        print("No rows left to time.", file=out)
        return []
    predicted = {id(c): _predicted_s(c, repeats, budget) for f in runnable for c in f.cases}
    progress = Progress(sum(predicted.values()), total_rows, err)
    warmed: set[tuple[str, str, str]] = set()
    rows: list[Row] = []
    index = 0
    for family in runnable:
        if not family.cases:
            continue
        family_rows = []
        for case in family.cases:
            index += 1
            progress.row(index, case)
            _warm_numba(case, warmed, progress)
            start = time.perf_counter()
            family_rows.append(measure(case, repeats, budget))
            progress.finished(predicted[id(case)], time.perf_counter() - start)
        progress.clear()
        print(f"{family.title}\n\n{format_table(family_rows)}\n", file=out, flush=True)
        rows += family_rows
    return rows
