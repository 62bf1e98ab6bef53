// The help texts of kavel-cli, one per command; the manual page is made from them.
#include "args.h"

namespace kavel::cli {

std::string_view HelpText(CommandName command) noexcept {
    switch (command) {
        case CommandName::Treat:
            return R"(Usage: kavel-cli treat INPUT... (-o OUTPUT | --out-dir DIR) --type TYPE [options]

Selects the pixels whose tone lies in [MIN, MAX] and writes the result image.

  -o, --output FILE   the result of a single input; FILE ends in .raw or .bmp;
                      - writes it to standard output in --format (a raw result
                      goes without its descriptor)
      --out-dir DIR   one result per input in DIR, created when missing, named
                      after the input (scene.raw gives DIR/scene.raw)
      --name TEMPLATE the name of each result in DIR, made of the fields
                      {stem} (scene), {name} (scene.raw) and {ext} (raw):
                      --name '{stem}-border.bmp' gives DIR/scene-border.bmp;
                      a .raw or .bmp ending decides the kind written
      --format KIND   raw or bmp: the kind written with --out-dir or -o -
                      (default: the name's ending, else the kind of each input)
      --type TYPE     whole        the item in the item tone
                      border       only its border, in the border tone
                      item-border  the item with its border drawn in the border tone
                      none         the background fill alone
      --min N         lower bound of the interval, inclusive (default 0)
      --max N         upper bound of the interval, inclusive (default 0)
      --auto METHOD:SIDE  the interval from a threshold method of suggest,
                      per input: dark [0, t] or light [t + 1, 255]; printed
                      with the file name (instead of --min and --max)
      --item N        tone of the item (default 0)
      --border N      tone of the border (default 0)
      --background N  tone of every other pixel (default 0)
      --size LxC      size of raw inputs, L lines by C columns; overrides
                      their descriptor
      --strict        refuse inputs that only the conversion of import reads,
                      and raw files whose length is not lines x columns
  -j, --jobs N        inputs processed at once (default: one per processor core)
  -h, --help          show this help

An input of any kind import reads (PNG, TIFF, JPEG, compressed, short-palette
or 24-bit BMP, ...; - is told apart by its content) is converted to gray by
import's rules, with one line on stderr naming what it was, and held whole in
memory; raw and 8-bit bitmap files are read a band of lines at a time.

Numbers are whole signed 32-bit values; tones are written as their low 8 bits
(300 gives 44, -1 gives 255). A .raw result comes with its five-line descriptor
(out.raw gives out.txt).
)";
        case CommandName::Histogram:
            return R"(Usage: kavel-cli histogram INPUT... [-o FILE | --out-dir DIR] [options]

Writes the 256 counts of the image's tones, line k the number of pixels of
tone k, each line ending in CR LF. Without -o or --out-dir they go to standard
output; with several inputs each line there starts with its file ("a.bmp: ").

  -o, --output FILE   write the counts of a single input to FILE, exactly that
                      name; - is standard output
      --out-dir DIR   one export per input in DIR, created when missing,
                      named {stem}.xls (scene.raw gives DIR/scene.xls)
      --name TEMPLATE the name of each export in DIR, from the fields {stem},
                      {name} and {ext} (see kavel-cli treat --help)
      --size LxC      size of raw inputs, L lines by C columns
      --strict        refuse what import would convert, and raw files whose
                      length is not their size (see kavel-cli treat --help)
  -j, --jobs N        inputs processed at once (default: one per processor core)
  -h, --help          show this help
)";
        case CommandName::Tones:
            return R"(Usage: kavel-cli tones INPUT... [--size LxC] [--strict] [--jobs N]

Prints the number of distinct tones in each image, as a bare number; with
several inputs each line starts with its file ("a.bmp: 17").

      --size LxC      size of raw inputs, L lines by C columns
      --strict        refuse what import would convert, and raw files whose
                      length is not their size (see kavel-cli treat --help)
  -j, --jobs N        inputs processed at once (default: one per processor core)
  -h, --help          show this help
)";
        case CommandName::Convert:
            return R"(Usage: kavel-cli convert INPUT OUTPUT [--size LxC] [--format KIND]
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
      --name TEMPLATE the name of each image in DIR, from {stem}, {name}, {ext}
  -j, --jobs N        inputs processed at once (default: one per processor core)
  -h, --help          show this help
)";
        case CommandName::Import:
            return R"(Usage: kavel-cli import INPUT... (-o OUTPUT | --out-dir DIR) [--format raw|bmp]

Converts images of any kind Qt reads (PNG, TIFF, JPEG, PGM, WebP, BMP of every
depth, palette, header and compression) to 8-bit gray, which KAVEL opens.

  -o, --output FILE   the image of a single input; FILE ends in .raw or .bmp
      --out-dir DIR   one image per input in the existing folder DIR, named
                      after the input (photo.png gives DIR/photo.raw)
      --format KIND   raw or bmp: the kind written with --out-dir (default raw)
  -h, --help          show this help

Gray tones are kept and palettes applied. Colour becomes its luminance
Y = (19595 R + 38470 G + 7471 B + 32768) / 65536, with a note on stderr.
16-bit values v become (255 v + 32767) / 65535, before the luminance for
colour. Alpha is ignored. A .raw image comes with its five-line descriptor;
a .bmp one is an 8-bit bitmap with the gray ramp palette.
)";
        case CommandName::None:
            break;
    }
    return R"(Usage: kavel-cli COMMAND [options]

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

With several inputs, a last line on stderr sums up the run (processed, failed,
skipped, seconds).

  -h, --help          show this help ("kavel-cli COMMAND --help" for a command)
      --version       show the version

Exit status: 0 success, 1 an input could not be processed, 2 usage error or
nothing could be processed (no image among the inputs, an output folder that
cannot be made).
)";
}

}  // namespace kavel::cli
