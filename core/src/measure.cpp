#include "kavel/measure.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "kavel/treatment.h"

namespace kavel {

namespace {

// Tones the treatment writes into the scratch matrix.
constexpr std::uint8_t kMarkOutside = 0;
constexpr std::uint8_t kMarkInside = 1;
constexpr std::uint8_t kMarkBorder = 2;

constexpr std::uint64_t kLowBits = 0x0101010101010101ull;
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

std::uint64_t Word(const std::uint8_t* p) noexcept {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

bool HasZeroByte(std::uint64_t w) noexcept {
    return ((w - kLowBits) & ~w & kHighBits) != 0;
}

// Eight bytes at a time across the long stretches of background and item.
std::size_t NextSelected(const std::uint8_t* row, std::size_t j, std::size_t n) noexcept {
    while (j + 8 <= n && Word(row + j) == 0) {
        j += 8;
    }
    while (j < n && row[j] == kMarkOutside) {
        ++j;
    }
    return j;
}

std::size_t NextUnselected(const std::uint8_t* row, std::size_t j, std::size_t n) noexcept {
    while (j + 8 <= n && !HasZeroByte(Word(row + j))) {
        j += 8;
    }
    while (j < n && row[j] != kMarkOutside) {
        ++j;
    }
    return j;
}

std::int64_t CountBorder(const std::uint8_t* row, std::size_t n) noexcept {
    std::int64_t count = 0;
    for (std::size_t j = 0; j < n; ++j) {
        count += row[j] == kMarkBorder ? 1 : 0;
    }
    return count;
}

// Four interleaved sub-histograms so that equal neighbouring tones do not
// wait on each other's increment.
void CountTones(const std::uint8_t* p, std::size_t n, std::array<std::array<std::uint64_t, 256>, 4>& sub) {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        ++sub[0][p[i]];
        ++sub[1][p[i + 1]];
        ++sub[2][p[i + 2]];
        ++sub[3][p[i + 3]];
    }
    for (; i < n; ++i) {
        ++sub[0][p[i]];
    }
}

struct Run {
    std::uint32_t Begin;  // first column
    std::uint32_t End;    // one past the last column
    std::uint32_t Label;
};

// Regions as sets of runs: one pass over the lines, each run of selected
// pixels joined to the runs of the line above that it touches, with
// union-find over the labels. Regions = labels made - merges of two sets.
class RegionCounter {
public:
    explicit RegionCounter(Connectivity connectivity) : reach_(connectivity == Connectivity::Eight ? 1 : 0) {}

    void AddLine(const std::uint8_t* marks, std::size_t n) {
        current_.clear();
        std::size_t above = 0;
        for (std::size_t j = NextSelected(marks, 0, n); j < n; j = NextSelected(marks, j, n)) {
            const std::size_t end = NextUnselected(marks, j, n);
            Run run{static_cast<std::uint32_t>(j), static_cast<std::uint32_t>(end), 0};
            bool labelled = false;
            // Runs above that end before this one can start to touch it are
            // done with: later runs here lie further right.
            while (above < previous_.size() && previous_[above].End + reach_ <= run.Begin) {
                ++above;
            }
            for (std::size_t k = above; k < previous_.size() && previous_[k].Begin < run.End + reach_; ++k) {
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
            j = end;
        }
        previous_.swap(current_);
    }

    std::int64_t Regions() const noexcept { return static_cast<std::int64_t>(parent_.size()) - merges_; }

private:
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
            // The smaller label stays the root: roots then never point forward.
            parent_[std::max(a, b)] = std::min(a, b);
            into = std::min(a, b);
            ++merges_;
        }
    }

    std::uint32_t reach_;
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
    std::array<std::array<std::uint64_t, 256>, 4> sub{};
    RegionCounter regions(connectivity);

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
            const std::uint8_t* row = (*marks)[i - top];
            m.Border += CountBorder(row, columns);
            CountTones(image[i], columns, sub);
            regions.AddLine(row, columns);
        }
    }
    m.Regions = regions.Regions();

    // The selected tones are exactly those of the interval.
    std::array<std::int64_t, 256> selected{};
    double sum = 0;
    for (int g = 0; g < 256; ++g) {
        if (minimum <= g && g <= maximum) {
            selected[g] = static_cast<std::int64_t>(sub[0][g] + sub[1][g] + sub[2][g] + sub[3][g]);
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
