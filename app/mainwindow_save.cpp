// Saving the result: raw pixels with a five-line descriptor, or an 8-bit
// bitmap with the gray ramp.
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

#include "guiutil.h"
#include "kavel/bitmap.h"
#include "kavel/rawimage.h"
#include "mainwindow.h"

void TMainForm::SaveResult() {
    // The size written is the result matrix's own, so it always matches the
    // pixels that follow it.
    const kavel::ImageSize size{ResultRows.Lines(), ResultRows.Columns()};
    if (!ImageDirectory.isEmpty()) {
        SavePictureDialog1->setDirectory(ImageDirectory);
    }
    if (SavePictureDialog1->exec() != QDialog::Accepted || SavePictureDialog1->selectedFiles().isEmpty()) {
        return;
    }
    ImageFileName = SavePictureDialog1->selectedFiles().constFirst();
    const qsizetype filterIndex = SelectedFilterIndex(*SavePictureDialog1);
    SavePath = ImageFileName;

    // The extension is appended whatever the name ends with, so the open of
    // N.raw always finds N.txt.
    QString failedFile;
    kavel::Status saved;
    if (filterIndex == 0) {
        const QString descriptorName = SavePath + QStringLiteral(".txt");
        SavePath += QStringLiteral(".raw");
        // The pixels first: when they cannot be written (no room, no right to
        // write there) neither file has changed.
        saved = kavel::WriteRawFile(ToPath(SavePath), ResultRows);
        failedFile = SavePath;
        if (saved) {
            saved =
                kavel::WriteDescriptorFile(ToPath(descriptorName), size, kavel::DescriptorForm::FiveLines);
            failedFile = descriptorName;
        }
    } else if (filterIndex == 1) {
        SavePath += QStringLiteral(".bmp");
        saved = kavel::WriteBitmapFile(ToPath(SavePath), ResultRows);
        failedFile = SavePath;
    }
    SetScreenCursorArrow();

    if (!saved) {
        QMessageBox::warning(this, QStringLiteral("SAVE RESULT"),
                             tr("The result could not be saved in %1:\n%2")
                                 .arg(QDir::toNativeSeparators(failedFile), ErrorText(saved.error())));
    }
}
