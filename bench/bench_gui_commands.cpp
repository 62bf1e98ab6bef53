// The desktop commands, at 100 megapixels or KAVEL_BENCH_MEGAPIXELS, each measured against a plain
// baseline taken in the same iteration:
// - open a raw image and paint it the first time, against reading the file's
//   bytes alone;
// - the treatment from OK to the result painted, against a memcpy of the image;
// - a histogram repaint, against a memcpy of the image.
// Run with QT_QPA_PLATFORM=offscreen when there is no display.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <numeric>
#include <optional>
#include <vector>

#include "../tests/app/dialogdriver.h"
#include "bench_gui_app.h"
#include "diagkaveltreatment.h"
#include "histogris.h"
#include "imagewindow.h"
#include "kavel/rawimage.h"
#include "kavel/treatment.h"
#include "kavelapplication.h"
#include "mainwindow.h"
#include "qtconvert.h"
#include "resultimage.h"

namespace {

using Clock = std::chrono::steady_clock;

// 100 megapixels unless KAVEL_BENCH_MEGAPIXELS asks for another size (lines
// of 10000 columns, 100 lines a megapixel).
constexpr int kColumns = 10000;
const int kLines = [] {
    const int megapixels = qEnvironmentVariableIntValue("KAVEL_BENCH_MEGAPIXELS");
    return 100 * (megapixels > 0 && megapixels <= 4000 ? megapixels : 100);
}();
const double kPixels = static_cast<double>(kLines) * double{kColumns};

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// The raw image with its descriptor, written once: tones in long runs so the
// treatment meets both items and borders.
const QString& BigImage() {
    static const QString image = [] {
        const QString name = BenchFile(QStringLiteral("big.raw"));
        std::vector<char> line(kColumns);
        std::ofstream out(ToPath(name), std::ios::binary);
        std::uint32_t state = 12345;
        for (int i = 0; i < kLines; ++i) {
            for (int j = 0; j < kColumns; ++j) {
                if (j % 16 == 0) {
                    state = state * 1664525U + 1013904223U;
                }
                line[j] = static_cast<char>((state >> 24) ^ static_cast<std::uint32_t>(i / 64));
            }
            out.write(line.data(), kColumns);
        }
        out.close();
        std::ofstream(ToPath(BenchFile(QStringLiteral("big.txt")))) << kLines << "\r\n" << kColumns << "\r\n";
        return name;
    }();
    return image;
}

long ResidentBytes() {
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// Opens the image through the open dialog; the clock starts when OK is pressed
// and stops once the image window has painted.
double OpenAndPaint() {
    Clock::time_point start;
    ModalScript script({[&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        SelectNameFilter(*dialog, QStringLiteral("Raw Image [*.raw]"));
        dialog->selectFile(BigImage());
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(BigImage());
        start = Clock::now();
        static_cast<QDialog*>(dialog)->accept();
    }});
    MainForm->OpenImage();
    ImageForm->PaintBox->repaint();
    const Clock::time_point end = Clock::now();
    return script.Done() ? Seconds(start, end) : -1.0;
}

double CopyImage(const kavel::ByteMatrix& image, std::vector<std::uint8_t>& into) {
    const auto start = Clock::now();
    std::memcpy(into.data(), image.Bytes().data(), image.PixelCount());
    benchmark::ClobberMemory();
    return Seconds(start, Clock::now());
}

void BM_OpenRawAndFirstPaint(benchmark::State& state) {
    BenchApplication();
    BigImage();
    ApplicationWindows windows = CreateApplicationWindows();
    double readTotal = 0, openTotal = 0;
    for (auto _ : state) {
        const auto readStart = Clock::now();
        {
            kavel::ByteMatrix bytes = kavel::AllocateByteMatrix(kColumns, kLines).value();
            if (!kavel::ReadRawPixels(ToPath(BigImage()), bytes)) {
                state.SkipWithError("cannot read the image");
                return;
            }
            benchmark::DoNotOptimize(bytes.Bytes().data());
            readTotal += Seconds(readStart, Clock::now());
        }
        const double open = OpenAndPaint();
        if (open < 0 || MainForm->ImageLines != kLines) {
            state.SkipWithError("the open did not complete");
            return;
        }
        openTotal += open;
        state.SetIterationTime(open);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["read_ms"] = 1000 * readTotal / n;
    state.counters["open_paint_ms"] = 1000 * openTotal / n;
    state.counters["ratio"] = openTotal / readTotal;
}
BENCHMARK(BM_OpenRawAndFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// Memory held for one open image, from a fresh start.
void BM_OpenMemoryPerPixel(benchmark::State& state) {
    BenchApplication();
    BigImage();
    for (auto _ : state) {
        ApplicationWindows windows = CreateApplicationWindows();
        const long before = ResidentBytes();
        const double open = OpenAndPaint();
        const long after = ResidentBytes();
        if (open < 0) {
            state.SkipWithError("the open did not complete");
            return;
        }
        state.SetIterationTime(open);
        state.counters["bytes_per_pixel"] = static_cast<double>(after - before) / kPixels;
    }
}
BENCHMARK(BM_OpenMemoryPerPixel)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void SetEdit(QWidget* dialog, const char* name, const char* text) {
    dialog->findChild<QLineEdit*>(QString::fromLatin1(name))->setText(QString::fromLatin1(text));
}

// From OK in the parameters dialog to the result window painted.
void BM_TreatmentCommand(benchmark::State& state) {
    BenchApplication();
    BigImage();
    ApplicationWindows windows = CreateApplicationWindows();
    if (OpenAndPaint() < 0) {
        state.SkipWithError("the open did not complete");
        return;
    }
    const char* radio = state.range(0) == 1   ? "RadioButton1"
                        : state.range(0) == 2 ? "RadioButton2"
                                              : "RadioButton3";
    std::vector<std::uint8_t> copy(MainForm->SourceRows.PixelCount(), 1);
    double copyTotal = 0, commandTotal = 0;
    for (auto _ : state) {
        copyTotal += CopyImage(MainForm->SourceRows, copy);
        Clock::time_point start;
        ModalScript script({[&](QWidget* w) {
            SetEdit(w, "MinEdit", "60");
            SetEdit(w, "MaxEdit", "180");
            w->findChild<QRadioButton*>(QString::fromLatin1(radio))->click();
            SetEdit(w, "ItemEdit1", "255");
            SetEdit(w, "ItemEdit3", "255");
            SetEdit(w, "BorderEdit2", "128");
            start = Clock::now();
            w->findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
        }});
        MainForm->TreatmentClick();
        ResultImageForm->PaintBox->repaint();
        const double command = Seconds(start, Clock::now());
        if (!script.Done()) {
            state.SkipWithError("the treatment dialog did not close");
            return;
        }
        commandTotal += command;
        state.SetIterationTime(command);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["memcpy_ms"] = 1000 * copyTotal / n;
    state.counters["command_ms"] = 1000 * commandTotal / n;
    state.counters["ratio"] = commandTotal / copyTotal;
}
BENCHMARK(BM_TreatmentCommand)
    ->ArgName("type")
    ->DenseRange(1, 3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// The treatment kernel alone, to tell its share of the command from the display's.
void BM_TreatmentKernel(benchmark::State& state) {
    kavel::ByteMatrix source = kavel::AllocateByteMatrix(kColumns, kLines).value();
    if (!kavel::ReadRawPixels(ToPath(BigImage()), source)) {
        state.SkipWithError("cannot read the image");
        return;
    }
    kavel::ByteMatrix result = kavel::AllocateByteMatrix(kColumns, kLines).value();
    kavel::TreatmentParameters parameters;
    parameters.TreatmentType = static_cast<kavel::TreatmentKind>(state.range(0));
    parameters.MinThreshold = 60;
    parameters.MaxThreshold = 180;
    parameters.ItemTone = 255;
    parameters.BorderTone = 128;
    std::vector<std::uint8_t> copy(source.PixelCount(), 1);
    double copyTotal = 0, kernelTotal = 0;
    for (auto _ : state) {
        copyTotal += CopyImage(source, copy);
        const auto start = Clock::now();
        if (!kavel::ComputeTreatment(source, parameters, result)) {
            state.SkipWithError("the treatment failed");
            return;
        }
        benchmark::ClobberMemory();
        const double kernel = Seconds(start, Clock::now());
        kernelTotal += kernel;
        state.SetIterationTime(kernel);
    }
    state.counters["ratio"] = kernelTotal / copyTotal;
}
BENCHMARK(BM_TreatmentKernel)
    ->ArgName("type")
    ->DenseRange(1, 3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// The result window's share of the command: its display bitmap made from the
// result and the first paint.
void BM_ResultDisplay(benchmark::State& state) {
    BenchApplication();
    BigImage();
    ApplicationWindows windows = CreateApplicationWindows();
    if (OpenAndPaint() < 0) {
        state.SkipWithError("the open did not complete");
        return;
    }
    std::vector<std::uint8_t> copy(MainForm->SourceRows.PixelCount(), 1);
    double copyTotal = 0, displayTotal = 0;
    for (auto _ : state) {
        copyTotal += CopyImage(MainForm->SourceRows, copy);
        const auto start = Clock::now();
        ResultImageForm->SetImage(MainForm->CreateRasterImage(MainForm->SourceRows));
        ResultImageForm->PaintBox->repaint();
        const double display = Seconds(start, Clock::now());
        displayTotal += display;
        state.SetIterationTime(display);
    }
    state.counters["ratio"] = displayTotal / copyTotal;
}
BENCHMARK(BM_ResultDisplay)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_HistogramRepaint(benchmark::State& state) {
    BenchApplication();
    BigImage();
    ApplicationWindows windows = CreateApplicationWindows();
    if (OpenAndPaint() < 0) {
        state.SkipWithError("the open did not complete");
        return;
    }
    HistoGrisForm->show();  // not modal here, so repaints can be timed one by one
    for (int k = 0; k < 10; ++k) {
        QCoreApplication::processEvents();  // until it is exposed and has painted once
    }
    std::vector<std::uint8_t> copy(MainForm->SourceRows.PixelCount(), 1);
    double copyTotal = 0, paintTotal = 0;
    for (auto _ : state) {
        copyTotal += CopyImage(MainForm->SourceRows, copy);
        const auto start = Clock::now();
        HistoGrisForm->PaintBox()->repaint();
        const double paint = Seconds(start, Clock::now());
        const kavel::Histogram& counts = HistoGrisForm->HistoCounts();
        if (std::accumulate(counts.begin(), counts.end(), std::int64_t{0}) !=
            std::int64_t{kLines} * kColumns) {
            state.SkipWithError("the histogram was not painted");
            return;
        }
        paintTotal += paint;
        state.SetIterationTime(paint);
    }
    HistoGrisForm->hide();
    const auto n = static_cast<double>(state.iterations());
    state.counters["memcpy_ms"] = 1000 * copyTotal / n;
    state.counters["repaint_ms"] = 1000 * paintTotal / n;
    state.counters["ratio"] = paintTotal / copyTotal;
}
BENCHMARK(BM_HistogramRepaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
