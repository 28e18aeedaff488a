"""Fast NaN-aware functions over NumPy arrays.

Reductions (``nansum``, ``nanmean``, ``nanstd``, ``nanvar``, ``nanmin``,
``nanmax``, ``nanargmin``, ``nanargmax``, ``ss``, ``median``, ``nanmedian``,
``anynan``, ``allnan``), moving windows (``move_*``), partition and ranking
along an axis (``partition``, ``argpartition``, ``rankdata``, ``nanrankdata``,
``push``) and in-place ``replace``. Every function is native for float64,
float32, int64 and int32 arrays and falls back to :mod:`corvane.slow` for the
rest.
"""

from corvane.elemental import replace
from corvane.move import (
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
from corvane.reduce import (
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
from corvane.slicewise import argpartition, nanrankdata, partition, push, rankdata

__version__ = "0.1.0"

__all__ = [
    "allnan",
    "anynan",
    "argpartition",
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
