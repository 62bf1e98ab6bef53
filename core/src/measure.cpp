#include "kavel/measure.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstring>
#include <vector>

#include "kavel/statistics.h"
#include "kavel/stream.h"
#include "kavel/treatment.h"

namespace kavel {

namespace {

// Tones the treatment writes into its marks: bit 0 or bit 1 set means
// selected, bit 1 means border.
constexpr std::uint8_t kMarkOutside = 0;
constexpr std::uint8_t kMarkInside = 1;
constexpr std::uint8_t kMarkBorder = 2;

constexpr std::uint64_t kLowBits = 0x0101010101010101ull;
// Gathers bit 8k of a word into bit 56 + k: each source bit meets exactly one
// factor bit there, so no carries disturb the result.
constexpr std::uint64_t kGather = 0x0102040810204080ull;

// One line of marks as bits (bit j of word j / 64 set where column j is
// selected; bits past the line stay 0). Gives the number of border pixels.
std::int64_t LineBits(const std::uint8_t* marks, std::size_t n, std::vector<std::uint64_t>& bits) {
    bits.resize((n + 63) / 64);
    std::uint64_t border = 0;
    const std::size_t whole = n / 64;
    for (std::size_t w = 0; w < whole; ++w) {
        std::uint64_t word = 0;
        for (std::size_t k = 0; k < 8; ++k) {
            std::uint64_t x;
            std::memcpy(&x, marks + 64 * w + 8 * k, sizeof x);
            word |= ((((x | (x >> 1)) & kLowBits) * kGather) >> 56) << (8 * k);
            // Each byte of (x >> 1) & kLowBits is 0 or 1; the product sums them into the top byte.
            border += (((x >> 1) & kLowBits) * kLowBits) >> 56;
        }
        bits[w] = word;
    }
    if (whole < bits.size()) {
        std::uint64_t word = 0;
        for (std::size_t j = 64 * whole; j < n; ++j) {
            word |= std::uint64_t{marks[j] != kMarkOutside} << (j % 64);
            border += marks[j] == kMarkBorder ? 1 : 0;
        }
        bits[whole] = word;
    }
    return static_cast<std::int64_t>(border);
}

// Regions counted in one pass over the lines, in either order: each run of
// selected pixels is joined to the runs of the line before it that it
// touches, with union-find over the labels of those two lines only. A region
// is counted once no run of the newest line belongs to it, since then no
// later line can reach it; the labels are then numbered afresh for the next
// line, so memory stays that of two lines whatever the image.
class RegionCounter {
public:
    explicit RegionCounter(Connectivity connectivity) : reach_(connectivity == Connectivity::Eight ? 1 : 0) {}

    // Runs found from the bits with a count of trailing zeros each, not
    // pixel by pixel.
    void AddLine(const std::vector<std::uint64_t>& bits) {
        current_.clear();
        above_ = 0;
        parent_.resize(labels_);  // the previous line's regions, each its own root
        for (std::uint32_t k = 0; k < labels_; ++k) {
            parent_[k] = k;
        }
        const std::size_t words = bits.size();
        std::size_t w = 0;
        std::uint64_t rest = words > 0 ? bits[0] : 0;  // bits of word w not yet taken
        while (true) {
            while (rest == 0 && ++w < words) {
                rest = bits[w];
            }
            if (w >= words) {
                break;
            }
            const auto begin = static_cast<std::uint32_t>(w * 64 + std::countr_zero(rest));
            // The run ends at the first clear bit after its start.
            std::uint64_t clear = ~bits[w] & (~std::uint64_t{0} << (begin % 64));
            while (clear == 0 && ++w < words) {
                clear = ~bits[w];
            }
            const auto end =
                static_cast<std::uint32_t>(w < words ? w * 64 + std::countr_zero(clear) : words * 64);
            AddRun(begin, end);
            if (w >= words) {
                break;
            }
            // end lies in word w (its bit is clear): go on from there.
            rest = bits[w] & (~std::uint64_t{0} << (end % 64));
        }
        Renumber();
        previous_.swap(current_);
    }

    // Every region still open is complete once the lines have ended.
    std::int64_t Regions() const noexcept { return finished_ + labels_; }

private:
    struct Run {
        std::uint32_t Begin;  // first column
        std::uint32_t End;    // one past the last column
        std::uint32_t Label;
    };

    static constexpr std::uint32_t kNone = ~std::uint32_t{0};

    void AddRun(std::uint32_t begin, std::uint32_t end) {
        std::uint32_t label = kNone;
        // Runs above that end before this one can start to touch it are
        // done with: later runs here lie further right.
        while (above_ < previous_.size() && previous_[above_].End + reach_ <= begin) {
            ++above_;
        }
        for (std::size_t k = above_; k < previous_.size() && previous_[k].Begin < end + reach_; ++k) {
            const std::uint32_t root = Find(previous_[k].Label);
            if (label == kNone) {
                label = root;
            } else if (root != label) {
                parent_[std::max(root, label)] = std::min(root, label);
                label = std::min(root, label);
            }
        }
        if (label == kNone) {
            label = static_cast<std::uint32_t>(parent_.size());
            parent_.push_back(label);
        }
        current_.push_back(Run{begin, end, label});
    }

    std::uint32_t Find(std::uint32_t x) {
        while (parent_[x] != x) {
            parent_[x] = parent_[parent_[x]];  // path halving
            x = parent_[x];
        }
        return x;
    }

    // Counts the previous line's regions that no run of this line reached
    // and numbers this line's regions 0, 1, ... in order of their runs.
    void Renumber() {
        number_.assign(parent_.size(), kNone);
        std::uint32_t next = 0;
        for (Run& run : current_) {
            std::uint32_t& number = number_[Find(run.Label)];
            if (number == kNone) {
                number = next++;
            }
            run.Label = number;
        }
        for (std::uint32_t k = 0; k < labels_; ++k) {
            std::uint32_t& number = number_[Find(k)];
            if (number == kNone) {
                ++finished_;
                number = next;  // any value but kNone: counted once
            }
        }
        labels_ = next;
    }

    std::uint32_t reach_;
    std::size_t above_ = 0;
    std::uint32_t labels_ = 0;  // regions of the previous line, numbered 0 .. labels_ - 1
    std::vector<std::uint32_t> parent_;
    std::vector<std::uint32_t> number_;
    std::vector<Run> previous_;
    std::vector<Run> current_;
    std::int64_t finished_ = 0;
};

// The measurements of lines given a band at a time in order, top first or
// bottom first: the histogram of each band, and the treatment's marks of
// each line once the line after it has come, from a window of the band with
// the line before it and the line after it. A line's border depends only on
// its neighbours, so the marks are those of the whole image; where the image
// ends the window holds a selected tone, which the border rule treats as the
// edge.
class SelectionMeasurer {
public:
    SelectionMeasurer(int columns, std::int32_t minimum, std::int32_t maximum, Connectivity connectivity)
        : columns_(columns),
          minimum_(minimum),
          maximum_(maximum),
          marking_{TreatmentKind::ItemAndBorder, minimum, maximum, kMarkInside, kMarkBorder, kMarkOutside},
          regions_(connectivity) {}

    // The next lines of the image.
    Status Take(const ByteMatrix& band) {
        assert(band.Columns() == columns_);
        const Histogram counts = ComputeHistogram(band);
        for (std::size_t g = 0; g < counts.size(); ++g) {
            histogram_[g] += counts[g];
        }
        if (carry_.Empty()) {
            auto carry = AllocateByteMatrix(columns_, 2);
            if (!carry) {
                return carry.error();
            }
            carry_ = std::move(*carry);
            std::memset(carry_[0], Edge(), Columns());
        }
        // Window: the line above, the line still to mark (after the first
        // band), then the band.
        const int waiting = waiting_ ? 1 : 0;
        const int lines = 1 + waiting + band.Lines();
        if (auto sized = SizeWindow(lines); !sized) {
            return sized;
        }
        std::memcpy(window_[0], carry_[0], static_cast<std::size_t>(1 + waiting) * Columns());
        std::memcpy(window_[1 + waiting], band[0], band.PixelCount());
        if (auto marked = MarkWindow(); !marked) {
            return marked;
        }
        std::memcpy(carry_[0], window_[lines - 2], 2 * Columns());
        waiting_ = true;
        return {};
    }

    // Marks the last line, with the edge below it.
    Expected<Measurements> Finish(std::int64_t pixels) {
        if (waiting_) {
            if (auto sized = SizeWindow(3); !sized) {
                return sized.error();
            }
            std::memcpy(window_[0], carry_[0], 2 * Columns());
            std::memset(window_[2], Edge(), Columns());
            if (auto marked = MarkWindow(); !marked) {
                return marked.error();
            }
        }
        Measurements m;
        m.Pixels = pixels;
        m.Border = border_;
        m.Regions = regions_.Regions();
        Summarise(m);
        return m;
    }

private:
    std::size_t Columns() const noexcept { return static_cast<std::size_t>(columns_); }
    std::uint8_t Edge() const noexcept { return static_cast<std::uint8_t>(std::clamp(minimum_, 0, 255)); }

    Status SizeWindow(int lines) {
        if (window_.Lines() == lines) {
            return {};
        }
        auto window = AllocateByteMatrix(columns_, lines);
        auto marks = AllocateByteMatrix(columns_, lines);
        if (!window || !marks) {
            return window ? marks.error() : window.error();
        }
        window_ = std::move(*window);
        marks_ = std::move(*marks);
        return {};
    }

    // Marks of every line of the window but its first and last.
    Status MarkWindow() {
        if (auto treated = ComputeTreatment(window_, marking_, marks_); !treated) {
            return treated;
        }
        for (int i = 1; i + 1 < window_.Lines(); ++i) {
            border_ += LineBits(marks_[i], Columns(), bits_);
            regions_.AddLine(bits_);
        }
        return {};
    }

    // The counts and tone statistics of the selected tones, from the histogram.
    void Summarise(Measurements& m) const {
        std::array<std::int64_t, 256> selected{};
        double sum = 0;
        for (int g = 0; g < 256; ++g) {
            if (minimum_ <= g && g <= maximum_) {
                selected[g] = histogram_[g];
                m.Selected += selected[g];
                sum += static_cast<double>(selected[g]) * g;
                m.DistinctTones += selected[g] > 0 ? 1 : 0;
            }
        }
        m.Inside = m.Selected - m.Border;
        m.AreaFraction = m.Pixels > 0 ? static_cast<double>(m.Selected) / static_cast<double>(m.Pixels) : 0.0;
        if (m.Selected == 0) {
            return;
        }
        const double mean = sum / static_cast<double>(m.Selected);
        double squares = 0;
        std::int64_t below = 0;
        int mode = -1;
        for (int g = 0; g < 256; ++g) {
            if (selected[g] == 0) {
                continue;
            }
            squares += static_cast<double>(selected[g]) * (g - mean) * (g - mean);
            if (!m.Median && 2 * (below + selected[g]) >= m.Selected) {
                m.Median = g;
            }
            below += selected[g];
            if (mode < 0 || selected[g] > selected[mode]) {
                mode = g;
            }
        }
        m.Mean = mean;
        m.Mode = mode;
        m.StdDev = std::sqrt(squares / static_cast<double>(m.Selected));
    }

    int columns_;
    std::int32_t minimum_;
    std::int32_t maximum_;
    TreatmentParameters marking_;
    Histogram histogram_{};
    ByteMatrix carry_;      // the last marked line and the line after it
    bool waiting_ = false;  // carry_ holds a line not yet marked
    ByteMatrix window_;
    ByteMatrix marks_;
    std::vector<std::uint64_t> bits_;
    std::int64_t border_ = 0;
    RegionCounter regions_;
};

// Feeds the lines to a measurer in bands of about bandLines, each filled by
// fill(first, count, band).
template <class Fill>
Expected<Measurements> MeasureBands(ImageSize size, int bandLines, std::int32_t minimum, std::int32_t maximum,
                                    Connectivity connectivity, const Fill& fill) {
    SelectionMeasurer measurer(size.Columns, minimum, maximum, connectivity);
    ByteMatrix band;
    for (int first = 0; size.Columns > 0 && first < size.Lines; first += bandLines) {
        const int count = std::min(bandLines, size.Lines - first);
        if (band.Lines() != count) {
            // The first band, and the last when it is shorter.
            auto allocated = AllocateByteMatrix(size.Columns, count);
            if (!allocated) {
                return allocated.error();
            }
            band = std::move(*allocated);
        }
        if (Status filled = fill(first, count, band); !filled) {
            return filled.error();
        }
        if (auto taken = measurer.Take(band); !taken) {
            return taken.error();
        }
    }
    return measurer.Finish(std::int64_t{size.Lines} * size.Columns);
}

}  // namespace

Expected<Measurements> MeasureSelection(const ByteMatrix& image, std::int32_t minimum, std::int32_t maximum,
                                        Connectivity connectivity) {
    const auto columns = static_cast<std::size_t>(image.Columns());
    // Strips of about a megabyte keep the window in cache, where a full-size
    // scratch matrix would be cleared by the system on every run.
    const int strip = columns == 0 ? 1 : static_cast<int>(std::max<std::size_t>(1, (1u << 20) / columns));
    return MeasureBands({image.Lines(), image.Columns()}, strip, minimum, maximum, connectivity,
                        [&image](int first, int, ByteMatrix& band) -> Status {
                            std::memcpy(band[0], image[first], band.PixelCount());
                            return {};
                        });
}

Expected<Measurements> StreamMeasureSelection(LineSource& source, std::int32_t minimum, std::int32_t maximum,
                                              Connectivity connectivity) {
    return MeasureBands(source.Size(), std::max(1, source.BandLines()), minimum, maximum, connectivity,
                        [&source](int first, int count, ByteMatrix& band) {
                            return source.Read(source.FileOrder(), first, count, band.Bytes());
                        });
}

}  // namespace kavel
