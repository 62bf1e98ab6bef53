#!/usr/bin/env python3
"""An image larger than a worker's memory, treated on a dask.distributed cluster.

Writes a LINES x LINES image as a Zarr array (blobs, made chunk by chunk), then,
on a LocalCluster of 2 workers with a memory limit per worker below the
image's size, writes its border treatment as another Zarr array and measures
it (regions joined across chunks). Prints the times and each worker's peak
resident memory, checks windows across chunk edges against kavel.treat on
the same pixels, and removes its files unless --keep is given.

    python3 bench/python_dask_zarr.py [--lines 40000] [--chunk 4000]
        [--memory-limit 1GiB] [--folder /tmp/kavel-dask] [--keep]
"""

import argparse
import resource
import shutil
import time
from pathlib import Path

import dask.array as da
import numpy as np
from dask.distributed import Client, LocalCluster

import kavel
import kavel.dask as kd


def blob_block(block_info=None) -> np.ndarray:
    """One chunk of the test image, the same whichever worker makes it."""
    info = block_info[None]
    (top, bottom), (left, right) = info["array-location"]
    rng = np.random.default_rng([top, left])
    shape = (bottom - top, right - left)
    coarse = rng.random((shape[0] // 16 + 1, shape[1] // 16 + 1)) < 0.45
    light = np.repeat(np.repeat(coarse, 16, axis=0), 16, axis=1)[: shape[0], : shape[1]]
    return (light * 180 + rng.integers(0, 60, shape, dtype=np.uint8)).astype(np.uint8)


def peak_rss_mib() -> float:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def cluster(memory_limit: str) -> Client:
    return Client(LocalCluster(n_workers=2, threads_per_worker=1, memory_limit=memory_limit, processes=True,
                               dashboard_address=":0"))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--lines", type=int, default=40000)
    parser.add_argument("--chunk", type=int, default=4000)
    parser.add_argument("--memory-limit", default="1GiB")
    parser.add_argument("--folder", type=Path, default=Path("/tmp/kavel-dask"))
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()
    source, result = args.folder / "image.zarr", args.folder / "border.zarr"
    shape, chunks = (args.lines, args.lines), (args.chunk, args.chunk)
    print(f"image {shape[0]} x {shape[1]} = {shape[0] * shape[1] / 2**30:.2f} GiB in chunks of {chunks}, "
          f"2 workers of {args.memory_limit}")

    # The input, made by a cluster of its own so that the peaks below are the treatment's.
    with cluster(args.memory_limit) as client:
        start = time.perf_counter()
        da.map_blocks(blob_block, dtype=np.uint8, chunks=da.core.normalize_chunks(chunks, shape)).to_zarr(
            str(source), overwrite=True)
        print(f"wrote the input in {time.perf_counter() - start:.1f} s")

    with cluster(args.memory_limit) as client:
        image = da.from_zarr(str(source))
        start = time.perf_counter()
        kd.treat(image, 150, 255, kind="border").to_zarr(str(result), overwrite=True)
        print(f"treat -> Zarr: {time.perf_counter() - start:.1f} s")
        start = time.perf_counter()
        m = kd.measure(image, 150, 255)
        print(f"measure: {time.perf_counter() - start:.1f} s: {m.selected} selected, {m.border} border, "
              f"{m.regions} regions")
        for worker, mib in client.run(peak_rss_mib).items():
            print(f"  peak resident memory of worker {worker}: {mib:.0f} MiB")

    # Windows across chunk edges, and the image's corners, against the whole-image rule.
    stored, treated = da.from_zarr(str(source)), da.from_zarr(str(result))
    c, n = args.chunk, args.lines
    for top, left in [(0, 0), (c - 50, c - 50), (n - 100, n - 100), (0, n - 100), (2 * c - 1, 3 * c - 60)]:
        # With its neighbours where the image has them, so that only the
        # image's own edge is an edge for kavel.treat.
        r0, c0 = max(0, top - 1), max(0, left - 1)
        window = stored[r0 : top + 101, c0 : left + 101].compute()
        expected = kavel.treat(window, 150, 255, kind="border")[top - r0 : top - r0 + 100, left - c0 : left - c0 + 100]
        assert np.array_equal(treated[top : top + 100, left : left + 100].compute(), expected), (top, left)
    print("windows across chunk edges match kavel.treat")
    if not args.keep:
        shutil.rmtree(args.folder)


if __name__ == "__main__":
    main()
