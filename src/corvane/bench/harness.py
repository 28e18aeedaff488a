"""Timing and reporting for ``python -m corvane.bench``."""

from __future__ import annotations

import importlib
import pkgutil
import sys
import time
from collections.abc import Callable, Iterable
from dataclasses import dataclass, field

Call = Callable[[], object]


@dataclass(frozen=True)
class Peer:
    """A competing implementation of the same computation."""

    name: str
    call: Call


@dataclass(frozen=True)
class Case:
    """One row of the table: corvane and its peers on the same input."""

    function: str
    data: str
    corvane: Call
    peers: tuple[Peer, ...] = field(default_factory=tuple)


@dataclass(frozen=True)
class Row:
    case: Case
    corvane_s: float
    best_peer: str
    best_peer_s: float

    @property
    def speedup(self) -> float:
        return self.best_peer_s / self.corvane_s if self.corvane_s > 0 else float("inf")


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
    calls += [(p.name, p.call) for p in case.peers]
    loops = {name: _loops_for(call, budget_s) for name, call in calls}
    best = {name: float("inf") for name, _ in calls}
    for _ in range(repeats):
        for name, call in calls:
            best[name] = min(best[name], _per_call(call, loops[name]))
    peers = [(t, name) for name, t in best.items() if name != "corvane"]
    peer_s, peer = min(peers) if peers else (float("nan"), "-")
    return Row(case, best["corvane"], peer, peer_s)


def _fmt_time(seconds: float) -> str:
    if seconds != seconds:
        return "-"
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def format_table(rows: Iterable[Row]) -> str:
    header = ("function", "data", "corvane", "best peer", "peer time", "speedup")
    lines = [
        (
            r.case.function,
            r.case.data,
            _fmt_time(r.corvane_s),
            r.best_peer,
            _fmt_time(r.best_peer_s),
            f"{r.speedup:.1f}x",
        )
        for r in rows
    ]
    widths = [max(len(h), *(len(line[i]) for line in lines)) for i, h in enumerate(header)]
    out = ["  ".join(h.ljust(w) for h, w in zip(header, widths, strict=True))]
    out.append("  ".join("-" * w for w in widths))
    out += ["  ".join(c.ljust(w) for c, w in zip(line, widths, strict=True)) for line in lines]
    return "\n".join(out)


def discover(quick: bool) -> list[Case]:
    """Cases of every ``*_cases`` module in this package, in name order."""
    import corvane.bench as pkg

    cases: list[Case] = []
    for info in sorted(pkgutil.iter_modules(pkg.__path__), key=lambda m: m.name):
        if info.name.endswith("_cases"):
            module = importlib.import_module(f"corvane.bench.{info.name}")
            cases += module.cases(quick)
    return cases


def run(quick: bool = False, only: str | None = None, out=sys.stdout) -> list[Row]:
    cases = discover(quick)
    if only:
        cases = [c for c in cases if only in c.function]
    repeats, budget = (3, 0.005) if quick else (7, 0.05)
    rows = []
    for i, case in enumerate(cases, 1):
        row = measure(case, repeats, budget)
        rows.append(row)
        print(
            f"[{i}/{len(cases)}] {case.function:<14} {case.data:<32} "
            f"{_fmt_time(row.corvane_s):>10}  {row.speedup:6.1f}x vs {row.best_peer}",
            file=out,
            flush=True,
        )
    print(file=out)
    print(format_table(rows), file=out)
    return rows
