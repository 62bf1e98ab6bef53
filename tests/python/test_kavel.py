"""kavel against kavel-cli, byte for byte, and its handling of arrays and bad input."""

import threading
import warnings

import numpy as np
import pytest

import kavel
from conftest import SAMPLES, SHAPES, random_image

SCENE = kavel.read(SAMPLES / "scene.raw")

# (kind, min, max, item, border, background)
TREATMENTS = [
    ("whole", 0, 100, 255, 255, 0),
    ("border", 0, 100, 1, 200, 7),
    ("item-border", 101, 255, 30, 250, 128),
    ("border", 40, 39, 255, 255, 9),  # nothing selected
    ("item-border", 0, 255, 10, 20, 30),  # everything selected
    ("none", 0, 255, 1, 2, 3),
]


def _images():
    yield "scene", SCENE
    for i, shape in enumerate(SHAPES):
        yield f"blobs{shape}", random_image(i, shape)
    yield "noise", random_image(99, (57, 83), "noise")


IMAGES = list(_images())


@pytest.mark.parametrize("name,image", IMAGES, ids=[n for n, _ in IMAGES])
def test_treat_matches_cli(cli, name, image):
    source = cli.raw_input(image)
    for kind, lo, hi, item, border, background in TREATMENTS:
        expected = cli.treat(source, image.shape, "--type", kind, "--min", lo, "--max", hi, "--item", item,
                             "--border", border, "--background", background)
        got = kavel.treat(image, lo, hi, kind=kind, item=item, border=border, background=background)
        assert got.flags.c_contiguous
        np.testing.assert_array_equal(got, expected, err_msg=f"{name} {kind} [{lo}, {hi}]")


def test_treat_defaults_are_the_item_and_border_tones(cli):
    image = random_image(3, (20, 30))
    expected = cli.treat(cli.raw_input(image), image.shape, "--type", "item-border", "--min", 150, "--max", 255,
                         "--item", 255, "--border", 255)
    np.testing.assert_array_equal(kavel.treat(image, 150, 255, kind="item-border"), expected)


@pytest.mark.parametrize("name,image", IMAGES, ids=[n for n, _ in IMAGES])
def test_counts_and_thresholds_match_cli(cli, name, image):
    source = cli.raw_input(image)
    lines = cli.run("histogram", source, "-o", "-").stdout.decode().split("\r\n")
    counts = kavel.histogram(image)
    assert counts.dtype == np.uint64
    assert [int(v) for v in lines[:256]] == counts.tolist()
    assert kavel.tones(image) == int(cli.run("tones", source).stdout)

    rows = cli.json("suggest", source)
    suggested = kavel.suggest(image)
    assert [s.method for s in suggested] == list(kavel.METHODS) == [r["method"] for r in rows]
    for row, s in zip(rows, suggested):
        assert {k: v for k, v in row.items() if k != "file"} == s.__dict__
        if row["threshold"] is None:
            with pytest.raises(kavel.NoThreshold, match=f"^{row['method'].replace('(', '.').replace(')', '.')}: "):
                kavel.threshold(image, row["method"])
        else:
            assert kavel.threshold(image, row["method"]) == row["threshold"]
            assert kavel.threshold(counts, row["method"].lower()) == row["threshold"]


def test_threshold_of_one_tone_says_why(cli):
    image = np.full((4, 5), 77, np.uint8)
    (row,) = cli.json("suggest", cli.raw_input(image), "--method", "Otsu")
    with pytest.raises(kavel.NoThreshold) as raised:
        kavel.threshold(image, "otsu")
    assert str(raised.value) == f"Otsu: {row['failure']}"


@pytest.mark.parametrize("name,image", IMAGES, ids=[n for n, _ in IMAGES])
def test_measure_matches_cli(cli, name, image):
    source = cli.raw_input(image)
    for lo, hi in [(0, 100), (150, 255), (9, 3)]:
        for connectivity in (4, 8):
            (row,) = cli.json("measure", source, "--min", lo, "--max", hi, "--connectivity", connectivity,
                              "--allow-empty")
            m = kavel.measure(image, lo, hi, connectivity=connectivity)
            for field in ("min", "max", "pixels", "selected", "border", "inside", "tones", "median", "mode",
                          "regions"):
                assert getattr(m, field) == row[field], (field, lo, hi, connectivity)
            for field, decimals in (("area_fraction", 6), ("mean", 4), ("std_dev", 4)):
                value = getattr(m, field)
                assert (None if value is None else round(value, decimals)) == row[field], field


def test_read_gives_what_cli_reads(cli, tmp_path):
    for sample in ("scene.raw", "scene.bmp"):
        converted = tmp_path / f"{sample}.raw"
        cli.run("convert", SAMPLES / sample, converted)
        image = kavel.read(SAMPLES / sample)
        assert image.flags.c_contiguous and image.flags.writeable
        assert image.tobytes() == converted.read_bytes()


def test_write_gives_the_files_cli_writes(cli, tmp_path):
    image = random_image(5, (13, 21))  # odd width: bitmap lines are padded
    source = cli.raw_input(image)
    for ending in ("raw", "bmp"):
        cli.run("convert", source, tmp_path / f"cli.{ending}")
        kavel.write(tmp_path / f"py.{ending}", image[:, :])
        assert (tmp_path / f"py.{ending}").read_bytes() == (tmp_path / f"cli.{ending}").read_bytes()
    assert (tmp_path / "py.txt").read_bytes() == (tmp_path / "cli.txt").read_bytes()
    np.testing.assert_array_equal(kavel.read(tmp_path / "py.bmp"), image)


def _bad_files(folder):
    """Files kavel-cli refuses, each with the reason it gives."""
    png = folder / "picture.raw"
    png.write_bytes(b"\x89PNG\r\n\x1a\n" + bytes(100))
    png.with_suffix(".txt").write_text("10\r\n10\r\n")
    descriptor = folder / "words.raw"
    descriptor.write_bytes(bytes(4))
    descriptor.with_suffix(".txt").write_text("two lines\r\n")
    colour = folder / "colour.bmp"
    kavel.write(colour, np.zeros((2, 2), np.uint8))
    data = bytearray(colour.read_bytes()[:54])
    data[28] = 24  # bits per pixel
    data[10:14] = (54).to_bytes(4, "little")
    colour.write_bytes(bytes(data) + bytes(16))
    return [png, descriptor, colour]


def test_read_refuses_in_the_cli_words(cli, tmp_path):
    for path in _bad_files(tmp_path):
        said = cli.run("tones", "--strict", path, check=False).stderr.decode().strip()
        with pytest.raises(ValueError) as raised:
            kavel.read(path)
        assert "kavel-cli: " + str(raised.value) == said


def test_read_file_problems_are_os_errors(tmp_path):
    cases = [
        (tmp_path / "missing.raw", FileNotFoundError),
        (tmp_path, IsADirectoryError),
        (tmp_path / "lonely.raw", FileNotFoundError),  # no descriptor
    ]
    (tmp_path / "lonely.raw").write_bytes(bytes(6))
    for path, error in cases:
        with pytest.raises(error) as raised:
            kavel.read(path)
        assert raised.value.filename == str(path)
    np.testing.assert_array_equal(kavel.read(tmp_path / "lonely.raw", size=(2, 3)), np.zeros((2, 3), np.uint8))


def test_short_raw_file_warns_and_reads_zeros(cli, tmp_path):
    path = tmp_path / "short.raw"
    path.write_bytes(bytes([5, 6, 7]))
    path.with_suffix(".txt").write_text("2\r\n3\r\n")
    said = cli.run("tones", path).stderr.decode().strip()
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        image = kavel.read(path)
    assert ["kavel-cli: " + str(w.message) for w in caught] == [said]
    np.testing.assert_array_equal(image, [[5, 6, 7], [0, 0, 0]])


def test_write_problems(tmp_path):
    with pytest.raises(ValueError, match="must end in .raw or .bmp"):
        kavel.write(tmp_path / "out.png", SCENE)
    missing = tmp_path / "no" / "such" / "out.bmp"
    with pytest.raises(FileNotFoundError) as raised:
        kavel.write(missing, SCENE)
    assert raised.value.filename == str(missing)


def _views(image):
    """The same pixels in other layouts, none of them C-contiguous."""
    return {
        "transposed": np.ascontiguousarray(image.T).T,
        "fortran": np.asfortranarray(image),
        "step": np.repeat(np.repeat(image, 2, axis=0), 3, axis=1)[::2, ::3],
        "reversed": image[::-1, ::-1].copy()[::-1, ::-1],
        "window": np.pad(image, 3)[3:-3, 3:-3],
    }


def test_any_strides_give_the_results_of_a_plain_array():
    image = random_image(7, (37, 53))
    expected = {kind: kavel.treat(image, 150, 255, kind=kind, item=1, border=2) for kind, *_ in TREATMENTS}
    for name, view in _views(image).items():
        np.testing.assert_array_equal(view, image)
        assert not view.flags.c_contiguous, name
        for kind, result in expected.items():
            np.testing.assert_array_equal(kavel.treat(view, 150, 255, kind=kind, item=1, border=2), result)
            out = np.zeros((image.shape[1], image.shape[0]), np.uint8).T  # a strided out
            assert kavel.treat(view, 150, 255, kind=kind, item=1, border=2, out=out) is out
            np.testing.assert_array_equal(out, result)
        assert kavel.histogram(view).tolist() == kavel.histogram(image).tolist()
        assert kavel.tones(view) == kavel.tones(image)
        assert kavel.measure(view, 150, 255) == kavel.measure(image, 150, 255)


def test_out_may_be_the_image_or_overlap_it():
    image = random_image(8, (300, 7000))  # several bands of lines
    expected = kavel.treat(image, 150, 255, kind="item-border", item=1, border=2)
    in_place = image.copy()
    assert kavel.treat(in_place, 150, 255, kind="item-border", item=1, border=2, out=in_place) is in_place
    np.testing.assert_array_equal(in_place, expected)
    # out one line above the image in the same memory.
    block = np.concatenate([np.zeros((1, image.shape[1]), np.uint8), image])
    kavel.treat(block[1:], 150, 255, kind="item-border", item=1, border=2, out=block[:-1])
    np.testing.assert_array_equal(block[:-1], expected)


def test_bad_input_raises_clearly():
    image = random_image(9, (4, 4))
    read_only = image.copy()
    read_only.flags.writeable = False
    cases = [
        (lambda: kavel.treat(image.astype(np.int16), 0, 9), TypeError, "dtype uint8"),
        (lambda: kavel.treat(image.astype(bool), 0, 9), TypeError, "dtype uint8"),
        (lambda: kavel.treat(image.tolist(), 0, 9), TypeError, "numpy array"),
        (lambda: kavel.treat(np.zeros((2, 2, 3), np.uint8), 0, 9), ValueError, "2-D"),
        (lambda: kavel.histogram(np.zeros(5, np.uint8)), ValueError, "2-D"),
        (lambda: kavel.treat(image, 0, 9, out=read_only), ValueError, "read-only"),
        (lambda: kavel.treat(image, 0, 9, out=np.zeros((4, 5), np.uint8)), ValueError, "shape"),
        (lambda: kavel.treat(image, 0, 9, out=np.zeros((4, 4), np.int32)), TypeError, "dtype"),
        (lambda: kavel.treat(image, -1, 9), ValueError, "min"),
        (lambda: kavel.treat(image, 0, 256), ValueError, "max"),
        (lambda: kavel.treat(image, 0, 9, item=300), ValueError, "item"),
        (lambda: kavel.treat(image, 0, 9.5), TypeError, "max"),
        (lambda: kavel.treat(image, 0, 9, kind="edges"), ValueError, "kind"),
        (lambda: kavel.measure(image, 0, 9, connectivity=6), ValueError, "connectivity"),
        (lambda: kavel.measure(image, 0, 1000), ValueError, "max"),
        (lambda: kavel.threshold(image, "Magic"), ValueError, "is not one of Default"),
        (lambda: kavel.threshold(np.ones(255, np.int64), "Otsu"), ValueError, "256"),
        (lambda: kavel.threshold(-np.ones(256, np.int64), "Otsu"), ValueError, "negative"),
        (lambda: kavel.threshold(np.ones(256), "Otsu"), TypeError, "integer"),
        (lambda: kavel.write("x.bmp", np.zeros((2, 2, 2), np.uint8)), ValueError, "2-D"),
    ]
    for call, error, words in cases:
        with pytest.raises(error, match=words):
            call()


def test_threads_treating_at_once_give_sequential_results():
    images = [random_image(20 + i, (400, 500)) for i in range(6)]
    expected = [kavel.treat(im, 150, 255, kind="border") for im in images]
    results = [None] * len(images)
    barrier = threading.Barrier(len(images))

    def work(i):
        barrier.wait()
        for _ in range(5):
            results[i] = kavel.treat(images[i], 150, 255, kind="border")

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(images))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for got, want in zip(results, expected):
        np.testing.assert_array_equal(got, want)


def test_empty_images():
    for shape in [(0, 0), (0, 5), (5, 0)]:
        image = np.zeros(shape, np.uint8)
        assert kavel.treat(image, 0, 9).shape == shape
        assert kavel.histogram(image).sum() == 0 and kavel.tones(image) == 0
        m = kavel.measure(image, 0, 9)
        assert (m.pixels, m.selected, m.regions, m.mean) == (0, 0, 0, None)
