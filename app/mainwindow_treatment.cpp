// The treatment command's computation: the result of the dialog's parameters
// over the source image, shown in the result window.
#include <QMessageBox>

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
    kavel::Expected<bool> finished = true;
    {
        LongCommand command(&main, QObject::tr("Treatment"), QObject::tr("Computing the result..."));
        const auto lines = static_cast<std::uint64_t>(source.Lines());
        finished = TreatInBands(
            source, DiagKavelTreatForm->Parameters(), *fresh, BandLinesFor(source.Columns()),
            [&command, lines](int done) { return command.Step(static_cast<std::uint64_t>(done), lines); });
    }
    if (!finished || !*finished) {
        SetScreenCursorArrow();
        if (!finished) {
            QMessageBox::warning(&main, QObject::tr("Treatment"), ErrorText(finished.error()));
        }
        return;
    }
    main.ResultRows = std::move(fresh).value();

    const kavel::TRasterImage raster = main.CreateRasterImage(main.ResultRows);
    main.ResultCaption = QStringLiteral("Resulting Binarized Image");
    ResultImageForm->SetCaption(main.ResultCaption);
    const bool shown = ResultImageForm->SetImage(raster);
    ResultImageForm->BringToFront();
    SetScreenCursorArrow();
    if (!shown) {
        QMessageBox::warning(&main, QObject::tr("Treatment"), DisplayFailureText(raster));
    }
}
