#!/usr/bin/env python3
"""kavel.treat on a large array against the C++ kernel alone (the binding's
cost) and against the numpy/scipy expression a user would otherwise write for
the same border. The three are measured in turns, round after round, and the
medians compared, so that a busy machine slows all of them alike.

    python3 bench/python_treat.py [--lines 10000] [--columns 10000] [--rounds 7]
"""

import argparse
import statistics
import threading
import time

import numpy as np
from scipy import ndimage

import kavel
from kavel import _kavel

MIN, MAX, BORDER, BACKGROUND = 150, 255, 255, 0


def blobs(lines: int, columns: int) -> np.ndarray:
    """Light blobs on a dark ground: borders everywhere, as in a micrograph."""
    rng = np.random.default_rng(1)
    coarse = rng.random((lines // 8 + 1, columns // 8 + 1)) < 0.45
    light = np.repeat(np.repeat(coarse, 8, axis=0), 8, axis=1)[:lines, :columns]
    return (light * 180 + rng.integers(0, 60, (lines, columns), dtype=np.uint8)).astype(np.uint8)


def numpy_border(image: np.ndarray) -> np.ndarray:
    """The border rule written with numpy and scipy: selected pixels with an
    unselected side neighbour; outside the image counts as selected."""
    selected = (image >= MIN) & (image <= MAX)
    inside = ndimage.binary_erosion(selected, structure=ndimage.generate_binary_structure(2, 1), border_value=1)
    return np.where(selected & ~inside, np.uint8(BORDER), np.uint8(BACKGROUND))


def timed(call) -> float:
    """Seconds of the call; its result is freed after the clock stops."""
    start = time.perf_counter()
    result = call()
    elapsed = time.perf_counter() - start
    del result
    return elapsed


def two_threads(image: np.ndarray, outs: list, border: dict) -> None:
    """Two treatments of the image at once, one per thread."""
    threads = [threading.Thread(target=kavel.treat, args=(image, MIN, MAX), kwargs=dict(out=o, **border)) for o in outs]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--lines", type=int, default=10000)
    parser.add_argument("--columns", type=int, default=10000)
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()

    image = blobs(args.lines, args.columns)
    out = np.empty_like(image)
    kernel_out = np.empty_like(image)
    border = dict(kind="border", border=BORDER, background=BACKGROUND)
    # Same bytes from all three before anything is timed.
    kavel.treat(image, MIN, MAX, out=out, **border)
    _kavel.kernel_seconds(image, kernel_out, 2, MIN, MAX, 0, BORDER, BACKGROUND, 1)
    assert np.array_equal(out, kernel_out) and np.array_equal(out, numpy_border(image))
    outs = [np.empty_like(image), np.empty_like(image)]
    two_threads(image, outs, border)
    assert all(np.array_equal(out, o) for o in outs)

    times = {"kavel.treat (out=)": [], "C++ kernel": [], "kavel.treat (new array)": [],
             "C++ kernel + allocation": [], "numpy/scipy": [],
             "two at once, two threads": []}
    for _ in range(args.rounds):
        times["kavel.treat (out=)"].append(timed(lambda: kavel.treat(image, MIN, MAX, out=out, **border)))
        times["kavel.treat (new array)"].append(timed(lambda: kavel.treat(image, MIN, MAX, **border)))
        kernel, allocated = _kavel.kernel_seconds(image, kernel_out, 2, MIN, MAX, 0, BORDER, BACKGROUND, 1)
        times["C++ kernel"] += kernel
        times["C++ kernel + allocation"] += allocated
        times["numpy/scipy"].append(timed(lambda: numpy_border(image)))
        times["two at once, two threads"].append(timed(lambda: two_threads(image, outs, border)))

    medians = {name: statistics.median(values) for name, values in times.items()}
    megapixels = image.size / 1e6
    print(f"border treatment of {args.lines} x {args.columns} ({megapixels:.0f} MP), medians of {args.rounds} rounds")
    for name, median in medians.items():
        print(f"  {name:24s} {median * 1e3:9.1f} ms  {megapixels / median:8.0f} MP/s")
    kernel = medians["C++ kernel"]
    print(f"  binding / kernel:   {medians['kavel.treat (out=)'] / kernel:.2f} (out=), "
          f"{medians['kavel.treat (new array)'] / medians['C++ kernel + allocation']:.2f} (new array, "
          "against the kernel with its allocation)")
    print(f"  numpy/scipy / kavel.treat: {medians['numpy/scipy'] / medians['kavel.treat (out=)']:.1f}x")
    print(f"  two treatments one after the other / two at once in threads: "
          f"{2 * medians['kavel.treat (out=)'] / medians['two at once, two threads']:.2f}")


if __name__ == "__main__":
    main()
