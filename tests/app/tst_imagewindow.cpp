// The two viewing windows: display bitmap, drawing at every zoom, zoom
// clicks, the read-out and closing.
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QToolButton>
#include <QWheelEvent>
#include <QtTest>
#include <optional>

#include "cursors.h"
#include "imagewindow.h"
#include "kavel/guitools.h"
#include "kavelapplication.h"
#include "mainwindow.h"
#include "resultimage.h"
#include "testimages.h"

namespace {

QStringList Panels() {
    return {MainForm->StatusPanel(0), MainForm->StatusPanel(1), MainForm->StatusPanel(2)};
}

bool PanelsEmpty() {
    return Panels() == QStringList{QString(), QString(), QString()};
}

}  // namespace

class ImageWindowTest : public QObject {
    Q_OBJECT

private:
    std::optional<ApplicationWindows> windows_;
    kavel::ByteMatrix rows_;

    // Shows a 100 x 80 pattern in view, whose frame is then set to 328 x 178
    // outside (SetImage sizes it to the image first).
    void ShowPattern(TImageViewForm* view, int columns = 100, int lines = 80) {
        rows_ = Pattern(columns, lines);
        view->SubWindow()->showNormal();
        QVERIFY(view->SetImage(MainForm->CreateRasterImage(rows_)));
        view->SubWindow()->setGeometry(0, 0, 328, 178);
        QApplication::processEvents();
    }

    void Click(TImageViewForm* view, Qt::MouseButton button, QPoint surface) {
        const QPoint scroll(view->horizontalScrollBar()->value(), view->verticalScrollBar()->value());
        QTest::mouseClick(view->PaintBox, button, {}, surface - scroll);
    }

    void Move(TImageViewForm* view, QPoint surface) {
        const QPoint scroll(view->horizontalScrollBar()->value(), view->verticalScrollBar()->value());
        QMouseEvent move(QEvent::MouseMove, QPointF(surface - scroll),
                         view->PaintBox->mapToGlobal(QPointF(surface - scroll)), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(view->PaintBox, &move);
    }

    // What the screen holds of the viewport now, as the last drawing left
    // it (a grab would paint it afresh, without the zoom click's hatch).
    static QImage OnScreen(TImageViewForm* view) {
        QWidget* top = view->PaintBox->window();
        const QPoint at = view->PaintBox->mapTo(top, QPoint(0, 0));
        return top->screen()
            ->grabWindow(top->winId(), at.x(), at.y(), view->PaintBox->width(), view->PaintBox->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }

    // Everything the viewport shows, as the screen would.
    static QImage Shown(TImageViewForm* view) {
        QApplication::processEvents();
        return view->PaintBox->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

private Q_SLOTS:
    void init() {
        QApplication::setQuitOnLastWindowClosed(false);
        windows_.emplace(CreateApplicationWindows());
        QVERIFY(QTest::qWaitForWindowExposed(MainForm));
        MainForm->MdiArea->setMinimumSize(700, 500);
    }
    void cleanup() {
        windows_.reset();
        rows_ = {};
    }

    void grayBitmapIsOneBytePerPixelAndExact_data() {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("lines");
        QTest::newRow("wide") << 101 << 3;
        // One column must not cost four bytes a line.
        QTest::newRow("one column") << 1 << 3000;
        QTest::newRow("three columns") << 3 << 1000;
    }

    void grayBitmapIsOneBytePerPixelAndExact() {
        QFETCH(int, columns);
        QFETCH(int, lines);
        ShowPattern(ImageForm, columns, lines);
        const QImage* bitmap = ImageForm->DisplayBitmap();
        QVERIFY(bitmap != nullptr);
        QCOMPARE(bitmap->format(), QImage::Format_Grayscale8);
        QCOMPARE(bitmap->size(), QSize(columns, lines));
        QCOMPARE(bitmap->sizeInBytes(), qsizetype{columns} * lines);
        for (int y = 0; y < std::min(lines, 3); ++y) {
            for (int x = 0; x < columns; ++x) {
                QCOMPARE(bitmap->pixel(x, y), qRgb(Tone(x, y), Tone(x, y), Tone(x, y)));
            }
        }
        // The bitmap is the window's own: the matrix may change afterwards.
        rows_[0][0] = 99;
        QCOMPARE(qRed(bitmap->pixel(0, 0)), 0);
    }

    void palettedAndRgbRastersShowTheirColours() {
        auto paletted = kavel::TRasterImage::Create(2, 1, kavel::PixelKind::Paletted);
        QVERIFY(paletted.ok());
        paletted->SetPixel(0, 0, 77);
        paletted->SetPixel(1, 0, 200);
        auto bitmap = TImageViewForm::CreateBitmap(*paletted);
        QVERIFY(bitmap.has_value());
        QCOMPARE(bitmap->pixel(0, 0), qRgb(77, 77, 77));
        QCOMPARE(bitmap->pixel(1, 0), qRgb(200, 200, 200));

        auto rgb = kavel::TRasterImage::Create(2, 1, kavel::PixelKind::Rgb);
        QVERIFY(rgb.ok());
        rgb->Rows(0)[0] = 30;  // blue
        rgb->Rows(0)[1] = 20;  // green
        rgb->Rows(0)[2] = 10;  // red
        rgb->SetPixel(1, 0, 77);
        bitmap = TImageViewForm::CreateBitmap(*rgb);
        QVERIFY(bitmap.has_value());
        QCOMPARE(bitmap->pixel(0, 0), qRgb(10, 20, 30));
        QCOMPARE(bitmap->pixel(1, 0), qRgb(77, 77, 77));

        // And the read-out tells them apart.
        ImageForm->SetImage(*rgb);
        MainForm->ImageLines = 1;
        MainForm->ImageColumns = 2;
        ImageForm->ShowPixelInfo(0, 0);
        QCOMPARE(MainForm->StatusPanel(1), QStringLiteral("R:  10 G:  20 B:  30  "));
        ImageForm->ShowPixelInfo(1, 0);
        QCOMPARE(MainForm->StatusPanel(1), QStringLiteral("Gray Tone :   77 "));

        auto empty = kavel::TRasterImage::Create(0, 0, kavel::PixelKind::Gray);
        QVERIFY(empty.ok());
        ImageForm->SetImage(*empty);
        QVERIFY(ImageForm->DisplayBitmap() != nullptr);
        QVERIFY(ImageForm->DisplayBitmap()->isNull());
        ImageForm->ShowPixelInfo(0, 0);
        QVERIFY(PanelsEmpty());
        Shown(ImageForm);  // draws nothing, and does not fail
    }

    void paintsAtOneToOne() {
        ShowPattern(ImageForm);
        const QImage shown = Shown(ImageForm);
        QVERIFY(shown.width() >= 100 && shown.height() >= 80);
        for (const QPoint p : {QPoint(0, 0), QPoint(99, 0), QPoint(37, 41), QPoint(99, 79)}) {
            QCOMPARE(shown.pixel(p), qRgb(Tone(p.x(), p.y()), Tone(p.x(), p.y()), Tone(p.x(), p.y())));
        }
        // Beyond the image the window background shows, not stray pixels.
        QCOMPARE(shown.pixel(100, 10), ImageForm->palette().window().color().rgb());
    }

    void workedZoomExample() {
        ShowPattern(ImageForm);
        MainForm->ImageCaption = QStringLiteral(" 1.- pattern.raw");
        QCOMPARE(ImageForm->SubWindow()->size(), QSize(328, 178));
        MainForm->ZoomSpeedButton->click();
        Click(ImageForm, Qt::LeftButton, QPoint(60, 40));

        QCOMPARE(ImageForm->ZoomLevel(), 2);
        QCOMPARE(ImageForm->ZoomCentreColumn(), 60);
        QCOMPARE(ImageForm->ZoomCentreLine(), 40);
        QVERIFY(!ImageForm->ZoomCentring());
        const auto& p = ImageForm->LastZoomPlacement();
        QVERIFY(p.has_value());
        QCOMPARE(p->horzRange, 200);
        QCOMPARE(p->vertRange, 160);
        QCOMPARE(p->halfW, 82);
        QCOMPARE(p->halfH, 44);
        QCOMPARE(p->source, (kavel::PixelRect{0, 0, 99, 79}));
        QCOMPARE(p->target, (kavel::PixelRect{0, 0, 198, 158}));
        QCOMPARE(ImageForm->horizontalScrollBar()->value(), 0);
        QCOMPARE(ImageForm->verticalScrollBar()->value(), 0);
        QCOMPARE(ImageForm->HorzScrollRange(), 200);
        QCOMPARE(ImageForm->horizontalScrollBar()->maximum(),
                 std::max(200 - ImageForm->PaintBox->width(), 0));
        QCOMPARE(ImageForm->verticalScrollBar()->maximum(), std::max(160 - ImageForm->PaintBox->height(), 0));
        QCOMPARE(ImageForm->Caption(), QStringLiteral(" 1.- pattern.raw (2:1) "));

        // Each image pixel now shows as 2 x 2 screen pixels.
        const QImage shown = Shown(ImageForm);
        for (const QPoint p2 : {QPoint(0, 0), QPoint(1, 1), QPoint(51, 33), QPoint(120, 100)}) {
            const std::uint8_t tone = Tone(p2.x() / 2, p2.y() / 2);
            QCOMPARE(shown.pixel(p2), qRgb(tone, tone, tone));
        }
    }

    // Zooming out to a view narrower than the window: beside the image only
    // the background under the hatch shows, never the larger view before it.
    void zoomOutLeavesNoStalePixels() {
        ShowPattern(ImageForm);
        MainForm->ZoomSpeedButton->click();
        Click(ImageForm, Qt::LeftButton, QPoint(0, 0));
        Click(ImageForm, Qt::LeftButton, QPoint(0, 0));
        QCOMPARE(ImageForm->ZoomLevel(), 3);
        Click(ImageForm, Qt::RightButton, QPoint(0, 0));
        QCOMPARE(ImageForm->ZoomLevel(), 2);
        QCOMPARE(ImageForm->horizontalScrollBar()->value(), 0);
        const QImage screen = OnScreen(ImageForm);
        const QRgb background = ImageForm->palette().window().color().rgb();
        QVERIFY(screen.width() > 220);
        int hatched = 0;
        for (int y = 0; y < std::min(screen.height(), 160); ++y) {
            for (int x = 200; x < screen.width(); ++x) {
                const QRgb pixel = screen.pixel(x, y);
                QVERIFY2(pixel == background || pixel == qRgb(0, 0, 0),
                         qPrintable(QStringLiteral("%1, %2").arg(x).arg(y)));
                hatched += pixel == qRgb(0, 0, 0) ? 1 : 0;
            }
        }
        QVERIFY(hatched > 0);  // the hatch is there
        QCOMPARE(screen.pixel(7, 9), Shown(ImageForm).pixel(7, 9));
    }

    // The hatch covers the surface rectangle (0, 0)-(client size), which
    // moves with the scroll positions: scrolled far down, none of it shows.
    void hatchFollowsTheScrollPositions() {
        ShowPattern(ImageForm, 50, 400);
        MainForm->ZoomSpeedButton->click();
        Click(ImageForm, Qt::LeftButton, QPoint(25, 350));
        QCOMPARE(ImageForm->ZoomLevel(), 2);
        const int vp = ImageForm->verticalScrollBar()->value();
        QVERIFY(vp >= ImageForm->PaintBox->height());
        const QImage screen = OnScreen(ImageForm);
        const QRgb background = ImageForm->palette().window().color().rgb();
        for (int y = 0; y < screen.height(); ++y) {
            for (int x = 100; x < screen.width(); ++x) {
                QCOMPARE(screen.pixel(x, y), background);
            }
        }
    }

    // A new image gets a window that shows all of it at 1:1, as far as the
    // MDI area allows.
    void windowFitsTheNewImage() {
        rows_ = Pattern(300, 200);
        QVERIFY(ImageForm->SetImage(MainForm->CreateRasterImage(rows_)));
        QApplication::processEvents();
        QVERIFY(ImageForm->PaintBox->width() >= 300);
        QVERIFY(ImageForm->PaintBox->height() >= 200);
        QVERIFY(ImageForm->horizontalScrollBar()->maximum() == 0);
        const QRect area = MainForm->MdiArea->viewport()->rect();
        rows_ = Pattern(5000, 4000);
        QVERIFY(ImageForm->SetImage(MainForm->CreateRasterImage(rows_)));
        QVERIFY(area.contains(ImageForm->SubWindow()->geometry()));
        // An image of the size shown before is fitted too, in a window made
        // small meanwhile.
        rows_ = Pattern(300, 200);
        QVERIFY(ImageForm->SetImage(MainForm->CreateRasterImage(rows_)));
        ImageForm->SubWindow()->resize(210, 80);
        QVERIFY(ImageForm->SetImage(MainForm->CreateRasterImage(rows_)));
        QApplication::processEvents();
        QVERIFY(ImageForm->PaintBox->width() >= 300);
        QVERIFY(ImageForm->PaintBox->height() >= 200);
    }

    // A narrow frame keeps the zoom suffix and cuts the file name in its
    // middle; the caption itself stays whole.
    void captionKeepsItsZoomInANarrowFrame_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("kept");
        const QString path = QStringLiteral(" 1.- /home/someone/pictures/survey/2024/field/scene.raw");
        QTest::newRow("zoom in") << path + QStringLiteral(" (20:1) ") << QStringLiteral(" (20:1) ");
        QTest::newRow("zoom out") << path + QStringLiteral(" (1:20) ") << QStringLiteral(" (1:20) ");
        QTest::newRow("one to one") << path + QStringLiteral(" (1:1)") << QStringLiteral(" (1:1)");
        QTest::newRow("no zoom") << path << QStringLiteral("scene.raw");
    }

    void captionKeepsItsZoomInANarrowFrame() {
        QFETCH(QString, caption);
        QFETCH(QString, kept);
        const QFontMetrics metrics(QApplication::font());
        const int width = metrics.horizontalAdvance(caption) / 2;
        const QString shown = TImageViewForm::TitleText(caption, metrics, width);
        QVERIFY2(shown.endsWith(kept), qPrintable(shown));
        QVERIFY(shown.startsWith(QStringLiteral(" 1.- /")));
        QVERIFY(shown.contains(QChar(0x2026)));
        QVERIFY(metrics.horizontalAdvance(shown) <= width);
        // Wide enough: untouched. Too narrow for the name: the zoom alone.
        QCOMPARE(TImageViewForm::TitleText(caption, metrics, metrics.horizontalAdvance(caption)), caption);
        if (kept.contains(u':')) {
            QCOMPARE(TImageViewForm::TitleText(caption, metrics, metrics.horizontalAdvance(kept)),
                     kept.trimmed());
        }

        ShowPattern(ImageForm);
        ImageForm->SetCaption(caption);
        ImageForm->SubWindow()->resize(200, 150);
        QCOMPARE(ImageForm->Caption(), caption);
    }

    // Maximised, the bars are sized for the maximised view, the wheel moves
    // it, and the thumb is the darker block of the bar wherever it stands.
    void maximisedScrollBarsFollowTheView() {
        MainForm->MdiArea->setMinimumSize(1000, 800);
        ShowPattern(ImageForm, 512, 512);
        ImageForm->SubWindow()->showMaximized();
        QApplication::processEvents();
        MainForm->ZoomSpeedButton->click();
        Click(ImageForm, Qt::LeftButton, QPoint(256, 300));
        QApplication::processEvents();
        QScrollBar* bar = ImageForm->verticalScrollBar();
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->maximum(), 1024 - ImageForm->PaintBox->height());
        QCOMPARE(bar->pageStep(), ImageForm->PaintBox->height());
        const std::uint8_t topLeft = Tone(ImageForm->horizontalScrollBar()->value() / 2, bar->value() / 2);
        QCOMPARE(Shown(ImageForm).pixel(0, 0), qRgb(topLeft, topLeft, topLeft));

        const int before = bar->value();
        const QPointF at(100, 100);
        QWheelEvent wheel(at, ImageForm->PaintBox->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(ImageForm->PaintBox, &wheel);
        QVERIFY(bar->value() < before);

        for (int value : {bar->minimum(), bar->maximum()}) {
            bar->setValue(value);
            const QImage shown = bar->grab().toImage();
            QStyleOptionSlider option;
            option.initFrom(bar);
            option.orientation = Qt::Vertical;
            option.minimum = bar->minimum();
            option.maximum = bar->maximum();
            option.sliderPosition = option.sliderValue = value;
            option.pageStep = bar->pageStep();
            option.singleStep = bar->singleStep();
            option.subControls = QStyle::SC_All;
            const QRect thumb =
                bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar);
            const QRect groove =
                bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarGroove, bar);
            // The groove left beside the thumb: above it at the bottom, below at the top.
            const int y = value == bar->minimum() ? (thumb.bottom() + groove.bottom()) / 2
                                                  : (thumb.top() + groove.top()) / 2;
            const int thumbGray = qGray(shown.pixel(thumb.center()));
            const int grooveGray = qGray(shown.pixel(groove.center().x(), y));
            QVERIFY2(thumbGray + 20 < grooveGray,
                     qPrintable(QStringLiteral("thumb %1, groove %2").arg(thumbGray).arg(grooveGray)));
        }
    }

    void zoomOutDropsRowsAndColumns() {
        ShowPattern(ImageForm);
        MainForm->ZoomSpeedButton->click();
        Click(ImageForm, Qt::RightButton, QPoint(10, 10));
        Click(ImageForm, Qt::RightButton, QPoint(10, 10));
        QCOMPARE(ImageForm->ZoomLevel(), -3);
        QCOMPARE(ImageForm->Caption(), QStringLiteral(" (1:3) "));
        // 100 x 80 pixels stretched onto 33 x 26: each screen pixel shows the
        // pixel the stretch picks, every third or so; nothing is averaged.
        const QImage shown = Shown(ImageForm);
        for (int t = 0; t < 26; t += 3) {
            const std::uint8_t tone = Tone(t * 100 / 33, t * 80 / 26);
            QCOMPARE(shown.pixel(t, t), qRgb(tone, tone, tone));
        }
        QCOMPARE(shown.pixel(33, 0), ImageForm->palette().window().color().rgb());
        QCOMPARE(ImageForm->HorzScrollRange(), 33);
    }

    void singleAndDoublePrecisionAtOneToThree() {
        ShowPattern(ImageForm);
        MainForm->ZoomSpeedButton->click();
        Click(ImageForm, Qt::RightButton, QPoint(0, 0));
        Click(ImageForm, Qt::RightButton, QPoint(0, 0));
        QCOMPARE(ImageForm->ZoomLevel(), -3);
        Move(ImageForm, QPoint(3, 0));
        QCOMPARE(MainForm->StatusPanel(0), QStringLiteral("Line:     0  Column:     9 "));
        Click(ImageForm, Qt::MiddleButton, QPoint(3, 0));
        QCOMPARE(ImageForm->ZoomLevel(), -3);
        QCOMPARE(ImageForm->ZoomCentreColumn(), 8);
    }

    void readOut() {
        ShowPattern(ImageForm);
        MainForm->ZoomSpeedButton->click();
        Click(ImageForm, Qt::LeftButton, QPoint(0, 0));
        QCOMPARE(ImageForm->ZoomLevel(), 2);
        ImageForm->ShowPixelInfo(101, 40);
        QCOMPARE(Panels(), (QStringList{"Line:    20  Column:    50 ",
                                        QStringLiteral("Gray Tone : %1 ").arg(Tone(50, 20), 4),
                                        "Image Size: 80 lines x 100 columns  "}));
        ImageForm->ShowPixelInfo(200, 40);  // column 100: beyond the last
        QVERIFY(PanelsEmpty());
        ImageForm->ShowPixelInfo(199, 159);
        QCOMPARE(MainForm->StatusPanel(0), QStringLiteral("Line:    79  Column:    99 "));

        rows_[0][1] = 7;
        ImageForm->SetImage(MainForm->CreateRasterImage(rows_));
        ImageForm->ShowPixelInfo(1, 0);  // back at 1:1
        QCOMPARE(MainForm->StatusPanel(1), QStringLiteral("Gray Tone :    7 "));
    }

    void emptyWindowClearsAndStillZooms() {
        MainForm->SetStatusPanel(0, QStringLiteral("stale"));
        Move(ImageForm, QPoint(5, 5));
        QVERIFY(PanelsEmpty());

        MainForm->ZoomSpeedButton->click();
        Click(ImageForm, Qt::LeftButton, QPoint(5, 5));
        QCOMPARE(ImageForm->ZoomLevel(), 2);
        QCOMPARE(ImageForm->Caption(), QStringLiteral(" (2:1) "));
        Click(ResultImageForm, Qt::LeftButton, QPoint(5, 5));
        QCOMPARE(ResultImageForm->Caption(), QStringLiteral(" (2:1) "));
    }

    void zoomLimitsAndButtonUp() {
        ShowPattern(ImageForm);
        Click(ImageForm, Qt::LeftButton, QPoint(30, 30));  // zoom mode off
        QCOMPARE(ImageForm->ZoomLevel(), 1);
        QCOMPARE(ImageForm->ZoomCentreColumn(), 0);
        QCOMPARE(ImageForm->Caption(), QStringLiteral("Image (1:1)"));

        MainForm->ZoomSpeedButton->click();
        for (int i = 0; i < 19; ++i) {
            ImageForm->PaintBoxMouseDown(Qt::LeftButton, 0, 0);
        }
        QCOMPARE(ImageForm->ZoomLevel(), 20);
        QCOMPARE(ImageForm->Caption(), QStringLiteral(" (20:1) "));
        ImageForm->SetCaption(QStringLiteral("kept"));
        ImageForm->PaintBoxMouseDown(Qt::LeftButton, 40, 40);
        QCOMPARE(ImageForm->ZoomLevel(), 20);
        QCOMPARE(ImageForm->ZoomCentreColumn(), 0);
        QCOMPARE(ImageForm->Caption(), QStringLiteral("kept"));

        for (int i = 0; i < 19; ++i) {
            ImageForm->PaintBoxMouseDown(Qt::RightButton, 0, 0);
        }
        QCOMPARE(ImageForm->ZoomLevel(), 1);
        for (int i = 0; i < 19; ++i) {
            ImageForm->PaintBoxMouseDown(Qt::RightButton, 0, 0);
        }
        QCOMPARE(ImageForm->ZoomLevel(), -20);
        ImageForm->PaintBoxMouseDown(Qt::RightButton, 0, 0);
        QCOMPARE(ImageForm->ZoomLevel(), -20);
        QCOMPARE(ImageForm->Caption(), QStringLiteral(" (1:20) "));

        // Middle button: same level, new centre, caption rewritten.
        MainForm->ImageCaption = QStringLiteral("m");
        ImageForm->PaintBoxMouseDown(Qt::MiddleButton, 400, 600);
        QCOMPARE(ImageForm->ZoomLevel(), -20);
        // Single precision: 400 / 0.05f is just below 8000.
        QCOMPARE(ImageForm->ZoomCentreColumn(), 7999);
        QCOMPARE(ImageForm->ZoomCentreLine(), 11999);
        QCOMPARE(ImageForm->Caption(), QStringLiteral("m (1:20) "));
        Shown(ImageForm);  // a far-away centre draws without reading outside the bitmap
    }

    void zoomClickAfterArrowFromACommand() {
        ShowPattern(ImageForm);
        MainForm->ZoomSpeedButton->click();
        SetScreenCursorArrow();  // what OpenImage and the others do when they end
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::ArrowCursor);
        Click(ImageForm, Qt::LeftButton, QPoint(10, 10));
        QCOMPARE(ImageForm->ZoomLevel(), 2);
    }

    void windowsZoomIndependently() {
        ShowPattern(ImageForm);
        ShowPattern(ResultImageForm);
        MainForm->ResultCaption = QStringLiteral("Resulting Binarized Image");
        MainForm->ZoomSpeedButton->click();
        ImageForm->SetCaption(QStringLiteral(" 1.- a.raw"));
        Click(ResultImageForm, Qt::LeftButton, QPoint(4, 4));
        QCOMPARE(ResultImageForm->ZoomLevel(), 2);
        QCOMPARE(ResultImageForm->Caption(), QStringLiteral("Resulting Binarized Image (2:1) "));
        QCOMPARE(ImageForm->ZoomLevel(), 1);
        QCOMPARE(ImageForm->Caption(), QStringLiteral(" 1.- a.raw"));

        Click(ImageForm, Qt::RightButton, QPoint(4, 4));
        QCOMPARE(ImageForm->ZoomLevel(), -2);
        QCOMPARE(ResultImageForm->ZoomLevel(), 2);
    }

    void newImagesShowAtOneToOne() {
        ShowPattern(ResultImageForm);
        MainForm->ZoomSpeedButton->click();
        for (int i = 0; i < 3; ++i) {
            Click(ResultImageForm, Qt::LeftButton, QPoint(0, 0));
        }
        QCOMPARE(ResultImageForm->ZoomLevel(), 4);
        ResultImageForm->SetImage(MainForm->CreateRasterImage(rows_));
        QCOMPARE(ResultImageForm->ZoomLevel(), 1);
        const QImage shown = Shown(ResultImageForm);
        QCOMPARE(shown.pixel(3, 0), qRgb(Tone(3, 0), Tone(3, 0), Tone(3, 0)));

        // The image window too: a new image shows at 1:1, not at the level
        // the previous one was left at, and its scroll range says so.
        ShowPattern(ImageForm);
        for (int i = 0; i < 19; ++i) {
            Click(ImageForm, Qt::LeftButton, QPoint(0, 0));
        }
        QCOMPARE(ImageForm->ZoomLevel(), 20);
        QVERIFY(ImageForm->SetImage(MainForm->CreateRasterImage(rows_)));
        QCOMPARE(ImageForm->ZoomLevel(), 1);
        QCOMPARE(ImageForm->HorzScrollRange(), 100);
        QCOMPARE(Shown(ImageForm).pixel(3, 0), qRgb(Tone(3, 0), Tone(3, 0), Tone(3, 0)));
    }

    void resultOlderThanTheImage() {
        // A 50 x 40 result, then a 100 x 80 image opened: the result window
        // reads the new size but must not read beyond its own bitmap.
        ShowPattern(ResultImageForm, 50, 40);
        kavel::ByteMatrix larger = Pattern(100, 80);
        (void)MainForm->CreateRasterImage(larger);
        ResultImageForm->ShowPixelInfo(60, 10);
        QVERIFY(PanelsEmpty());
        ResultImageForm->ShowPixelInfo(49, 39);
        QCOMPARE(MainForm->StatusPanel(2), QStringLiteral("Image Size: 80 lines x 100 columns  "));
        ResultImageForm->PaintBox->update();
        const QImage shown = Shown(ResultImageForm);
        QCOMPARE(shown.pixel(49, 39), qRgb(Tone(49, 39), Tone(49, 39), Tone(49, 39)));
        QCOMPARE(ResultImageForm->HorzScrollRange(), 100);

        MainForm->ZoomSpeedButton->click();
        Click(ResultImageForm, Qt::LeftButton, QPoint(90, 70));
        QCOMPARE(ResultImageForm->ZoomLevel(), 2);
        Shown(ResultImageForm);
    }

    void closedWindowIsEmptyUntilTheNextImage() {
        ShowPattern(ImageForm);
        MainForm->ZoomSpeedButton->click();
        Click(ImageForm, Qt::LeftButton, QPoint(0, 0));
        ImageForm->SubWindow()->close();
        QVERIFY(ImageForm->SubWindow()->isMinimized());
        QVERIFY(ImageForm->DisplayBitmap() == nullptr);
        QCOMPARE(ImageForm->ZoomLevel(), 2);
        ImageForm->ShowPixelInfo(1, 1);
        QVERIFY(PanelsEmpty());
        ShowPattern(ImageForm);
        QCOMPARE(ImageForm->ZoomLevel(), 1);
        ImageForm->ShowPixelInfo(2, 2);
        QCOMPARE(MainForm->StatusPanel(0), QStringLiteral("Line:     2  Column:     2 "));
    }

    void longCaptions() {
        MainForm->ImageCaption = QStringLiteral(" 1.- ") + QString(600, u'x');
        MainForm->ZoomSpeedButton->click();
        Click(ImageForm, Qt::LeftButton, QPoint(0, 0));
        QCOMPARE(ImageForm->Caption(), MainForm->ImageCaption + QStringLiteral(" (2:1) "));
    }

    void scrollingFollowsTheThumb() {
        ShowPattern(ImageForm, 2000, 1500);
        QScrollBar* bar = ImageForm->horizontalScrollBar();
        QVERIFY(bar->hasTracking());
        QCOMPARE(bar->maximum(), 2000 - ImageForm->PaintBox->width());
        bar->setValue(500);
        const QImage shown = Shown(ImageForm);
        QCOMPARE(shown.pixel(0, 0), qRgb(Tone(500, 0), Tone(500, 0), Tone(500, 0)));
        ImageForm->ShowPixelInfo(500 + 7, 3);
        QCOMPARE(MainForm->StatusPanel(0), QStringLiteral("Line:     3  Column:   507 "));
    }

    void quickSecondClickStillZooms() {
        ShowPattern(ImageForm);
        MainForm->ZoomSpeedButton->click();
        // What a real double click delivers to a widget: the second press
        // comes as a double click. Two clicks, two zoom steps.
        const QPointF at(10, 10);
        const QPointF global = ImageForm->PaintBox->mapToGlobal(at);
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                  QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
            const bool down = type != QEvent::MouseButtonRelease;
            QMouseEvent event(type, at, global, Qt::LeftButton, down ? Qt::LeftButton : Qt::NoButton,
                              Qt::NoModifier);
            QApplication::sendEvent(ImageForm->PaintBox, &event);
        }
        QCOMPARE(ImageForm->ZoomLevel(), 3);
    }
};

int main(int argc, char** argv) {
    KavelApplication app(argc, argv);
    ImageWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_imagewindow.moc"
