#include "filedialogs.h"

#include <QCompleter>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTreeView>

#include "filepreview.h"

void PrepareFileDialog(QFileDialog* dialog) {
    // The name completion's list is a popup of its own: left open, it stays
    // on screen after the dialog and takes the next click.
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog] {
        for (QCompleter* completer : dialog->findChildren<QCompleter*>()) {
            if (completer->popup() != nullptr) {
                completer->popup()->hide();
            }
        }
    });
    if (auto* grid = qobject_cast<QGridLayout*>(dialog->layout())) {
        auto* preview = new TFilePreview(dialog);
        grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
        QObject::connect(dialog, &QFileDialog::currentChanged, preview, &TFilePreview::ShowFile);
        QObject::connect(dialog, &QFileDialog::directoryEntered, preview,
                         [preview] { preview->ShowFile({}); });
        // A name typed or completed selects no row, so it is followed too.
        if (auto* nameBox = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
            QObject::connect(nameBox, &QLineEdit::textChanged, preview,
                             [dialog, preview](const QString& text) {
                                 const QFileInfo typed(QDir(dialog->directory()).filePath(text));
                                 if (typed.isFile()) {
                                     preview->ShowFile(typed.absoluteFilePath());
                                 }
                             });
        }
    }
    if (auto* files = dialog->findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = files->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column) {
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        }
    }
    dialog->resize(900, 480);
}

qsizetype SelectedFilterIndex(const QFileDialog& dialog) {
    const QString selected = dialog.selectedNameFilter();
    const QStringList filters = dialog.nameFilters();
    for (qsizetype i = 0; i < filters.size(); ++i) {
        if (filters[i] == selected || filters[i].startsWith(selected + QStringLiteral(" ("))) {
            return i;
        }
    }
    return -1;
}

QString WritableSaveFolder(const QString& preferred) {
    for (const QString& folder :
         {preferred, QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)}) {
        const QFileInfo info(folder);
        if (!folder.isEmpty() && info.isDir() && info.isWritable()) {
            return folder;
        }
    }
    return QDir::homePath();
}

QStringList ImageFolderCandidates(const QString& applicationDir) {
    QStringList candidates;
#ifdef Q_OS_WIN
    candidates << QStringLiteral("C:\\images");
#endif
    if (!applicationDir.isEmpty()) {
        candidates << QDir::cleanPath(applicationDir + QStringLiteral("/../share/kavel/samples"));
    }
    return candidates;
}

QString FirstExistingFolder(const QStringList& candidates, const QString& fallback) {
    for (const QString& folder : candidates) {
        if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
            return folder;
        }
    }
    return fallback;
}

QString DefaultImageFolder() {
    return FirstExistingFolder(ImageFolderCandidates(QCoreApplication::applicationDirPath()),
                               QDir::homePath());
}
