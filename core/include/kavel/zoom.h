// The arithmetic of the viewing windows: zoom factor and levels, where the
// visible part of an image comes from and where it goes on the drawing
// surface, and the texts of the pixel read-out. No toolkit types here, so all
// of it is testable without a display.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kavel {

inline constexpr int kMinZoomLevel = -20;
inline constexpr int kMaxZoomLevel = 20;

// Level z gives z:1 for z >= 2 and 1:|z| for z <= -2; 1, -1 and 0 are 1:1.
// Drawing and zoom clicks hold the factor in single precision, the read-out
// in double precision; the two disagree at the edges of some pixels (at 1:3,
// X = 3 is column 8 in single and column 9 in double precision).
float ZoomFactorSingle(int level) noexcept;
double ZoomFactorDouble(int level) noexcept;

// Truncation toward zero, saturated to the int range.
int TruncToInt(long double value) noexcept;

// Image coordinate under a surface coordinate: trunc(surface / f), with the
// quotient formed in extended precision.
int ImageCoordinate(int surface, float factor) noexcept;
int ImageCoordinate(int surface, double factor) noexcept;

enum class MouseButton { Left, Right, Other };

// The level after a click, or nothing when it would pass the limits (the
// level then stays where it is). Left zooms in, right zooms out, any other
// button keeps the level.
std::optional<int> NextZoomLevel(int level, MouseButton button) noexcept;

// Right and bottom edges exclusive.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const noexcept { return right - left; }
    int Height() const noexcept { return bottom - top; }
    bool Empty() const noexcept { return right <= left || bottom <= top; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// One drawing of a viewing window. Ranges are the size of the scrolled
// surface; source is in image pixels, target on the surface.
struct Placement {
    int horzRange = 0;
    int vertRange = 0;
    int halfW = 0;  // zoom-click placement only
    int halfH = 0;
    PixelRect source;
    PixelRect target;
    // Zoom-click placement only: the scroll positions it asks for (before
    // the scroll bars clamp them).
    std::optional<int> horzPosition;
    std::optional<int> vertPosition;
};

// Surface rectangle covered by a source rectangle: each edge trunc(edge * f).
PixelRect TargetOf(const PixelRect& source, float factor) noexcept;

// The drawing after a zoom click: centred on image pixel (centreColumn,
// centreLine) for a window of outer size outerWidth x outerHeight. The source
// may start at -1 or come out empty or inverted; ClipToBitmap sorts that out.
Placement ZoomClickPlacement(int columns, int lines, float factor, int outerWidth, int outerHeight,
                             int centreColumn, int centreLine) noexcept;

// The drawing of a paint: the image part under clip (client coordinates)
// with one image pixel of margin, at scroll positions (hp, vp).
Placement OrdinaryPlacement(int columns, int lines, float factor, const PixelRect& clip, int hp,
                            int vp) noexcept;

// What may actually be drawn: source cut to the bitmap's width x height and
// the target that covers the cut source. Nothing when the cut is empty.
struct DrawRects {
    PixelRect source;
    PixelRect target;
};
std::optional<DrawRects> ClipToBitmap(const PixelRect& source, float factor, int bitmapWidth,
                                      int bitmapHeight) noexcept;

// Nearest-neighbour stretch of sourceLength pixels starting at sourceStart
// onto targetLength pixels, without smoothing: enlarging repeats pixels,
// reducing drops them. out[k] is the source index shown at target pixel
// firstTarget + k, so a part of the target can be filled on its own.
// targetLength must be > 0.
void StretchIndices(int sourceStart, int sourceLength, int targetLength, int firstTarget,
                    std::span<int> out) noexcept;

// Window caption after a zoom click: "s (1:1)", "s (1:n) " or "s (n:1) ".
std::string ZoomCaption(std::string_view base, int level);

struct PixelPosition {
    int line = 0;
    int column = 0;
};

// The image pixel under surface point (x, y) for the read-out (double
// precision factor), or nothing when it lies outside the image size or
// outside the bitmap actually shown, which may be smaller than the image size
// (a result made for an earlier image).
std::optional<PixelPosition> PixelUnderPoint(int x, int y, int level, int imageColumns, int imageLines,
                                             int bitmapWidth, int bitmapHeight) noexcept;

// The three panel texts of the read-out.
std::string PositionPanelText(int line, int column);
std::string TonePanelText(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
std::string SizePanelText(int lines, int columns);

}  // namespace kavel
