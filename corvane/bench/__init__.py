"""Side-by-side benchmarks of corvane against NumPy, pandas, SciPy and numbagg.

Run ``python -m corvane.bench`` (``--quick`` for a short run). Each
``*_cases.py`` module of this package contributes the cases of one family of
functions through a ``cases(quick)`` function.
"""

from __future__ import annotations

from corvane.bench.harness import Case, Peer, run

__all__ = ["Case", "Peer", "run"]
