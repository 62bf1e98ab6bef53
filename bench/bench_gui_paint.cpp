// Painting cost of the image window: a full repaint of a 1920 x 1080 view of
// a 100-megapixel gray image at 1:20, 1:1 and 20:1, drawn into an image of
// the view's size, and the same through the widget's own rendering; at 400
// megapixels, the repaint that follows a scroll and a zoom click. Making the
// display bitmap once per image is measured against a memcpy of the image.
// Run with QT_QPA_PLATFORM=offscreen when there is no display.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QMdiSubWindow>
#include <QPainter>
#include <QScrollBar>
#include <QToolButton>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "bench_gui_app.h"
#include "imagewindow.h"
#include "kavelapplication.h"
#include "mainwindow.h"

namespace {

constexpr int kSide = 10000;       // 100 MP
constexpr int kLargeSide = 20000;  // 400 MP
constexpr QSize kView(1920, 1080);

// The windows and a square gray image shown in ImageForm, whose viewport is
// made 1920 x 1080, built once for the benchmarks of that image size.
struct PaintScene {
    ApplicationWindows windows;
    kavel::ByteMatrix rows;
    int side;

    explicit PaintScene(int imageSide) : side(imageSide) {
        BenchApplication();
        windows = CreateApplicationWindows();
        rows = kavel::AllocateByteMatrix(side, side).value();
        for (int y = 0; y < side; ++y) {
            std::uint8_t* row = rows[y];
            for (int x = 0; x < side; ++x) {
                row[x] = static_cast<std::uint8_t>((x ^ y) + (y >> 4));
            }
        }
        ImageForm->SetImage(MainForm->CreateRasterImage(rows));
        QMdiSubWindow* frame = ImageForm->SubWindow();
        frame->showNormal();
        for (int i = 0; i < 3; ++i) {  // scroll bars come and go with the size
            const QSize extra = frame->size() - ImageForm->PaintBox->size();
            frame->resize(kView + extra);
            QApplication::processEvents();
        }
        MainForm->ZoomSpeedButton->setChecked(true);
    }

    // Zooms with clicks at the image's centre until the level is reached,
    // which also centres the view on the image.
    void ZoomTo(int level) {
        while (ImageForm->ZoomLevel() != level) {
            const float f = kavel::ZoomFactorSingle(ImageForm->ZoomLevel());
            const int x = static_cast<int>(static_cast<float>(side / 2) * f);
            const int y = static_cast<int>(static_cast<float>(side / 2) * f);
            const int before = ImageForm->ZoomLevel();
            const bool in = level > before || (before == -2 && level == 1);
            ImageForm->PaintBoxMouseDown(in ? Qt::LeftButton : Qt::RightButton, x, y);
            if (ImageForm->ZoomLevel() == before) {
                break;
            }
        }
        QApplication::processEvents();
    }
};

// Kept between benchmark calls; rebuilt for another image size, or when
// another benchmark has made its own windows in the meantime (the window
// globals then point elsewhere). One at a time: 400 MP is 800 MB with its
// display bitmap.
PaintScene& Scene(int side = kSide) {
    static std::unique_ptr<PaintScene> scene;
    if (!scene || scene->side != side || MainForm != scene->windows.Main()) {
        scene.reset();
        scene = std::make_unique<PaintScene>(side);
    }
    return *scene;
}

// The least a repaint of the whole view costs: filling an image of its size.
double ViewFillMs(QImage& target, int round) {
    const auto start = std::chrono::steady_clock::now();
    target.fill(static_cast<uint>(0xFF000000U | static_cast<uint>(round & 0xFF)));
    benchmark::DoNotOptimize(target.constBits());
    return 1000 * std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void SetViewCounters(benchmark::State& state) {
    state.counters["view_w"] = ImageForm->PaintBox->width();
    state.counters["view_h"] = ImageForm->PaintBox->height();
    state.counters["scroll_x"] = ImageForm->horizontalScrollBar()->value();
    state.counters["scroll_y"] = ImageForm->verticalScrollBar()->value();
}

// DrawImage alone, into a view-sized image in the backing store's format.
void BM_PaintView(benchmark::State& state) {
    PaintScene& scene = Scene();
    scene.ZoomTo(static_cast<int>(state.range(0)));
    if (ImageForm->ZoomLevel() != state.range(0)) {
        state.SkipWithError("could not reach the zoom level");
        return;
    }
    QImage target(kView, QImage::Format_RGB32);
    const QRect clip(QPoint(0, 0), kView);
    for (auto _ : state) {
        QPainter painter(&target);
        ImageForm->DrawImage(painter, clip);
        painter.end();
        benchmark::DoNotOptimize(target.constBits());
    }
    SetViewCounters(state);
}
BENCHMARK(BM_PaintView)->Arg(-20)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);

// The viewport rendered offscreen as the widget paints itself: paint event,
// background, image part.
void BM_RenderViewport(benchmark::State& state) {
    PaintScene& scene = Scene();
    scene.ZoomTo(static_cast<int>(state.range(0)));
    QImage target(ImageForm->PaintBox->size(), QImage::Format_RGB32);
    for (auto _ : state) {
        ImageForm->PaintBox->render(&target);
        benchmark::DoNotOptimize(target.constBits());
    }
    SetViewCounters(state);
}
BENCHMARK(BM_RenderViewport)->Arg(-20)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);

// Making the display bitmap of the 100-megapixel image, against copying its
// bytes once.
void BM_CreateDisplayBitmap(benchmark::State& state) {
    PaintScene& scene = Scene();
    const kavel::TRasterImage raster = kavel::TRasterImage::ViewOf(scene.rows);
    std::vector<std::uint8_t> copy(scene.rows.PixelCount());
    double copySeconds = 0;
    for (auto _ : state) {
        std::optional<QImage> bitmap = TImageViewForm::CreateBitmap(raster);
        benchmark::DoNotOptimize(bitmap->constBits());
        state.PauseTiming();
        bitmap.reset();
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(copy.data(), scene.rows.Bytes().data(), copy.size());
        benchmark::DoNotOptimize(copy.data());
        copySeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.ResumeTiming();
    }
    state.counters["memcpy_ms"] = 1000 * copySeconds / static_cast<double>(state.iterations());
    state.counters["bitmap_bytes_per_pixel"] = 1;
}
BENCHMARK(BM_CreateDisplayBitmap)->Unit(benchmark::kMillisecond)->Iterations(10);

// A new image of the same size in a window that already shows one (every
// treatment does this to the result window): the bitmap is refilled in place.
void BM_SetImageSameSize(benchmark::State& state) {
    PaintScene& scene = Scene();
    const kavel::TRasterImage raster = kavel::TRasterImage::ViewOf(scene.rows);
    std::vector<std::uint8_t> copy(scene.rows.PixelCount());
    double copySeconds = 0;
    for (auto _ : state) {
        ImageForm->SetImage(raster);
        benchmark::DoNotOptimize(ImageForm->DisplayBitmap()->constBits());
        state.PauseTiming();
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(copy.data(), scene.rows.Bytes().data(), copy.size());
        benchmark::DoNotOptimize(copy.data());
        copySeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.ResumeTiming();
    }
    state.counters["memcpy_ms"] = 1000 * copySeconds / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SetImageSameSize)->Unit(benchmark::kMillisecond)->Iterations(10);

// What the window does on a scroll at 400 MP: the scroll bar moves by a
// wheel step, the viewport scrolls what it shows and paints the strip that
// comes in (down, then up again, so the view stays put), all events handled.
void BM_ScrollRepaint400(benchmark::State& state) {
    PaintScene& scene = Scene(kLargeSide);
    scene.ZoomTo(static_cast<int>(state.range(0)));
    QScrollBar* bar = ImageForm->verticalScrollBar();
    QImage fill(kView, QImage::Format_RGB32);
    double fillMs = 0;
    int step = 24;
    int round = 0;
    for (auto _ : state) {
        bar->setValue(bar->value() + step);
        QApplication::processEvents();
        step = -step;
        state.PauseTiming();
        fillMs += ViewFillMs(fill, ++round);
        state.ResumeTiming();
    }
    state.counters["view_fill_ms"] = fillMs / static_cast<double>(state.iterations());
    SetViewCounters(state);
}
BENCHMARK(BM_ScrollRepaint400)->Arg(-20)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);

// A zoom click at 400 MP: a middle click re-centres at the same level, so
// every iteration is the zoom click's drawing of the whole view (hatch and
// image), then whatever events follow.
void BM_ZoomClickRepaint400(benchmark::State& state) {
    PaintScene& scene = Scene(kLargeSide);
    scene.ZoomTo(static_cast<int>(state.range(0)));
    const QPoint centre(ImageForm->horizontalScrollBar()->value() + kView.width() / 2,
                        ImageForm->verticalScrollBar()->value() + kView.height() / 2);
    QImage fill(kView, QImage::Format_RGB32);
    double fillMs = 0;
    int round = 0;
    for (auto _ : state) {
        ImageForm->PaintBoxMouseDown(Qt::MiddleButton, centre.x(), centre.y());
        QApplication::processEvents();
        state.PauseTiming();
        fillMs += ViewFillMs(fill, ++round);
        state.ResumeTiming();
    }
    state.counters["view_fill_ms"] = fillMs / static_cast<double>(state.iterations());
    SetViewCounters(state);
}
BENCHMARK(BM_ZoomClickRepaint400)->Arg(-20)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond);

}  // namespace
