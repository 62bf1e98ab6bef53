#!/usr/bin/python3
"""Opens every generated BMP variant through the shipped kavel-cli and checks
that it either opens with the right pixels or is refused with a message that
says what it is. The expected pixels come from Pillow, converted to gray by the
documented rules; never from KAVEL's own readers.

    corpus_test.py --cli KAVEL_CLI --generator make_bmp_corpus.py --work DIR --route ROUTE

ROUTE desktop: `kavel-cli convert FILE.bmp out.raw --strict`, which reads what
  the desktop application reads; what must open is written in the manifest.
ROUTE converted: `kavel-cli convert FILE out.raw` and `kavel-cli convert -
  out.raw` for every file: desktop's pixels where it opens, import's where only
  import does (OpenCV as the second opinion on run-length files).
ROUTE import: `kavel-cli import FILE.bmp -o out.raw`, which must open whatever
  Pillow decodes (or the file's twin decodes, for headers Pillow does not read).
ROUTE commands: import as a command (names, protected inputs, FIFOs, sizes
  claimed by a header, usage errors).
ROUTE imagemagick: real-world files written by ImageMagick's convert (BMP, PNG,
  16-bit PNG, TIFF, JPEG, PGM) through import, and import's bitmap output
  through the desktop reader.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys

import numpy as np
from PIL import Image

IMAGEMAGICK = "/usr/bin/convert"


def luminance(rgb):
    rgb = rgb.astype(np.uint32)
    return ((19595 * rgb[..., 0] + 38470 * rgb[..., 1] + 7471 * rgb[..., 2] + 32768) >> 16).astype(np.uint8)


def to_8_bits(values):
    return ((values.astype(np.uint64) * 255 + 32767) // 65535).astype(np.uint8)


def pillow_gray(path, channel_bits=None):
    """The image as import must give it: palettes applied, colour as luminance,
    16-bit values rounded onto 0..255, alpha ignored. channel_bits: the widths
    of packed red, green and blue channels (16-bit BMP), which import widens by
    v8 = (255 v + max / 2) / max; Pillow's own 8-bit values identify v."""
    with Image.open(path) as im:
        im.load()
        mode = im.mode
        if channel_bits:
            rgb = np.array(im.convert("RGB")).astype(np.uint32)
            top = np.array([(1 << bits) - 1 for bits in channel_bits], dtype=np.uint32)
            packed = (rgb * top + 127) // 255
            return luminance((packed * 255 + top // 2) // top)
        if mode == "L":
            return np.array(im)
        if mode == "1":
            return np.array(im.convert("L"))
        if mode in ("P", "PA"):
            palette = np.array(im.getpalette()[:768], dtype=np.uint8).reshape(-1, 3)
            index = np.array(im.getchannel(0) if mode == "PA" else im)
            return luminance(palette)[index]
        if mode == "LA":
            return np.array(im.getchannel(0))
        if mode in ("RGB", "RGBA", "RGBX"):
            return luminance(np.array(im)[..., :3])
        if mode.startswith("I;16") or mode == "I":
            return to_8_bits(np.array(im).astype(np.int64).clip(0, 65535))
    raise ValueError(f"{path}: Pillow mode {mode} has no conversion rule here")


def pillow_desktop(path, palette_kind):
    """What the desktop reader gives for an 8-bit, 256-entry file: tones through
    a gray palette, indices under a colour one."""
    with Image.open(path) as im:
        im.load()
        if im.mode == "L":
            return np.array(im)
        assert im.mode == "P", f"{path}: Pillow mode {im.mode} for an 8-bit file"
        index = np.array(im)
        if palette_kind == "colour":
            return index
        palette = np.array(im.getpalette()[:768], dtype=np.uint8).reshape(-1, 3)
        return palette[:, 0][index]


def read_raw(raw):
    with open(os.path.splitext(raw)[0] + ".txt") as descriptor:
        lines, columns = (int(word) for word in descriptor.read().split()[:2])
    data = np.fromfile(raw, dtype=np.uint8)
    assert data.size == lines * columns, f"{raw}: {data.size} bytes for {lines} x {columns}"
    return data.reshape(lines, columns)


class Runner:
    def __init__(self, cli, work):
        self.cli = cli
        self.work = work
        usage = subprocess.run([cli, "convert", "--help"], capture_output=True, text=True).stdout
        self.convert_takes_o = "-o" in usage.splitlines()[0] if usage else False

    def run(self, words, output):
        for stale in (output, os.path.splitext(output)[0] + ".txt"):
            if os.path.exists(stale):
                os.remove(stale)
        done = subprocess.run([self.cli] + words, capture_output=True, text=True, timeout=60)
        return done.returncode, done.stderr.strip()

    def desktop(self, path, output, strict=True):
        """The desktop's own reader: kavel-cli convert --strict. Without
        --strict, what the desktop refuses but import reads is converted."""
        words = ["convert", path, "-o", output] if self.convert_takes_o else ["convert", path, output]
        return self.run(words + (["--strict"] if strict else []), output)

    def piped(self, path, output):
        """The file on standard input, told apart by its content."""
        for stale in (output, os.path.splitext(output)[0] + ".txt"):
            if os.path.exists(stale):
                os.remove(stale)
        with open(path, "rb") as data:
            done = subprocess.run([self.cli, "convert", "-", output], stdin=data, capture_output=True, timeout=60)
        return done.returncode, done.stderr.decode(errors="replace").strip()

    def imported(self, path, output):
        return self.run(["import", path, "-o", output], output)


class Tally:
    def __init__(self, route, passed="opened"):
        self.route = route
        self.passed = passed
        self.opened = []
        self.refused = []
        self.failures = []

    def fail(self, name, why):
        self.failures.append(f"{name}: {why}")

    def report(self):
        print(f"route {self.route}: {len(self.opened)} {self.passed}, {len(self.refused)} refused, "
              f"{len(self.failures)} failed")
        for name in self.opened:
            print(f"  {self.passed:8} {name}")
        for name, message in self.refused:
            print(f"  refused  {name}: {message}")
        for failure in self.failures:
            print(f"  FAILED   {failure}")
        return 1 if self.failures else 0


def check_opened(tally, name, code, message, output, expected):
    if code != 0:
        tally.fail(name, f"must open, exit {code}: {message}")
        return
    got = read_raw(output)
    if got.shape != expected.shape:
        tally.fail(name, f"size {got.shape}, expected {expected.shape}")
    elif not np.array_equal(got, expected):
        wrong = int(np.count_nonzero(got != expected))
        tally.fail(name, f"{wrong} of {got.size} pixels differ (first at {np.argwhere(got != expected)[0]})")
    else:
        tally.opened.append(name)


def check_refused(tally, name, code, message, output, words):
    if code != 1:
        tally.fail(name, f"must be refused, exit {code}: {message}")
    elif os.path.exists(output):
        tally.fail(name, "refused, yet an output was written")
    elif not message.startswith("kavel-cli: "):
        tally.fail(name, f"refusal not in the kavel-cli: FILE: reason form: {message!r}")
    elif "bits per pixel" in message and message.split("bits per pixel")[0].rstrip().endswith(" 1"):
        tally.fail(name, f"says '1 bits per pixel': {message}")
    else:
        missing = [w for w in words if w.lower() not in message.lower()]
        if missing:
            tally.fail(name, f"refusal does not say {missing}: {message}")
        else:
            tally.refused.append((name, message.split(": ", 2)[-1]))


def route_desktop(runner, corpus, manifest):
    tally = Tally("desktop reader (kavel-cli convert)")
    output = os.path.join(runner.work, "desktop.raw")
    for entry in manifest:
        name = entry["file"]
        code, message = runner.desktop(os.path.join(corpus, name), output)
        if entry["desktop"] == "open":
            check_opened(tally, name, code, message, output,
                         pillow_desktop(os.path.join(corpus, entry.get("twin", name)), entry["palette"]))
        else:
            check_refused(tally, name, code, message, output, entry["refusal_words"])
    return tally.report()


def opencv_gray(path):
    """OpenCV's decoding, the second opinion where Pillow misreads run-length
    data: palettes applied, colour as luminance."""
    import cv2
    image = cv2.imread(path, cv2.IMREAD_UNCHANGED)
    if image is None:
        return None
    if image.ndim == 2:
        return image
    return luminance(image[..., 2::-1][..., :3])


def import_expectation(corpus, entry):
    """Pillow's gray image (OpenCV's where the manifest says Pillow misreads the
    file), or None when the file must be refused."""
    if entry.get("import") == "refuse":
        return None
    path = os.path.join(corpus, entry.get("twin", entry["file"]))
    if entry.get("reference") == "opencv":
        return opencv_gray(path)
    try:
        return pillow_gray(path, entry.get("channel_bits"))
    except (OSError, ValueError, Image.DecompressionBombError):
        return None


def run_length(path):
    with open(path, "rb") as f:
        head = f.read(34)
    return head[:2] == b"BM" and len(head) == 34 and int.from_bytes(head[30:34], "little") in (1, 2)


def route_import(runner, corpus, manifest):
    tally = Tally("import")
    output = os.path.join(runner.work, "import.raw")
    for entry in manifest:
        name = entry["file"]
        path = os.path.join(corpus, name)
        expected = import_expectation(corpus, entry)
        code, message = runner.imported(path, output)
        if expected is not None:
            check_opened(tally, name, code, message, output, expected)
            continue
        # A refusal names what the file is: the BMP and its depth when the
        # header can be read, else that it is no image.
        with open(path, "rb") as f:
            head = f.read(30)
        if head[:2] == b"BM" and len(head) >= 30 and head[14] in (12, 16, 40, 52, 56, 64, 108, 124):
            depth = head[24] if int.from_bytes(head[14:18], "little") == 12 else head[28]
            words = ["BMP", f"{depth}-bit"]
        elif head[:2] == b"BM":
            words = ["BMP"]
        elif head:
            words = ["not an image", "formats Qt reads here", "png"]
        else:
            words = ["empty file"]
        check_refused(tally, name, code, message, output, words)
    return tally.report()


def route_converted(runner, corpus, manifest):
    """Every file through a reading command by its name and on standard
    input, without --strict: what the desktop reader opens comes out as it
    does, what only import reads as import gives it, the rest is refused. For
    run-length files OpenCV must agree with the expected pixels too."""
    tally = Tally("every command, by name and on standard input")
    output = os.path.join(runner.work, "converted.raw")
    for entry in manifest:
        name = entry["file"]
        path = os.path.join(corpus, name)
        if entry["desktop"] == "open":
            expected = pillow_desktop(os.path.join(corpus, entry.get("twin", name)), entry["palette"])
        else:
            expected = import_expectation(corpus, entry)
        if expected is not None and run_length(path):
            second = opencv_gray(path)
            if second is None or not np.array_equal(second, expected):
                tally.fail(name, "OpenCV decodes other pixels than the expected ones")
                continue
        for route, (code, message) in (("named", runner.desktop(path, output, strict=False)),
                                       ("piped", runner.piped(path, output))):
            if expected is not None:
                check_opened(tally, f"{name} {route}", code, message, output, expected)
            elif code != 1 or os.path.exists(output) or not message.startswith("kavel-cli: "):
                tally.fail(f"{name} {route}", f"must be refused, exit {code}: {message}")
            else:
                tally.refused.append((f"{name} {route}", message.split(": ", 2)[-1]))
    return tally.report()


def route_imagemagick(runner, folder):
    """ImageMagick's own files through import, against Pillow; import's bitmap
    output back through the desktop reader."""
    tally = Tally("ImageMagick files through import")
    made = {
        "im_gray.bmp": ["rose:", "-colorspace", "gray"],
        "im_gray_reversed.bmp": ["rose:", "-colorspace", "gray", "-negate", "-colors", "64"],
        "im_rose.bmp": ["rose:"],
        "im_rose.png": ["rose:"],
        "im_gray16.png": ["rose:", "-colorspace", "gray", "-depth", "16", "-evaluate", "multiply", "1.003"],
        "im_rose16.tiff": ["rose:", "-colorspace", "gray", "-depth", "16"],
        "im_rose.tiff": ["rose:"],
        "im_rose.jpg": ["rose:", "-quality", "90"],
        "im_gray.pgm": ["rose:", "-colorspace", "gray"],
        "im_gray16.pgm": ["rose:", "-colorspace", "gray", "-depth", "16", "-evaluate", "multiply", "1.003"],
        "im_rose_alpha.png": ["rose:", "-alpha", "set", "-channel", "A", "-evaluate", "set", "40%", "+channel"],
    }
    output = os.path.join(runner.work, "im.raw")
    for name, arguments in made.items():
        path = os.path.join(folder, name)
        subprocess.run([IMAGEMAGICK] + arguments + [path], check=True, capture_output=True)
        expected = pillow_gray(path)
        code, message = runner.imported(path, output)
        check_opened(tally, name, code, message, output, expected)

        # The bitmap import writes is the canonical 8-bit file the desktop opens.
        bitmap = os.path.join(runner.work, "im_import.bmp")
        code, message = runner.run(["import", path, "-o", bitmap], bitmap)
        if code != 0:
            tally.fail(name + " as .bmp", message)
            continue
        code, message = runner.desktop(bitmap, output)
        check_opened(tally, name + " as .bmp, read back by the desktop reader", code, message, output, expected)

    # Floating-point samples (written by Pillow, as ImageMagick fails on
    # them): refused in one line that says so, nothing of libtiff's own on stderr.
    path = os.path.join(folder, "im_float.tiff")
    Image.fromarray(np.linspace(0, 1, 35 * 20, dtype=np.float32).reshape(20, 35)).save(path)
    code, message = runner.imported(path, output)
    if code != 1 or len(message.splitlines()) != 1 or "32-bit floating-point samples" not in message:
        tally.fail("im_float.tiff", f"must be refused in one line naming its samples, exit {code}: {message!r}")
    else:
        tally.refused.append(("im_float.tiff", message.split(": ", 2)[-1]))
    return tally.report()


def png(width, height, bit_depth=8, colour_type=0, rows=None):
    """A PNG packed by hand: its header may claim any size."""
    import struct
    import zlib

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    data = zlib.compress(rows if rows is not None else b"")
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, bit_depth, colour_type, 0, 0, 0)) +
            chunk(b"IDAT", data) + chunk(b"IEND", b""))


def route_commands(runner, folder):
    """import as a command: names, protection of inputs, usage errors, notes,
    inputs that must not hang it or make it allocate what they claim."""
    tally = Tally("import command", "passed")
    os.makedirs(folder, exist_ok=True)

    def path(name):
        return os.path.join(folder, name)

    def write(name, data):
        with open(path(name), "wb") as f:
            f.write(data)

    # AddressSanitizer reserves terabytes of shadow memory: no address-space
    # limit can be put on such a build.
    with open(runner.cli, "rb") as binary:
        limits_work = b"__asan_init" not in binary.read()

    def run(*words, timeout=60, limit=None):
        def bound():
            if limit and limits_work:
                import resource
                resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        done = subprocess.run([runner.cli, "import"] + list(words), capture_output=True, text=True,
                              timeout=timeout, preexec_fn=bound)
        return done.returncode, done.stderr

    def expect(case, condition, detail):
        if condition:
            tally.opened.append(case)
        else:
            tally.fail(case, detail)

    gray_rows = b"".join(b"\0" + bytes((x * 9 + y) % 256 for x in range(20)) for y in range(10))
    write("gray.png", png(20, 10, rows=gray_rows))
    subprocess.run([IMAGEMAGICK, "rose:", path("rose.png")], check=True)
    subprocess.run([IMAGEMAGICK, "rose:", path("rose.jpg")], check=True)
    out = path("out")
    os.makedirs(out, exist_ok=True)

    code, err = run(path("gray.png"), path("rose.png"), "--out-dir", out)
    expect("--out-dir names each result after its input, raw by default",
           code == 0 and os.path.exists(os.path.join(out, "gray.raw")) and os.path.exists(os.path.join(out, "rose.txt")),
           f"exit {code}: {err}")
    expect("a colour input gives one note, a gray one none",
           err.count("note:") == 1 and "rose.png" in err and "luminance" in err, err)
    # Parallel jobs: a job decoding must not swallow another job's note.
    many = [path(f"rose{n}.png") for n in range(24)]
    for copy in many:
        shutil.copyfile(path("rose.png"), copy)
    code, err = run(*many, "--out-dir", path("many"), "--jobs", "2")
    expect("24 colour inputs in two jobs give 24 notes", code == 0 and err.count("note:") == 24, err)
    code, err = run(path("gray.png"), "--out-dir", out, "--format", "bmp")
    expect("--format bmp writes DIR/NAME.bmp", code == 0 and os.path.exists(os.path.join(out, "gray.bmp")), err)
    code, err = run(path("rose.png"), path("rose.jpg"), "--out-dir", out)
    expect("two inputs with one name: the second is refused, the first written",
           code == 1 and "is also the result of" in err and err.count(": the output ") == 1, f"exit {code}: {err}")

    code, err = run(path("gray.png"), "-o", path("gray.bmp"))
    before = open(path("gray.bmp"), "rb").read()
    code_again, err_again = run(path("gray.bmp"), "-o", path("gray.bmp"))
    expect("-o onto its own input is refused and the input kept",
           code == 0 and code_again == 1 and "which this run reads" in err_again and
           open(path("gray.bmp"), "rb").read() == before, err + err_again)

    os.mkfifo(path("pipe.png"))
    try:
        code, err = run(path("pipe.png"), "-o", path("pipe.raw"), timeout=20)
        expect("a FIFO input is refused without reading it", code == 1 and "not a regular file" in err, err)
    except subprocess.TimeoutExpired:
        tally.fail("a FIFO input is refused without reading it", "kavel-cli hung on the FIFO")

    write("huge.png", png(100000, 100000))
    code, err = run(path("huge.png"), "-o", path("huge.raw"), limit=512 << 20)
    expect("a PNG claiming 10^10 pixels is refused for its size", code == 1 and "too large" in err, err)
    write("big.png", png(30000, 30000))  # 900 MB decoded, no pixel data at all
    code, err = run(path("big.png"), "-o", path("big.raw"), limit=512 << 20)
    expect("a PNG claiming 900 MB under a 512 MB address space: a message, no crash",
           code == 1 and f"kavel-cli: {path('big.png')}: PNG" in err and not os.path.exists(path("big.raw")),
           f"exit {code}: {err}")

    # A 16-bit PGM header of a few bytes claiming 3 gigapixels: refused for
    # its length before the pixels are allocated, not for the memory.
    for kind, body in (("P2", b"1 2 3"), ("P5", b"\0\1\0\2")):
        name = f"short16-{kind}.pgm"
        write(name, kind.encode() + b"\n358 8888888\n8887\n" + body)
        code, err = run(path(name), "-o", path(name + ".raw"), limit=512 << 20)
        expect(f"a {kind} 16-bit PGM header claiming 3 gigapixels in a few bytes is refused as too short",
               code == 1 and "ends early" in err and not os.path.exists(path(name + ".raw")),
               f"exit {code}: {err}")

    write("empty16.pgm", b"P2\v0\t112\t5251\v")
    code, err = run(path("empty16.pgm"), "-o", path("empty16.raw"))
    expect("a 16-bit PGM of 0 x 112 pixels is refused, not imported as an empty image",
           code == 1 and "no pixels" in err and not os.path.exists(path("empty16.raw")), f"exit {code}: {err}")

    # Pillow reduces 16-bit colour to 8 bits by dropping the low byte, so this
    # one is checked against the values the test packs itself (51528 gives
    # 200 by the rounding rule, 201 by dropping the low byte).
    samples = [(0, 0, 0), (65535, 65535, 65535), (0x80FF, 0x8000, 0x7F80), (257, 385, 1000),
               (65535, 0, 0), (0, 65535, 0), (51528, 51528, 51528), (12345, 54321, 33333)]
    rows = b"".join(b"\0" + b"".join(v.to_bytes(2, "big") for rgb in samples[y * 4:y * 4 + 4] for v in rgb)
                    for y in range(2))
    write("rgb16.png", png(4, 2, bit_depth=16, colour_type=2, rows=rows))
    code, err = run(path("rgb16.png"), "-o", path("rgb16.raw"))
    expected = luminance(to_8_bits(np.array(samples, dtype=np.uint64)).reshape(2, 4, 3))
    got = read_raw(path("rgb16.raw")) if code == 0 else None
    expect("16-bit colour PNG: each channel rounded onto 0..255, then the luminance",
           got is not None and np.array_equal(got, expected), f"exit {code}: {err}; got {got}, expected {expected}")

    write("drawing.svg", b'<svg xmlns="http://www.w3.org/2000/svg" width="20" height="10">'
                         b'<text x="1" y="9">Hi</text></svg>')
    code, err = run(path("drawing.svg"), "-o", path("drawing.raw"))
    expect("an SVG drawing is refused, not rendered (its text would abort Qt)",
           code == 1 and "SVG image: a vector drawing" in err, f"exit {code}: {err}")

    for words, why in ((["x.png"], "no output"), (["a.png", "b.png", "-o", "x.raw"], "-o with two inputs"),
                       (["a.png", "-o", "x.png"], "-o not .raw or .bmp"),
                       (["a.png", "--out-dir", out, "--format", "gif"], "--format gif"),
                       (["a.png", "-o", "x.raw", "--format", "raw"], "--format with -o"),
                       (["a.png", "-o", "x.raw", "--out-dir", out], "-o and --out-dir")):
        code, err = run(*words)
        expect(f"usage error: {why}", code == 2 and "import --help" in err, f"exit {code}: {err}")
    return tally.report()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--generator", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--route", choices=("desktop", "import", "converted", "imagemagick", "commands"),
                        required=True)
    args = parser.parse_args()

    work = os.path.join(args.work, args.route)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    runner = Runner(args.cli, work)
    if args.route == "commands":
        return route_commands(runner, os.path.join(work, "files"))
    if args.route == "imagemagick":
        return route_imagemagick(runner, work)
    corpus = os.path.join(work, "corpus")
    subprocess.run([sys.executable, args.generator, corpus], check=True)
    with open(os.path.join(corpus, "manifest.json")) as f:
        manifest = json.load(f)
    if args.route == "desktop":
        return route_desktop(runner, corpus, manifest)
    if args.route == "converted":
        return route_converted(runner, corpus, manifest)
    return route_import(runner, corpus, manifest)


if __name__ == "__main__":
    sys.exit(main())
