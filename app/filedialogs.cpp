#include "filedialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QStandardPaths>
#include <QTreeView>
#include <QWindow>

#include "filepreview.h"

namespace {

// Keeps two habits of Qt's file dialog from the user: the name (and the row)
// of the last choice waiting in the next showing, where Enter would take it
// again without a word, and the completion list swallowing the click that
// closes it.
class FileDialogGuard : public QObject {
public:
    explicit FileDialogGuard(QFileDialog* dialog) : QObject(dialog), dialog_(dialog) {
        dialog->installEventFilter(this);
        // Also once the caller has taken the choice: what the dialog's folder
        // listing still selects in the background is gone before the next
        // showing too.
        connect(dialog, &QDialog::finished, this, &FileDialogGuard::ClearChoice, Qt::QueuedConnection);
        if (auto* nameBox = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            nameBox != nullptr && nameBox->completer() != nullptr) {
            popup_ = nameBox->completer()->popup();
            // Installed after the completer's own filter, so it runs first.
            popup_->installEventFilter(this);
            // Qt may replay the press itself on some platforms; it would then
            // come twice, and two presses make a double click that accepts.
            popup_->setAttribute(Qt::WA_NoMouseReplay);
        }
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == dialog_ && event->type() == QEvent::Show) {
            ClearChoice();
        } else if (watched == popup_ && event->type() == QEvent::MouseButtonPress) {
            const auto* press = static_cast<QMouseEvent*>(event);
            if (!popup_->rect().contains(press->position().toPoint())) {
                popup_->hide();
                Replay(*press);
                return true;
            }
        }
        return false;
    }

    void ClearChoice() {
        if (auto* preview = dialog_->findChild<TFilePreview*>()) {
            preview->ShowFile({});
        }
        // The name first: clearing it makes the dialog select what it names.
        if (auto* nameBox = dialog_->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
            nameBox->clear();
        }
        for (const QString& name : {QStringLiteral("listView"), QStringLiteral("treeView")}) {
            if (auto* view = dialog_->findChild<QAbstractItemView*>(name);
                view != nullptr && view->selectionModel() != nullptr) {
                view->selectionModel()->clear();
            }
        }
    }

private:
    // The press that closed the list goes on to what lies under it in the
    // dialog, as if the list had not been there.
    void Replay(const QMouseEvent& press) {
        const QPoint global = press.globalPosition().toPoint();
        QWidget* under = QApplication::widgetAt(global);
        QWindow* window = dialog_->windowHandle();
        if (under == nullptr || under->window() != dialog_ || window == nullptr) {
            return;
        }
        const QPointF local = window->mapFromGlobal(press.globalPosition());
        QMouseEvent again(QEvent::MouseButtonPress, local, local, press.globalPosition(), press.button(),
                          press.buttons(), press.modifiers(), press.pointingDevice());
        QCoreApplication::sendEvent(window, &again);
    }

    QFileDialog* dialog_;
    QAbstractItemView* popup_ = nullptr;
};

}  // namespace

void PrepareFileDialog(QFileDialog* dialog) {
    new FileDialogGuard(dialog);
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

QString ConvertedEntryFilter() {
    const QString patterns = QString::fromLatin1(kConvertedEntryPatterns);
    return QStringLiteral("%1 [%2] (%2)").arg(QString::fromLatin1(kConvertedEntryLabel), patterns);
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
