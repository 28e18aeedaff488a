"""The package's surface: its namespace, its axis errors, and the benchmark runner."""

from __future__ import annotations

import csv
import importlib.util
import io
import json
import os
import subprocess
import sys

import numpy as np
import pytest

import corvane as cr
import corvane.slow as slow
from corvane.bench import __main__ as bench_main
from corvane.bench import harness

try:
    from numpy.exceptions import AxisError
except ImportError:  # NumPy < 1.25
    from numpy import AxisError


def test_namespace_holds_only_public_names():
    private = [n for n in dir(cr) if not n.startswith("__") and n not in cr.__all__]
    # Submodules appear once imported (the bench loads the private probe).
    submodules = {"elemental", "move", "reduce", "slicewise", "slow", "bench", "dask", "xarray"}
    assert set(private) <= submodules | {"_probes"}
    assert sorted(cr.__all__) == sorted(slow.__all__)


@pytest.mark.parametrize("module", [cr, slow], ids=["native", "slow"])
@pytest.mark.parametrize(
    "call, message",
    [
        (lambda m: m.nansum(np.ones((2, 2)), axis=2), "axis(=2) out of bounds"),
        (lambda m: m.nanmin(np.ones((2, 2), np.int8), axis=-3), "axis(=-1) out of bounds"),
        (lambda m: m.move_mean(np.ones(3), 2, axis=1), "axis(=1) out of bounds"),
        (lambda m: m.partition(np.ones(3), 1, axis=-2), "axis(=-1) out of bounds"),
        (lambda m: m.push(np.float64(1.0)), "axis(=-1) out of bounds"),
        (lambda m: m.move_quantile(np.ones(3), 2, 0.5, axis=1), "axis(=1) out of bounds"),
        (lambda m: m.move_exp_nanmean(np.ones(3), 0.5, axis=-2), "axis(=-1) out of bounds"),
    ],
)
def test_axis_errors_are_numpys(module, call, message):
    with pytest.raises(AxisError) as info:
        call(module)
    assert str(info.value) == message
    assert isinstance(info.value, ValueError) and isinstance(info.value, IndexError)


def _families(with_missing_peer: bool) -> list[harness.Family]:
    a = np.arange(5.0)
    peers = [harness.Peer("numpy", lambda: np.nansum(a))]
    if with_missing_peer:
        peers.append(harness.Peer("pandas rolling sum", None))
    cases = [
        harness.Case("nansum", "5 float64", lambda: cr.nansum(a), (peers[0],), "reduce"),
        harness.Case("nanmean", "5 float64", lambda: cr.nanmean(a), tuple(peers), "reduce"),
    ]
    return [harness.Family("reduce", "Sums", cases)]


def test_bench_reports_once_and_skips_rows_of_a_missing_peer(monkeypatch, tmp_path):
    monkeypatch.setattr(harness, "discover", lambda quick: _families(True))
    out, err = io.StringIO(), io.StringIO()
    monkeypatch.setattr(sys, "stdout", out)
    monkeypatch.setattr(sys, "stderr", err)
    paths = {flag: str(tmp_path / f"rows.{flag}") for flag in ("json", "csv", "png")}
    args = ["--quick", "--json", paths["json"], "--csv", paths["csv"]]
    plot = importlib.util.find_spec("matplotlib") is not None
    assert bench_main.main(args + (["--plot", paths["png"]] if plot else [])) == 0
    text = out.getvalue()
    assert "speedup = best peer time / corvane time" in text.splitlines()[2]
    assert "pandas is not installed: its 1 rows are skipped" in text
    assert text.count("nansum ") == 1 and "nanmean" not in text
    assert "[1/1] nansum 5 float64" in err.getvalue()
    rows = json.load(open(paths["json"]))["rows"]
    assert [(r["function"], r["best_peer"]) for r in rows] == [("nansum", "numpy")]
    assert rows[0]["speedup"] == pytest.approx(rows[0]["best_peer_s"] / rows[0]["corvane_s"])
    assert [r["function"] for r in csv.DictReader(open(paths["csv"]))] == ["nansum"]
    if plot:
        assert open(paths["png"], "rb").read(8) == b"\x89PNG\r\n\x1a\n"


def test_bench_only_without_a_match(capsys):
    assert bench_main.main(["--quick", "--only", "no_such_function"]) == 1
    assert capsys.readouterr().out.startswith("No benchmark matches --only 'no_such_function';")


def test_bench_runs_from_the_root_of_a_source_checkout():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    res = subprocess.run(
        [sys.executable, "-m", "corvane.bench", "--quick", "--only", "-"],
        capture_output=True,
        text=True,
        cwd=root,
        timeout=300,
    )
    assert res.returncode == 1, res.stderr
    assert res.stdout.startswith("No benchmark matches --only '-'"), res.stdout + res.stderr
