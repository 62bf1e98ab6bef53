// Commands that may take long on a large image (an open, a treatment): the
// busy cursor at once, a progress dialog with Cancel once they have run for
// half a second, and the windows repainted between bands. The work stays on
// the one user-interface thread: it is cut into bands of lines, and events
// are processed between them.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "kavel/expected.h"
#include "kavel/guitools.h"
#include "kavel/treatment.h"

class QProgressDialog;
class QWidget;

// How long a command runs before its progress dialog shows: half a second,
// unless a test asks for the dialog at once.
int ProgressDelayMs() noexcept;
void SetProgressDelayMs(int ms) noexcept;
// Band height that keeps one band near 4 MB, so events are processed many
// times a second whatever the width.
int BandLinesFor(int columns) noexcept;

class LongCommand {
public:
    LongCommand(QWidget* owner, QString title, QString label, int delayMs = ProgressDelayMs());
    ~LongCommand();
    LongCommand(const LongCommand&) = delete;
    LongCommand& operator=(const LongCommand&) = delete;

    // done of total; processes pending events. False once the user has
    // cancelled: the caller stops and releases what it was filling.
    bool Step(std::uint64_t done, std::uint64_t total);
    bool Cancelled() const noexcept { return cancelled_; }
    // What the dialog says the command is doing, from now on.
    void SetLabel(const QString& label);
    // The progress dialog, once it has been shown.
    QProgressDialog* Dialog() const noexcept;

private:
    QWidget* owner_;
    int delayMs_;
    QString title_;
    QString label_;
    QElapsedTimer clock_;
    std::unique_ptr<QProgressDialog> dialog_;
    bool cancelled_ = false;
};

// Called after each band with the lines done so far; false stops the work.
using BandStep = std::function<bool(int linesDone)>;

// What ComputeTreatment gives, band by band: each band is treated with one
// line above and below it, so the border rule sees the same neighbours.
// result has the size of source. Gives false when a step stopped it.
kavel::Expected<bool> TreatInBands(const kavel::ByteMatrix& source,
                                   const kavel::TreatmentParameters& parameters, kavel::ByteMatrix& result,
                                   int bandLines, const BandStep& step);

namespace kavel {
class LineSource;
}

// Reads the top `lines` lines of source into the same lines of rows, band by
// band; the lines below are left as they are. Gives false when a step stopped it.
kavel::Expected<bool> ReadInBands(kavel::LineSource& source, kavel::ByteMatrix& rows, int lines,
                                  const BandStep& step);
