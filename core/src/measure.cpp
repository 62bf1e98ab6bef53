#include "kavel/measure.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "kavel/statistics.h"
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

// Regions as sets of runs: one pass over the lines, each run of selected
// pixels joined to the runs of the line above that it touches, with
// union-find over the labels. Regions = labels made - merges of two sets.
class RegionCounter {
public:
    explicit RegionCounter(Connectivity connectivity) : reach_(connectivity == Connectivity::Eight ? 1 : 0) {}

    // Runs found from the bits with a count of trailing zeros each, not
    // pixel by pixel.
    void AddLine(const std::vector<std::uint64_t>& bits) {
        current_.clear();
        above_ = 0;
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
        previous_.swap(current_);
    }

    std::int64_t Regions() const noexcept { return static_cast<std::int64_t>(parent_.size()) - merges_; }

private:
    struct Run {
        std::uint32_t Begin;  // first column
        std::uint32_t End;    // one past the last column
        std::uint32_t Label;
    };

    void AddRun(std::uint32_t begin, std::uint32_t end) {
        Run run{begin, end, 0};
        bool labelled = false;
        // Runs above that end before this one can start to touch it are
        // done with: later runs here lie further right.
        while (above_ < previous_.size() && previous_[above_].End + reach_ <= begin) {
            ++above_;
        }
        for (std::size_t k = above_; k < previous_.size() && previous_[k].Begin < end + reach_; ++k) {
            if (!labelled) {
                run.Label = Find(previous_[k].Label);
                labelled = true;
            } else {
                Unite(run.Label, previous_[k].Label);
            }
        }
        if (!labelled) {
            run.Label = static_cast<std::uint32_t>(parent_.size());
            parent_.push_back(run.Label);
        }
        current_.push_back(run);
    }

    std::uint32_t Find(std::uint32_t x) {
        while (parent_[x] != x) {
            parent_[x] = parent_[parent_[x]];  // path halving
            x = parent_[x];
        }
        return x;
    }
    void Unite(std::uint32_t& into, std::uint32_t other) {
        const std::uint32_t a = Find(into);
        const std::uint32_t b = Find(other);
        if (a != b) {
            parent_[std::max(a, b)] = std::min(a, b);
            into = std::min(a, b);
            ++merges_;
        }
    }

    std::uint32_t reach_;
    std::size_t above_ = 0;
    std::vector<std::uint32_t> parent_;
    std::vector<Run> previous_;
    std::vector<Run> current_;
    std::int64_t merges_ = 0;
};

}  // namespace

Expected<Measurements> MeasureSelection(const ByteMatrix& image, std::int32_t minimum, std::int32_t maximum,
                                        Connectivity connectivity) {
    Measurements m;
    m.Pixels = static_cast<std::int64_t>(image.PixelCount());
    const int lines = image.Lines();
    const auto columns = static_cast<std::size_t>(image.Columns());
    // The selected tones are exactly those of the interval: their counts come
    // from the image's histogram.
    const Histogram counts = ComputeHistogram(image);
    RegionCounter regions(connectivity);
    std::vector<std::uint64_t> bits;

    // The treatment runs on strips of about a megabyte, each with the line
    // above and the line below it, whose own marks are dropped: a line's
    // border depends only on its neighbours, so the marks are those of the
    // whole image, and the strips stay in cache instead of a full-size
    // scratch matrix being cleared by the system on every run.
    const int strip = columns == 0 ? 1 : static_cast<int>(std::max<std::size_t>(1, (1u << 20) / columns));
    const int window = std::min(lines, strip + 2);
    auto in = AllocateByteMatrix(image.Columns(), window);
    auto marks = AllocateByteMatrix(image.Columns(), window);
    if (!in || !marks) {
        return in ? marks.error() : in.error();
    }
    const TreatmentParameters marking{kItemAndBorder, minimum,     maximum,
                                      kMarkInside,    kMarkBorder, kMarkOutside};
    for (int first = 0; first < lines; first += strip) {
        const int last = std::min(lines, first + strip);  // one past the strip's last line
        const int top = std::max(0, first - 1);
        const int bottom = std::min(lines, last + 1);
        if (bottom - top != in->Lines()) {
            // The last strip is shorter: matrices of its own size.
            in = AllocateByteMatrix(image.Columns(), bottom - top);
            marks = AllocateByteMatrix(image.Columns(), bottom - top);
            if (!in || !marks) {
                return in ? marks.error() : in.error();
            }
        }
        std::memcpy((*in)[0], image[top], static_cast<std::size_t>(bottom - top) * columns);
        if (auto treated = ComputeTreatment(*in, marking, *marks); !treated) {
            return treated.error();
        }
        for (int i = first; i < last; ++i) {
            m.Border += LineBits((*marks)[i - top], columns, bits);
            regions.AddLine(bits);
        }
    }
    m.Regions = regions.Regions();

    std::array<std::int64_t, 256> selected{};
    double sum = 0;
    for (int g = 0; g < 256; ++g) {
        if (minimum <= g && g <= maximum) {
            selected[g] = counts[g];
            m.Selected += selected[g];
            sum += static_cast<double>(selected[g]) * g;
            m.DistinctTones += selected[g] > 0 ? 1 : 0;
        }
    }
    m.Inside = m.Selected - m.Border;
    m.AreaFraction = m.Pixels > 0 ? static_cast<double>(m.Selected) / static_cast<double>(m.Pixels) : 0.0;
    if (m.Selected == 0) {
        return m;
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
    return m;
}

}  // namespace kavel
