"""Fast NaN-aware functions over NumPy arrays.

Reductions (``nansum``, ``nanmean``, ``nanstd``, ``nanvar``, ``nanmin``,
``nanmax``, ``nanargmin``, ``nanargmax``, ``ss``, ``median``, ``nanmedian``,
``quantile``, ``nanquantile``, ``anynan``, ``allnan``), moving windows
(``move_*``), partition, ranking and filling along an axis (``partition``,
``argpartition``, ``rankdata``, ``nanrankdata``, ``push``, ``bfill``) and
in-place ``replace``. Every function is native for float64, float32, int64 and
int32 arrays and falls back to :mod:`corvane.slow` for the rest.
"""


def _defer_to_installed_build() -> None:
    """Run from the root of a source checkout (``python -m corvane.bench`` as the README
    shows, or ``python -c``), this directory comes first on ``sys.path`` but holds no
    compiled modules. The installed package then takes over as a whole: its Python
    files and its compiled modules, so that nothing from two builds is ever mixed."""
    import importlib.machinery
    import importlib.util
    import os
    import sys

    if importlib.util.find_spec(__name__ + ".reduce") is not None:
        return  # an installed or editable copy: its compiled modules are at hand
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    elsewhere = [p for p in sys.path if os.path.abspath(p or os.curdir) != root]
    found = importlib.machinery.PathFinder.find_spec(__name__, elsewhere)
    if found is None or found.loader is None:
        raise ImportError(
            f"corvane at {root} is a source checkout without compiled modules, and no "
            "installed corvane was found: install it with `pip install .`"
        )
    installed = importlib.util.module_from_spec(found)
    # The import statement returns whatever sys.modules holds once this file has run.
    sys.modules[__name__] = installed
    found.loader.exec_module(installed)


_defer_to_installed_build()
del _defer_to_installed_build

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
