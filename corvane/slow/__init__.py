"""Pure-Python/NumPy reference versions of every corvane function.

The native modules hand their calls here for element types they have no kernel for
and for arrays in non-native byte order; the tests use these functions as the oracle
for the native kernels.
"""

from __future__ import annotations

from typing import TYPE_CHECKING

# The functions here take the arguments and give the results of the compiled ones,
# so they carry the same typed signatures: those of the compiled modules' stubs.
if TYPE_CHECKING:
    from corvane.elemental import replace
    from corvane.move import (
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
        nanquantile,
        nanstd,
        nansum,
        nanvar,
        quantile,
        ss,
    )
    from corvane.slicewise import argpartition, bfill, nanrankdata, partition, push, rankdata
else:
    from corvane.slow.elemental import replace
    from corvane.slow.move import (
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
    from corvane.slow.quantile import nanquantile, quantile
    from corvane.slow.reduce import (
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
    from corvane.slow.slicewise import argpartition, bfill, nanrankdata, partition, push, rankdata

__all__ = [
    "allnan",
    "anynan",
    "argpartition",
    "bfill",
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
