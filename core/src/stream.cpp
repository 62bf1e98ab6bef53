#include "kavel/stream.h"

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>
#include <ostream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "inputfile.h"
#include "kavel/bitmap.h"
#include "kavel/openplan.h"
#include "kavel/safefile.h"

namespace kavel {

namespace fs = std::filesystem;

namespace {

int LinesPerBand(std::size_t bandBytes, std::uint64_t rowBytes, int lines) {
    if (lines <= 0) {
        return 0;
    }
    if (rowBytes == 0) {
        return lines;
    }
    // Capped so that a band and the lines around it still count in an int.
    const std::uint64_t fit = std::clamp<std::uint64_t>(bandBytes / rowBytes, 1, std::uint64_t{1} << 30);
    return static_cast<int>(std::min<std::uint64_t>(fit, static_cast<std::uint64_t>(lines)));
}

std::size_t Bytes(std::uint64_t lines, std::uint64_t rowBytes) {
    return static_cast<std::size_t>(lines * rowBytes);
}

Error NoMemoryForLines(std::uint64_t lines, std::uint64_t rowBytes) {
    return Error{"not enough memory for " + std::to_string(lines) + " lines of " + std::to_string(rowBytes) +
                 " bytes"};
}

// Grows a buffer without letting an exception leave the core.
Status Reserve(std::vector<std::uint8_t>& buffer, std::size_t bytes, std::uint64_t lines,
               std::uint64_t rowBytes) {
    if (buffer.size() < bytes) {
        try {
            buffer.resize(bytes);
        } catch (const std::bad_alloc&) {
            return NoMemoryForLines(lines, rowBytes);
        }
    }
    return {};
}

Expected<ByteMatrix> LinesOf(int columns, int lines) {
    auto matrix = AllocateByteMatrix(columns, lines);
    if (!matrix) {
        return NoMemoryForLines(static_cast<std::uint64_t>(lines), static_cast<std::uint64_t>(columns));
    }
    return matrix;
}

}  // namespace

struct LineSource::State {
    State(std::shared_ptr<const detail::InputFile> file, ImageSize size)
        : File(std::move(file)), Size(size) {}

    std::shared_ptr<const detail::InputFile> File;
    ImageSize Size;
    bool Bitmap = false;
    std::uint64_t PixelOffset = 0;
    std::uint64_t Stride = 0;  // bytes of one line in the file
    LineOrder Stored = LineOrder::TopFirst;
    BitmapTones Tones;
    int Band = 0;
    bool SequentialAdvised = false;
    std::vector<std::uint8_t> Staging;  // a band as the file holds it, when it cannot be read in place
};

LineSource::LineSource(std::unique_ptr<State> state) : state_(std::move(state)) {}
LineSource::LineSource(LineSource&& other) noexcept = default;
LineSource& LineSource::operator=(LineSource&& other) noexcept = default;
LineSource::~LineSource() = default;

Expected<LineSource> OpenPlannedLines(const OpenPlan& plan, std::size_t bandBytes) {
    if (!plan.Loadable()) {
        assert(plan.Kind != OpenKind::Refused || !plan.Refusal.message.empty());
        return plan.Kind == OpenKind::Refused || plan.Kind == OpenKind::Convert
                   ? plan.Refusal
                   : Error{"no size for the raw image " + plan.File.string()};
    }
    assert(plan.Opened != nullptr);
    auto state = std::make_unique<LineSource::State>(plan.Opened, plan.Size);
    if (plan.Kind == OpenKind::GrayBitmap) {
        const BitmapLayout& layout = plan.Layout;
        state->Bitmap = true;
        state->PixelOffset = layout.PixelOffset;
        state->Stride = layout.Stride;
        state->Stored = layout.TopDown ? LineOrder::TopFirst : LineOrder::BottomFirst;
        state->Tones = BitmapTonesOf(layout);
    } else {
        state->Stride = static_cast<std::uint64_t>(plan.Size.Columns);
    }
    state->Band = LinesPerBand(bandBytes, state->Stride, plan.Size.Lines);
    return LineSource(std::move(state));
}

Expected<LineSource> LineSource::OpenRaw(const fs::path& file, ImageSize size, std::size_t bandBytes) {
    return OpenPlannedLines(PlanOpen(file, OpenAs::RawBytes, size), bandBytes);
}

Expected<LineSource> LineSource::OpenBitmap(const fs::path& file, std::size_t bandBytes) {
    return OpenPlannedLines(PlanOpen(file, OpenAs::Bitmap), bandBytes);
}

ImageSize LineSource::Size() const noexcept {
    return state_->Size;
}

LineOrder LineSource::FileOrder() const noexcept {
    return state_->Stored;
}

std::uint64_t LineSource::FileBytes() const noexcept {
    return state_->File->Size();
}

bool LineSource::Short() const noexcept {
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(state_->Size.Lines) * static_cast<std::uint64_t>(state_->Size.Columns);
    return !state_->Bitmap && FileBytes() < pixels;
}

int LineSource::BandLines() const noexcept {
    return state_->Band;
}

Status LineSource::Read(LineOrder order, int first, int count, std::span<std::uint8_t> rows) {
    State& s = *state_;
    const auto columns = static_cast<std::size_t>(s.Size.Columns);
    assert(first >= 0 && count >= 0 && first <= s.Size.Lines - count);
    assert(rows.size() >= Bytes(static_cast<std::uint64_t>(count), columns));
    if (count == 0 || columns == 0) {
        return {};
    }
    const bool inFileOrder = order == s.Stored;
    // The lines asked for lie together in the file, in one order or the other.
    const std::uint64_t firstStored = inFileOrder ? static_cast<std::uint64_t>(first)
                                                  : static_cast<std::uint64_t>(s.Size.Lines - first - count);
    const std::uint64_t offset = s.PixelOffset + firstStored * s.Stride;
    const std::size_t want = Bytes(static_cast<std::uint64_t>(count), s.Stride);

    if (inFileOrder && !s.SequentialAdvised) {
        s.File->Advise(s.PixelOffset, 0, POSIX_FADV_SEQUENTIAL);
        s.SequentialAdvised = true;
    }
    const bool inPlace = inFileOrder && s.Stride == columns && s.Tones.Identity;
    if (!inPlace) {
        if (auto reserved = Reserve(s.Staging, want, static_cast<std::uint64_t>(count), s.Stride);
            !reserved) {
            return reserved;
        }
    }
    const std::span<std::uint8_t> into = inPlace ? rows.first(want) : std::span(s.Staging).first(want);
    auto got = s.File->ReadAt(offset, into);
    if (!got) {
        const std::int64_t top =
            order == LineOrder::TopFirst ? first : std::int64_t{s.Size.Lines} - first - count;
        return Error{"reading lines " + std::to_string(top + 1) + " to " + std::to_string(top + count) +
                     " (counted from 1 at the top) failed: " + got.error().message};
    }
    if (*got < want) {
        if (s.Bitmap) {
            return Error{"the file ended early while it was read, inside row " +
                         std::to_string(firstStored + *got / s.Stride + 1) + " of " +
                         std::to_string(s.Size.Lines)};
        }
        // A short raw file reads as 0 past its end.
        std::memset(into.data() + *got, 0, want - *got);
    }
    if (!inFileOrder && firstStored > 0) {
        // Reading backwards defeats the system's read-ahead: ask for the next band now.
        const std::uint64_t next =
            firstStored - std::min<std::uint64_t>(firstStored, static_cast<std::uint64_t>(count));
        s.File->Advise(s.PixelOffset + next * s.Stride, (firstStored - next) * s.Stride, POSIX_FADV_WILLNEED);
    }
    if (inPlace) {
        return {};
    }
    const auto n = static_cast<std::size_t>(count);
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint8_t* from = s.Staging.data() + (inFileOrder ? k : n - 1 - k) * s.Stride;
        std::uint8_t* to = rows.data() + k * columns;
        if (s.Tones.Identity) {
            std::memcpy(to, from, columns);
        } else {
            for (std::size_t j = 0; j < columns; ++j) {
                to[j] = s.Tones.Of[from[j]];
            }
        }
    }
    return {};
}

Status LineSource::Produce(LineOrder order, const LineConsumer& take) {
    const ImageSize size = Size();
    if (size.Lines == 0 || size.Columns == 0) {
        return {};
    }
    const auto columns = static_cast<std::uint64_t>(size.Columns);
    std::vector<std::uint8_t> band;
    if (auto reserved = Reserve(band, Bytes(static_cast<std::uint64_t>(state_->Band), columns),
                                static_cast<std::uint64_t>(state_->Band), columns);
        !reserved) {
        return reserved;
    }
    // Line numbers in 64 bits: a first line past the last may not fit in an int.
    for (std::int64_t first = 0; first < size.Lines; first += state_->Band) {
        const int count = static_cast<int>(std::min<std::int64_t>(state_->Band, size.Lines - first));
        if (auto read = Read(order, static_cast<int>(first), count, band); !read) {
            return read;
        }
        if (!take(count, std::span<const std::uint8_t>(band).first(
                             Bytes(static_cast<std::uint64_t>(count), columns)))) {
            break;
        }
    }
    return {};
}

TreatedLines::TreatedLines(LineSource& source, const TreatmentParameters& parameters)
    : source_(source), parameters_(parameters) {}

Status TreatedLines::Produce(LineOrder order, const LineConsumer& take) {
    const ImageSize size = source_.Size();
    if (size.Lines == 0 || size.Columns == 0) {
        return {};
    }
    // The window holds a band of B lines with the line before it above and
    // the line after it below, so the whole-image treatment of the window is
    // right for the band's lines. Where the image ends, the window is filled
    // with a selected tone: a selected neighbour is what the edge of the image
    // counts as.
    const int band = source_.BandLines();
    const int windowLines = band + 2;
    auto window = LinesOf(size.Columns, windowLines);
    if (!window) {
        return window.error();
    }
    auto result = LinesOf(size.Columns, windowLines);
    if (!result) {
        return result.error();
    }
    const auto columns = static_cast<std::size_t>(size.Columns);
    const auto edge = static_cast<std::uint8_t>(std::clamp(parameters_.MinThreshold, 0, 255));
    auto fillEdge = [&](int from) {
        if (from < windowLines) {
            std::memset((*window)[from], edge, static_cast<std::size_t>(windowLines - from) * columns);
        }
    };
    auto readInto = [&](int windowLine, int first, int count) {
        return source_.Read(order, first, count,
                            std::span((*window)[windowLine], static_cast<std::size_t>(count) * columns));
    };

    fillEdge(0);
    const int opening = static_cast<int>(std::min<std::int64_t>(std::int64_t{band} + 1, size.Lines));
    if (auto read = readInto(1, 0, opening); !read) {
        return read;
    }
    fillEdge(1 + opening);
    for (std::int64_t first = 0;; first += band) {
        const int count = static_cast<int>(std::min<std::int64_t>(band, size.Lines - first));
        if (auto treated = ComputeTreatment(*window, parameters_, *result); !treated) {
            return treated;
        }
        if (!take(count,
                  std::span<const std::uint8_t>((*result)[1], static_cast<std::size_t>(count) * columns))) {
            return {};
        }
        if (first + count >= size.Lines) {
            return {};
        }
        // The band's last line and the one after it become the next window's
        // first two; the B - 1 lines after them are read.
        std::memmove((*window)[0], (*window)[band], 2 * columns);
        const std::int64_t next = first + band + 1;  // at most Lines
        const int more = static_cast<int>(std::clamp<std::int64_t>(size.Lines - next, 0, band));
        if (auto read = readInto(2, static_cast<int>(next), more); !read) {
            return read;
        }
        fillEdge(2 + more);
    }
}

Status SaveRawLines(const fs::path& pixels, const fs::path& descriptor, LineProducer& lines) {
    const std::string text = FormatDescriptor(lines.Size(), DescriptorForm::FiveLines);
    const std::array<FileToWrite, 2> files{{
        {pixels,
         [&lines](std::ostream& out) -> Status {
             return lines.Produce(LineOrder::TopFirst, [&out](int, std::span<const std::uint8_t> rows) {
                 out.write(reinterpret_cast<const char*>(rows.data()),
                           static_cast<std::streamsize>(rows.size()));
                 return static_cast<bool>(out);
             });
         }},
        {descriptor,
         [&text](std::ostream& out) -> Status {
             out.write(text.data(), static_cast<std::streamsize>(text.size()));
             return {};
         }},
    }};
    return WriteFilesSafely(files);
}

Status SaveBitmapLines(const fs::path& file, LineProducer& lines) {
    return WriteFileSafely(file, [&lines](std::ostream& out) -> Status {
        const ImageSize size = lines.Size();
        if (auto header = WriteBitmapHeaderStream(out, size.Columns, size.Lines); !header) {
            return header;
        }
        const auto columns = static_cast<std::size_t>(size.Columns);
        const auto stride = static_cast<std::size_t>(BitmapStride(size.Columns, 1));
        // Rows padded in place: the padding bytes are never written, so stay 0.
        std::vector<std::uint8_t> padded;
        Status padding;
        auto produced = lines.Produce(LineOrder::BottomFirst, [&](int count,
                                                                  std::span<const std::uint8_t> rows) {
            const auto n = static_cast<std::size_t>(count);
            if (stride == columns) {
                out.write(reinterpret_cast<const char*>(rows.data()),
                          static_cast<std::streamsize>(rows.size()));
                return static_cast<bool>(out);
            }
            padding = Reserve(padded, n * stride, n, stride);
            if (!padding) {
                return false;
            }
            for (std::size_t k = 0; k < n; ++k) {
                std::memcpy(padded.data() + k * stride, rows.data() + k * columns, columns);
            }
            out.write(reinterpret_cast<const char*>(padded.data()), static_cast<std::streamsize>(n * stride));
            return static_cast<bool>(out);
        });
        if (!produced) {
            return produced;
        }
        return padding;
    });
}

namespace {

// Counts a band at a time; count gives false to stop.
template <class Count>
Status CountBands(LineSource& source, Count count) {
    const ImageSize size = source.Size();
    if (size.Lines == 0 || size.Columns == 0) {
        return {};
    }
    // Counting is cheap next to reading: larger bands amortise its set-up.
    const int band =
        static_cast<int>(std::min<std::int64_t>(std::int64_t{source.BandLines()} * 4, size.Lines));
    auto whole = LinesOf(size.Columns, band);
    if (!whole) {
        return whole.error();
    }
    for (std::int64_t first = 0; first < size.Lines; first += band) {
        const int lines = static_cast<int>(std::min<std::int64_t>(band, size.Lines - first));
        if (lines < band) {
            // The last band, shorter: a matrix of its own size.
            auto last = LinesOf(size.Columns, lines);
            if (!last) {
                return last.error();
            }
            *whole = std::move(*last);
        }
        if (auto read = source.Read(source.FileOrder(), static_cast<int>(first), lines, whole->Bytes());
            !read) {
            return read;
        }
        if (!count(*whole)) {
            break;
        }
    }
    return {};
}

}  // namespace

Expected<Histogram> StreamHistogram(LineSource& source) {
    HistogramCounter counter;
    auto counted = CountBands(source, [&counter](const ByteMatrix& band) {
        counter.Add(band.Bytes());
        return true;
    });
    if (!counted) {
        return counted.error();
    }
    return counter.Counts();
}

Expected<int> StreamDistinctTones(LineSource& source) {
    ToneSet tones;
    auto counted = CountBands(source, [&tones](const ByteMatrix& band) {
        tones.Add(band.Bytes());
        return !tones.Complete();
    });
    if (!counted) {
        return counted.error();
    }
    return tones.Count();
}

std::size_t StreamBandBytes() noexcept {
    static const std::size_t bytes = [] {
        const char* value = std::getenv("KAVEL_BAND_BYTES");
        if (value == nullptr) {
            return kStreamBandBytes;
        }
        const std::string_view text(value);
        std::size_t parsed = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
        return error == std::errc{} && end == text.data() + text.size() && parsed > 0 ? parsed
                                                                                      : kStreamBandBytes;
    }();
    return bytes;
}

}  // namespace kavel
