// What a person meets on the desktop and the offscreen tests once missed: the
// magnifier's pixels, the file dialogs' name box, completion list and preview,
// text that fits its boxes, the keyboard in the Info dialogs, the standard
// glyphs, where saves start, opens the memory cannot hold, and long commands.
#include <sys/resource.h>
#include <sys/stat.h>

#include <QAbstractItemView>
#include <QBitmap>
#include <QCompleter>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>
#include <functional>
#include <optional>

#include "author.h"
#include "copyrigth.h"
#include "cursors.h"
#include "diagkaveltreatment.h"
#include "dialogdriver.h"
#include "englishinfo.h"
#include "filedialogs.h"
#include "filepreview.h"
#include "formfont.h"
#include "frenchinfo.h"
#include "histogris.h"
#include "imagesize.h"
#include "imagewindow.h"
#include "kavel/bitmap.h"
#include "kavel/rawimage.h"
#include "kavelapplication.h"
#include "longcommand.h"
#include "mainwindow.h"
#include "memorymessages.h"
#include "qtconvert.h"
#include "resultimage.h"
#include "spanishinfo.h"
#include "testimages.h"

#if defined(__SANITIZE_ADDRESS__)
#define KAVEL_NO_ADDRESS_LIMIT 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KAVEL_NO_ADDRESS_LIMIT 1
#endif
#endif

namespace {

QLineEdit* NameBox(QWidget* dialog) {
    return dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

// Lowers the address-space limit to what is in use plus headroom for as
// long as it lives.
class AddressLimit {
public:
    explicit AddressLimit(std::uint64_t headroom) {
        getrlimit(RLIMIT_AS, &saved_);
        QFile status(QStringLiteral("/proc/self/status"));
        std::uint64_t used = 0;
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("VmSize:")) {
                    used = line.mid(7).trimmed().split(' ').constFirst().toULongLong() * 1024;
                }
            }
        }
        rlimit lowered = saved_;
        lowered.rlim_cur = used + headroom;
        setrlimit(RLIMIT_AS, &lowered);
    }
    ~AddressLimit() { setrlimit(RLIMIT_AS, &saved_); }
    AddressLimit(const AddressLimit&) = delete;
    AddressLimit& operator=(const AddressLimit&) = delete;

private:
    rlimit saved_{};
};

// Types into the dialog's name box in folder until the completion list is
// down (the folder's listing arrives in the background); false if it never is.
bool DropCompletionList(QFileDialog* dialog, const QString& folder, const QString& typed) {
    dialog->setDirectory(folder);
    QCompleter* completer = NameBox(dialog)->completer();
    NameBox(dialog)->setFocus();
    QTest::keyClicks(NameBox(dialog), typed);
    for (int i = 0; i < 100 && !completer->popup()->isVisible(); ++i) {
        QTest::qWait(20);
        completer->complete();
    }
    return completer->popup()->isVisible();
}

// Calls back when a progress dialog is shown.
class ShowWatcher : public QObject {
public:
    ShowWatcher(QObject* parent, std::function<void(QProgressDialog*)> shown)
        : QObject(parent), shown_(std::move(shown)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            if (auto* dialog = qobject_cast<QProgressDialog*>(watched)) {
                shown_(dialog);
            }
        }
        return false;
    }

private:
    std::function<void(QProgressDialog*)> shown_;
};

QList<QDialog*> FixedTextDialogs() {
    return {AuthorForm,      CopyrigthForm, EnglishInfoForm, FrenchInfoForm,
            SpanishInfoForm, ImageSizeForm, HistoGrisForm,   DiagKavelTreatForm};
}

}  // namespace

class DesktopFaultsTest : public QObject {
    Q_OBJECT

private:
    std::optional<ApplicationWindows> windows_;
    std::optional<QTemporaryDir> dir_;

private Q_SLOTS:
    void init() {
        QApplication::setQuitOnLastWindowClosed(false);
        windows_.emplace(CreateApplicationWindows());
        dir_.emplace();
        QVERIFY(dir_->isValid());
    }
    void cleanup() {
        windows_.reset();
        dir_.reset();
    }

    // Read back from the cursor itself: black where the resource draws the
    // lens ring, the cross and the handle, transparent everywhere else.
    void magnifierPixels() {
        const QCursor cursor = ScreenCursorByNumber(crMagnifier);
        QCOMPARE(cursor.hotSpot(), QPoint(13, 12));
        const QImage shape = cursor.bitmap().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage mask = cursor.mask().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shape.size(), QSize(32, 32));
        QCOMPARE(mask.size(), QSize(32, 32));
        const auto opaque = [&](int x, int y) { return qGray(mask.pixel(x, y)) < 128; };
        const auto black = [&](int x, int y) { return qGray(shape.pixel(x, y)) < 128; };
        const QImage picture(QStringLiteral(":/cursors/LoupeCurseur.xpm"));
        int drawn = 0;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const bool inResource = qAlpha(picture.pixel(x, y)) != 0;
                QCOMPARE(opaque(x, y), inResource);
                if (inResource) {
                    QVERIFY(black(x, y));
                    ++drawn;
                }
            }
        }
        QVERIFY(drawn > 100 && drawn < 400);                         // a drawing, not a square
        QVERIFY(opaque(10, 3) && opaque(4, 12));                     // the lens ring, top and left
        QVERIFY(opaque(13, 12) && opaque(9, 8));                     // the cross at the hot spot and its arm
        QVERIFY(!opaque(9, 12) && !opaque(13, 9));                   // the lens between the arms
        QVERIFY(!opaque(0, 0) && !opaque(31, 0) && !opaque(0, 31));  // the corners
        QVERIFY(opaque(30, 30));                                     // the handle
    }

    // No name the user did not type, and the folder shown exists: on every
    // showing, also after a name was chosen, so Enter cannot take the last
    // choice again unseen.
    void fileDialogsOpenWithAnEmptyNameBox() {
        const QString chosen = dir_->filePath(QStringLiteral("last"));
        QVERIFY(WriteBytes(chosen + QStringLiteral(".raw"), QByteArray(4, '\1')));
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("last.txt")), "2 2"));
        for (QFileDialog* dialog :
             {MainForm->OpenPictureDialog, MainForm->SavePictureDialog1, HistoGrisForm->SaveDialog1}) {
            const auto run = [dialog] {
                if (dialog == MainForm->OpenPictureDialog) {
                    MainForm->OpenImage();
                } else if (dialog == MainForm->SavePictureDialog1) {
                    MainForm->SaveResult();
                } else {
                    HistoGrisForm->BitBtnSaveClick();
                }
            };
            {
                const QString name = dialog == MainForm->OpenPictureDialog
                                         ? chosen + QStringLiteral(".raw")
                                         : dir_->filePath(QStringLiteral("saved"));
                ModalScript script({ChooseFile(name, dialog->nameFilters().constFirst().section(' ', 0, 0))});
                run();
                QVERIFY(script.Done());
            }
            for (int showing = 0; showing < 2; ++showing) {
                QString name = QStringLiteral("<not shown>");
                QString folder;
                qsizetype selectedRows = -1;
                QString previewSays = QStringLiteral("<not shown>");
                bool accepted = true;
                ModalScript script({[&](QWidget* w) {
                    auto* shown = qobject_cast<QFileDialog*>(w);
                    name = NameBox(w)->text();
                    folder = shown->directory().absolutePath();
                    selectedRows = shown->findChild<QAbstractItemView*>(QStringLiteral("listView"))
                                       ->selectionModel()
                                       ->selectedRows()
                                       .size();
                    previewSays = w->findChild<TFilePreview*>()->SizeText()->text();
                    QTest::keyClick(w, Qt::Key_Return);  // Enter on the empty box takes nothing
                    accepted = !shown->isVisible();
                    CancelDialog()(w);
                }});
                run();
                QVERIFY(script.Done());
                QCOMPARE(name, QString());
                QCOMPARE(selectedRows, 0);
                QCOMPARE(previewSays, QString());
                QVERIFY(!accepted);
                QVERIFY2(QFileInfo(folder).isDir(), qPrintable(folder));
            }
            QVERIFY(dialog->findChild<TFilePreview*>() != nullptr);
        }
    }

    // A click on the file list while the completion list is down selects the
    // row at once; the list does not swallow it.
    void completionListGivesTheClickOn() {
        for (const char* name : {"scene.raw", "second.raw"}) {
            QVERIFY(WriteBytes(dir_->filePath(QString::fromLatin1(name)), QByteArray(4, '\1')));
        }
        QString named;
        bool listWasDown = false;
        ModalScript script({[&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            listWasDown = DropCompletionList(dialog, dir_->path(), QStringLiteral("s"));
            auto* files = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
            // The row of second.raw, wherever the listing has put it so far.
            QModelIndex second;
            for (int i = 0; i < 200 && !second.isValid(); ++i) {
                const QAbstractItemModel* model = files->model();
                for (int row = 0; row < model->rowCount(files->rootIndex()); ++row) {
                    const QModelIndex index = model->index(row, 0, files->rootIndex());
                    if (index.data().toString() == QStringLiteral("second.raw")) {
                        second = index;
                    }
                }
                if (!second.isValid()) {
                    QTest::qWait(10);
                }
            }
            const QPoint at = files->viewport()->mapTo(w, files->visualRect(second).center());
            // Through the window, as the window system delivers it, so the
            // open list sees the press first.
            QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {}, at);
            for (int i = 0; i < 100 && NameBox(w)->text() != QStringLiteral("second.raw"); ++i) {
                QTest::qWait(10);
            }
            named = NameBox(w)->text();
            CancelDialog()(w);
        }});
        MainForm->OpenImage();
        QVERIFY(script.Done());
        QVERIFY(listWasDown);
        QCOMPARE(named, QStringLiteral("second.raw"));
    }

    // The list must not outlive its dialog: it would take the next click.
    void completionListClosesWithItsDialog() {
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("scene.raw")), QByteArray(4, '\1')));
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("scene.txt")), "2 2"));
        QWidget* popup = nullptr;
        bool shownDuring = false;
        ModalScript script({[&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            shownDuring = DropCompletionList(dialog, dir_->path(), QStringLiteral("sc"));
            popup = NameBox(w)->completer()->popup();
            ChooseFile(dir_->filePath(QStringLiteral("scene.raw")), QStringLiteral("Raw Image [*.raw]"))(w);
        }});
        MainForm->OpenImage();
        QVERIFY(script.Done());
        QVERIFY(shownDuring);
        QVERIFY(!popup->isVisible());
        QCOMPARE(MainForm->ImageLines, 2);
    }

    void previewReadsOurImages() {
        // A two-tone raw image sized by its descriptor.
        QByteArray pixels;
        for (int i = 0; i < 300 * 200; ++i) {
            pixels.append(static_cast<char>((i / 7) % 2 != 0 ? 255 : 0));
        }
        const QString raw = dir_->filePath(QStringLiteral("two.raw"));
        QVERIFY(WriteBytes(raw, pixels));
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("two.txt")), "200\r\n300\r\n"));
        const std::optional<PreviewPicture> fromRaw = ReadPreview(raw);
        QVERIFY(fromRaw.has_value());
        QCOMPARE(fromRaw->Lines, 200);
        QCOMPARE(fromRaw->Columns, 300);
        QCOMPARE(fromRaw->Thumbnail.width(), kPreviewSide);
        for (int y = 0; y < fromRaw->Thumbnail.height(); ++y) {
            for (int x = 0; x < fromRaw->Thumbnail.width(); ++x) {
                const QRgb p = fromRaw->Thumbnail.pixel(x, y);
                QVERIFY(p == qRgb(0, 0, 0) || p == qRgb(255, 255, 255));  // not smoothed
            }
        }

        kavel::ByteMatrix rows = kavel::AllocateByteMatrix(40, 30).value();
        rows[29][39] = 200;
        const QString bmp = dir_->filePath(QStringLiteral("b.bmp"));
        QVERIFY(kavel::WriteBitmapFile(ToPath(bmp), rows).ok());
        const std::optional<PreviewPicture> fromBitmap = ReadPreview(bmp);
        QVERIFY(fromBitmap.has_value());
        QCOMPARE(QSize(fromBitmap->Columns, fromBitmap->Lines), QSize(40, 30));
        QCOMPARE(fromBitmap->Thumbnail.pixel(39, 29), qRgb(200, 200, 200));

        // What only the conversion reads shows as it will open: in gray.
        QImage colour(30, 20, QImage::Format_RGB32);
        colour.fill(qRgb(0, 0, 255));
        const QString png = dir_->filePath(QStringLiteral("blue.png"));
        QVERIFY(colour.save(png));
        const std::optional<PreviewPicture> fromPng = ReadPreview(png);
        QVERIFY(fromPng.has_value());
        QCOMPARE(QSize(fromPng->Columns, fromPng->Lines), QSize(30, 20));
        QCOMPARE(fromPng->Thumbnail.pixel(3, 3), qRgb(29, 29, 29));  // the luminance of pure blue

        // Nothing, and at once, for what cannot or must not be read.
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("alone.raw")), pixels));
        QVERIFY(!ReadPreview(dir_->filePath(QStringLiteral("alone.raw"))));
        const QString fifo = dir_->filePath(QStringLiteral("pipe.raw"));
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("pipe.txt")), "2 2"));
        QVERIFY(!ReadPreview(fifo));
        QFile big(dir_->filePath(QStringLiteral("big.raw")));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(kPreviewMaxFileBytes + 1));
        big.close();
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("big.txt")), "1 1"));
        QVERIFY(!ReadPreview(big.fileName()));
        QVERIFY(!ReadPreview(dir_->path()));

        TFilePreview pane;
        pane.ShowFile(raw);
        QCOMPARE(pane.SizeText()->text(), QStringLiteral("200 lines x 300 columns"));
        QVERIFY(!pane.Picture()->pixmap().isNull());
        pane.ShowFile(fifo);
        QVERIFY(pane.SizeText()->text().isEmpty());
    }

    // Every fixed box holds its fixed text at the font in use.
    void textFitsItsBoxes() {
        if (!RegisterFormFont()) {
            QSKIP("Wine's MS Sans Serif (fonts-wine) is not installed; the fallback is wider");
        }
        QCOMPARE(QFontInfo(FormFont()).family(), QStringLiteral("MS Sans Serif"));
        for (QDialog* dialog : FixedTextDialogs()) {
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            // The forms take the application's font; none sets its own.
            QCOMPARE(QFontInfo(dialog->font()).family(), QStringLiteral("MS Sans Serif"));
            QCOMPARE(dialog->font().pixelSize(), 11);
            for (const QLabel* label : dialog->findChildren<QLabel*>()) {
                if (label->window() != dialog) {
                    continue;  // a file dialog's own
                }
                const QFontMetrics metrics(label->font());
                QVERIFY2(metrics.horizontalAdvance(label->text()) <= label->width() &&
                             metrics.height() <= label->height() + 2,
                         qPrintable(dialog->objectName() + QStringLiteral(": ") + label->text()));
            }
            for (const QRadioButton* radio : dialog->findChildren<QRadioButton*>()) {
                QVERIFY2(radio->sizeHint().width() <= radio->width(), qPrintable(radio->text()));
            }
            for (const QGroupBox* box : dialog->findChildren<QGroupBox*>()) {
                QVERIFY2(box->fontMetrics().horizontalAdvance(box->title()) + 16 <= box->width(),
                         qPrintable(box->title()));
            }
            for (QPlainTextEdit* memo : dialog->findChildren<QPlainTextEdit*>()) {
                // The designed Spanish box holds 14 lines of 13 pixels: its
                // 15th line ("de la imagen ...") needs the keyboard there too.
                const int shown = dialog == SpanishInfoForm ? 14 : memo->document()->blockCount();
                QTextDocument* text = memo->document();
                qreal height = 2 * text->documentMargin();
                int line = 0;
                for (QTextBlock block = text->begin(); block.isValid(); block = block.next(), ++line) {
                    QVERIFY2(block.lineCount() == 1, qPrintable(block.text()));  // no line wraps
                    if (line < shown) {
                        height += text->documentLayout()->blockBoundingRect(block).height();
                    }
                }
                QVERIFY2(height <= memo->viewport()->height(), qPrintable(dialog->objectName()));
            }
            dialog->hide();
        }
        // The tick labels stand 20 pixels apart and must not run together.
        QList<QLabel*> ticks = HistoGrisForm->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
        std::sort(ticks.begin(), ticks.end(), [](QLabel* a, QLabel* b) { return a->x() < b->x(); });
        for (qsizetype i = 0; i + 1 < ticks.size(); ++i) {
            QVERIFY2(ticks[i]->x() + ticks[i]->fontMetrics().horizontalAdvance(ticks[i]->text()) <
                         ticks[i + 1]->x(),
                     qPrintable(ticks[i]->text()));
            QCOMPARE(ticks[i]->font().letterSpacing(), 0.0);
        }
    }

    // The box keeps taking typed text; Tab goes on to OK.
    void infoDialogsLetTabReachOk_data() {
        QTest::addColumn<int>("which");
        QTest::newRow("English") << 0;
        QTest::newRow("French") << 1;
        QTest::newRow("Spanish") << 2;
    }

    void infoDialogsLetTabReachOk() {
        QFETCH(int, which);
        const QList<QDialog*> dialogs = {EnglishInfoForm, FrenchInfoForm, SpanishInfoForm};
        {
            QDialog* dialog = dialogs[which];
            dialog->show();
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            auto* memo = dialog->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
            auto* ok = dialog->findChild<QPushButton*>(QStringLiteral("BitBtn1"));
            memo->setFocus();
            QCOMPARE(QApplication::focusWidget(), memo);
            const QString before = memo->toPlainText();
            QTest::keyClick(memo, Qt::Key_Tab);
            QCOMPARE(memo->toPlainText(), before);
            QCOMPARE(QApplication::focusWidget(), ok);
            memo->setFocus();
            QTest::keyClicks(memo, QStringLiteral("x"));
            QCOMPARE(memo->toPlainText().size(), before.size() + 1);
            dialog->hide();
        }
    }

    void okAndCancelCarryTheStandardGlyphs() {
        const QList<QPair<QDialog*, QString>> buttons = {
            {DiagKavelTreatForm, QStringLiteral("BitBtn1")}, {DiagKavelTreatForm, QStringLiteral("BitBtn2")},
            {HistoGrisForm, QStringLiteral("BitBtnOK")},     {ImageSizeForm, QStringLiteral("BitBtn1")},
            {AuthorForm, QStringLiteral("BitBtn1")},         {EnglishInfoForm, QStringLiteral("BitBtn1")}};
        for (const auto& [dialog, name] : buttons) {
            auto* button = dialog->findChild<QPushButton*>(name);
            QVERIFY(button != nullptr);
            QVERIFY2(!button->icon().isNull(), qPrintable(dialog->objectName() + QStringLiteral(".") + name));
        }
    }

    // A folder we may not write in (the installed samples) is not where a
    // save starts.
    void savesStartWhereTheyCanWrite() {
        QCOMPARE(WritableSaveFolder(dir_->path()), dir_->path());
        const QString missing = dir_->filePath(QStringLiteral("missing"));
        const QString fallback = WritableSaveFolder(missing);
        QVERIFY(fallback != missing);
        QVERIFY(QFileInfo(fallback).isWritable());
        const QString locked = dir_->filePath(QStringLiteral("locked"));
        QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("locked")));
        QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        if (QFileInfo(locked).isWritable()) {
            QSKIP("running with the right to write anywhere");
        }
        MainForm->ImageDirectory = locked;
        QString shown;
        ModalScript script({[&](QWidget* w) {
            shown = qobject_cast<QFileDialog*>(w)->directory().absolutePath();
            CancelDialog()(w);
        }});
        MainForm->SaveResult();
        QVERIFY(script.Done());
        QCOMPARE(shown, fallback);
    }

    // The size written is the result matrix's, even when the working size has
    // moved on (the size dialog writes it as it is typed).
    void saveTakesItsSizeFromTheResult() {
        MainForm->ResultRows = kavel::AllocateByteMatrix(3, 2).value();
        MainForm->ImageLines = 7;
        MainForm->ImageColumns = 9;
        const QString name = dir_->filePath(QStringLiteral("r"));
        ModalScript script({ChooseFile(name, QStringLiteral("Raster Images [*.raw]"))});
        MainForm->SaveResult();
        QVERIFY(script.Done());
        QCOMPARE(QFileInfo(name + QStringLiteral(".raw")).size(), 6);
        const kavel::Expected<kavel::ImageSize> size =
            kavel::ReadDescriptorFile(ToPath(name + QStringLiteral(".txt")));
        QVERIFY(size.ok());
        QCOMPARE(size->Lines, 2);
        QCOMPARE(size->Columns, 3);
    }

    // A small file whose descriptor claims more than the machine can hold is
    // refused before anything is committed, with the size and the memory.
    void openRefusesWhatMemoryCannotHold() {
#ifdef KAVEL_NO_ADDRESS_LIMIT
        QSKIP("the address sanitizer reserves more address space than any limit");
#else
        const QString image = dir_->filePath(QStringLiteral("huge.raw"));
        QVERIFY(WriteBytes(image, QByteArray(1000, '\7')));
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("huge.txt")), "60000 60000"));
        MainForm->ImageLines = 5;
        SeenMessage refusal;
        {
            const AddressLimit limit(std::uint64_t{1} << 30);
            ModalScript script({ChooseFile(image, QStringLiteral("Raw Image [*.raw]")), ReadMessage(refusal),
                                CancelDialog()});
            MainForm->OpenImage();
            QVERIFY(script.Done());
        }
        QVERIFY(refusal.Seen);
        QVERIFY2(refusal.Text.contains(QStringLiteral("60000 lines and 60000 columns")),
                 qPrintable(refusal.Text));
        QVERIFY2(refusal.Text.contains(QStringLiteral("10.1 GB")), qPrintable(refusal.Text));
        QCOMPARE(MainForm->ImageLines, 5);
        QVERIFY(MainForm->SourceRows.Empty());
        QVERIFY(!OpenMemoryRefusal(480, 640).has_value());
#endif
    }

    // Sizes read as a person writes them, and a size beyond what KAVEL
    // holds says what it would need.
    void sizeMessages() {
        QCOMPARE(LinesAndColumnsText(1, 1), QStringLiteral("1 line and 1 column"));
        QCOMPARE(LinesAndColumnsText(2147483647, 1), QStringLiteral("2147483647 lines and 1 column"));
        QCOMPARE(LinesAndColumnsText(0, 2), QStringLiteral("0 lines and 2 columns"));
        QVERIFY(!ImageSizeRefusal(65536, 65536).has_value());  // the largest that is held
        QCOMPARE(ImageSizeRefusal(-5, 1).value_or(QString()),
                 QStringLiteral("-5 lines and 1 column is not an image size."));
        const QString huge = ImageSizeRefusal(200000, 200000).value_or(QString());
        QVERIFY2(
            huge.contains(QStringLiteral("200000 lines and 200000 columns would need 111.8 GB of memory")),
            qPrintable(huge));
        QVERIFY(huge.contains(QStringLiteral("at most 4294967296 pixels")));
    }

    // The busy cursor at once; the progress dialog only after the delay,
    // modal, with a Cancel that stops the command.
    void longCommandShowsProgressAndCancels() {
        {
            LongCommand quick(MainForm, QStringLiteral("T"), QStringLiteral("L"), 60 * 60 * 1000);
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
            QVERIFY(quick.Step(1, 2));
            QVERIFY(quick.Dialog() == nullptr);
        }
        LongCommand slow(MainForm, QStringLiteral("OPEN IMAGE"), QStringLiteral("Reading"), 0);
        QVERIFY(slow.Step(250, 1000));
        QProgressDialog* dialog = slow.Dialog();
        QVERIFY(dialog != nullptr && dialog->isVisible());
        QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("OPEN IMAGE"));
        QCOMPARE(dialog->value(), 250);
        auto* cancel = dialog->findChild<QPushButton*>();
        QVERIFY(cancel != nullptr && cancel->text() == QStringLiteral("Cancel"));
        cancel->click();
        QVERIFY(!slow.Step(500, 1000));
        QVERIFY(slow.Cancelled());
    }

    // Cancel in the progress dialog, while the file is read, while the
    // image is displayed, while the result is computed or displayed: what
    // was on show stays, in the working state and in the windows.
    void cancelKeepsWhatWasOnShow_data() {
        QTest::addColumn<bool>("treatment");
        QTest::addColumn<int>("cancelAbove");  // progress (of 1000) past which Cancel is pressed
        QTest::newRow("open, reading") << false << -1;
        QTest::newRow("open, making the display") << false << 500;
        QTest::newRow("treatment, computing") << true << -1;
        QTest::newRow("treatment, making the display") << true << 500;
    }

    void cancelKeepsWhatWasOnShow() {
        QFETCH(bool, treatment);
        QFETCH(int, cancelAbove);
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("a.raw")), PatternBytes(4, 3)));
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("a.txt")), "3 4"));
        {
            ModalScript script({ChooseFile(dir_->filePath(QStringLiteral("a.raw")), QStringLiteral("Raw"))});
            MainForm->OpenImage();
            QVERIFY(script.Done());
        }
        DiagKavelTreatForm->RadioButton1Click();
        DiagKavelTreatForm->MinEditChange(QStringLiteral("0"));
        DiagKavelTreatForm->MaxEditChange(QStringLiteral("100"));
        DiagKavelTreatForm->ItemEdit1Change(QStringLiteral("200"));
        ApplyTreatment();
        const QByteArray result(reinterpret_cast<const char*>(MainForm->ResultRows.Bytes().data()), 12);
        const std::uint8_t* source = MainForm->SourceRows.Bytes().data();
        const QImage shownResult = *ResultImageForm->DisplayBitmap();

        // Cancel as soon as the dialog shows progress past cancelAbove.
        SetProgressDelayMs(0);
        int cancels = 0;
        QObject watcher;
        auto* filter = new ShowWatcher(&watcher, [&](QProgressDialog* dialog) {
            auto* bar = dialog->findChild<QProgressBar*>();
            QObject::connect(
                bar, &QProgressBar::valueChanged, dialog, [&cancels, dialog, cancelAbove](int value) {
                    if (value > cancelAbove && !dialog->wasCanceled()) {
                        ++cancels;
                        QMetaObject::invokeMethod(dialog, &QProgressDialog::cancel, Qt::QueuedConnection);
                    }
                });
        });
        qApp->installEventFilter(filter);
        if (treatment) {
            DiagKavelTreatForm->ItemEdit1Change(QStringLiteral("50"));
            ApplyTreatment();
        } else {
            QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("b.raw")), PatternBytes(8, 5)));
            QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("b.txt")), "5 8"));
            ModalScript script({ChooseFile(dir_->filePath(QStringLiteral("b.raw")), QStringLiteral("Raw"))});
            MainForm->OpenImage();
            QVERIFY(script.Done());
        }
        qApp->removeEventFilter(filter);
        SetProgressDelayMs(500);

        QCOMPARE(cancels, 1);
        QCOMPARE(MainForm->SourceRows.Bytes().data(), source);
        QCOMPARE(QSize(MainForm->ImageColumns, MainForm->ImageLines), QSize(4, 3));
        QVERIFY(ImageForm->DisplayBitmap() != nullptr);
        QCOMPARE(ImageForm->DisplayBitmap()->size(), QSize(4, 3));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(MainForm->ResultRows.Bytes().data()), 12), result);
        QVERIFY(ResultImageForm->DisplayBitmap() != nullptr);
        QCOMPARE(*ResultImageForm->DisplayBitmap(), shownResult);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
    }

    // No display bitmap: the window says so instead of staying blank.
    void displayBitmapFailureIsReported() {
#ifdef KAVEL_NO_ADDRESS_LIMIT
        QSKIP("the address sanitizer reserves more address space than any limit");
#else
        kavel::ByteMatrix rows = kavel::AllocateByteMatrix(1, 64 << 20).value();
        bool shown = true;
        {
            const AddressLimit limit(16 << 20);
            shown = ImageForm->SetImage(MainForm->CreateRasterImage(rows));
        }
        QVERIFY(!shown);
        QVERIFY(ImageForm->DisplayBitmap() == nullptr);
        QVERIFY(DisplayFailureText(MainForm->CreateRasterImage(rows))
                    .contains(QStringLiteral("67108864 lines and 1 column ")));
        QVERIFY(ImageForm->SetImage(MainForm->CreateRasterImage(rows)));  // with the memory back
#endif
    }
};

QTEST_MAIN(DesktopFaultsTest)
#include "tst_desktopfaults.moc"
