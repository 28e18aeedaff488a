"""Fast NaN-aware functions over NumPy arrays.

Reductions (``nansum``, ``nanmean``, ``nanstd``, ``nanvar``, ``nanmin``,
``nanmax``, ``nanargmin``, ``nanargmax``, ``ss``, ``median``, ``nanmedian``,
``quantile``, ``nanquantile``, ``anynan``, ``allnan``), moving windows
(``move_*``), partition, ranking and filling along an axis (``partition``,
``argpartition``, ``rankdata``, ``nanrankdata``, ``push``, ``bfill``) and
in-place ``replace``. Every function is native for float64, float32, int64 and
int32 arrays and falls back to :mod:`corvane.slow` for the rest.
"""

from __future__ import annotations


def _borrow_built_modules() -> None:
    """Lets ``python -m corvane.bench`` (or any import) work from the root of a
    source checkout: there this directory shadows the installed package but
    holds no compiled modules, so the installed copy's directory is searched
    after it."""
    import importlib.machinery
    import os
    import sys

    here = os.path.dirname(os.path.abspath(__file__))
    if any(
        name.startswith("reduce.") and name.endswith((".so", ".pyd")) for name in os.listdir(here)
    ):
        return
    root = os.path.dirname(here)
    elsewhere = [p for p in sys.path if os.path.abspath(p or os.curdir) != root]
    found = importlib.machinery.PathFinder.find_spec(__name__, elsewhere)
    if found is not None and found.submodule_search_locations:
        __path__.extend(p for p in found.submodule_search_locations if p not in __path__)


_borrow_built_modules()

from corvane.elemental import replace  # noqa: E402
from corvane.move import (  # noqa: E402
    move_argmax,
    move_argmin,
    move_max,
    move_mean,
    move_median,
    move_min,
    move_rank,
    move_std,
    move_sum,
    move_var,
)
from corvane.reduce import (  # noqa: E402
    allnan,
    anynan,
    median,
    nanargmax,
    nanargmin,
    nanmax,
    nanmean,
    nanmedian,
    nanmin,
    nanquantile,
    nanstd,
    nansum,
    nanvar,
    quantile,
    ss,
)
from corvane.slicewise import (  # noqa: E402
    argpartition,
    bfill,
    nanrankdata,
    partition,
    push,
    rankdata,
)

__version__ = "0.1.0"

__all__ = [
    "allnan",
    "anynan",
    "argpartition",
    "bfill",
    "median",
    "move_argmax",
    "move_argmin",
    "move_max",
    "move_mean",
    "move_median",
    "move_min",
    "move_rank",
    "move_std",
    "move_sum",
    "move_var",
    "nanargmax",
    "nanargmin",
    "nanmax",
    "nanmean",
    "nanmedian",
    "nanmin",
    "nanquantile",
    "nanrankdata",
    "nanstd",
    "nansum",
    "nanvar",
    "partition",
    "push",
    "quantile",
    "rankdata",
    "replace",
    "ss",
]
