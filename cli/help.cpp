// The help texts of kavel-cli, one per command; the manual page is made from
// them (packaging/make-cli-manpage.sh), so an option whose name and value run
// longer than the first column puts its description on the next line.
#include "args.h"

namespace kavel::cli {

namespace {

constexpr std::string_view kTreatHelp =
    R"(Usage: kavel-cli treat INPUT... (-o OUTPUT | --out-dir DIR) --type TYPE
                      --min N --max N [options]

Selects the pixels whose tone lies in [MIN, MAX] and writes the result image.

  -o, --output FILE   the result of a single input; FILE ends in .raw or .bmp;
                      - writes it to standard output in --format (a raw result
                      goes without its descriptor)
      --out-dir DIR   one result per input in DIR, created when missing, named
                      after the input (scene.raw gives DIR/scene.raw)
      --name TEMPLATE
                      the name of each result in DIR, made of the fields
                      {stem} (scene), {name} (scene.raw) and {ext} (raw):
                      --name '{stem}-border.bmp' gives DIR/scene-border.bmp;
                      it ends in .raw or .bmp, which decides the kind written
      --format KIND   raw or bmp: the kind written with --out-dir or -o -
                      (default: the name's ending, else the kind of each input)
      --type TYPE     whole        the item in the item tone
                      border       only its border, in the border tone
                      item-border  the item with its border drawn in the border tone
                      none         the background fill alone
      --min N         lower bound of the interval, a tone 0..255, inclusive
      --max N         upper bound of the interval, a tone 0..255, inclusive;
                      both are required, except with --auto or --type none
      --allow-empty   run even when --min is above --max (nothing is selected)
      --auto METHOD:SIDE
                      the interval from a threshold method of suggest,
                      per input: dark [0, t] or light [t + 1, 255]; printed
                      with the file name (instead of --min and --max)
      --item N        tone of the item (default 0)
      --border N      tone of the border (default 0)
      --background N  tone of every other pixel (default 0)
      --size LxC      size of raw inputs, L lines by C columns; overrides
                      their descriptor
      --strict        refuse inputs that only the conversion of import reads,
                      and raw files whose length is not lines x columns
      --force         replace read-only results too
  -j, --jobs N        inputs processed at once (default: one per processor core)
  -q, --quiet         no progress line and no summary on standard error
      --progress      a progress line even when standard error is not a terminal
  -h, --help          show this help

An input of any kind import reads (PNG, TIFF, JPEG, compressed, short-palette
or 24-bit BMP, ...; - is told apart by its content) is converted to gray by
import's rules, with one line on stderr naming what it was, and held whole in
memory; raw and 8-bit bitmap files are read a band of lines at a time.

Tones are written as their low 8 bits (300 gives 44, -1 gives 255). A .raw
result comes with its five-line descriptor (out.raw gives out.txt).
)";

constexpr std::string_view kHistogramHelp =
    R"(Usage: kavel-cli histogram INPUT... [-o FILE | --out-dir DIR] [options]

Writes the 256 counts of the image's tones, line k the number of pixels of
tone k, each line ending in CR LF. Without -o or --out-dir they go to standard
output; with several inputs each line there starts with its file ("a.bmp: ").

  -o, --output FILE   write the counts of a single input to FILE, exactly that
                      name; - is standard output
      --out-dir DIR   one export per input in DIR, created when missing,
                      named {stem}.xls (scene.raw gives DIR/scene.xls)
      --name TEMPLATE
                      the name of each export in DIR, from the fields {stem},
                      {name} and {ext} (see kavel-cli treat --help)
      --size LxC      size of raw inputs, L lines by C columns
      --strict        refuse what import would convert, and raw files whose
                      length is not their size (see kavel-cli treat --help)
      --force         replace read-only exports too
  -j, --jobs N        inputs processed at once (default: one per processor core)
  -q, --quiet         no progress line and no summary on standard error
      --progress      a progress line even when standard error is not a terminal
  -h, --help          show this help
)";

constexpr std::string_view kTonesHelp = R"(Usage: kavel-cli tones INPUT... [--size LxC] [--strict] [--jobs N]

Prints the number of distinct tones in each image, as a bare number; with
several inputs each line starts with its file ("a.bmp: 17").

      --size LxC      size of raw inputs, L lines by C columns
      --strict        refuse what import would convert, and raw files whose
                      length is not their size (see kavel-cli treat --help)
  -j, --jobs N        inputs processed at once (default: one per processor core)
  -q, --quiet         no progress line and no summary on standard error
      --progress      a progress line even when standard error is not a terminal
  -h, --help          show this help
)";

constexpr std::string_view kConvertHelp =
    R"(Usage: kavel-cli convert INPUT OUTPUT [--size LxC] [--format KIND]
       kavel-cli convert INPUT... --out-dir DIR [--format KIND] [--name TEMPLATE] [options]

Rewrites an image as raw or 8-bit bitmap, chosen by the extension of OUTPUT
(.raw or .bmp). A .raw output comes with its five-line descriptor.

      --size LxC      size of raw inputs, L lines by C columns
      --strict        refuse what import would convert, and raw files whose
                      length is not their size (see kavel-cli treat --help)
      --format KIND   raw or bmp, for the OUTPUT - (standard output; a raw
                      image goes there without its descriptor) or --out-dir
      --out-dir DIR   one image per input in DIR, created when missing,
                      named as with treat (see kavel-cli treat --help)
      --name TEMPLATE
                      the name of each image in DIR, from {stem}, {name}, {ext},
                      ending in .raw or .bmp
      --force         replace read-only files too
  -j, --jobs N        inputs processed at once (default: one per processor core)
  -q, --quiet         no progress line and no summary on standard error
      --progress      a progress line even when standard error is not a terminal
  -h, --help          show this help
)";

constexpr std::string_view kImportHelp =
    R"(Usage: kavel-cli import INPUT... (-o OUTPUT | --out-dir DIR) [--format raw|bmp] [options]

Converts images of any kind Qt reads (PNG, TIFF, JPEG, PGM, WebP, BMP of every
depth, palette, header and compression) to 8-bit gray, which KAVEL opens.
The input - is standard input, recognised by its content; a converted image
is held whole in memory.

  -o, --output FILE   the image of a single input; FILE ends in .raw or .bmp
      --out-dir DIR   one image per input in DIR, created when missing, named
                      after the input (photo.png gives DIR/photo.raw)
      --name TEMPLATE
                      the name of each image in DIR, from {stem}, {name}, {ext}
                      (see kavel-cli treat --help), ending in .raw or .bmp
      --format KIND   raw or bmp: the kind written with --out-dir (default raw)
      --force         replace read-only files too
  -j, --jobs N        inputs converted at once (default: one per processor core)
  -q, --quiet         no progress line and no summary on standard error
      --progress      a progress line even when standard error is not a terminal
  -h, --help          show this help

Gray tones are kept and palettes applied. Colour becomes its luminance
Y = (19595 R + 38470 G + 7471 B + 32768) / 65536, with a note on stderr.
16-bit values v become (255 v + 32767) / 65535, before the luminance for
colour. Alpha is ignored. A .raw image comes with its five-line descriptor;
a .bmp one is an 8-bit bitmap with the gray ramp palette. import runs the
helper kavel-import, which the package kavel-import installs.
)";

constexpr std::string_view kSuggestHelp =
    R"(Usage: kavel-cli suggest INPUT... [--method NAME]... [--format text|csv|json]
                        [--try-all --out-dir DIR] [--size LxC]

Prints, for each input and method, the automatic threshold t and the two
intervals it implies: the dark item [0, t] and the light item [t + 1, 255].
Every method puts t itself on the dark side. The intervals are ready for
treat --min/--max (or the treatment dialog's Min and Max).

      --method NAME   one of Default, Huang, Intermodes, IsoData, Li,
                      MaxEntropy, Mean, MinError(I), Minimum, Moments, Otsu,
                      Percentile, RenyiEntropy, Shanbhag, Triangle, Yen (any
                      letter case; MinErrorI also); repeat for several
                      (default: all sixteen)
      --format KIND   text (aligned columns, default), csv or json
      --try-all       with --out-dir DIR: write each method's whole-item result,
                      the light item in 255 on 0, as DIR/NAME-METHOD.bmp
                      (DIR is created when missing)
      --size LxC      size of raw inputs, L lines by C columns
      --strict        refuse what import would convert, and raw files whose
                      length is not their size (see kavel-cli treat --help)
      --force         replace read-only results too
  -h, --help          show this help

A method that finds no threshold (an image of one tone, a histogram that
never becomes bimodal for Intermodes and Minimum, ...) prints the reason in
place of the numbers; that is not an error. Exit status 1 when an input could
not be read or a result not written. In JSON, a byte of a file name that is
not UTF-8 is written as \udcXX (XX its value, as Python's surrogateescape).
)";

constexpr std::string_view kMeasureHelp =
    R"(Usage: kavel-cli measure INPUT... --min N --max N [--format text|csv|json]
                        [--connectivity 4|8] [--size LxC]

Measures the item that the interval [MIN, MAX] selects, one row per input:
  pixels, selected    all pixels, and those with MIN <= tone <= MAX
  border, inside      the selected pixels that treat draws as border (an
                      unselected pixel above, below, left or right inside the
                      image) and the others; selected = border + inside
  area_fraction       selected / pixels
  tones, mean, median, mode, std_dev
                      of the selected pixels' tones (lower median, lowest of
                      equal modes, population deviation; '-' when none)
  regions             connected regions of the selection

      --min N         lower bound of the interval, a tone 0..255 (required)
      --max N         upper bound of the interval, a tone 0..255 (required)
      --allow-empty   measure even when --min is above --max
      --format KIND   text (aligned columns, default), csv or json
      --connectivity C
                      8 (default): pixels touching at a corner are one
                      region, so a diagonal line one pixel wide is one region;
                      this pairs with the 4-neighbour border, which is a
                      connected curve in 8-connectivity. 4: side contact only
      --size LxC      size of raw inputs, L lines by C columns
      --strict        refuse what import would convert, and raw files whose
                      length is not their size (see kavel-cli treat --help)
  -h, --help          show this help

In JSON, a byte of a file name that is not UTF-8 is written as \udcXX (XX its
value, as Python's surrogateescape).
)";

constexpr std::string_view kProgramHelp = R"(Usage: kavel-cli COMMAND [options]

Thresholding of 8-bit gray-tone images from the shell.

Commands:
  treat       select a tone interval and write the item, its border or both
  histogram   write the 256 tone counts of an image
  tones       print the number of distinct tones of an image
  convert     rewrite an image as raw or 8-bit bitmap
  import      convert PNG, TIFF, JPEG, any BMP, ... to an 8-bit gray image
  suggest     print automatic thresholds and the intervals they imply
  measure     count and describe the item an interval selects

Inputs ending in .bmp are read as 8-bit bitmaps, any other as raw bytes sized
by their descriptor (scene.raw: scene.txt) or by --size LINESxCOLUMNS. An input
that is the descriptor of an image beside it, or a text file (README.md), is
skipped; PNG, JPEG, TIFF, GIF, WebP, PNM and other known formats are refused
(`kavel-cli import` converts them).
The input - is standard input: a bitmap, or raw bytes with --size.

With several inputs, a line on stderr shows the progress while they are
processed (when stderr is a terminal), and a last line sums up the run
(processed, failed, skipped, seconds). A value may follow its short option
(-j2, -oout.bmp) or its long one after = (--jobs=2).

  -h, --help          show this help ("kavel-cli COMMAND --help" for a command)
      --version       show the version

Exit status: 0 success, 1 an input could not be processed (or standard output
could not be written), 2 usage error or nothing could be processed (no image
among the inputs, an output folder that cannot be made).
)";

}  // namespace

std::string_view HelpText(CommandName command) noexcept {
    switch (command) {
        case CommandName::Treat:
            return kTreatHelp;
        case CommandName::Histogram:
            return kHistogramHelp;
        case CommandName::Tones:
            return kTonesHelp;
        case CommandName::Convert:
            return kConvertHelp;
        case CommandName::Import:
            return kImportHelp;
        case CommandName::Suggest:
            return kSuggestHelp;
        case CommandName::Measure:
            return kMeasureHelp;
        case CommandName::None:
            break;
    }
    return kProgramHelp;
}

}  // namespace kavel::cli
