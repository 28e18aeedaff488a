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
    n = len(shown)
    fig, ax = plt.subplots(figsize=(9, 1.4 + 0.2 * n))
    ys = list(range(n, 0, -1))
    speedups = [r.speedup for r in shown]
    colors = ["#2a9d4b" if s >= 1 else "#d1495b" for s in speedups]
    # Bars grow from the 1x line: right where corvane is faster, left where a peer is.
    ax.barh(ys, [s - 1 for s in speedups], left=1, color=colors, height=0.72)
    ax.set_xscale("log")
    lo = min([*speedups, 0.5]) / 1.6
    hi = max([*speedups, 2.0]) * 2.2
    ax.set_xlim(lo, hi)
    ax.axvline(1.0, color="black", linewidth=1.2)
    ax.text(1.0, n + 0.9, "1x", ha="center", va="bottom", fontsize=8, backgroundcolor="white")
    ax.xaxis.set_major_formatter(FuncFormatter(lambda x, _: f"{x:g}x"))
    for y, s in zip(ys, speedups, strict=True):
        ax.text(
            s * (1.08 if s >= 1 else 1 / 1.08), y, f"{s:.2g}x" if s < 10 else f"{s:.0f}x",
            ha="left" if s >= 1 else "right", va="center", fontsize=6.5,
        )  # fmt: skip
    ax.set_yticks(ys)
    ax.set_yticklabels([f"{r.case.function}  {r.case.data}" for r in shown], fontsize=7)
    ax.set_ylim(0.3, n + 1.6)
    # Families: a dashed line between them and the family's name at its first row.
    start = 0
    for i in range(1, n + 1):
        if i == n or shown[i].case.family != shown[start].case.family:
            if start > 0:
                ax.axhline(ys[start] + 0.5, color="grey", linewidth=0.6, linestyle="--")
            ax.text(
                hi / 1.05, ys[start], shown[start].case.family, ha="right", va="center",
                fontsize=8, color="grey", style="italic",
            )  # fmt: skip
            start = i
    ax.set_xlabel(
        "speedup = best peer time / corvane time (log scale; right of 1x: corvane is faster)"
    )
    ax.set_title(title, fontsize=9)
    ax.grid(axis="x", which="major", linewidth=0.3, alpha=0.6)
    fig.savefig(path, dpi=110, bbox_inches="tight")
    plt.close(fig)
