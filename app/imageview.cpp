#include "imageview.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyleOptionComplex>
#include <QToolButton>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>

#include "mainwindow.h"
#include "resources.h"

namespace {

kavel::MouseButton ToZoomButton(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton:
            return kavel::MouseButton::Left;
        case Qt::RightButton:
            return kavel::MouseButton::Right;
        default:
            return kavel::MouseButton::Other;
    }
}

QRect ToQRect(const kavel::PixelRect& r) {
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

kavel::PixelRect ToPixelRect(const QRect& r) {
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

// The working state's image size, which every drawing and read-out uses.
int ImageColumns() {
    return MainForm ? MainForm->ImageColumns : 0;
}
int ImageLines() {
    return MainForm ? MainForm->ImageLines : 0;
}

// The look of a viewing window's frame and scroll bars, on top of the
// application's style:
// - The caption keeps its zoom suffix in a narrow window: the file name
//   gives way in its middle.
// - The scroll bar's thumb is a raised block darker than its groove. The
//   base style's thumb is a shade lighter than the groove, and when the
//   thumb fills most of the bar (a large window, a small range) the groove
//   left beside it is the block that reads as the thumb, so the bar seemed
//   to run backwards.
class ViewStyle : public QProxyStyle {
public:
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override {
        if (control == CC_TitleBar && widget) {
            if (const auto* bar = qstyleoption_cast<const QStyleOptionTitleBar*>(option)) {
                QStyleOptionTitleBar fitted(*bar);
                const int width = subControlRect(CC_TitleBar, bar, SC_TitleBarLabel, widget).width() - 16;
                QString caption = widget->windowTitle();
                caption.replace(QStringLiteral("[*][*]"), QStringLiteral("[*]"));
                fitted.text = TImageViewForm::TitleText(caption, painter->fontMetrics(), width);
                QProxyStyle::drawComplexControl(control, &fitted, painter, widget);
                return;
            }
        }
        const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(option);
        if (control != CC_ScrollBar || !slider || !(slider->subControls & SC_ScrollBarSlider)) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        QStyleOptionSlider rest(*slider);
        rest.subControls &= ~SC_ScrollBarSlider;
        QProxyStyle::drawComplexControl(control, &rest, painter, widget);
        const QRect thumb = subControlRect(CC_ScrollBar, slider, SC_ScrollBarSlider, widget);
        if (thumb.isEmpty() || slider->maximum == slider->minimum) {
            return;
        }
        const bool pressed =
            (slider->activeSubControls & SC_ScrollBarSlider) && (slider->state & State_Sunken);
        const QColor face = slider->palette.color(QPalette::Button).darker(pressed ? 150 : 130);
        painter->save();
        painter->fillRect(thumb, face);
        painter->setPen(face.lighter(135));
        painter->drawLine(thumb.topLeft(), thumb.topRight());
        painter->drawLine(thumb.topLeft(), thumb.bottomLeft());
        painter->setPen(face.darker(160));
        painter->drawLine(thumb.bottomLeft(), thumb.bottomRight());
        painter->drawLine(thumb.topRight(), thumb.bottomRight());
        painter->restore();
    }
};

// One for all viewing windows, kept as long as the application, which
// outlives them.
QStyle* SharedViewStyle() {
    static QPointer<ViewStyle> style;
    if (!style) {
        style = new ViewStyle();
        style->setParent(QCoreApplication::instance());
    }
    return style;
}

}  // namespace

QString TImageViewForm::TitleText(const QString& caption, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(caption) <= width) {
        return caption;
    }
    static const QRegularExpression zoom(QStringLiteral("^(.*)( \\(\\d+:\\d+\\) ?)$"),
                                         QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = zoom.match(caption);
    if (!match.hasMatch()) {
        return metrics.elidedText(caption, Qt::ElideMiddle, width);
    }
    const QString suffix = match.captured(2);
    const QString base =
        metrics.elidedText(match.captured(1), Qt::ElideMiddle, width - metrics.horizontalAdvance(suffix));
    return base.isEmpty() ? suffix.trimmed() : base + suffix;
}

TImageViewForm::TImageViewForm(QWidget* parent) : QAbstractScrollArea(parent) {
    PaintBox = viewport();
    PaintBox->setObjectName(QStringLiteral("PaintBox"));
    PaintBox->setMouseTracking(true);
    // We paint every pixel ourselves; a zoom click hatches over what is there.
    PaintBox->setAttribute(Qt::WA_OpaquePaintEvent);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    horizontalScrollBar()->setTracking(true);
    verticalScrollBar()->setTracking(true);
    horizontalScrollBar()->setStyle(SharedViewStyle());
    verticalScrollBar()->setStyle(SharedViewStyle());
    setWindowTitle(QStringLiteral("Image (1:1)"));
    setWindowIcon(ApplicationIcon());
    resize(328, 178);
    UpdateScrollBars();
}

TImageViewForm::~TImageViewForm() {
    FormDestroy();
}

std::optional<QImage> TImageViewForm::CreateBitmap(const kavel::TRasterImage& image,
                                                   const std::function<bool(int)>& step) {
    const int columns = image.Columns();
    const int lines = image.Lines();
    if (columns < 0 || lines < 0) {
        return std::nullopt;
    }
    if (columns == 0 || lines == 0) {
        return QImage();
    }
    QImage::Format format = QImage::Format_Grayscale8;
    switch (image.Kind()) {
        case kavel::PixelKind::Gray:
            format = QImage::Format_Grayscale8;
            break;
        case kavel::PixelKind::Paletted:
            format = QImage::Format_Indexed8;
            break;
        case kavel::PixelKind::Rgb:
            format = QImage::Format_RGB32;
            break;
    }
    // Unpadded lines whatever the shape (a QImage of its own pads every line
    // to four bytes, four times the image for one column), in a block with
    // the core's memory hint.
    const int bytesPerPixel = format == QImage::Format_RGB32 ? 4 : 1;
    const qsizetype lineBytes = static_cast<qsizetype>(columns) * bytesPerPixel;
    kavel::PixelBuffer pixels =
        kavel::AllocatePixels(static_cast<std::size_t>(lineBytes) * static_cast<std::size_t>(lines));
    if (!pixels) {
        return std::nullopt;  // out of memory
    }
    QImage bitmap(
        pixels.get(), columns, lines, lineBytes, format, [](void* data) { std::free(data); }, pixels.get());
    if (bitmap.isNull()) {
        return std::nullopt;  // out of memory
    }
    (void)pixels.release();  // the bitmap owns the block now
    if (image.Kind() == kavel::PixelKind::Paletted) {
        QList<QRgb> colours(256);
        const kavel::Palette& palette = image.GetPalette();
        for (std::size_t i = 0; i < 256; ++i) {
            colours[static_cast<qsizetype>(i)] =
                qRgb(static_cast<int>((palette[i] >> 16) & 0xFF), static_cast<int>((palette[i] >> 8) & 0xFF),
                     static_cast<int>(palette[i] & 0xFF));
        }
        bitmap.setColorTable(colours);
    }
    if (!FillBitmap(image, bitmap, step)) {
        return std::nullopt;
    }
    return bitmap;
}

bool TImageViewForm::FillBitmap(const kavel::TRasterImage& image, QImage& bitmap,
                                const std::function<bool(int)>& step) {
    const int columns = image.Columns();
    const int lines = image.Lines();
    const auto rowBytes = static_cast<std::size_t>(columns);
    // A step every 4 MB of display lines.
    const int stepLines =
        std::max(1, static_cast<int>((std::size_t{4} << 20) / std::max<std::size_t>(rowBytes, 1)));
    for (int y = 0; y < lines; ++y) {
        if (image.Kind() == kavel::PixelKind::Rgb) {
            auto* row = reinterpret_cast<std::uint32_t*>(bitmap.scanLine(y));
            image.ToDisplayRow(y, std::span<std::uint32_t>(row, static_cast<std::size_t>(columns)));
        } else {
            std::memcpy(bitmap.scanLine(y), image.Rows(y), rowBytes);
        }
        if (step && ((y + 1) % stepLines == 0 || y + 1 == lines) && !step(y + 1)) {
            return false;
        }
    }
    return true;
}

bool TImageViewForm::SetImage(const kavel::TRasterImage& image, const std::function<bool(int)>& step) {
    // A gray bitmap of the same size is refilled in place: every treatment
    // gives the result window one, and a fresh 100-megapixel allocation costs
    // several times the copy. Otherwise the old one goes first, so two never
    // coexist.
    if (displayBitmap_ && image.Kind() == kavel::PixelKind::Gray &&
        displayBitmap_->format() == QImage::Format_Grayscale8 &&
        displayBitmap_->size() == QSize(image.Columns(), image.Lines()) && !displayBitmap_->isNull()) {
        if (!FillBitmap(image, *displayBitmap_, step)) {
            displayBitmap_.reset();
        }
    } else {
        displayBitmap_.reset();
        displayBitmap_ = CreateBitmap(image, step);
    }
    // A new image starts at 1:1, whatever the previous one was left at.
    zoomLevel_ = 1;
    if (!displayBitmap_) {
        PaintBox->update();
        return image.Columns() < 0 || image.Lines() < 0;
    }
    if (displayBitmap_->format() == QImage::Format_Indexed8) {
        const QList<QRgb> colours = displayBitmap_->colorTable();
        for (std::size_t i = 0; i < lut_.size(); ++i) {
            const auto index = static_cast<qsizetype>(i);
            lut_[i] = index < colours.size() ? (colours[index] | 0xFF000000U) : 0xFF000000U;
        }
    } else {
        for (std::uint32_t i = 0; i < lut_.size(); ++i) {
            lut_[i] = 0xFF000000U | (i << 16) | (i << 8) | i;
        }
    }
    const float f = kavel::ZoomFactorSingle(zoomLevel_);
    const kavel::Placement p = kavel::OrdinaryPlacement(ImageColumns(), ImageLines(), f, {}, 0, 0);
    SetScrollRanges(p.horzRange, p.vertRange);
    // Every new image is fitted, of whatever size: the window may have been
    // made small since the last one.
    fitPending_ = true;
    FitToImage();
    PaintBox->update();
    return true;
}

// Large enough to show the whole image at 1:1, as far as the MDI area allows;
// a minimised window is fitted when it is brought back.
void TImageViewForm::FitToImage() {
    if (!fitPending_ || !subWindow_ || !displayBitmap_ || subWindow_->isMinimized()) {
        return;
    }
    fitPending_ = false;
    QMdiArea* area = subWindow_->mdiArea();
    if (!area || subWindow_->isMaximized()) {
        return;
    }
    const QSize room = area->viewport()->size();
    const QSize decoration = subWindow_->size() - size();
    const QSize smallest(240, 120);  // room for the caption with its zoom suffix
    const QSize wanted =
        (displayBitmap_->size() + decoration).expandedTo(smallest).boundedTo(room).expandedTo(QSize(1, 1));
    QPoint at = subWindow_->pos();
    at.setX(std::clamp(at.x(), 0, std::max(room.width() - wanted.width(), 0)));
    at.setY(std::clamp(at.y(), 0, std::max(room.height() - wanted.height(), 0)));
    subWindow_->setGeometry(QRect(at, wanted));
}

// Qt reads "[*]" in a title as the modified-mark placeholder and hides it; a
// file name may well contain it, so it is doubled, which Qt shows as itself.
void TImageViewForm::SetCaption(const QString& caption) {
    QString title = caption;
    title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    setWindowTitle(title);
    if (subWindow_) {
        subWindow_->setWindowTitle(title);
    }
}

QString TImageViewForm::Caption() const {
    QString title = subWindow_ ? subWindow_->windowTitle() : windowTitle();
    title.replace(QStringLiteral("[*][*]"), QStringLiteral("[*]"));
    return title;
}

void TImageViewForm::BringToFront() {
    if (!subWindow_) {
        raise();
        return;
    }
    if (subWindow_->isMinimized()) {
        subWindow_->showNormal();
    }
    subWindow_->show();
    FitToImage();
    if (QMdiArea* area = subWindow_->mdiArea()) {
        area->setActiveSubWindow(subWindow_);
    }
    subWindow_->raise();
}

QMdiSubWindow* TImageViewForm::AddToMdiArea(QMdiArea* area) {
    // A new style resizes the frame, which would then keep that size instead
    // of the one the MDI area gives a new child.
    auto* frame = new QMdiSubWindow();
    frame->setStyle(SharedViewStyle());
    frame->setWidget(this);
    frame->setAttribute(Qt::WA_Resized, false);
    subWindow_ = area->addSubWindow(frame);
    subWindow_->setObjectName(objectName() + QStringLiteral("Frame"));
    subWindow_->setWindowIcon(ApplicationIcon());
    subWindow_->setWindowTitle(windowTitle());
    subWindow_->installEventFilter(this);
    subWindow_->show();
    return subWindow_;
}

// The close of an MDI child only minimises it; the window lives on, keeping
// its zoom and caption, without its bitmap.
bool TImageViewForm::eventFilter(QObject* watched, QEvent* event) {
    // The main window's hint belongs to the frame, not to the image shown.
    if (watched == subWindow_ && event->type() == QEvent::ToolTip) {
        return true;
    }
    if (watched == subWindow_ && event->type() == QEvent::Close) {
        FormClose();
        event->ignore();
        subWindow_->showMinimized();
        return true;
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

QSize TImageViewForm::OuterSize() const {
    return subWindow_ ? subWindow_->size() : frameGeometry().size();
}

QPoint TImageViewForm::SurfacePoint(const QPoint& viewportPoint) const {
    return viewportPoint + QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

void TImageViewForm::SetScrollRanges(int horzRange, int vertRange) {
    if (horzRange == horzRange_ && vertRange == vertRange_) {
        return;
    }
    horzRange_ = horzRange;
    vertRange_ = vertRange;
    UpdateScrollBars();
}

// A range is the size of the surface; a scroll bar's largest position is
// what of it does not fit in the viewport. The viewport is taken as it will
// be once the bars that are needed show, so a surface that fits the whole
// window gets none (the current viewport may still be cut by bars from
// before).
void TImageViewForm::UpdateScrollBars() {
    const QSize full = maximumViewportSize();
    QSize view = full;
    for (int pass = 0; pass < 2; ++pass) {
        const bool horizontal = horzRange_ > view.width();
        const bool vertical = vertRange_ > view.height();
        view = QSize(full.width() - (vertical ? verticalScrollBar()->sizeHint().width() : 0),
                     full.height() - (horizontal ? horizontalScrollBar()->sizeHint().height() : 0));
    }
    horizontalScrollBar()->setPageStep(std::max(view.width(), 1));
    verticalScrollBar()->setPageStep(std::max(view.height(), 1));
    horizontalScrollBar()->setSingleStep(8);
    verticalScrollBar()->setSingleStep(8);
    horizontalScrollBar()->setRange(0, std::max(horzRange_ - view.width(), 0));
    verticalScrollBar()->setRange(0, std::max(vertRange_ - view.height(), 0));
}

void TImageViewForm::scrollContentsBy(int dx, int dy) {
    PaintBox->scroll(dx, dy);
}

void TImageViewForm::paintEvent(QPaintEvent* event) {
    QPainter painter(PaintBox);
    FormPaint(painter, event->rect());
}

void TImageViewForm::FormPaint(QPainter& painter, const QRect& clip) {
    if (zoomCentring_ && lastZoomPlacement_) {
        const QRect client = PaintBox->rect();
        // The previous, larger view would still show beside a smaller new one:
        // clear it, then hatch the surface rectangle (0, 0)-(client size),
        // which moves with the scroll positions, and draw the new view. The
        // image is opaque, so clearing and hatching are needed only beside it.
        const QRect image = displayBitmap_ ? ImageOnView(lastZoomPlacement_->source, client) : QRect();
        const QRegion beside = QRegion(client) - image;
        const QPoint scroll(horizontalScrollBar()->value(), verticalScrollBar()->value());
        const QRegion hatched = beside & QRect(-scroll, client.size());
        for (const QRect& r : beside) {
            painter.fillRect(r, palette().window());
        }
        const QBrush hatch(Qt::black, Qt::DiagCrossPattern);
        for (const QRect& r : hatched) {
            painter.fillRect(r, hatch);
        }
        if (!image.isEmpty()) {
            DrawPart(painter, lastZoomPlacement_->source, client);
        }
        return;
    }
    if (!displayBitmap_) {
        painter.fillRect(clip, palette().window());
        return;
    }
    DrawImage(painter, clip);
}

void TImageViewForm::DrawImage(QPainter& painter, const QRect& clip) {
    const float f = kavel::ZoomFactorSingle(zoomLevel_);
    const kavel::Placement p =
        kavel::OrdinaryPlacement(ImageColumns(), ImageLines(), f, ToPixelRect(clip),
                                 horizontalScrollBar()->value(), verticalScrollBar()->value());
    if (p.horzRange != horzRange_ || p.vertRange != vertRange_) {
        // The image size changed under us (a new image opened while this
        // window keeps an older bitmap). Scroll bars are not to be touched
        // inside a paint, so they follow right after it.
        horzRange_ = p.horzRange;
        vertRange_ = p.vertRange;
        QMetaObject::invokeMethod(this, &TImageViewForm::UpdateScrollBars, Qt::QueuedConnection);
    }
    DrawPart(painter, p.source, clip);
}

QRect TImageViewForm::ImageOnView(const kavel::PixelRect& source, const QRect& clip) const {
    const QImage* bitmap = DisplayBitmap();
    const std::optional<kavel::DrawRects> rects =
        bitmap ? kavel::ClipToBitmap(source, kavel::ZoomFactorSingle(zoomLevel_), bitmap->width(),
                                     bitmap->height())
               : std::nullopt;
    if (!rects) {
        return QRect();
    }
    const QPoint scroll(horizontalScrollBar()->value(), verticalScrollBar()->value());
    return ToQRect(rects->target).translated(-scroll).intersected(clip);
}

void TImageViewForm::DrawPart(QPainter& painter, const kavel::PixelRect& source, const QRect& clip) {
    const QPoint scroll(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const float f = kavel::ZoomFactorSingle(zoomLevel_);
    QRegion background(clip);
    const QImage* bitmap = DisplayBitmap();
    const std::optional<kavel::DrawRects> rects =
        bitmap ? kavel::ClipToBitmap(source, f, bitmap->width(), bitmap->height()) : std::nullopt;
    if (rects) {
        const QRect target = ToQRect(rects->target).translated(-scroll);
        const QRect visible = target.intersected(clip);
        if (!visible.isEmpty()) {
            // The visible part of the stretched source, nearest neighbour,
            // built row by row into a view-sized scratch image.
            const auto width = static_cast<std::size_t>(visible.width());
            const auto height = static_cast<std::size_t>(visible.height());
            columnIndex_.resize(width);
            lineIndex_.resize(height);
            kavel::StretchIndices(rects->source.left, rects->source.Width(), rects->target.Width(),
                                  visible.left() - target.left(), columnIndex_);
            kavel::StretchIndices(rects->source.top, rects->source.Height(), rects->target.Height(),
                                  visible.top() - target.top(), lineIndex_);
            if (scratch_.width() < visible.width() || scratch_.height() < visible.height()) {
                scratch_ = QImage(std::max(scratch_.width(), visible.width()),
                                  std::max(scratch_.height(), visible.height()), QImage::Format_RGB32);
            }
            const bool wide = bitmap->depth() == 32;
            const int* columns = columnIndex_.data();
            const std::uint32_t* lut = lut_.data();
            for (std::size_t y = 0; y < height; ++y) {
                auto* out = reinterpret_cast<std::uint32_t*>(scratch_.scanLine(static_cast<int>(y)));
                if (y > 0 && lineIndex_[y] == lineIndex_[y - 1]) {
                    std::memcpy(out, scratch_.constScanLine(static_cast<int>(y - 1)),
                                width * sizeof(std::uint32_t));
                    continue;
                }
                const uchar* in = bitmap->constScanLine(lineIndex_[y]);
                if (wide) {
                    const auto* in32 = reinterpret_cast<const std::uint32_t*>(in);
                    for (std::size_t x = 0; x < width; ++x) {
                        out[x] = in32[columns[x]];
                    }
                } else {
                    for (std::size_t x = 0; x < width; ++x) {
                        out[x] = lut[in[columns[x]]];
                    }
                }
            }
            painter.drawImage(visible.topLeft(), scratch_, QRect(0, 0, visible.width(), visible.height()));
            background -= visible;
        }
    }
    if (!zoomCentring_) {
        for (const QRect& r : background) {
            painter.fillRect(r, palette().window());
        }
    }
}

void TImageViewForm::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    FormResize();
}

void TImageViewForm::FormResize() {
    UpdateScrollBars();
    PaintBox->update();
}

void TImageViewForm::mousePressEvent(QMouseEvent* event) {
    const QPoint p = SurfacePoint(event->position().toPoint());
    PaintBoxMouseDown(event->button(), p.x(), p.y());
}

// A quick second click arrives as a double click instead of a press; it is
// a click like any other.
void TImageViewForm::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void TImageViewForm::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = SurfacePoint(event->position().toPoint());
    PaintBoxMouseMove(p.x(), p.y());
}

void TImageViewForm::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = SurfacePoint(event->position().toPoint());
    PaintBoxMouseUp(event->button(), p.x(), p.y());
}

void TImageViewForm::PaintBoxMouseDown(Qt::MouseButton button, int x, int y) {
    const float f = kavel::ZoomFactorSingle(zoomLevel_);
    const int column = kavel::ImageCoordinate(x, f);
    const int line = kavel::ImageCoordinate(y, f);
    if (!MainForm || !MainForm->ZoomSpeedButton || !MainForm->ZoomSpeedButton->isChecked()) {
        return;
    }
    const std::optional<int> next = kavel::NextZoomLevel(zoomLevel_, ToZoomButton(button));
    if (!next) {
        return;
    }
    zoomLevel_ = *next;
    zoomCentreColumn_ = column;
    zoomCentreLine_ = line;
    zoomCentring_ = true;
    if (displayBitmap_) {
        const QSize outer = OuterSize();
        const kavel::Placement p =
            kavel::ZoomClickPlacement(ImageColumns(), ImageLines(), kavel::ZoomFactorSingle(zoomLevel_),
                                      outer.width(), outer.height(), column, line);
        lastZoomPlacement_ = p;
        SetScrollRanges(p.horzRange, p.vertRange);
        horizontalScrollBar()->setValue(p.horzPosition.value_or(0));
        verticalScrollBar()->setValue(p.vertPosition.value_or(0));
        PaintBox->repaint();
    }
    zoomCentring_ = false;
    SetCaption(QString::fromStdString(kavel::ZoomCaption(ZoomCaptionBase().toStdString(), zoomLevel_)));
}

void TImageViewForm::PaintBoxMouseMove(int x, int y) {
    ShowPixelInfo(x, y);
}

void TImageViewForm::PaintBoxMouseUp(Qt::MouseButton, int, int) {}

void TImageViewForm::ShowPixelInfo(int x, int y) {
    if (!MainForm) {
        return;
    }
    const QImage* bitmap = DisplayBitmap();
    const std::optional<kavel::PixelPosition> pixel =
        bitmap ? kavel::PixelUnderPoint(x, y, zoomLevel_, ImageColumns(), ImageLines(), bitmap->width(),
                                        bitmap->height())
               : std::nullopt;
    if (!pixel) {
        for (int i = 0; i < 3; ++i) {
            MainForm->SetStatusPanel(i, QString());
        }
        return;
    }
    const QRgb colour = bitmap->pixel(pixel->column, pixel->line);
    MainForm->SetStatusPanel(0, QString::fromStdString(kavel::PositionPanelText(pixel->line, pixel->column)));
    MainForm->SetStatusPanel(
        1, QString::fromStdString(kavel::TonePanelText(static_cast<std::uint8_t>(qRed(colour)),
                                                       static_cast<std::uint8_t>(qGreen(colour)),
                                                       static_cast<std::uint8_t>(qBlue(colour)))));
    MainForm->SetStatusPanel(2, QString::fromStdString(kavel::SizePanelText(ImageLines(), ImageColumns())));
}

void TImageViewForm::FormClose() {
    displayBitmap_.reset();
    lastZoomPlacement_.reset();
    PaintBox->update();
}

void TImageViewForm::FormDestroy() {
    displayBitmap_.reset();
}
