// Measurements of a selection read a band of lines at a time: the same, to
// the bit, as those of the whole image, whichever way up the file holds the
// lines; and region counts that agree with a flood fill.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "kavel/bitmap.h"
#include "kavel/measure.h"
#include "kavel/stream.h"
#include "test_support.h"

namespace kavel {
namespace {

namespace fs = std::filesystem;
using test::MatrixOf;
using test::ScratchFolder;

// Regions of [low, high] found by filling from each unvisited selected pixel.
std::int64_t FloodFillRegions(const ByteMatrix& image, int low, int high, Connectivity connectivity) {
    const int lines = image.Lines();
    const int columns = image.Columns();
    const auto selected = [&](int i, int j) { return low <= image[i][j] && image[i][j] <= high; };
    std::vector<char> seen(image.PixelCount(), 0);
    const auto at = [columns](int i, int j) { return static_cast<std::size_t>(i) * columns + j; };
    const int reach = connectivity == Connectivity::Eight ? 1 : 0;
    std::int64_t regions = 0;
    std::vector<std::pair<int, int>> stack;
    for (int i0 = 0; i0 < lines; ++i0) {
        for (int j0 = 0; j0 < columns; ++j0) {
            if (!selected(i0, j0) || seen[at(i0, j0)]) {
                continue;
            }
            ++regions;
            seen[at(i0, j0)] = 1;
            stack.assign(1, {i0, j0});
            while (!stack.empty()) {
                const auto [i, j] = stack.back();
                stack.pop_back();
                for (int di = -1; di <= 1; ++di) {
                    for (int dj = -1; dj <= 1; ++dj) {
                        const bool side = (di == 0) != (dj == 0);
                        const int y = i + di;
                        const int x = j + dj;
                        if ((side || (reach == 1 && di != 0)) && y >= 0 && y < lines && x >= 0 &&
                            x < columns && selected(y, x) && !seen[at(y, x)]) {
                            seen[at(y, x)] = 1;
                            stack.push_back({y, x});
                        }
                    }
                }
            }
        }
    }
    return regions;
}

// Tone 200 with the given chance, else one of 0, 90 and 150: with the
// interval [100, 255] the chance is the density of the selection.
ByteMatrix RandomImage(std::mt19937& random, int columns, int lines, double density) {
    ByteMatrix image = MatrixOf(columns, lines);
    std::bernoulli_distribution on(density);
    for (std::uint8_t& g : image.Bytes()) {
        g = on(random) ? 200 : static_cast<std::uint8_t>(std::array{0, 90, 150}[random() % 3]);
    }
    return image;
}

// A square spiral of tone 200 on 0, one pixel wide with gaps of one: a
// single corridor that turns inwards, so runs of one line join only many
// lines later, in either order.
ByteMatrix Spiral(int columns, int lines) {
    ByteMatrix image = MatrixOf(columns, lines);
    if (image.Empty()) {
        return image;
    }
    const int steps[4][2] = {{0, 1}, {1, 0}, {0, -1}, {-1, 0}};
    int length[2] = {columns - 1, lines - 1};  // across, down
    int i = 0;
    int j = 0;
    image[0][0] = 200;
    for (int turn = 0; length[turn % 2] > 0; ++turn) {
        for (int k = 0; k < length[turn % 2]; ++k) {
            i += steps[turn % 4][0];
            j += steps[turn % 4][1];
            image[i][j] = 200;
        }
        if (turn > 0) {
            length[turn % 2] -= 2;
        }
    }
    return image;
}

// Teeth every other column joined by the bottom line (or the top line): read
// top first they meet only at the end, bottom first at once.
ByteMatrix Comb(int columns, int lines, bool joinedAtTop) {
    ByteMatrix image = MatrixOf(columns, lines);
    for (int i = 0; i < lines; ++i) {
        const bool spine = i == (joinedAtTop ? 0 : lines - 1);
        for (int j = 0; j < columns; ++j) {
            image[i][j] = spine || j % 2 == 0 ? 200 : 0;
        }
    }
    return image;
}

// Words and numbers in one string (gcc 12 warns falsely on chains of +).
template <class... Parts>
std::string Text(const Parts&... parts) {
    std::ostringstream out;
    (out << ... << parts);
    return out.str();
}

void ExpectSame(const Measurements& a, const Measurements& b, const std::string& what) {
    EXPECT_EQ(a.Pixels, b.Pixels) << what;
    EXPECT_EQ(a.Selected, b.Selected) << what;
    EXPECT_EQ(a.Border, b.Border) << what;
    EXPECT_EQ(a.Inside, b.Inside) << what;
    EXPECT_EQ(a.AreaFraction, b.AreaFraction) << what;
    EXPECT_EQ(a.DistinctTones, b.DistinctTones) << what;
    EXPECT_EQ(a.Mean, b.Mean) << what;
    EXPECT_EQ(a.Median, b.Median) << what;
    EXPECT_EQ(a.Mode, b.Mode) << what;
    EXPECT_EQ(a.StdDev, b.StdDev) << what;
    EXPECT_EQ(a.Regions, b.Regions) << what;
}

struct Case {
    std::string Name;
    ByteMatrix Image;
};

// Random images of every size from 0 to 67 each way at three densities (few
// and sparse regions, many that merge in U shapes, nearly all selected), the
// spiral and combs, and a few large images.
std::vector<Case> Cases() {
    std::mt19937 random(21);
    std::vector<Case> cases;
    const auto add = [&cases](std::string name, ByteMatrix image) {
        name = Text(name, " ", image.Columns(), " x ", image.Lines());
        cases.push_back({std::move(name), std::move(image)});
    };
    for (int n = 0; n <= 67; ++n) {
        const double density = std::array{0.2, 0.55, 0.9}[n % 3];
        add(Text("random ", density), RandomImage(random, n, static_cast<int>(random() % 68), density));
        add(Text("random ", density), RandomImage(random, static_cast<int>(random() % 68), n, density));
    }
    for (const int n : {1, 2, 3, 7, 30, 67}) {
        add("spiral", Spiral(n, n));
        add("spiral", Spiral(n + 5, n));
        add("comb joined at the bottom", Comb(n, n + 3, false));
        add("comb joined at the top", Comb(n, n + 3, true));
    }
    add("large random", RandomImage(random, 1501, 1200, 0.55));
    add("large spiral", Spiral(1200, 999));
    add("large comb", Comb(2049, 700, false));
    return cases;
}

TEST(MeasureStream, EqualsTheWholeImageMeasurementsInEitherFileOrder) {
    ScratchFolder folder;
    // In range, all tones, bounds beyond 0..255 on either side, and empty.
    const std::vector<std::pair<int, int>> bounds{{100, 255}, {0, 255}, {-20, 300}, {150, 1000},
                                                  {256, 300}, {-9, -1}, {201, 199}};
    int compared = 0;
    for (const Case& c : Cases()) {
        const ByteMatrix& image = c.Image;
        const ImageSize size{image.Lines(), image.Columns()};
        const fs::path raw = folder / "in.raw";
        const auto bytes = image.Bytes();
        test::WriteWholeFile(raw, std::string(bytes.begin(), bytes.end()));
        // Bitmaps hold the bottom line first; an image without pixels has no bitmap.
        const bool bitmap = !image.Empty();
        if (bitmap) {
            ASSERT_TRUE(WriteBitmapFile(folder / "in.bmp", image).ok());
        }
        const std::size_t line = std::max<std::size_t>(1, static_cast<std::size_t>(image.Columns()));
        for (const auto& [low, high] : bounds) {
            for (const Connectivity connectivity : {Connectivity::Four, Connectivity::Eight}) {
                const std::string what =
                    Text(c.Name, " [", low, ", ", high, "] ", static_cast<int>(connectivity));
                auto whole = MeasureSelection(image, low, high, connectivity);
                ASSERT_TRUE(whole.ok()) << what;
                EXPECT_EQ(whole->Regions, FloodFillRegions(image, low, high, connectivity)) << what;
                // Bands of one line, of five and of the default size.
                for (const std::size_t band : {line, 5 * line, kStreamBandBytes}) {
                    for (const bool fromBitmap : {false, true}) {
                        if (fromBitmap && !bitmap) {
                            continue;
                        }
                        auto source = fromBitmap ? LineSource::OpenBitmap(folder / "in.bmp", band)
                                                 : LineSource::OpenRaw(raw, size, band);
                        ASSERT_TRUE(source.ok()) << what;
                        auto streamed = StreamMeasureSelection(*source, low, high, connectivity);
                        ASSERT_TRUE(streamed.ok()) << what;
                        ExpectSame(*streamed, *whole,
                                   Text(what, fromBitmap ? " bitmap" : " raw", " band ", band));
                        ++compared;
                    }
                }
            }
        }
    }
    // Every case was compared: raw and bitmap, three bands, each bound, both connectivities.
    EXPECT_GT(compared, 2 * 3 * 7 * 2 * 140);
}

}  // namespace
}  // namespace kavel
