// The treatment command's computation: the result of the dialog's parameters
// over the source image, shown in the result window.
#include <QMessageBox>

#include "cursors.h"
#include "diagkaveltreatment.h"
#include "kavel/treatment.h"
#include "mainwindow.h"
#include "memorymessages.h"
#include "qtconvert.h"
#include "resultimage.h"

void ApplyTreatment() {
    TMainForm& main = *MainForm;
    // The result matrix was made with the source at the open; should it ever
    // differ in size, a fresh one keeps the kernel within bounds.
    if (main.ResultRows.Lines() != main.SourceRows.Lines() ||
        main.ResultRows.Columns() != main.SourceRows.Columns()) {
        kavel::Expected<kavel::ByteMatrix> fresh =
            kavel::AllocateByteMatrix(main.SourceRows.Columns(), main.SourceRows.Lines());
        if (!fresh) {
            SetScreenCursorArrow();
            QMessageBox::warning(&main, QObject::tr("Treatment"), ErrorText(fresh.error()));
            return;
        }
        main.ResultRows = std::move(fresh).value();
    }
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
