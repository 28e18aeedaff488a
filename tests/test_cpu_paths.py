"""The AVX-512, AVX2 and baseline code paths give the same bits.

CORVANE_DISABLE_CPU_FEATURES is read when the modules load, so each setting runs
in its own interpreter; on a processor without a level, two settings share a path
and the comparison still holds."""

from __future__ import annotations

import json
import os
import subprocess
import sys

import pytest

SCRIPT = r"""
import hashlib, json
import numpy as np
import corvane as cr

rng = np.random.default_rng(11)
digests = {}


def record(key, f):
    try:
        r = np.asarray(f())
        digests[key] = hashlib.sha256(r.tobytes() + str(r.dtype).encode()).hexdigest()
    except ValueError as err:
        digests[key] = str(err)


for dtype in ("float64", "float32", "int64", "int32"):
    for shape in ((19, 150), (150, 19), (3, 9, 70)):
        if dtype.startswith("float"):
            base = (rng.standard_normal(shape) * 100).astype(dtype)
            u = rng.random(shape)
            base[u < 0.1] = np.nan
            base[(u > 0.1) & (u < 0.12)] = np.inf
            base[(u > 0.12) & (u < 0.14)] = -np.inf
            base[(u > 0.14) & (u < 0.17)] = 0.0
            base[(u > 0.17) & (u < 0.2)] = -0.0
            # A NaN run long enough to cover whole vectors; an all-NaN slice in one shape.
            base[1, : shape[1] // 2 if shape[0] != 150 else None] = np.nan
        else:
            base = rng.integers(-2**31, 2**31 - 1, shape).astype(dtype)
        layouts = {
            "C": base,
            "F": np.asfortranarray(base),
            "strided": np.repeat(base, 2, axis=-1)[..., ::2],
        }
        for layout, a in layouts.items():
            tag = f"{dtype} {shape} {layout}"
            for name in ("nansum", "nanmean", "nanvar", "nanstd", "ss", "nanmin", "nanmax",
                         "nanargmin", "nanargmax", "anynan", "allnan"):
                for axis in (None, 0, 1):
                    record(f"{name} {tag} {axis}", lambda: getattr(cr, name)(a, axis=axis))
            for axis in (0, 1):
                for name in ("push", "bfill"):
                    record(f"{name} {tag} {axis}", lambda: getattr(cr, name)(a, axis=axis))
                    record(f"{name} 3 {tag} {axis}", lambda: getattr(cr, name)(a, 3, axis=axis))
                for name in ("move_sum", "move_mean", "move_var", "move_std"):
                    record(f"{name} {tag} {axis}", lambda: getattr(cr, name)(a, 3, 2, axis))
            old = a.flat[7]
            for what in (np.nan, old):
                b = a.copy(order="K")
                if not (np.isnan(what) and dtype.startswith("int")):
                    cr.replace(b, what, 0)
                record(f"replace {what} {tag}", lambda: b)
print(json.dumps(digests))
"""


def _digests(disabled: str) -> dict[str, str]:
    env = dict(os.environ, CORVANE_DISABLE_CPU_FEATURES=disabled)
    out = subprocess.run(
        [sys.executable, "-c", SCRIPT], env=env, capture_output=True, text=True, check=True
    )
    return json.loads(out.stdout)


@pytest.fixture(scope="module")
def widest() -> dict[str, str]:
    return _digests("")


@pytest.mark.parametrize("disabled", ["AVX512", "avx512, AVX2 unknown"])
def test_lower_paths_give_the_same_bits(widest, disabled):
    lower = _digests(disabled)
    assert lower.keys() == widest.keys()
    assert [k for k in widest if lower[k] != widest[k]] == []
