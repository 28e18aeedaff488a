"""The rows as JSON, CSV and a bar chart (``--json``, ``--csv``, ``--plot``)."""

from __future__ import annotations

import csv
import json
import math
from collections.abc import Sequence

from corvane.bench.harness import Row


def _record(row: Row) -> dict[str, object]:
    return {
        "family": row.case.family,
        "function": row.case.function,
        "data": row.case.data,
        "corvane_s": row.corvane_s,
        "best_peer": row.best_peer,
        "best_peer_s": row.best_peer_s if row.best_peer_s == row.best_peer_s else None,
        "speedup": row.speedup if math.isfinite(row.speedup) else None,
        "peers_s": row.peers_s,
    }


def write_json(path: str, rows: Sequence[Row], env: dict[str, object]) -> None:
    with open(path, "w", encoding="utf-8") as f:
        json.dump({"environment": env, "rows": [_record(r) for r in rows]}, f, indent=1)
        f.write("\n")


def write_csv(path: str, rows: Sequence[Row]) -> None:
    fields = ["family", "function", "data", "corvane_s", "best_peer", "best_peer_s", "speedup"]
    with open(path, "w", encoding="utf-8", newline="") as f:
        writer = csv.DictWriter(f, fields, extrasaction="ignore")
        writer.writeheader()
        writer.writerows(_record(r) for r in rows)


def write_plot(path: str, rows: Sequence[Row], title: str) -> None:
    """One horizontal bar per row: the speedup on a log axis, rows grouped by family
    (top to bottom in run order), the 1x line marked; green where corvane is faster."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import FuncFormatter

    shown = [r for r in rows if math.isfinite(r.speedup) and r.speedup > 0]
    # Top to bottom: each family's name on a line of its own, then its rows.
    slots: list[Row | str] = []
    for i, r in enumerate(shown):
        if i == 0 or r.case.family != shown[i - 1].case.family:
            slots.append(r.case.family)
        slots.append(r)
    n = len(slots)
    fig, ax = plt.subplots(figsize=(9, 1.4 + 0.2 * n))
    speedups = [r.speedup for r in shown]
    lo = min([*speedups, 0.5]) / 1.6
    hi = max([*speedups, 2.0]) * 2.2
    ax.set_xscale("log")
    ax.set_xlim(lo, hi)
    ys, labels = [], []
    for i, slot in enumerate(slots):
        y = n - i
        if isinstance(slot, str):
            ax.text(lo * 1.05, y, slot, ha="left", va="center", fontsize=8, weight="bold")
            if i > 0:
                ax.axhline(y + 0.5, color="grey", linewidth=0.6, linestyle="--")
            continue
        s = slot.speedup
        # Bars grow from the 1x line: right where corvane is faster, left where a peer is.
        ax.barh(y, s - 1, left=1, color="#2a9d4b" if s >= 1 else "#d1495b", height=0.72)
        ax.text(
            s * (1.08 if s >= 1 else 1 / 1.08), y, f"{s:.2g}x" if s < 10 else f"{s:.0f}x",
            ha="left" if s >= 1 else "right", va="center", fontsize=6.5,
        )  # fmt: skip
        ys.append(y)
        labels.append(f"{slot.case.function}  {slot.case.data}")
    ax.axvline(1.0, color="black", linewidth=1.2)
    ax.text(1.0, n + 0.9, "1x", ha="center", va="bottom", fontsize=8, backgroundcolor="white")
    ax.xaxis.set_major_formatter(FuncFormatter(lambda x, _: f"{x:g}x"))
    ax.set_yticks(ys)
    ax.set_yticklabels(labels, fontsize=7)
    ax.set_ylim(0.3, n + 1.6)
    ax.set_xlabel(
        "speedup = best peer time / corvane time (log scale; right of 1x: corvane is faster)"
    )
    ax.set_title(title, fontsize=9)
    ax.grid(axis="x", which="major", linewidth=0.3, alpha=0.6)
    fig.savefig(path, dpi=110, bbox_inches="tight")
    plt.close(fig)
