"""Fast NaN-aware functions over NumPy arrays.

Reductions (``nansum``, ``nanmean``, ``nanstd``, ``nanvar``, ``nanmin``,
``nanmax``, ``nanargmin``, ``nanargmax``, ``ss``, ``median``, ``nanmedian``,
``anynan``, ``allnan``), moving windows (``move_*``), partition and ranking
along an axis (``partition``, ``argpartition``, ``rankdata``, ``nanrankdata``,
``push``) and in-place ``replace``. Every function is native for float64,
float32, int64 and int32 arrays and falls back to :mod:`corvane.slow` for the
rest.
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
    move_exp_nancount,
    move_exp_nanmean,
    move_exp_nanstd,
    move_exp_nansum,
    move_exp_nanvar,
    move_max,
    move_mean,
    move_median,
    move_min,
    move_quantile,
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
    nanstd,
    nansum,
    nanvar,
    ss,
)
from corvane.slicewise import argpartition, nanrankdata, partition, push, rankdata  # noqa: E402

__version__ = "0.1.0"

__all__ = [
    "allnan",
    "anynan",
    "argpartition",
    "median",
    "move_argmax",
    "move_argmin",
    "move_exp_nancount",
    "move_exp_nanmean",
    "move_exp_nanstd",
    "move_exp_nansum",
    "move_exp_nanvar",
    "move_max",
    "move_mean",
    "move_median",
    "move_min",
    "move_quantile",
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
    "nanrankdata",
    "nanstd",
    "nansum",
    "nanvar",
    "partition",
    "push",
    "rankdata",
    "replace",
    "ss",
]
