"""corvane.dask on a real dask.distributed cluster: two worker processes, one thread
each, 1.5 GB memory limit.  Every function once, then the main statistics over a
4.3 GB array generated on the workers, which must finish without a worker being
killed or spilling the array: the proof that nothing gathers it in one place."""

from __future__ import annotations

import os
import resource

import numpy as np
import pytest

da = pytest.importorskip("dask.array")
distributed = pytest.importorskip("distributed")

import corvane as cr  # noqa: E402
import corvane.dask as crd  # noqa: E402

# Under AddressSanitizer (preloaded, inherited by the worker processes) shadow memory
# and the allocator's quarantine defeat the memory limit; the in-process dask tests
# cover the same native calls there.
pytestmark = pytest.mark.skipif(
    "asan" in os.environ.get("LD_PRELOAD", ""), reason="worker processes under AddressSanitizer"
)

TIMEOUT = 300  # seconds for any one computation: a hang fails instead of blocking CI
LIMIT = 1.5e9


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(
        n_workers=2,
        threads_per_worker=1,
        processes=True,
        memory_limit=LIMIT,
        dashboard_address=None,
        timeout=60,
    )
    with cluster, distributed.Client(cluster, timeout=60) as c:
        yield c


def compute(client, *lazy):
    futures = client.compute(list(lazy))
    return [f.result(timeout=TIMEOUT) for f in futures]


def test_every_function_on_the_cluster(client):
    rng = np.random.default_rng(1)
    a = np.round(rng.standard_normal((60, 90)) * 3)
    a[rng.random(a.shape) < 0.2] = np.nan
    x = da.from_array(a, chunks=(25, 40))
    calls = {
        "nansum": {"axis": 0}, "nanmean": {"axis": None}, "nanstd": {"axis": 1, "ddof": 1},
        "nanvar": {"axis": 0}, "nanmin": {"axis": 1}, "nanmax": {"axis": None},
        "nanargmin": {"axis": 0}, "nanargmax": {"axis": None}, "ss": {"axis": 1},
        "median": {"axis": 0}, "nanmedian": {"axis": None}, "anynan": {"axis": 1},
        "allnan": {"axis": 0},
        **{f"move_{s}": {"window": 7, "min_count": 2, "axis": 1}
           for s in ("sum", "mean", "std", "var", "min", "max", "argmin", "argmax",
                     "median", "rank")},
        "partition": {"kth": 30, "axis": 0}, "argpartition": {"kth": 100, "axis": None},
        "rankdata": {"axis": None}, "nanrankdata": {"axis": 1}, "push": {"axis": 1},
        "replace": {"old": np.nan, "new": 0.5}, "quantile": {"q": 0.25, "axis": 0},
        "nanquantile": {"q": [0.1, 0.9], "axis": None}, "bfill": {"n": 30, "axis": 1},
        "move_quantile": {"window": 7, "q": 0.3, "min_count": 2, "axis": 1},
        **{f"move_exp_nan{s}": {"alpha": 0.2, "min_weight": 0.5, "axis": 0}
           for s in ("mean", "sum", "var", "std", "count")},
    }  # fmt: skip
    assert sorted(calls) == sorted(cr.__all__)
    results = compute(client, *(getattr(crd, name)(x, **p) for name, p in calls.items()))
    for (name, params), got in zip(calls.items(), results, strict=True):
        want = getattr(cr, name)(a.copy(), **params)
        # atol: a running update leaves ~1e-8 where the exact moving std is zero.
        np.testing.assert_allclose(got, want, rtol=1e-12, atol=1e-6, equal_nan=True, err_msg=name)


N = 540_000_000
GAP = slice(15_000_001, 35_000_000)  # a NaN run across three chunks


def holes(block, block_info=None):
    """About 5% NaN, and the gap.  In place: the random block has no other user."""
    block[block < 0.05] = np.nan
    start, stop = block_info[0]["array-location"][0]
    block[max(GAP.start, start) - start : max(min(GAP.stop, stop) - start, 0)] = np.nan
    return block


def worker_state(client):
    def state(dask_worker):
        return {
            "pid": os.getpid(),
            "peak": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024,
            "spilled": dask_worker.data.spilled_total.disk,
        }

    return client.run(state)


def test_four_gigabytes_on_two_small_workers(client, record_property):
    before = worker_state(client)
    n, chunk = N, 10_000_000  # 4.3 GB of float64 in 80 MB chunks
    x = da.random.default_rng(7).random(n, chunks=chunk).map_blocks(holes, dtype=float)
    # One pass over the array per computation: a pass that shares its chunks with a
    # slower consumer (the scan, a window) would hold them in memory for it.
    total, mean, std = compute(client, crd.nansum(x), crd.nanmean(x), crd.nanstd(x))
    (top,) = compute(client, crd.nanmax(crd.move_mean(x, 1000, min_count=1)))
    median = crd.move_median(x, 21, min_count=1)
    mid, tail, tail_in = compute(client, crd.nanmean(median), median[-1000:], x[-1020:])
    filled = crd.push(x)
    fill_sum, gap_end, gap_start = compute(
        client, crd.nansum(filled), filled[GAP.stop - 1], x[GAP.start - 1]
    )
    after = worker_state(client)
    peak = max(s["peak"] for s in after.values())
    record_property("peak_worker_memory_bytes", peak)
    print(f"\npeak worker memory: {peak / 1e6:.0f} MB (limit {LIMIT / 1e6:.0f} MB)")

    assert {w: s["pid"] for w, s in after.items()} == {w: s["pid"] for w, s in before.items()}
    assert peak < LIMIT
    assert all(s["spilled"] < n * 8 / 10 for s in after.values())
    # Uniform on [0.05, 1) outside the gap.
    count = (n - (GAP.stop - GAP.start)) * 0.95
    assert mean == pytest.approx(0.525, abs=1e-3)
    assert total == pytest.approx(mean * count, rel=1e-3)
    assert std == pytest.approx(0.95 / np.sqrt(12), abs=1e-3)
    assert 0.5 < top < 1 and mid == pytest.approx(0.525, abs=1e-2)
    assert gap_end == gap_start and fill_sum > total
    np.testing.assert_array_equal(tail, cr.move_median(tail_in, 21, min_count=1)[-1000:])
