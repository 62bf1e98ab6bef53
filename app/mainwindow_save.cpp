// Saving the result: raw pixels with a five-line descriptor, or an 8-bit
// bitmap with the gray ramp.
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

#include <filesystem>
#include <vector>

#include "cursors.h"
#include "filedialogs.h"
#include "kavel/imagefile.h"
#include "mainwindow.h"
#include "qtconvert.h"

void TMainForm::SaveResult() {
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
    std::vector<std::filesystem::path> targets;
    QString descriptorName;
    if (filterIndex == 0) {
        descriptorName = SavePath + QStringLiteral(".txt");
        SavePath += QStringLiteral(".raw");
        targets = {ToPath(SavePath), ToPath(descriptorName)};
    } else if (filterIndex == 1) {
        SavePath += QStringLiteral(".bmp");
        targets = {ToPath(SavePath)};
    }

    // Saving over the image on show (scene.raw opened, scene saved as raw)
    // would lose the source without a word.
    if (const auto kept = kavel::FirstProtected(targets, FilesOfOpenImage())) {
        SetScreenCursorArrow();
        QMessageBox::warning(this, QStringLiteral("SAVE RESULT"),
                             tr("The result was not saved: it would replace %1, a file of the open image.\n"
                                "Choose another name.")
                                 .arg(QDir::toNativeSeparators(FromPath(*kept))));
        return;
    }

    kavel::Status saved;
    if (filterIndex == 0) {
        // Both files or neither: a failure leaves the old pair as it was.
        saved = kavel::SaveRawImage(ToPath(SavePath), ToPath(descriptorName), ResultRows);
    } else if (filterIndex == 1) {
        saved = kavel::SaveBitmapImage(ToPath(SavePath), ResultRows);
    }
    SetScreenCursorArrow();

    if (!saved) {
        QMessageBox::warning(this, QStringLiteral("SAVE RESULT"),
                             tr("The result could not be saved in %1:\n%2")
                                 .arg(QDir::toNativeSeparators(SavePath), ErrorText(saved.error())));
    }
}
