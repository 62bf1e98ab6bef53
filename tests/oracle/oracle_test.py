#!/usr/bin/python3
"""kavel-cli against independent implementations, run as black boxes.

suggest: the thresholds of Otsu, Li, Yen, IsoData, Mean, Minimum and Triangle
against scikit-image's threshold_* functions on random and real histograms.
Both read a threshold t as "t belongs to the dark class" (scikit-image's
foreground is image > t), so a scikit-image value v compares as floor(v).
Every method must match exactly, with two stated exceptions:
- Li is iterated to a tolerance of half a tone on both sides, so the two may
  stop one tone apart: LI_TOLERANCE is 1 (on the cases here they agree).
- Minimum: in a valley of empty bins the smoothed histogram is flat to within
  rounding, so the lowest bin is a tie that each side's arithmetic breaks its
  own way. There the two thresholds must give the same two classes: every
  bin between them is empty.

measure: the region counts against scipy.ndimage.label (4- and 8-connected),
and the selected, border and inside counts against what treat writes for the
same interval.

Usage: oracle_test.py KAVEL_CLI SAMPLES_DIR
"""

import json
import math
import os
import subprocess
import sys
import tempfile
import warnings

import numpy as np
from scipy import ndimage
from skimage import data, filters

KAVEL = sys.argv[1]
SAMPLES = sys.argv[2]
SHARED = ["Otsu", "Li", "Yen", "IsoData", "Mean", "Minimum", "Triangle"]
LI_TOLERANCE = 1
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def run(words):
    done = subprocess.run([KAVEL] + words, capture_output=True, text=True, check=False)
    return done.returncode, done.stdout, done.stderr


def write_raw(folder, name, image):
    path = os.path.join(folder, name + ".raw")
    image.astype(np.uint8).tofile(path)
    with open(os.path.join(folder, name + ".txt"), "w", newline="") as descriptor:
        descriptor.write("%d\r\n%d\r\n" % image.shape)
    return path


def image_of(counts, rng, columns=64):
    """An image whose histogram is exactly counts, pixels in random order."""
    tones = np.repeat(np.arange(256, dtype=np.uint8), counts)
    rng.shuffle(tones)
    pad = (-len(tones)) % columns
    # Padding repeats tones already present, a whole line's worth at most.
    tones = np.concatenate([tones, tones[:pad]]) if pad else tones
    return tones.reshape(-1, columns)


def histograms(rng):
    """(name, counts) covering the shapes the methods must agree on."""
    cases = []
    tones = np.arange(256)

    def mixture(means, spreads, weights, pixels):
        density = sum(w * np.exp(-0.5 * ((tones - m) / s) ** 2) for m, s, w in zip(means, spreads, weights))
        return rng.multinomial(pixels, density / density.sum())

    for k in range(40):
        m0, m1 = sorted(rng.uniform(20, 235, 2))
        cases.append(("bimodal%d" % k, mixture([m0, m1], rng.uniform(3, 30, 2), rng.uniform(0.2, 1, 2), 4096)))
    for k in range(25):
        cases.append(("unimodal%d" % k, mixture([rng.uniform(30, 225)], [rng.uniform(5, 40)], [1], 4096)))
    for k in range(15):
        # Empty bins at both ends: all tones within a narrow band in the middle.
        lo = int(rng.integers(40, 120))
        width = int(rng.integers(8, 60))
        counts = np.zeros(256, dtype=np.int64)
        counts[lo:lo + width] = rng.multinomial(4096, rng.dirichlet(np.ones(width)))
        cases.append(("band%d" % k, counts))
    for k in range(15):
        counts = np.zeros(256, dtype=np.int64)
        counts[rng.choice(256, size=int(rng.integers(3, 12)), replace=False)] = rng.integers(1, 500, 1)
        cases.append(("sparse%d" % k, rng.permutation(counts) if k % 2 else counts))
    for k in range(10):
        cases.append(("uniform%d" % k, rng.integers(0, 60, 256)))
    for k in range(10):
        a, b = sorted(rng.choice(256, size=2, replace=False))
        counts = np.zeros(256, dtype=np.int64)
        counts[a], counts[b] = rng.integers(1, 3000, 2)
        cases.append(("twotones%d" % k, counts))
    return cases


def real_images():
    images = [("scene", np.fromfile(os.path.join(SAMPLES, "scene.raw"), dtype=np.uint8).reshape(512, 512))]
    for name in ["camera", "coins", "moon", "page", "text", "grass", "gravel", "brick", "cell", "clock"]:
        images.append((name, getattr(data, name)()))
    return images


def skimage_thresholds(image):
    """floor of each scikit-image threshold, or None where it raises."""
    functions = {
        "Otsu": filters.threshold_otsu,
        "Li": filters.threshold_li,
        "Yen": filters.threshold_yen,
        "IsoData": filters.threshold_isodata,
        "Mean": filters.threshold_mean,
        "Minimum": filters.threshold_minimum,
        "Triangle": filters.threshold_triangle,
    }
    values = {}
    for method, function in functions.items():
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                values[method] = math.floor(float(function(image)))
        except RuntimeError:
            values[method] = None
    return values


def same_split_distance(image, a, b):
    """|a - b| when thresholds a and b split the pixels alike, else 0."""
    low, high = sorted((a, b))
    between = np.count_nonzero((image > low) & (image <= high))
    return high - low if between == 0 else 0


def suggest(paths):
    code, out, err = run(["suggest", "--format", "json"] + sum((["--method", m] for m in SHARED), []) + paths)
    check(code == 0, "suggest exit %d: %s" % (code, err))
    rows = {}
    for row in json.loads(out):
        rows[(row["file"], row["method"])] = row
    return rows


def compare_thresholds(folder, rng):
    images = [(name, image_of(counts, rng)) for name, counts in histograms(rng)] + real_images()
    paths = [write_raw(folder, name, image) for name, image in images]
    rows = suggest(paths)
    compared = 0
    for (name, image), path in zip(images, paths):
        expected = skimage_thresholds(image)
        for method in SHARED:
            row = rows[(path, method)]
            ours = row["threshold"]
            theirs = expected[method]
            if theirs is None:
                # scikit-image gives up (Minimum without two maxima): so must we.
                check(ours is None, "%s %s: scikit-image fails, kavel gives %s" % (name, method, ours))
                continue
            compared += 1
            if ours is not None:
                check(row["dark_max"] == ours and row["light_min"] == ours + 1,
                      "%s %s: intervals %s" % (name, method, row))
            tolerance = LI_TOLERANCE if method == "Li" else 0
            if method == "Minimum" and ours is not None:
                tolerance = same_split_distance(image, ours, theirs)
            check(ours is not None and abs(ours - theirs) <= tolerance,
                  "%s %s: kavel %s (%s), scikit-image %s" % (name, method, ours, row["failure"], theirs))
    return compared


def check_single_tone(folder):
    """One tone: nothing to separate, every method says so instead of a number."""
    path = write_raw(folder, "flat", np.full((8, 8), 77, dtype=np.uint8))
    code, out, err = run(["suggest", "--format", "json", path])
    rows = json.loads(out)
    check(code == 0 and len(rows) == 16, "one tone: exit %d, %d rows" % (code, len(rows)))
    for row in rows:
        check(row["threshold"] is None and "single tone" in row["failure"], "one tone: %s" % row)


def measure(path, low, high, connectivity):
    code, out, err = run(["measure", path, "--min", str(low), "--max", str(high), "--format", "json",
                          "--connectivity", str(connectivity)])
    check(code == 0, "measure exit %d: %s" % (code, err))
    return json.loads(out)[0]


def compare_measure(folder, rng):
    cases = [("scene", real_images()[0][1], 100, 180), ("coins", data.coins(), 110, 255)]
    for k in range(12):
        # Coarse blobs with noise: regions of every shape, diagonal contacts included.
        shape = tuple(int(v) for v in rng.integers(5, 90, 2))
        image = rng.integers(0, 256, shape)
        if k % 3:
            image = ndimage.zoom(rng.integers(0, 256, (shape[0] // 4 + 2, shape[1] // 4 + 2)), 4, order=0)
            image = image[:shape[0], :shape[1]] + rng.integers(-20, 21, shape)
        cases.append(("blobs%d" % k, np.clip(image, 0, 255).astype(np.uint8), 60 + 10 * k, 200))
    cases.append(("checker", (np.indices((9, 13)).sum(axis=0) % 2 * 200).astype(np.uint8), 100, 255))
    cases.append(("line", np.eye(20, dtype=np.uint8) * 255, 1, 255))
    for name, image, low, high in cases:
        path = write_raw(folder, name, image)
        selected = (image >= low) & (image <= high)
        for connectivity, structure in [(4, ndimage.generate_binary_structure(2, 1)),
                                        (8, ndimage.generate_binary_structure(2, 2))]:
            row = measure(path, low, high, connectivity)
            _, regions = ndimage.label(selected, structure=structure)
            check(row["regions"] == regions, "%s %d-connected: kavel %d regions, scipy %d" %
                  (name, connectivity, row["regions"], regions))
        # The counts are what treat writes: border 128, inside 255, background 0.
        out = os.path.join(folder, name + "-treated.raw")
        code, _, err = run(["treat", path, "-o", out, "--type", "item-border", "--min", str(low),
                            "--max", str(high), "--item", "255", "--border", "128", "--background", "0"])
        check(code == 0, "treat exit %d: %s" % (code, err))
        treated = np.fromfile(out, dtype=np.uint8)
        check(row["selected"] == int(selected.sum()) == int((treated != 0).sum()), "%s selected" % name)
        check(row["border"] == int((treated == 128).sum()), "%s border" % name)
        check(row["inside"] == int((treated == 255).sum()), "%s inside" % name)


def main():
    rng = np.random.default_rng(20261208)
    with tempfile.TemporaryDirectory(prefix="kavel-oracle-") as folder:
        compared = compare_thresholds(folder, rng)
        check_single_tone(folder)
        compare_measure(folder, rng)
    for failure in failures:
        print("FAIL:", failure)
    print("%d thresholds compared with scikit-image, %d failures" % (compared, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
