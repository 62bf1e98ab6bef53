// The viewing window shared by the image and the result windows: a scrolled
// drawing surface showing a display bitmap at an integer zoom level, zoom
// clicks while zoom mode is on, and the pixel read-out in the status bar.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "kavel/guitools.h"
#include "kavel/zoom.h"

class QFontMetrics;
class QMdiArea;
class QMdiSubWindow;
class QPainter;

class TImageViewForm : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit TImageViewForm(QWidget* parent = nullptr);
    ~TImageViewForm() override;

    // The drawing surface: the viewport. Surface point = viewport point +
    // scroll positions.
    QWidget* PaintBox = nullptr;

    // Makes the display bitmap from the raster (the raster is not kept),
    // returns to 1:1, sizes the window to the image and draws it. False when
    // no bitmap could be made for a raster of a valid size (no memory).
    // step, when given, is called every few megabytes with the lines copied
    // so far; when it gives false the copy stops, the bitmap is dropped and
    // SetImage gives false.
    bool SetImage(const kavel::TRasterImage& image, const std::function<bool(int)>& step = {});

    // Turns a raster into a display bitmap: row copies, no per-pixel calls.
    // Nothing for a negative size or when memory runs out.
    static std::optional<QImage> CreateBitmap(const kavel::TRasterImage& image,
                                              const std::function<bool(int)>& step = {});
    // Copies the raster's rows into a bitmap of its size and format (as
    // CreateBitmap makes it). False when step stopped it.
    static bool FillBitmap(const kavel::TRasterImage& image, QImage& bitmap,
                           const std::function<bool(int)>& step = {});

    const QImage* DisplayBitmap() const noexcept { return displayBitmap_ ? &*displayBitmap_ : nullptr; }
    int ZoomLevel() const noexcept { return zoomLevel_; }
    int ZoomCentreColumn() const noexcept { return zoomCentreColumn_; }
    int ZoomCentreLine() const noexcept { return zoomCentreLine_; }
    bool ZoomCentring() const noexcept { return zoomCentring_; }
    // The last zoom-click drawing, for whoever needs to check where it went.
    const std::optional<kavel::Placement>& LastZoomPlacement() const noexcept { return lastZoomPlacement_; }
    // The size of the scrolled surface as the last drawing set it.
    int HorzScrollRange() const noexcept { return horzRange_; }
    int VertScrollRange() const noexcept { return vertRange_; }

    // The caption lives on the MDI subwindow frame.
    void SetCaption(const QString& caption);
    // The caption as the frame draws it in width pixels: whole if it fits,
    // else with the file name cut in its middle and the zoom suffix kept.
    static QString TitleText(const QString& caption, const QFontMetrics& metrics, int width);
    QString Caption() const;
    void BringToFront();
    // Puts the window into the MDI area, shown; closing it then minimises it.
    QMdiSubWindow* AddToMdiArea(QMdiArea* area);
    QMdiSubWindow* SubWindow() const noexcept { return subWindow_; }

    // Handlers. Coordinates are surface coordinates.
    void FormPaint(QPainter& painter, const QRect& clip);
    void FormResize();
    void PaintBoxMouseDown(Qt::MouseButton button, int x, int y);
    void PaintBoxMouseMove(int x, int y);
    void PaintBoxMouseUp(Qt::MouseButton button, int x, int y);
    void FormClose();
    void FormDestroy();

    // Draws the image part under clip (viewport coordinates) at the ordinary
    // placement; public so the painting cost can be measured on its own.
    void DrawImage(QPainter& painter, const QRect& clip);
    void ShowPixelInfo(int x, int y);

protected:
    // Text the zoom captions are built on.
    virtual QString ZoomCaptionBase() const = 0;
    void SetZoomLevel(int level) noexcept { zoomLevel_ = level; }

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QSize OuterSize() const;
    QPoint SurfacePoint(const QPoint& viewportPoint) const;
    void SetScrollRanges(int horzRange, int vertRange);
    void UpdateScrollBars();
    // Draws source (image pixels) at its place on the surface, cut to the
    // bitmap and to clip (viewport coordinates).
    void DrawPart(QPainter& painter, const kavel::PixelRect& source, const QRect& clip);
    // Where DrawPart puts the image on the viewport, cut to clip.
    QRect ImageOnView(const kavel::PixelRect& source, const QRect& clip) const;

    void FitToImage();

    std::optional<QImage> displayBitmap_;
    bool fitPending_ = false;
    std::array<std::uint32_t, 256> lut_{};  // display colour of each byte of an 8-bit bitmap
    int zoomLevel_ = 1;
    int zoomCentreColumn_ = 0;
    int zoomCentreLine_ = 0;
    bool zoomCentring_ = false;
    int horzRange_ = 1;
    int vertRange_ = 1;
    std::optional<kavel::Placement> lastZoomPlacement_;
    QMdiSubWindow* subWindow_ = nullptr;
    // Scratch for painting, kept to avoid an allocation per paint.
    std::vector<int> columnIndex_;
    std::vector<int> lineIndex_;
    QImage scratch_;
};
