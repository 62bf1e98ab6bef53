#include "guiutil.h"

#include <QApplication>
#include <QBitmap>
#include <QCompleter>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTreeView>
#include <QWidget>
#include <map>

#include "filepreview.h"
#include "kavel/memorybudget.h"
#include "mainwindow.h"

void InitKavelResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(kavel);
        return true;
    }();
    (void)done;
}

namespace {

std::map<int, QCursor>& CursorRegistry() {
    static std::map<int, QCursor> registry;
    return registry;
}

}  // namespace

void RegisterCursor(int number, const QCursor& cursor) {
    CursorRegistry().insert_or_assign(number, cursor);
}

QCursor ScreenCursorByNumber(int number) {
    const auto& registry = CursorRegistry();
    const auto it = registry.find(number);
    return it != registry.end() ? it->second : QCursor(Qt::ArrowCursor);
}

// The resource is a two-colour picture with transparency: black pixels are
// drawn black, white ones white, transparent ones let the screen through.
QCursor LoadLoupeCursor() {
    const QImage picture =
        QImage(QStringLiteral(":/cursors/LoupeCurseur.xpm")).convertToFormat(QImage::Format_ARGB32);
    // A new mono image has the colour table [black, white], which
    // QBitmap::fromImage would read inverted; index 1 must be the drawn colour.
    const QList<QRgb> bitColours{qRgb(255, 255, 255), qRgb(0, 0, 0)};
    QImage shape(picture.size(), QImage::Format_MonoLSB);
    QImage mask(picture.size(), QImage::Format_MonoLSB);
    shape.setColorTable(bitColours);
    mask.setColorTable(bitColours);
    shape.fill(0);
    mask.fill(0);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            if (qAlpha(pixel) == 0) {
                continue;
            }
            mask.setPixel(x, y, 1);
            if (qGray(pixel) < 128) {
                shape.setPixel(x, y, 1);
            }
        }
    }
    return QCursor(QBitmap::fromImage(shape), QBitmap::fromImage(mask), 13, 12);
}

void SetScreenCursor(const QCursor& cursor) {
    if (QGuiApplication::overrideCursor()) {
        QGuiApplication::changeOverrideCursor(cursor);
    } else {
        QGuiApplication::setOverrideCursor(cursor);
    }
}

void SetScreenCursorArrow() {
    SetScreenCursor(QCursor(Qt::ArrowCursor));
}
void SetScreenCursorHourglass() {
    SetScreenCursor(QCursor(Qt::WaitCursor));
}
void SetScreenCursorMagnifier() {
    SetScreenCursor(ScreenCursorByNumber(crMagnifier));
}

void ClearScreenCursor() {
    while (QGuiApplication::overrideCursor()) {
        QGuiApplication::restoreOverrideCursor();
    }
}

std::filesystem::path ToPath(const QString& name) {
#ifdef _WIN32
    return std::filesystem::path(name.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(name).toStdString());
#endif
}

QString FromPath(const std::filesystem::path& path) {
#ifdef _WIN32
    return QString::fromStdWString(path.native());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
#endif
}

QString ErrorText(const kavel::Error& error) {
    return QString::fromStdString(error.message);
}

QPixmap LoadGlyph(const QString& resource, int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(resource);
    if (renderer.isValid()) {
        QPainter painter(&image);
        renderer.render(&painter);
    }
    return QPixmap::fromImage(image);
}

QIcon ApplicationIcon() {
    QIcon icon;
    icon.addPixmap(LoadGlyph(QStringLiteral(":/icons/kavel.svg"), 32, 32));
    icon.addPixmap(LoadGlyph(QStringLiteral(":/icons/kavel.svg"), 16, 16));
    return icon;
}

void CentreOverMainWindow(QWidget* window) {
    if (!MainForm || !window) {
        return;
    }
    const QRect main = MainForm->frameGeometry();
    const QRect frame = window->frameGeometry();
    const QPoint offset = window->pos() - frame.topLeft();  // frame decoration
    window->move(main.center() - QPoint(frame.width() / 2, frame.height() / 2) + offset);
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

bool RegisterFormFont() {
    static const bool registered = [] {
        const QString name = QStringLiteral("ms_sans_serif.ttf");
        QStringList candidates{QStringLiteral("/usr/share/wine/fonts/") + name};
        const QString programDir = QCoreApplication::applicationDirPath();
        if (!programDir.isEmpty()) {
            candidates << QDir::cleanPath(programDir + QStringLiteral("/../share/wine/fonts/") + name);
        }
        for (const QString& file : candidates) {
            if (!QFileInfo(file).isFile()) {
                continue;
            }
            const int id = QFontDatabase::addApplicationFont(file);
            if (id >= 0 &&
                QFontDatabase::applicationFontFamilies(id).contains(QStringLiteral("MS Sans Serif"))) {
                return true;
            }
        }
        return false;
    }();
    return registered;
}

QFont FormFont(int pixelHeight) {
    // Wine's copy holds only the 8-point strike (a 13-pixel cell); taller text
    // would come out at that size, so it takes a scalable face instead.
    constexpr int kTallestStrike = 13;
    const bool bitmapFace = RegisterFormFont() && pixelHeight > kTallestStrike;
    QFont font(bitmapFace ? QStringLiteral("Sans Serif") : QStringLiteral("MS Sans Serif"));
    font.setPixelSize(pixelHeight);
    return font;
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

namespace {

// Watches one dialog: the frame becomes known only after the window manager
// has framed the window, which shows as a move right after the first showing.
class OuterGeometry : public QObject {
public:
    OuterGeometry(QWidget* window, DialogPlacement placement, bool fixedSize)
        : QObject(window),
          window_(window),
          outer_(window->size()),
          designPosition_(window->pos()),
          placement_(placement),
          fixedSize_(fixedSize) {
        window->installEventFilter(this);
        Apply(false);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_ || applying_) {
            return false;
        }
        switch (event->type()) {
            case QEvent::Show:
                Apply(true);
                break;
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::WindowActivate:
            case QEvent::Paint:
                if (window_->isVisible() && Frame() != appliedFrame_) {
                    Apply(true);
                }
                break;
            default:
                break;
        }
        return false;
    }

private:
    QSize Frame() const { return window_->frameGeometry().size() - window_->geometry().size(); }

    void Apply(bool place) {
        applying_ = true;
        appliedFrame_ = Frame();
        const QSize client = (outer_ - appliedFrame_).expandedTo(QSize(1, 1));
        if (fixedSize_) {
            window_->setFixedSize(client);
        } else {
            window_->resize(client);
        }
        if (place) {
            if (placement_ == DialogPlacement::CentredOverMain) {
                CentreOverMainWindow(window_);
            } else {
                window_->move(designPosition_);
            }
        }
        applying_ = false;
    }

    QWidget* window_;
    QSize outer_;
    QPoint designPosition_;
    DialogPlacement placement_;
    bool fixedSize_;
    QSize appliedFrame_;
    bool applying_ = false;
};

}  // namespace

void KeepOuterGeometry(QWidget* dialog, DialogPlacement placement, bool fixedSize) {
    new OuterGeometry(dialog, placement, fixedSize);
}

std::optional<QString> OpenMemoryRefusal(std::int64_t lines, std::int64_t columns) {
    const std::uint64_t needed = kavel::ImageOpenBytes(lines, columns);
    const std::optional<std::uint64_t> available = kavel::AvailableMemoryBytes();
    if (!available || needed <= *available) {
        return std::nullopt;
    }
    return QObject::tr(
               "An image of %1 lines and %2 columns needs %3 of memory (the image, its result "
               "and its display), but only %4 is available.")
        .arg(lines)
        .arg(columns)
        .arg(QString::fromStdString(kavel::ByteSizeText(needed)),
             QString::fromStdString(kavel::ByteSizeText(*available)));
}

QString DisplayFailureText(const kavel::TRasterImage& image) {
    return QObject::tr(
               "The image of %1 lines and %2 columns is in memory, but there was not enough memory "
               "left to display it (%3).")
        .arg(image.Lines())
        .arg(image.Columns())
        .arg(QString::fromStdString(
            kavel::ByteSizeText(static_cast<std::uint64_t>(image.RowBytes()) *
                                static_cast<std::uint64_t>(std::max(image.Lines(), 0)))));
}
