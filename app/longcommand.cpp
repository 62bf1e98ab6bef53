#include "longcommand.h"

#include <QCoreApplication>
#include <QProgressDialog>
#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

#include "cursors.h"
#include "kavel/stream.h"

namespace {

constexpr int kProgressSteps = 1000;
int progressDelayMs = 500;
constexpr int kBandBytes = 4 << 20;

}  // namespace

int ProgressDelayMs() noexcept {
    return progressDelayMs;
}
void SetProgressDelayMs(int ms) noexcept {
    progressDelayMs = ms;
}

int BandLinesFor(int columns) noexcept {
    return std::max(1, kBandBytes / std::max(columns, 1));
}

LongCommand::LongCommand(QWidget* owner, QString title, QString label, int delayMs)
    : owner_(owner), delayMs_(delayMs), title_(std::move(title)), label_(std::move(label)) {
    SetScreenCursorHourglass();
    clock_.start();
    // The cursor reaches the screen, and what a closed dialog uncovered is
    // drawn again, before the first band starts.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

LongCommand::~LongCommand() = default;

QProgressDialog* LongCommand::Dialog() const noexcept {
    return dialog_.get();
}

void LongCommand::SetLabel(const QString& label) {
    label_ = label;
    if (dialog_) {
        dialog_->setLabelText(label);
    }
}

bool LongCommand::Step(std::uint64_t done, std::uint64_t total) {
    if (cancelled_) {
        return false;
    }
    if (!dialog_ && clock_.elapsed() >= delayMs_) {
        dialog_ = std::make_unique<QProgressDialog>(label_, QObject::tr("Cancel"), 0, kProgressSteps, owner_);
        dialog_->setWindowTitle(title_);
        dialog_->setWindowModality(Qt::ApplicationModal);
        dialog_->setMinimumDuration(0);
        dialog_->setAutoReset(false);
        dialog_->setAutoClose(false);
        dialog_->show();
    }
    if (dialog_) {
        const double part = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
        dialog_->setValue(static_cast<int>(part * kProgressSteps));
        // The dialog is modal: input reaches only its Cancel button.
        QCoreApplication::processEvents();
        cancelled_ = dialog_->wasCanceled();
    } else {
        // No input before the dialog is there: a click must not start
        // another command in the middle of this one.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    return !cancelled_;
}

kavel::Expected<bool> TreatInBands(const kavel::ByteMatrix& source,
                                   const kavel::TreatmentParameters& parameters, kavel::ByteMatrix& result,
                                   int bandLines, const BandStep& step) {
    const int lines = source.Lines();
    const int columns = source.Columns();
    // The caller makes the result with the source's size; nothing else does.
    assert(result.Lines() == lines && result.Columns() == columns);
    if (lines <= bandLines || source.Empty()) {
        if (const kavel::Status done = kavel::ComputeTreatment(source, parameters, result); !done) {
            return done.error();
        }
        return step(lines);
    }
    const auto rowBytes = static_cast<std::size_t>(columns);
    kavel::ByteMatrix band;
    for (int first = 0; first < lines; first += bandLines) {
        const int count = std::min(bandLines, lines - first);
        const int top = std::max(0, first - 1);
        const int bottom = std::min(lines, first + count + 1);
        if (band.Lines() != bottom - top) {
            kavel::Expected<kavel::ByteMatrix> fresh = kavel::AllocateByteMatrix(columns, bottom - top);
            if (!fresh) {
                return fresh.error();
            }
            band = std::move(fresh).value();
        }
        std::memcpy(band[0], source[top], band.PixelCount());
        if (const kavel::Status done = kavel::ComputeTreatment(band, parameters, band); !done) {
            return done.error();
        }
        std::memcpy(result[first], band[first - top], static_cast<std::size_t>(count) * rowBytes);
        if (!step(first + count)) {
            return false;
        }
    }
    return true;
}

kavel::Expected<bool> ReadInBands(kavel::LineSource& source, kavel::ByteMatrix& rows, int lines,
                                  const BandStep& step) {
    const auto rowBytes = static_cast<std::size_t>(rows.Columns());
    const int bandLines = BandLinesFor(rows.Columns());
    for (int first = 0; first < lines; first += bandLines) {
        const int count = std::min(bandLines, lines - first);
        const std::span<std::uint8_t> band = rows.Bytes().subspan(static_cast<std::size_t>(first) * rowBytes,
                                                                  static_cast<std::size_t>(count) * rowBytes);
        if (const kavel::Status read = source.Read(kavel::LineOrder::TopFirst, first, count, band); !read) {
            return read.error();
        }
        if (!step(first + count)) {
            return false;
        }
    }
    return true;
}
