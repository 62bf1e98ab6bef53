#!/usr/bin/python3
"""Writes a corpus of BMP variants, byte by byte, and a manifest describing them.

    /usr/bin/python3 tools/make_bmp_corpus.py OUTPUT_FOLDER

Every header kind (12, 16, 40, 52, 56, 64, 108 and 124 bytes), palettes of 2 to
300 entries, gray (identity and not) and colour palettes, 1, 4, 8, 16, 24 and
32 bits, RLE4 and RLE8, top-down rows, gaps before the pixels, the files
ImageMagick and Pillow write for gray images, and broken files.
Nothing here goes through KAVEL's own code: the files are packed with struct.

OUTPUT_FOLDER/manifest.json lists, for each file, what it is and what the
desktop reader (kavel, and kavel-cli treat/histogram/tones/convert) must do with
it: "open", or "refuse" with words the refusal must contain. `kavel-cli import`
must open what an independent decoder opens; the tests decide that with Pillow.
"""

import json
import os
import struct
import sys
import zlib

WIDTH, HEIGHT = 13, 6  # odd width: every depth has row padding

IMPORT_HINT = "kavel-cli import"


# ---- palettes, as (red, green, blue) ---------------------------------------

def gray_identity(n=256):
    return [(i, i, i) for i in range(n)]


def gray_reversed():
    return [(255 - i,) * 3 for i in range(256)]


def gray_tones(n):
    """n gray tones spread over 0..255, the way ImageMagick lists only the tones it uses."""
    if n == 1:
        return [(128, 128, 128)]
    return [((i * 255 + (n - 1) // 2) // (n - 1),) * 3 for i in range(n)]


def colour(n):
    # Entry 0 is gray on purpose: a palette is colour when any entry is.
    return [(i * 37 % 256, i * 91 % 256, (i * 53 + 7) % 256) for i in range(n)]


# ---- pixels ------------------------------------------------------------------

def index_image(colours, width=WIDTH, height=HEIGHT):
    """Top line first. A run of one value on the left gives RLE something to run."""
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            row.append((y * 3) % colours if x < 5 else (x * 5 + y * 11) % colours)
        rows.append(row)
    return rows


def rgb_image(width=WIDTH, height=HEIGHT):
    return [[((x * 19 + y * 7) % 256, (x * 3 + y * 41) % 256, (x * 29 + 101 * y) % 256)
             for x in range(width)] for y in range(height)]


def pad4(row):
    return row + b"\0" * (-len(row) % 4)


def pack_row(row, bits):
    if bits == 1:
        out = bytearray((len(row) + 7) // 8)
        for x, v in enumerate(row):
            out[x // 8] |= (v & 1) << (7 - x % 8)
        return bytes(out)
    if bits == 4:
        out = bytearray((len(row) + 1) // 2)
        for x, v in enumerate(row):
            out[x // 2] |= (v & 15) << (4 if x % 2 == 0 else 0)
        return bytes(out)
    if bits == 8:
        return bytes(row)
    if bits == 16:  # row of 16-bit words, already packed by the caller
        return b"".join(struct.pack("<H", v) for v in row)
    if bits == 24:
        return b"".join(bytes((b, g, r)) for r, g, b in row)
    if bits == 32:  # (r, g, b, a)
        return b"".join(bytes((b, g, r, a)) for r, g, b, a in row)
    raise ValueError(bits)


def rle8(rows_in_file_order):
    out = bytearray()
    for n, row in enumerate(rows_in_file_order):
        x = 0
        while x < len(row):
            run = 1
            while x + run < len(row) and row[x + run] == row[x] and run < 255:
                run += 1
            if run >= 2:
                out += bytes((run, row[x]))
                x += run
                continue
            # Absolute mode for a stretch of at least three unrepeated values.
            end = x
            while end < len(row) and (end + 1 >= len(row) or row[end + 1] != row[end]) and end - x < 255:
                end += 1
            if end - x >= 3:
                literal = bytes(row[x:end])
                out += bytes((0, len(literal))) + literal + (b"\0" if len(literal) % 2 else b"")
                x = end
            else:
                out += bytes((1, row[x]))
                x += 1
        out += b"\0\1" if n == len(rows_in_file_order) - 1 else b"\0\0"
    return bytes(out)


def rle8_with_skips(rows_top_first):
    """RLE8 as some writers leave it: the bottom two lines skipped by a delta,
    and every other row ended after its first four pixels. What is skipped
    reads as palette entry 0."""
    out = bytearray(b"\0\2\0\2")  # delta: 0 right, 2 up
    file_rows = rows_top_first[::-1]
    for n, row in enumerate(file_rows[2:]):
        cut = row[:4] if n % 2 else row
        for v in cut:
            out += bytes((1, v))
        out += b"\0\1" if n == len(file_rows) - 3 else b"\0\0"
    return bytes(out)


def rle4(rows_in_file_order):
    out = bytearray()
    for n, row in enumerate(rows_in_file_order):
        x = 0
        while x < len(row):
            run = 1
            while x + run < len(row) and row[x + run] == row[x] and run < 255:
                run += 1
            if run >= 2:
                out += bytes((run, row[x] << 4 | row[x]))
                x += run
            elif len(row) - x >= 3:
                literal = row[x:x + 3]
                data = bytes((literal[0] << 4 | literal[1], literal[2] << 4))
                out += bytes((0, 3)) + data  # 2 data bytes: already a whole word
                x += 3
            else:
                out += bytes((1, row[x] << 4))
                x += 1
        out += b"\0\1" if n == len(rows_in_file_order) - 1 else b"\0\0"
    return bytes(out)


# ---- headers -----------------------------------------------------------------

def info_header(size, width, height, bits, compression=0, image_size=0, colours_used=0, masks=None):
    if size == 12:
        return struct.pack("<IHHHH", 12, width & 0xFFFF, height & 0xFFFF, 1, bits)
    if size == 16:
        return struct.pack("<IiiHH", 16, width, height, 1, bits)
    head = struct.pack("<IiiHHIIiiII", size, width, height, 1, bits, compression, image_size, 2835, 2835,
                       colours_used, 0)
    if size == 40:
        return head
    if size == 64:  # OS/2 2.x: units, reserved, recording, rendering, size1, size2, encoding, identifier
        return head + struct.pack("<HHHHIIII", 0, 0, 0, 0, 0, 0, 0, 0)
    r, g, b, a = masks or (0, 0, 0, 0)
    head += struct.pack("<III", r, g, b)
    if size >= 56:
        head += struct.pack("<I", a)
    if size >= 108:
        head += struct.pack("<I", 0x73524742) + b"\0" * 36 + b"\0" * 12  # sRGB, endpoints, gammas
    if size == 124:
        head += struct.pack("<IIII", 4, 0, 0, 0)
    if len(head) < size:  # sizes no Windows version defines
        head += b"\0" * (size - len(head))
    return head


def palette_bytes(entries, header_size):
    if header_size == 12:
        return b"".join(bytes((b, g, r)) for r, g, b in entries)
    return b"".join(bytes((b, g, r, 0)) for r, g, b in entries)


def bmp(header_size=40, bits=8, palette=None, rows=None, width=None, height=None, top_down=False,
        compression=0, colours_used=None, gap=0, extra_masks=b"", masks=None, offset=None, pixel_data=None):
    """A whole file. rows are top line first; width/height override the header's fields."""
    palette = palette or []
    height_field = height if height is not None else len(rows) * (-1 if top_down else 1)
    width_field = width if width is not None else len(rows[0])
    if pixel_data is None:
        file_rows = rows if top_down else rows[::-1]
        if compression == 1:
            pixel_data = rle8(file_rows)
        elif compression == 2:
            pixel_data = rle4(file_rows)
        else:
            pixel_data = b"".join(pad4(pack_row(r, bits)) for r in file_rows)
    if colours_used is None:
        colours_used = 0 if len(palette) == 256 or not palette else len(palette)
    head = info_header(header_size, width_field, height_field, bits, compression, len(pixel_data),
                       colours_used, masks)
    table = palette_bytes(palette, header_size)
    if offset is None:
        offset = 14 + len(head) + len(extra_masks) + len(table) + gap
    body = head + extra_masks + table + b"\0" * gap
    length = 14 + len(body) + len(pixel_data)
    return b"BM" + struct.pack("<IHHI", length, 0, 0, offset) + body + pixel_data


def rgb555(rows):
    return [[(r >> 3) << 10 | (g >> 3) << 5 | b >> 3 for r, g, b in row] for row in rows]


def rgb565(rows):
    return [[(r >> 3) << 11 | (g >> 2) << 5 | b >> 3 for r, g, b in row] for row in rows]


def rgba(rows, alpha):
    return [[(r, g, b, alpha(x, y)) for x, (r, g, b) in enumerate(row)] for y, row in enumerate(rows)]


def png_gray(width, height):
    """A small 8-bit gray PNG, for a bitmap name that holds another format."""
    raw = b"".join(b"\0" + bytes((x * 17 + y * 40) % 256 for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


# ---- the corpus -----------------------------------------------------------------

def corpus():
    """(file name, bytes, what it is, desktop outcome, words its refusal must hold, palette kind)."""
    cases = []

    def opens(name, data, what, palette_kind):
        cases.append((name, data, what, "open", [], palette_kind))

    def refused(name, data, what, words):
        cases.append((name, data, what, "refuse", words, None))

    gray8 = index_image(256)

    for size in (12, 16, 40, 52, 56, 64, 108, 124):
        kind = {12: "OS/2 1.x", 16: "OS/2 2.x short", 64: "OS/2 2.x"}.get(size, "Windows")
        opens(f"h{size}_8bit_gray256.bmp", bmp(size, 8, gray_identity(), gray8),
              f"8-bit, {size}-byte {kind} header, identity gray palette", "gray")
        opens(f"h{size}_8bit_colour256.bmp", bmp(size, 8, colour(256), gray8),
              f"8-bit, {size}-byte {kind} header, 256-colour palette (indices kept)", "colour")
    for size in (12, 16, 40, 64, 108, 124):
        refused(f"h{size}_24bit.bmp", bmp(size, 24, rows=rgb_image()), f"24-bit, {size}-byte header",
                ["24-bit", IMPORT_HINT])

    # Gray palettes that are not the identity: read through the palette.
    opens("h40_8bit_gray256_reversed.bmp", bmp(40, 8, gray_reversed(), gray8),
          "8-bit, palette entry i is gray 255 - i", "gray")
    opens("h12_8bit_gray256_reversed.bmp", bmp(12, 8, gray_reversed(), gray8),
          "8-bit OS/2 1.x, reversed gray palette", "gray")
    opens("h124_8bit_gray256_reversed.bmp", bmp(124, 8, gray_reversed(), gray8),
          "8-bit V5 header, reversed gray palette", "gray")
    used = gray_tones(50)
    padded = used + [(0, 0, 0)] * (256 - len(used))
    opens("h40_8bit_gray_tones_padded.bmp", bmp(40, 8, padded, index_image(50)),
          "8-bit, 50 used gray tones listed first, the rest of the 256 entries black", "gray")
    opens("h40_8bit_gray256_used256.bmp", bmp(40, 8, gray_identity(), gray8, colours_used=256),
          "8-bit, identity gray palette, colours-used field 256", "gray")

    # Other palette sizes at 8 bits.
    for n in (2, 16, 100, 252, 255):
        refused(f"h40_8bit_gray{n}.bmp", bmp(40, 8, gray_tones(n), index_image(n)),
                f"8-bit, {n}-entry gray palette (colours-used {n})", ["8-bit", f"{n}-colour", IMPORT_HINT])
    refused("h40_8bit_colour200.bmp", bmp(40, 8, colour(200), index_image(200)),
            "8-bit, 200-entry colour palette", ["8-bit", "200-colour", IMPORT_HINT])
    refused("h124_8bit_gray252.bmp", bmp(124, 8, gray_tones(252), index_image(252)),
            "8-bit V5 header, 252-entry gray palette", ["8-bit", "252-colour", IMPORT_HINT])
    refused("h12_8bit_gray252.bmp", bmp(12, 8, gray_tones(252), index_image(252)),
            "8-bit OS/2 1.x, 252 palette entries fit before the pixels", ["8-bit", "252-colour", IMPORT_HINT])
    refused("h40_8bit_fit200.bmp", bmp(40, 8, gray_tones(200), index_image(200), colours_used=0),
            "8-bit, colours-used 0, room for 200 entries before the pixels", ["8-bit", "200-colour", IMPORT_HINT])
    refused("h40_8bit_palette300.bmp", bmp(40, 8, gray_tones(300), index_image(256)),
            "8-bit, colours-used 300 (more entries than 8 bits can index)", ["8-bit", "300-colour"])

    # 1 and 4 bits.
    bw = [(0, 0, 0), (255, 255, 255)]
    refused("h40_1bit_bw.bmp", bmp(40, 1, bw, index_image(2)), "1-bit, black and white",
            ["1-bit", IMPORT_HINT])
    refused("h40_1bit_colour.bmp", bmp(40, 1, [(200, 30, 30), (20, 40, 220)], index_image(2)),
            "1-bit, two colours", ["1-bit", IMPORT_HINT])
    refused("h12_1bit_bw.bmp", bmp(12, 1, bw, index_image(2)), "1-bit OS/2 1.x", ["1-bit", IMPORT_HINT])
    refused("h124_1bit_bw.bmp", bmp(124, 1, bw, index_image(2)), "1-bit V5 header", ["1-bit", IMPORT_HINT])
    refused("h40_4bit_gray16.bmp", bmp(40, 4, gray_tones(16), index_image(16)), "4-bit, 16 gray tones",
            ["4-bit", IMPORT_HINT])
    refused("h40_4bit_colour16.bmp", bmp(40, 4, colour(16), index_image(16)), "4-bit, 16 colours",
            ["4-bit", IMPORT_HINT])
    refused("h40_4bit_colour5.bmp", bmp(40, 4, colour(5), index_image(5)), "4-bit, 5-entry colour palette",
            ["4-bit", IMPORT_HINT])
    refused("h12_4bit_gray16.bmp", bmp(12, 4, gray_tones(16), index_image(16)), "4-bit OS/2 1.x",
            ["4-bit", IMPORT_HINT])
    refused("h16_4bit_gray16.bmp", bmp(16, 4, gray_tones(16), index_image(16)), "4-bit OS/2 2.x short",
            ["4-bit", IMPORT_HINT])

    # Run-length compression.
    refused("h40_rle8_gray256.bmp", bmp(40, 8, gray_identity(), gray8, compression=1),
            "8-bit RLE8, identity gray palette", ["RLE8", IMPORT_HINT])
    refused("h40_rle8_colour100.bmp", bmp(40, 8, colour(100), index_image(100), compression=1),
            "8-bit RLE8, 100-entry colour palette", ["RLE8", IMPORT_HINT])
    refused("h108_rle8_gray256.bmp", bmp(108, 8, gray_reversed(), gray8, compression=1),
            "8-bit RLE8, V4 header, reversed gray palette", ["RLE8", IMPORT_HINT])
    refused("h40_rle4_gray16.bmp", bmp(40, 4, gray_tones(16), index_image(16), compression=2),
            "4-bit RLE4, 16 gray tones", ["RLE4", IMPORT_HINT])
    refused("h40_rle4_colour16.bmp", bmp(40, 4, colour(16), index_image(16), compression=2),
            "4-bit RLE4, 16 colours", ["RLE4", IMPORT_HINT])

    # 16 and 32 bits.
    image = rgb_image()
    refused("h40_16bit_555.bmp", bmp(40, 16, rows=rgb555(image)), "16-bit 5-5-5, no masks",
            ["16-bit", IMPORT_HINT])
    refused("h40_16bit_565_bitfields.bmp",
            bmp(40, 16, rows=rgb565(image), compression=3, extra_masks=struct.pack("<III", 0xF800, 0x07E0, 0x1F)),
            "16-bit 5-6-5, masks after a 40-byte header", ["16-bit", IMPORT_HINT])
    refused("h56_16bit_565_bitfields.bmp",
            bmp(56, 16, rows=rgb565(image), compression=3, masks=(0xF800, 0x07E0, 0x1F, 0)),
            "16-bit 5-6-5, masks in a 56-byte header", ["16-bit", IMPORT_HINT])
    refused("h40_32bit.bmp", bmp(40, 32, rows=rgba(image, lambda x, y: 0)), "32-bit BGRX", ["32-bit", IMPORT_HINT])
    refused("h124_32bit_alpha.bmp",
            bmp(124, 32, rows=rgba(image, lambda x, y: (x * 20 + y * 5) % 256), compression=3,
                masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
            "32-bit with an alpha mask, V5 header", ["32-bit", IMPORT_HINT])

    # Top-down rows, gaps before the pixels, odd sizes.
    opens("h40_8bit_gray256_topdown.bmp", bmp(40, 8, gray_identity(), gray8, top_down=True),
          "8-bit, identity gray palette, top line first", "gray")
    opens("h124_8bit_reversed_topdown.bmp", bmp(124, 8, gray_reversed(), gray8, top_down=True),
          "8-bit V5, reversed gray palette, top line first", "gray")
    opens("h40_8bit_colour256_topdown.bmp", bmp(40, 8, colour(256), gray8, top_down=True),
          "8-bit, colour palette, top line first", "colour")
    refused("h40_24bit_topdown.bmp", bmp(40, 24, rows=rgb_image(), top_down=True), "24-bit, top line first",
            ["24-bit", IMPORT_HINT])
    opens("h40_8bit_gap100.bmp", bmp(40, 8, gray_identity(), gray8, gap=100),
          "8-bit, 100 bytes between the palette and the pixels", "gray")
    opens("h108_8bit_gap7.bmp", bmp(108, 8, gray_reversed(), gray8, gap=7),
          "8-bit V4, reversed gray palette, 7 bytes before the pixels", "gray")
    opens("h12_8bit_gap2.bmp", bmp(12, 8, gray_identity(), gray8, gap=2),
          "8-bit OS/2 1.x, 2 bytes before the pixels", "gray")
    refused("h40_24bit_gap16.bmp", bmp(40, 24, rows=rgb_image(), gap=16), "24-bit, 16 bytes before the pixels",
            ["24-bit", IMPORT_HINT])
    refused("h40_24bit_palette.bmp", bmp(40, 24, colour(16), rgb_image()),
            "24-bit with a needless 16-entry palette", ["24-bit", IMPORT_HINT])
    opens("h40_8bit_1x1.bmp", bmp(40, 8, gray_reversed(), [[77]]), "8-bit, 1 x 1", "gray")
    opens("h40_8bit_4x3.bmp", bmp(40, 8, gray_identity(), index_image(256, 4, 3)),
          "8-bit, 4 x 3 (rows need no padding)", "gray")

    # As other programs write gray images. ImageMagick (Debian 12): `convert
    # x.png -type Grayscale out.bmp` gives RLE8 behind a 108-byte header with
    # all 256 gray entries declared (BMP3: a 40-byte header); from a 16-bit or
    # a colour file, 24-bit rows of equal channels behind a 124-byte header.
    # Pillow: a P image of n tones gives an n-entry palette.
    photo = [[(x * 5 + y * 17) % 256 if x > 3 else 200 for x in range(WIDTH)] for y in range(HEIGHT)]
    refused("im_rle8_gray_v4.bmp", bmp(108, 8, gray_identity(), photo, compression=1, colours_used=256),
            "ImageMagick gray: RLE8, 108-byte header, 256 gray entries declared", ["RLE8", IMPORT_HINT])
    refused("im_rle8_gray_bmp3.bmp", bmp(40, 8, gray_identity(), photo, compression=1, colours_used=256),
            "ImageMagick BMP3: gray RLE8, 40-byte header", ["RLE8", IMPORT_HINT])
    refused("im_24bit_gray_v5.bmp", bmp(124, 24, rows=[[(v, v, v) for v in row] for row in photo]),
            "ImageMagick from a 16-bit or colour file: 24-bit gray, 124-byte header", ["24-bit", IMPORT_HINT])
    refused("im_rle8_gray_skips.bmp",
            bmp(40, 8, gray_identity(), photo, compression=1, colours_used=256, pixel_data=rle8_with_skips(photo)),
            "RLE8 whose rows end early and whose first lines are skipped by a delta", ["RLE8", IMPORT_HINT])
    for n in (3, 10):
        refused(f"pil_8bit_gray{n}.bmp", bmp(40, 8, gray_tones(n), index_image(n)),
                f"Pillow: a {n}-tone P image, {n}-entry palette", ["8-bit", f"{n}-colour", IMPORT_HINT])
    refused("pil_8bit_colour7.bmp", bmp(40, 8, colour(7), index_image(7)),
            "Pillow: a 7-colour P image, 7-entry colour palette", ["8-bit", "7-colour", IMPORT_HINT])

    # Broken files.
    good = bmp(40, 8, gray_identity(), gray8)
    refused("broken_signature.bmp", b"XM" + good[2:], "8-bit file without the BM signature", ["BMP"])
    refused("broken_empty.bmp", b"", "empty file", [])
    refused("broken_in_file_header.bmp", good[:10], "ends inside the file header", [])
    refused("broken_in_info_header.bmp", good[:30], "ends inside the information header", [])
    refused("broken_in_palette.bmp", good[:54 + 500], "ends inside the palette", [])
    refused("broken_in_pixels.bmp", good[:1078 + 16 * 3 + 5], "ends inside row 4 of 6", ["row"])
    refused("broken_24bit_in_pixels.bmp", bmp(40, 24, rows=rgb_image())[:54 + 40 * 2], "24-bit, ends in row 3",
            [])
    refused("broken_offset_beyond_end.bmp", bmp(40, 8, gray_identity(), gray8, offset=5000),
            "pixel-data offset 5000 beyond the file's end", ["offset"])
    refused("broken_offset_in_header.bmp", bmp(40, 8, gray_identity(), gray8, offset=20, colours_used=256),
            "pixel-data offset 20, inside the header", [])
    refused("broken_huge_100000x100000.bmp",
            bmp(40, 8, gray_identity(), width=100000, height=100000, pixel_data=b"\0" * 64),
            "8-bit, header says 100000 x 100000, 64 bytes of pixels", [])
    refused("broken_huge_60000x60000.bmp",
            bmp(40, 8, gray_identity(), width=60000, height=60000, pixel_data=b"\0" * 64),
            "8-bit, header says 60000 x 60000 (under 2^32 pixels), 64 bytes of pixels", [])
    refused("broken_huge_width.bmp",
            bmp(40, 8, gray_identity(), width=2147483647, height=1, pixel_data=b"\0" * 64),
            "8-bit, width 2147483647", [])
    refused("broken_huge_24bit.bmp", bmp(40, 24, width=70000, height=70000, pixel_data=b"\0" * 64),
            "24-bit, header says 70000 x 70000", [])
    refused("broken_negative_width.bmp", bmp(40, 8, gray_identity(), gray8, width=-13),
            "8-bit, width -13", [])
    refused("broken_header_size_0.bmp", good[:14] + struct.pack("<I", 0) + good[18:],
            "header-size field 0", ["header"])
    refused("broken_header_size_200.bmp", bmp(200, 8, gray_identity(), gray8), "header of 200 bytes",
            ["200", "header"])
    refused("broken_7bit.bmp", bmp(40, 7, gray_identity(128), index_image(128), pixel_data=b"\x11" * 48),
            "7 bits per pixel", ["7"])
    refused("broken_8bit_bitfields.bmp", bmp(40, 8, gray_identity(), gray8, compression=3),
            "8-bit with bit-field compression, which only 16 and 32 bits have", [])
    refused("broken_rle8_truncated.bmp", bmp(40, 8, gray_identity(), gray8, compression=1)[:1078 + 20],
            "RLE8 data cut after 20 bytes", ["RLE8"])
    refused("broken_png_named_bmp.bmp", png_gray(9, 5), "a PNG image under a .bmp name", [])
    return cases


# Where import must not do what Pillow does, and why.
IMPORT_OVERRIDES = {
    # Pillow 9 reads an 8-bit file with a black and white palette as all black.
    "h40_8bit_gray2.bmp": {"twin": "h40_1bit_bw.bmp"},
    # Pillow 9 does not decode RLE4; the uncompressed file holds the same pixels.
    "h40_rle4_gray16.bmp": {"twin": "h40_4bit_gray16.bmp"},
    "h40_rle4_colour16.bmp": {"twin": "h40_4bit_colour16.bmp"},
    # Packed channels: Pillow scales them down, import rounds (see the test).
    "h40_16bit_555.bmp": {"channel_bits": [5, 5, 5]},
    "h40_16bit_565_bitfields.bmp": {"channel_bits": [5, 6, 5]},
    "h56_16bit_565_bitfields.bmp": {"channel_bits": [5, 6, 5]},
    # Pillow 9.4 misreads RLE8 deltas and early row ends; OpenCV decides.
    "im_rle8_gray_skips.bmp": {"reference": "opencv"},
    "broken_offset_in_header.bmp": {"import": "refuse",
                                    "import_why": "Pillow decodes header and palette bytes as pixels"},
}


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_bmp_corpus.py OUTPUT_FOLDER")
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    manifest = []
    for name, data, what, desktop, words, palette_kind in corpus():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)
        entry = {"file": name, "what": what, "desktop": desktop, "refusal_words": words, "palette": palette_kind}
        # Pillow reads no 16-, 52- or 56-byte header: the same image with a
        # 40-byte one gives the expected pixels.
        if name[:4] in ("h16_", "h52_", "h56_"):
            entry["twin"] = "h40_" + name[4:]
        entry.update(IMPORT_OVERRIDES.get(name, {}))
        manifest.append(entry)
    with open(os.path.join(folder, "manifest.json"), "w") as out:
        json.dump(manifest, out, indent=1)
        out.write("\n")
    print(f"{len(manifest)} files in {folder}")


if __name__ == "__main__":
    main()
