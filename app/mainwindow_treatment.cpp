// The treatment command's computation: the result of the dialog's parameters
// over the source image, shown in the result window.
#include <QMessageBox>
#include <optional>
#include <utility>

#include "cursors.h"
#include "diagkaveltreatment.h"
#include "kavel/treatment.h"
#include "longcommand.h"
#include "mainwindow.h"
#include "memorymessages.h"
#include "qtconvert.h"
#include "resultimage.h"

void ApplyTreatment() {
    TMainForm& main = *MainForm;
    const kavel::ByteMatrix& source = main.SourceRows;
    // The result is computed into a matrix of its own: a cancelled run then
    // leaves the result that is on show, and frees what it had filled.
    kavel::Expected<kavel::ByteMatrix> fresh = kavel::AllocateByteMatrix(source.Columns(), source.Lines());
    if (!fresh) {
        SetScreenCursorArrow();
        QMessageBox::warning(&main, QObject::tr("Treatment"), ErrorText(fresh.error()));
        return;
    }
    const auto lines = static_cast<std::uint64_t>(source.Lines());
    // Computing, then making the display: twice the lines.
    std::optional<LongCommand> progress;
    LongCommand& command =
        progress.emplace(&main, QObject::tr("Treatment"), QObject::tr("Computing the result..."));
    const kavel::Expected<bool> finished = TreatInBands(
        source, DiagKavelTreatForm->Parameters(), *fresh, BandLinesFor(source.Columns()),
        [&command, lines](int done) { return command.Step(static_cast<std::uint64_t>(done), 2 * lines); });
    if (!finished || !*finished) {
        progress.reset();
        SetScreenCursorArrow();
        if (!finished) {
            QMessageBox::warning(&main, QObject::tr("Treatment"), ErrorText(finished.error()));
        }
        return;
    }
    // The result on show stays until the new one is displayed in full.
    const bool hadResult = ResultImageForm->DisplayBitmap() != nullptr;
    command.SetLabel(QObject::tr("Making the display of the result..."));
    kavel::ByteMatrix previous = std::exchange(main.ResultRows, std::move(fresh).value());
    const kavel::TRasterImage raster = main.CreateRasterImage(main.ResultRows);
    const bool shown = ResultImageForm->SetImage(raster, [&command, lines](int done) {
        return command.Step(lines + static_cast<std::uint64_t>(done), 2 * lines);
    });
    if (command.Cancelled()) {
        main.ResultRows = std::move(previous);
        if (hadResult) {
            ResultImageForm->SetImage(main.CreateRasterImage(main.ResultRows));
        }
        progress.reset();
        SetScreenCursorArrow();
        return;
    }
    previous = {};
    progress.reset();
    main.ResultCaption = QStringLiteral("Resulting Binarized Image");
    ResultImageForm->SetCaption(main.ResultCaption);
    ResultImageForm->BringToFront();
    SetScreenCursorArrow();
    if (!shown) {
        QMessageBox::warning(&main, QObject::tr("Treatment"), DisplayFailureText(raster));
    }
}
