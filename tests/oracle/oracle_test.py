#!/usr/bin/python3
"""kavel-cli against independent implementations, run as black boxes.

suggest, on random histograms and on real pictures (scikit-image's data
pictures and their negatives):
- Otsu, Yen, Mean and Triangle match scikit-image's threshold_* exactly. Both
  read a threshold t as "t belongs to the dark class" (scikit-image's
  foreground is image > t), so a scikit-image value v compares as floor(v).
- IsoData is one of the fixed points scikit-image lists (return_all), and
  the one the walk from the mean reaches, computed here.
- Otsu, Yen, Li, MinError(I) and MaxEntropy score their criterion, computed
  here over every t, as well as the best t does. scikit-image's Li iterates
  to a stationary point, which on some pictures (cell) is not the minimum:
  ours must never score worse than it.
- Intermodes and Minimum against the smoothing done here with numpy: modes
  are counted alike at both ends of the tone range, which scikit-image's
  threshold_minimum does not do (on moon it finds a valley at 18, below the
  dark mode, and it refuses two tones), so it is not compared.
- Default: the walk from the mean on the histogram without its end tones and
  with an outsized peak bin limited to twice the next highest.
Thresholds that split the pixels alike (no pixel between them) are equal.

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
from skimage import color, data, filters

KAVEL = sys.argv[1]
SAMPLES = sys.argv[2]
EXACT = ["Otsu", "Yen", "Mean", "Triangle"]
CRITERIA = ["Otsu", "Yen", "Li", "MinError(I)", "MaxEntropy"]
PROCEDURES = ["IsoData", "Default", "Intermodes", "Minimum"]
CHECKED = sorted(set(EXACT + CRITERIA + PROCEDURES))
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


def gray_picture(name):
    """A scikit-image data picture as 8-bit gray tones."""
    image = getattr(data, name)()
    if image.dtype == bool:
        return image.astype(np.uint8) * 255
    if image.ndim == 3:
        rgb = color.rgba2rgb(image) if image.shape[2] == 4 else image
        return np.round(color.rgb2gray(rgb) * 255).astype(np.uint8)
    return image


def real_images():
    images = [("scene", np.fromfile(os.path.join(SAMPLES, "scene.raw"), dtype=np.uint8).reshape(512, 512))]
    for name in ["camera", "coins", "moon", "page", "text", "grass", "gravel", "brick", "cell", "clock", "logo",
                 "horse"]:
        if hasattr(data, name):
            image = gray_picture(name)
            images += [(name, image), (name + "-negative", 255 - image)]
    return images


def skimage_thresholds(image):
    """floor of each scikit-image threshold, or None where it raises."""
    functions = {
        "Otsu": filters.threshold_otsu,
        "Li": filters.threshold_li,
        "Yen": filters.threshold_yen,
        "Mean": filters.threshold_mean,
        "Triangle": filters.threshold_triangle,
    }
    values = {}
    for method, function in functions.items():
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                values[method] = math.floor(float(function(image)))
        except (RuntimeError, ValueError):
            values[method] = None
    try:
        values["IsoData"] = [int(v) for v in filters.threshold_isodata(image, return_all=True)]
    except (RuntimeError, ValueError):
        values["IsoData"] = []
    return values


# Each criterion over the 256 candidate t, from the papers: np.nan where t
# is no candidate; higher is better.
def criteria(counts):
    c = counts.astype(np.float64)
    tones = np.arange(256, dtype=np.float64)
    p = c / c.sum()
    n0 = np.cumsum(c)
    n1 = c.sum() - n0
    admissible = (n0 > 0) & (n1 > 0)
    with np.errstate(all="ignore"):
        s0 = np.cumsum(c * tones)
        s1 = s0[-1] - s0
        m0, m1 = s0 / n0, s1 / n1
        q0 = np.cumsum(c * tones ** 2)
        v0, v1 = q0 / n0 - m0 ** 2, (q0[-1] - q0) / n1 - m1 ** 2
        present = np.cumsum(c > 0)
        p0, p1 = n0 / c.sum(), n1 / c.sum()
        # Li & Lee, levels g + 1: -S0 ln m0 - S1 ln m1 without the constant.
        l0, l1 = s0 + n0, (s0[-1] + n0[-1]) - (s0 + n0)
        li = l0 * np.log(l0 / n0) + l1 * np.log(l1 / n1)
        # Kittler & Illingworth, natural logarithms; no single-tone class.
        ki = -(p0 * np.log(v0) + p1 * np.log(v1) - 2 * (p0 * np.log(p0) + p1 * np.log(p1)))
        ki[(present < 2) | (present[-1] - present < 2)] = np.nan
        plogp = np.cumsum(np.where(p > 0, p * np.log(np.where(p > 0, p, 1)), 0))
        kapur = np.log(p0) - plogp / p0 + np.log(p1) - (plogp[-1] - plogp) / p1
        g2 = np.cumsum(p * p)
        yen = -np.log(g2 * (g2[-1] - g2)) + 2 * np.log(p0 * p1)
        otsu = n0 * n1 * (m0 - m1) ** 2
    table = {"Otsu": otsu, "Li": li, "MinError(I)": ki, "MaxEntropy": kapur, "Yen": yen}
    return {k: np.where(admissible, v, np.nan) for k, v in table.items()}


def ridler_calvard(counts):
    """The walk from the mean to the midpoint of the class means."""
    c = counts.astype(np.float64)
    tones = np.arange(256)
    occupied = np.nonzero(c)[0]
    lo, hi = occupied[0], occupied[-1]
    t = min(max(int(np.floor((c * tones).sum() / c.sum())), lo), hi - 1)
    for _ in range(256):
        dark, light = c[:t + 1], c[t + 1:]
        middle = ((dark * tones[:t + 1]).sum() / dark.sum() + (light * tones[t + 1:]).sum() / light.sum()) / 2
        following = min(max(int(np.floor(middle)), lo), hi - 1)
        if following == t:
            break
        t = following
    return t


def default_isodata(counts):
    trimmed = counts.astype(np.int64).copy()
    trimmed[0] = trimmed[255] = 0
    ordered = np.sort(trimmed)
    if ordered[-2] == 0:
        return ridler_calvard(counts)
    peak = int(np.argmax(trimmed))
    trimmed[peak] = min(trimmed[peak], 2 * ordered[-2])
    return ridler_calvard(trimmed)


def modes(y):
    """Twice the tone of each local maximum: runs of equal bins above both sides."""
    found, g = [], 0
    while g < 256:
        end = g
        while end + 1 < 256 and y[end + 1] == y[g]:
            end += 1
        if y[g] > 0 and (g == 0 or y[g - 1] < y[g]) and (end == 255 or y[end + 1] < y[g]):
            found.append(g + end)
        g = end + 1
    return found


def prewitt_mendelsohn(counts):
    """(Intermodes, Minimum), None for both where there are not two modes."""
    occupied = np.nonzero(counts)[0]
    if len(occupied) == 2:
        split = (occupied[0] + occupied[1]) // 2
        return split, split
    y = counts.astype(np.float64)
    for _ in range(10000):
        padded = np.concatenate([[0.0], y, [0.0]])
        y = ((padded[:-2] + padded[2:]) + y) / 3
        found = modes(y)
        if len(found) < 2:
            return None, None
        if len(found) == 2:
            a, b = found[0] // 2, (found[1] + 1) // 2
            valley = np.nonzero(y[a:b + 1] == y[a:b + 1].min())[0] + a
            return (found[0] + found[1]) // 4, (valley[0] + valley[-1]) // 2
    return None, None


def procedures(counts):
    intermodes, minimum = prewitt_mendelsohn(counts)
    return {"IsoData": ridler_calvard(counts), "Default": default_isodata(counts),
            "Intermodes": intermodes, "Minimum": minimum}


def same_split(counts, a, b):
    low, high = sorted((a, b))
    return counts[low + 1:high + 1].sum() == 0


def best_score(score, t):
    """score[t] equals the best of score, within rounding."""
    best = np.nanmax(score)
    return not np.isnan(score[t]) and abs(score[t] - best) <= 1e-9 * max(1.0, abs(best))


def suggest(paths):
    code, out, err = run(["suggest", "--format", "json"] + sum((["--method", m] for m in CHECKED), []) + paths)
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
        counts = np.bincount(image.ravel(), minlength=256)
        ours = {method: rows[(path, method)]["threshold"] for method in CHECKED}
        for method, t in ours.items():
            if t is not None:
                row = rows[(path, method)]
                check(row["dark_max"] == t and row["light_min"] == t + 1, "%s %s: intervals %s" % (name, method, row))
        theirs = skimage_thresholds(image)
        for method in EXACT:
            compared += 1
            check(ours[method] == theirs[method], "%s %s: kavel %s, scikit-image %s" %
                  (name, method, ours[method], theirs[method]))
        compared += 1
        check(ours["IsoData"] in theirs["IsoData"], "%s IsoData: kavel %s, not among scikit-image's fixed points %s" %
              (name, ours["IsoData"], theirs["IsoData"]))
        scores = criteria(counts)
        for method in CRITERIA:
            t = ours[method]
            compared += 1
            if np.all(np.isnan(scores[method])):
                check(t is None, "%s %s: no candidate, kavel gives %s" % (name, method, t))
                continue
            check(t is not None and best_score(scores[method], t), "%s %s: kavel %s (%s), best t %d" %
                  (name, method, t, rows[(path, method)]["failure"], int(np.nanargmax(scores[method]))))
        if theirs["Li"] is not None and ours["Li"] is not None:
            li = scores["Li"]
            check(li[ours["Li"]] >= li[theirs["Li"]] - 1e-9 * abs(li[theirs["Li"]]),
                  "%s Li: kavel %d scores worse than scikit-image's %d" % (name, ours["Li"], theirs["Li"]))
        for method, expected in procedures(counts).items():
            compared += 1
            t = ours[method]
            agree = t == expected or (t is not None and expected is not None and same_split(counts, t, expected))
            check(agree, "%s %s: kavel %s (%s), expected %s" % (name, method, t, rows[(path, method)]["failure"],
                                                               expected))
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
    scene = np.fromfile(os.path.join(SAMPLES, "scene.raw"), dtype=np.uint8).reshape(512, 512)
    cases = [("scene", scene, 100, 180), ("coins", data.coins(), 110, 255)]
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
    print("%d thresholds checked, %d failures" % (compared, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
