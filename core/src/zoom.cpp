#include "kavel/zoom.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>

namespace kavel {

namespace {

constexpr long long kIntMin = std::numeric_limits<int>::min();
constexpr long long kIntMax = std::numeric_limits<int>::max();

int Saturate(long long value) noexcept {
    return static_cast<int>(std::clamp(value, kIntMin, kIntMax));
}

// printf into a string of whatever length the text needs.
__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(args);
    return text;
}

// 1 / |level| formed in extended precision, then rounded once to Factor.
template <class Factor>
Factor ZoomFactor(int level) noexcept {
    if (level > 0) {
        return static_cast<Factor>(level);
    }
    if (level < 0) {
        return static_cast<Factor>(-1.0L / level);
    }
    return Factor{1};
}

}  // namespace

float ZoomFactorSingle(int level) noexcept {
    return ZoomFactor<float>(level);
}

double ZoomFactorDouble(int level) noexcept {
    return ZoomFactor<double>(level);
}

int TruncToInt(long double value) noexcept {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= static_cast<long double>(kIntMax)) {
        return std::numeric_limits<int>::max();
    }
    if (value <= static_cast<long double>(kIntMin)) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(value);  // truncates toward zero
}

int ImageCoordinate(int surface, float factor) noexcept {
    return TruncToInt(static_cast<long double>(surface) / static_cast<long double>(factor));
}

int ImageCoordinate(int surface, double factor) noexcept {
    return TruncToInt(static_cast<long double>(surface) / static_cast<long double>(factor));
}

std::optional<int> NextZoomLevel(int level, MouseButton button) noexcept {
    int next = level;
    switch (button) {
        case MouseButton::Left:
            next = level == -1 ? 2 : level + 1;
            break;
        case MouseButton::Right:
            next = level == 1 ? -2 : level - 1;
            break;
        case MouseButton::Other:
            break;
    }
    if (next > kMaxZoomLevel || next < kMinZoomLevel) {
        return std::nullopt;
    }
    return next;
}

PixelRect TargetOf(const PixelRect& source, float factor) noexcept {
    const auto f = static_cast<long double>(factor);
    return {TruncToInt(source.left * f), TruncToInt(source.top * f), TruncToInt(source.right * f),
            TruncToInt(source.bottom * f)};
}

Placement ZoomClickPlacement(int columns, int lines, float factor, int outerWidth, int outerHeight,
                             int centreColumn, int centreLine) noexcept {
    const auto f = static_cast<long double>(factor);
    Placement p;
    p.horzRange = TruncToInt(columns * f);
    p.vertRange = TruncToInt(lines * f);
    p.halfW = TruncToInt(outerWidth / (2 * f));
    p.halfH = TruncToInt(outerHeight / (2 * f));

    // Wide arithmetic: a centre near the int limits must not wrap.
    const long long c = columns;
    const long long n = lines;
    const long long spanW = std::min(2LL * p.halfW, c);
    const long long spanH = std::min(2LL * p.halfH, n);
    long long left = static_cast<long long>(centreColumn) - p.halfW;
    long long right = static_cast<long long>(centreColumn) + p.halfW;
    long long top = static_cast<long long>(centreLine) - p.halfH;
    long long bottom = static_cast<long long>(centreLine) + p.halfH;
    if (left < 0) {
        left = 0;
        right = spanW - 1;
    }
    if (right >= c) {
        right = c - 1;
        left = c - spanW - 1;
    }
    if (top < 0) {
        top = 0;
        bottom = spanH - 1;
    }
    if (bottom >= n) {
        bottom = n - 1;
        top = n - spanH - 1;
    }
    p.source = {Saturate(left), Saturate(top), Saturate(right), Saturate(bottom)};
    p.horzPosition = TruncToInt(p.source.left * f);
    p.vertPosition = TruncToInt(p.source.top * f);
    p.target = TargetOf(p.source, factor);
    return p;
}

Placement OrdinaryPlacement(int columns, int lines, float factor, const PixelRect& clip, int hp,
                            int vp) noexcept {
    const auto f = static_cast<long double>(factor);
    Placement p;
    p.horzRange = TruncToInt(columns * f);
    p.vertRange = TruncToInt(lines * f);
    p.source = {TruncToInt((static_cast<long long>(clip.left) + hp) / f),
                TruncToInt((static_cast<long long>(clip.top) + vp) / f),
                TruncToInt((static_cast<long long>(clip.right) + hp) / f + 1),
                TruncToInt((static_cast<long long>(clip.bottom) + vp) / f + 1)};
    p.target = TargetOf(p.source, factor);
    return p;
}

std::optional<DrawRects> ClipToBitmap(const PixelRect& source, float factor, int bitmapWidth,
                                      int bitmapHeight) noexcept {
    const PixelRect cut{std::max(source.left, 0), std::max(source.top, 0),
                        std::min(source.right, bitmapWidth), std::min(source.bottom, bitmapHeight)};
    if (cut.Empty()) {
        return std::nullopt;
    }
    const PixelRect target = TargetOf(cut, factor);
    if (target.Empty()) {
        return std::nullopt;
    }
    return DrawRects{cut, target};
}

void StretchIndices(int sourceStart, int sourceLength, int targetLength, int firstTarget,
                    std::span<int> out) noexcept {
    assert(targetLength > 0);
    const long long length = sourceLength;
    const long long total = targetLength;
    long long t = firstTarget;
    for (int& index : out) {
        index = static_cast<int>(sourceStart + t * length / total);
        ++t;
    }
}

std::string ZoomCaption(std::string_view base, int level) {
    std::string caption(base);
    if (level > -2 && level < 2) {
        caption += " (1:1)";
    } else if (level <= -2) {
        caption += " (1:" + std::to_string(-static_cast<long long>(level)) + ") ";
    } else {
        caption += " (" + std::to_string(level) + ":1) ";
    }
    return caption;
}

std::optional<PixelPosition> PixelUnderPoint(int x, int y, int level, int imageColumns, int imageLines,
                                             int bitmapWidth, int bitmapHeight) noexcept {
    const double f = ZoomFactorDouble(level);
    const int column = ImageCoordinate(x, f);
    const int line = ImageCoordinate(y, f);
    if (column < 0 || line < 0 || column >= imageColumns || line >= imageLines) {
        return std::nullopt;
    }
    if (column >= bitmapWidth || line >= bitmapHeight) {
        return std::nullopt;
    }
    return PixelPosition{line, column};
}

std::string PositionPanelText(int line, int column) {
    return Format("Line: %5d  Column: %5d ", line, column);
}

std::string TonePanelText(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    if (red == green && green == blue) {
        return Format("Gray Tone : %4d ", red);
    }
    return Format("R:%4d G:%4d B:%4d  ", red, green, blue);
}

std::string SizePanelText(int lines, int columns) {
    return Format("Image Size: %d lines x %d columns  ", lines, columns);
}

}  // namespace kavel
