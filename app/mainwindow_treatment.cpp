// The treatment command's computation: the result of the dialog's parameters
// over the source image, shown in the result window.
#include <QMessageBox>

#include <cassert>

#include "cursors.h"
#include "diagkaveltreatment.h"
#include "kavel/treatment.h"
#include "mainwindow.h"
#include "memorymessages.h"
#include "qtconvert.h"
#include "resultimage.h"

void ApplyTreatment() {
    TMainForm& main = *MainForm;
    // The open makes the result matrix with the source, and nothing else
    // replaces either.
    assert(main.ResultRows.Lines() == main.SourceRows.Lines() &&
           main.ResultRows.Columns() == main.SourceRows.Columns());
    const kavel::Status done =
        kavel::ComputeTreatment(main.SourceRows, DiagKavelTreatForm->Parameters(), main.ResultRows);
    if (!done) {
        SetScreenCursorArrow();
        QMessageBox::warning(&main, QObject::tr("Treatment"), ErrorText(done.error()));
        return;
    }

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
