// Opening images through the real open dialog: raw files with or without a
// descriptor, bitmaps of both depths, and every way an open can fail.
#include <sys/stat.h>

#include <QBuffer>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <optional>
#include <tuple>

#include "dialogdriver.h"
#include "filedialogs.h"
#include "imagesize.h"
#include "imagewindow.h"
#include "kavel/bitmap.h"
#include "kavelapplication.h"
#include "mainwindow.h"
#include "qtconvert.h"
#include "testimages.h"

namespace {

const QString kRaw = QStringLiteral("Raw Image [*.raw]");
const QString kBmp = QStringLiteral("Bitmap [*.bmp]");
const QString kOther = QStringLiteral(
    "Other images (converted to 8-bit gray) [*.png *.tif *.tiff *.jpg *.jpeg *.bmp "
    "*.pgm *.pnm *.gif *.webp]");

bool WriteBitmap8(const QString& fileName, int width, int height) {
    return kavel::WriteBitmapFile(ToPath(fileName), Pattern(width, height)).ok();
}

bool WriteBitmap24(const QString& fileName, int width, int height) {
    return kavel::WriteBitmapFile(ToPath(fileName), Pattern(width * 3, height), kavel::PixelKind::Rgb).ok();
}

// True when SourceRows holds the pattern at the given size.
bool HoldsPattern(int columns, int lines) {
    const kavel::ByteMatrix& rows = MainForm->SourceRows;
    if (rows.Lines() != lines || rows.Columns() != columns) {
        return false;
    }
    for (int i = 0; i < lines; ++i) {
        for (int j = 0; j < columns; ++j) {
            if (rows[i][j] != Tone(j, i)) {
                return false;
            }
        }
    }
    return true;
}

bool AllZero(const kavel::ByteMatrix& rows) {
    for (std::uint8_t tone : rows.Bytes()) {
        if (tone != 0) {
            return false;
        }
    }
    return true;
}

bool Open(std::vector<ModalScript::Step> steps) {
    ModalScript script(std::move(steps));
    MainForm->OpenImage();
    return script.Done();
}

ModalScript::Step TypeSize(const QString& lines, const QString& columns) {
    return [lines, columns](QWidget* w) {
        auto* form = qobject_cast<TImageSizeForm*>(w);
        if (form == nullptr) {
            return;
        }
        if (!lines.isNull()) {
            form->NumLineEdit()->selectAll();
            QTest::keyClicks(form->NumLineEdit(), lines);
        }
        if (!columns.isNull()) {
            form->NumColEdit()->selectAll();
            QTest::keyClicks(form->NumColEdit(), columns);
        }
        form->findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
    };
}

// Records a question box and answers it with the given button.
ModalScript::Step Answer(SeenMessage& seen, QMessageBox::StandardButton button) {
    return [&seen, button](QWidget* window) {
        auto* box = qobject_cast<QMessageBox*>(window);
        if (box == nullptr || box->button(button) == nullptr) {
            return;
        }
        seen.Seen = true;
        seen.Text = box->text();
        box->button(button)->click();
    };
}

// An 8-bit bitmap as other programs write them: palette of `colours`
// entries (gray i * step), rows bottom first, run-length compressed or not.
QByteArray OtherBitmap(int columns, int lines, int colours, int step, bool runLength,
                       const std::function<int(int column, int line)>& index) {
    QByteArray pixels;
    for (int line = lines - 1; line >= 0; --line) {
        QByteArray row;
        for (int column = 0; column < columns; ++column) {
            row.append(static_cast<char>(index(column, line)));
        }
        if (!runLength) {
            pixels += row + QByteArray((4 - columns % 4) % 4, '\0');
            continue;
        }
        for (int at = 0; at < row.size();) {  // runs of one index, then end of line
            int run = 1;
            while (at + run < row.size() && run < 255 && row[at + run] == row[at]) {
                ++run;
            }
            pixels.append(static_cast<char>(run)).append(row[at]);
            at += run;
        }
        pixels.append('\0').append('\0');
    }
    if (runLength) {
        pixels.append('\0').append('\1');
    }
    const auto le = [](QByteArray& out, quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
        }
    };
    const auto offset = static_cast<quint32>(54 + 4 * colours);
    QByteArray file("BM");
    le(file, offset + static_cast<quint32>(pixels.size()), 4);
    le(file, 0, 4);
    le(file, offset, 4);
    for (const quint32 field : {40u, quint32(columns), quint32(lines)}) {
        le(file, field, 4);
    }
    le(file, 1, 2);
    le(file, 8, 2);
    for (const quint32 field :
         {runLength ? 1u : 0u, quint32(pixels.size()), 2835u, 2835u, quint32(colours), 0u}) {
        le(file, field, 4);
    }
    for (int i = 0; i < colours; ++i) {
        const auto gray = static_cast<quint32>(i * step);
        le(file, gray | gray << 8 | gray << 16, 4);
    }
    return file + pixels;
}

Qt::CursorShape ScreenCursor() {
    return QApplication::overrideCursor() != nullptr ? QApplication::overrideCursor()->shape()
                                                     : Qt::BitmapCursor;
}

struct StateSnapshot {
    int lines, columns;
    QString fileName, path, caption, directory, descriptor;
    const std::uint8_t* source;
    const std::uint8_t* result;

    static StateSnapshot Take() {
        return {MainForm->ImageLines,
                MainForm->ImageColumns,
                MainForm->ImageFileName,
                MainForm->ImagePath,
                MainForm->ImageCaption,
                MainForm->ImageDirectory,
                MainForm->DescriptorFileName,
                MainForm->SourceRows.Bytes().data(),
                MainForm->ResultRows.Bytes().data()};
    }
};

}  // namespace

class OpenTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        windows_.emplace(CreateApplicationWindows());
        dir_.emplace();
        QVERIFY(dir_->isValid());
    }
    void cleanup() {
        windows_.reset();
        dir_.reset();
    }

    void rawImageWithDescriptor_data() {
        QTest::addColumn<QByteArray>("descriptor");
        QTest::newRow("one line") << QByteArray("480 640");
        QTest::newRow("CR LF") << QByteArray("480\r\n640\r\n");
        QTest::newRow("five lines") << QByteArray("480\r\n640\r\n1\r\n0\r\n255\r\n");
        QTest::newRow("blanks and signs") << QByteArray("\t +480\n  640 trailing words");
    }

    void rawImageWithDescriptor() {
        QFETCH(QByteArray, descriptor);
        const QString image = dir_->filePath(QStringLiteral("scene.raw"));
        QVERIFY(WriteBytes(image, PatternBytes(640, 480)));
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("scene.txt")), descriptor));

        QVERIFY(Open({ChooseFile(image, kRaw)}));
        QCOMPARE(MainForm->ImageLines, 480);
        QCOMPARE(MainForm->ImageColumns, 640);
        QVERIFY(HoldsPattern(640, 480));
        QCOMPARE(MainForm->ResultRows.Lines(), 480);
        QCOMPARE(MainForm->ResultRows.Columns(), 640);
        QVERIFY(AllZero(MainForm->ResultRows));
        QCOMPARE(MainForm->ImageFileName, image);
        QCOMPARE(MainForm->ImagePath, image);
        QCOMPARE(MainForm->ImageDirectory, dir_->path());
        QCOMPARE(MainForm->DescriptorFileName, dir_->filePath(QStringLiteral("scene.txt")));
        QCOMPARE(MainForm->ImageCaption, QStringLiteral(" 1.- ") + image);
        QCOMPARE(ImageForm->CaptionText, MainForm->ImageCaption);
        QCOMPARE(ImageForm->Caption(), MainForm->ImageCaption);
        QVERIFY(ImageForm->DisplayBitmap() != nullptr);
        QCOMPARE(ImageForm->DisplayBitmap()->size(), QSize(640, 480));
        QCOMPARE(qGray(ImageForm->DisplayBitmap()->pixel(5, 3)), Tone(5, 3));
        QCOMPARE(ScreenCursor(), Qt::ArrowCursor);
    }

    // No descriptor: the size is asked for, under the hour-glass, and written
    // down so the next open does not ask.
    void sizeDialogThenDescriptor() {
        const QString image = dir_->filePath(QStringLiteral("scene.raw"));
        QVERIFY(WriteBytes(image, PatternBytes(640, 480)));
        QString title, note;
        Qt::CursorShape cursor = Qt::BitmapCursor;
        QList<int> linesWhileTyping;
        QVERIFY(Open({ChooseFile(image, kRaw), [&](QWidget* w) {
                          title = w->windowTitle();
                          note = w->findChild<QLabel*>(QStringLiteral("Label1"))->text();
                          cursor = ScreenCursor();
                          QTest::keyClicks(ImageSizeForm->NumLineEdit(), QStringLiteral("48"));
                          linesWhileTyping << ImageSizeForm->PendingSize().Lines << MainForm->ImageLines;
                          QTest::keyClick(ImageSizeForm->NumLineEdit(), '0');
                          TypeSize({}, QStringLiteral("640"))(w);
                      }}));
        QCOMPARE(title, QStringLiteral(" Image Size"));
        QCOMPARE(note, QStringLiteral("NOTA: Absence of a  descriptive File"));
        QCOMPARE(cursor, Qt::WaitCursor);
        // The typed value is pending; the working size changes only once read.
        QCOMPARE(linesWhileTyping, (QList<int>{48, 0}));
        QCOMPARE(MainForm->ImageLines, 480);
        QCOMPARE(MainForm->ImageColumns, 640);
        QVERIFY(HoldsPattern(640, 480));
        QCOMPARE(ReadAll(dir_->filePath(QStringLiteral("scene.txt"))), QByteArray("480\r\n640\r\n"));

        MainForm->ImageLines = 1;  // the next open must take the size from the file
        QVERIFY(Open({ChooseFile(image, kRaw)}));
        QCOMPARE(MainForm->ImageLines, 480);
        QCOMPARE(ScreenCursor(), Qt::ArrowCursor);
    }

    void sizeDialogLayout() {
        TImageSizeForm* form = ImageSizeForm;
        QCOMPARE(form->size(), QSize(214, 213));
        QCOMPARE(form->pos(), QPoint(661, 200));
        auto* group = form->findChild<QGroupBox*>(QStringLiteral("GroupBox1"));
        QVERIFY(group != nullptr);
        QCOMPARE(group->title(), QStringLiteral("SIZE"));
        QCOMPARE(group->geometry(), QRect(8, 32, 185, 105));
        QCOMPARE(form->NumLineEdit()->parentWidget(), group);
        QCOMPARE(form->NumLineEdit()->geometry(), QRect(72, 24, 57, 21));
        QCOMPARE(form->NumColEdit()->geometry(), QRect(72, 56, 57, 21));
        QCOMPARE(form->findChild<QLabel*>(QStringLiteral("Label2"))->text(), QStringLiteral("lines"));
        QCOMPARE(form->findChild<QLabel*>(QStringLiteral("Label3"))->text(), QStringLiteral("columns"));
        QCOMPARE(form->findChild<QPushButton*>(QStringLiteral("BitBtn1"))->geometry(),
                 QRect(120, 144, 75, 25));
        QVERIFY(form->NumLineEdit()->text().isEmpty());
    }

    // An edit left untouched keeps the previous image's value, and the edits
    // show what was typed at the previous showing.
    void untouchedEditsKeepThePreviousSize() {
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("a.raw")), PatternBytes(4, 3)));
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("a.txt")), "3 4"));
        QVERIFY(Open({ChooseFile(dir_->filePath(QStringLiteral("a.raw")), kRaw)}));

        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("b.raw")), PatternBytes(4, 3)));
        QVERIFY(Open({ChooseFile(dir_->filePath(QStringLiteral("b.raw")), kRaw), TypeSize({}, {})}));
        QCOMPARE(MainForm->ImageLines, 3);
        QCOMPARE(MainForm->ImageColumns, 4);
        QCOMPARE(ReadAll(dir_->filePath(QStringLiteral("b.txt"))), QByteArray("3\r\n4\r\n"));

        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("c.raw")), PatternBytes(2, 3)));
        QVERIFY(Open(
            {ChooseFile(dir_->filePath(QStringLiteral("c.raw")), kRaw), TypeSize({}, QStringLiteral("2"))}));
        QCOMPARE(MainForm->ImageLines, 3);
        QCOMPARE(MainForm->ImageColumns, 2);

        QString shownColumns;
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("d.raw")), PatternBytes(2, 3)));
        QVERIFY(Open({ChooseFile(dir_->filePath(QStringLiteral("d.raw")), kRaw), [&](QWidget* w) {
                          shownColumns = ImageSizeForm->NumColEdit()->text();
                          TypeSize({}, {})(w);
                      }}));
        QCOMPARE(shownColumns, QStringLiteral("2"));
    }

    // A file and its size that disagree: a short file is asked about before
    // anything is allocated, a long one (or an empty size) is named in the
    // status line, and a file that fits says nothing.
    void fileAndSizeThatDisagree_data() {
        QTest::addColumn<int>("fileBytes");
        QTest::addColumn<QByteArray>("descriptor");
        QTest::addColumn<int>("answer");  // the button pressed, 0 when nothing is asked
        QTest::addColumn<QString>("said");
        QTest::newRow("short, opened")
            << 5 << QByteArray("4 4") << int(QMessageBox::Yes)
            << "s.raw holds 5 bytes; its descriptor describes 4 \u00d7 4 (16 bytes)";
        QTest::newRow("one byte") << 1 << QByteArray("4 4") << int(QMessageBox::Yes)
                                  << "s.raw holds 1 byte; its descriptor";
        QTest::newRow("empty file") << 0 << QByteArray("4 4") << int(QMessageBox::Yes) << "holds 0 bytes";
        QTest::newRow("short, declined") << 5 << QByteArray("4 4") << int(QMessageBox::No) << "holds 5 bytes";
        QTest::newRow("typed size") << 5 << QByteArray() << int(QMessageBox::Yes)
                                    << "s.raw holds 5 bytes; the size typed describes 4 \u00d7 4";
        QTest::newRow("long")
            << 20 << QByteArray("4 4") << 0
            << "s.raw holds 20 bytes; its descriptor describes 4 \u00d7 4 (16 bytes): the rest";
        QTest::newRow("0 0 beside a full file")
            << 16 << QByteArray("0 0") << 0 << "holds 16 bytes; its descriptor describes 0 \u00d7 0";
        QTest::newRow("exact") << 16 << QByteArray("4 4") << 0 << QString();
    }

    void fileAndSizeThatDisagree() {
        QFETCH(int, fileBytes);
        QFETCH(QByteArray, descriptor);
        QFETCH(int, answer);
        QFETCH(QString, said);
        const QString image = dir_->filePath(QStringLiteral("s.raw"));
        QVERIFY(WriteBytes(image, PatternBytes(4, 5).left(fileBytes)));
        if (!descriptor.isNull()) {
            QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("s.txt")), descriptor));
        }
        std::vector<ModalScript::Step> steps{ChooseFile(image, kRaw)};
        if (descriptor.isNull()) {
            steps.push_back(TypeSize(QStringLiteral("4"), QStringLiteral("4")));
        }
        SeenMessage question;
        if (answer != 0) {
            steps.push_back(Answer(question, QMessageBox::StandardButton(answer)));
        }
        if (answer == QMessageBox::No) {
            steps.push_back(CancelDialog());  // declined: the open dialog comes back
        }
        QVERIFY(Open(std::move(steps)));
        QCOMPARE(question.Seen, answer != 0);
        if (answer == QMessageBox::No) {
            QVERIFY(question.Text.contains(said));
            QVERIFY(MainForm->SourceRows.Empty());
            QVERIFY(ImageForm->DisplayBitmap() == nullptr);
            return;
        }
        const QString status = MainForm->StatusBar->currentMessage();
        QVERIFY2(said.isEmpty() ? status.isEmpty() : status.contains(said), qPrintable(status));
        if (answer != 0) {
            QVERIFY2(
                question.Text.contains(said) && question.Text.endsWith(QStringLiteral("Open it anyway?")),
                qPrintable(question.Text));
            QVERIFY(status.endsWith(QStringLiteral("the missing pixels are black.")));
        }
        const kavel::ByteMatrix& rows = MainForm->SourceRows;
        for (int k = 0; k < static_cast<int>(rows.PixelCount()); ++k) {
            const int line = k / std::max(rows.Columns(), 1);
            const int column = k % std::max(rows.Columns(), 1);
            QCOMPARE(rows[line][column], k < fileBytes ? Tone(column, line) : 0);
        }
        QCOMPARE(ScreenCursor(), Qt::ArrowCursor);
    }

    // The third entry: files the two others refuse or do not take, converted
    // in process to what kavel-cli import writes for them and to the tones
    // they hold, then opened as a bitmap is; the bitmap entry's refusal of
    // the same file names the third entry.
    void otherImagesAreConverted_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("cautioned");  // by the bitmap entry, before it names the third one
        const auto tone = [](int column, int line) { return int(Tone(column, line)); };
        QTest::newRow("run-length 8-bit bitmap")
            << "rle.bmp" << OtherBitmap(37, 23, 256, 1, true, tone) << false;
        QTest::newRow("10-entry palette")
            << "short.bmp" << OtherBitmap(37, 23, 10, 25, false, [](int c, int l) { return Tone(c, l) % 10; })
            << false;
        QImage gray(37, 23, QImage::Format_Grayscale8);
        QImage deep(37, 23, QImage::Format_Grayscale16);
        QImage colour(37, 23, QImage::Format_RGB32);
        for (int line = 0; line < 23; ++line) {
            for (int column = 0; column < 37; ++column) {
                gray.scanLine(line)[column] = Tone(column, line);
                reinterpret_cast<quint16*>(deep.scanLine(line))[column] = quint16(Tone(column, line) * 257);
                colour.setPixel(column, line, qRgb(Tone(column, line), 0, 255 - Tone(column, line)));
            }
        }
        for (const auto& [name, image, format] : {std::tuple{"gray.png", gray, "PNG"},
                                                  {"deep.tif", deep, "TIFF"},
                                                  {"colour.bmp", colour, "BMP"}}) {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            QVERIFY(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, format));
            QTest::newRow(name) << name << bytes << (QByteArrayView(format) == "BMP");
        }
    }

    void otherImagesAreConverted() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(bool, cautioned);
        const QString image = dir_->filePath(name);
        QVERIFY(WriteBytes(image, content));
        const QString imported = dir_->filePath(QStringLiteral("imported.raw"));
        QProcess cli;
        cli.start(QStringLiteral(KAVEL_CLI_PATH),
                  {QStringLiteral("import"), image, QStringLiteral("-o"), imported});
        QVERIFY(cli.waitForFinished(60000));
        QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());

        QVERIFY(Open({ChooseFile(image, kOther)}));
        const kavel::ByteMatrix& rows = MainForm->SourceRows;
        QCOMPARE(QSize(rows.Columns(), rows.Lines()), QSize(37, 23));
        QCOMPARE(QSize(MainForm->ImageColumns, MainForm->ImageLines), QSize(37, 23));
        const QByteArray opened(reinterpret_cast<const char*>(rows.Bytes().data()),
                                qsizetype(rows.PixelCount()));
        QCOMPARE(opened, ReadAll(imported));
        for (int line = 0; line < 23; ++line) {
            for (int column = 0; column < 37; ++column) {
                const int t = Tone(column, line);
                int expected = t;
                if (name == QStringLiteral("short.bmp")) {
                    expected = t % 10 * 25;
                } else if (name == QStringLiteral("colour.bmp")) {
                    expected = (19595 * t + 7471 * (255 - t) + 32768) >> 16;  // luminance of (t, 0, 255 - t)
                }
                QCOMPARE(int(rows[line][column]), expected);
            }
        }
        QCOMPARE(ImageForm->Caption(), QStringLiteral(" 1.- ") + image);
        QVERIFY(ImageForm->DisplayBitmap() != nullptr);
        QVERIFY(AllZero(MainForm->ResultRows) && MainForm->ResultRows.PixelCount() == rows.PixelCount());
        QVERIFY2(MainForm->StatusBar->currentMessage().contains(QStringLiteral("converted to 8-bit gray")),
                 qPrintable(MainForm->StatusBar->currentMessage()));

        // The bitmap entry keeps its rules, and says where such a file opens.
        if (!name.endsWith(QStringLiteral(".bmp"))) {
            return;
        }
        SeenMessage caution;
        SeenMessage named;
        std::vector<ModalScript::Step> steps{ChooseFile(image, kBmp)};
        if (cautioned) {
            steps.push_back(ReadMessage(caution));
        }
        steps.push_back(ReadMessage(named));
        steps.push_back(CancelDialog());
        QVERIFY(Open(std::move(steps)));
        QCOMPARE(caution.Title, cautioned ? QStringLiteral("CAUTION") : QString());
        QVERIFY2(named.Text.contains(QStringLiteral("\"Other images (converted to 8-bit gray)\"")),
                 qPrintable(named.Text));
    }

    // Bitmaps are judged by their depth: 8-bit ones open at any size, small
    // ones included; a bitmap open leaves the raw image's folder alone.
    void eightBitBitmapsOpen_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("640 x 480") << 640 << 480;
        QTest::newRow("32 x 32") << 32 << 32;
        QTest::newRow("4 x 269") << 4 << 269;
        QTest::newRow("1 x 1") << 1 << 1;
    }

    void eightBitBitmapsOpen() {
        QFETCH(int, width);
        QFETCH(int, height);
        MainForm->ImageDirectory = QStringLiteral("/raw/folder");
        const QString image = dir_->filePath(QStringLiteral("picture.bmp"));
        QVERIFY(WriteBitmap8(image, width, height));
        QVERIFY(Open({ChooseFile(image, kBmp)}));
        QCOMPARE(MainForm->ImageLines, height);
        QCOMPARE(MainForm->ImageColumns, width);
        QVERIFY(HoldsPattern(width, height));
        QCOMPARE(MainForm->ResultRows.Lines(), height);
        QCOMPARE(MainForm->ImageDirectory, QStringLiteral("/raw/folder"));
        QVERIFY(MainForm->DescriptorFileName.isEmpty());
        QCOMPARE(ImageForm->Caption(), QStringLiteral(" 1.- ") + image);
    }

    // A 24-bit bitmap: arrow, CAUTION without owner, the dialog again; the
    // names recorded stay, the image and sizes do not change.
    void trueColourBitmapIsRefused() {
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("a.raw")), PatternBytes(4, 3)));
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("a.txt")), "3 4"));
        QVERIFY(Open({ChooseFile(dir_->filePath(QStringLiteral("a.raw")), kRaw)}));
        const StateSnapshot before = StateSnapshot::Take();

        const QString image = dir_->filePath(QStringLiteral("colour.bmp"));
        QVERIFY(WriteBitmap24(image, 640, 480));
        SeenMessage caution;
        SeenMessage named;  // after the box, the entry that opens the file
        Qt::CursorShape cursor = Qt::BitmapCursor;
        bool dialogAgain = false;
        QVERIFY(Open({ChooseFile(image, kBmp),
                      [&](QWidget* w) {
                          cursor = ScreenCursor();
                          ReadMessage(caution)(w);
                      },
                      ReadMessage(named),
                      [&](QWidget* w) {
                          dialogAgain = w == MainForm->OpenPictureDialog;
                          CancelDialog()(w);
                      }}));
        QCOMPARE(caution.Title, QStringLiteral("CAUTION"));
        QCOMPARE(caution.Text, QStringLiteral("This program does not take into account RBV Bitmap"));
        QCOMPARE(caution.Owner, nullptr);
        QCOMPARE(caution.Buttons, 1);
        QVERIFY2(named.Text.contains(QStringLiteral("\"Other images (converted to 8-bit gray)\"")),
                 qPrintable(named.Text));
        QCOMPARE(cursor, Qt::ArrowCursor);
        QVERIFY(dialogAgain);
        QCOMPARE(ScreenCursor(), Qt::ArrowCursor);
        QCOMPARE(MainForm->ImageLines, before.lines);
        QCOMPARE(MainForm->ImageColumns, before.columns);
        QCOMPARE(MainForm->SourceRows.Bytes().data(), before.source);
        QCOMPARE(MainForm->ResultRows.Bytes().data(), before.result);
        QVERIFY(HoldsPattern(4, 3));
        QCOMPARE(MainForm->ImageFileName, image);
        QCOMPARE(MainForm->ImageCaption, QStringLiteral(" 1.- ") + image);
        QCOMPARE(MainForm->ImageDirectory, before.directory);
    }

    // Files the open cannot use: a message with the file and the reason, the
    // dialog again, and the image, its sizes and its matrices as they were.
    void unusableFilesChangeNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("descriptor");  // null: none written
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("named");  // the file the message names
        QTest::newRow("raw chosen as bitmap")
            << "scene.raw" << PatternBytes(8, 8) << QByteArray() << kBmp << "scene.raw";
        QTest::newRow("truncated bitmap")
            << "cut.bmp" << QByteArray("BM\x10\0\0\0", 6) << QByteArray() << kBmp << "cut.bmp";
        QTest::newRow("descriptor of words")
            << "w.raw" << PatternBytes(2, 2) << QByteArray("lines columns") << kRaw << "w.txt";
        QTest::newRow("negative size")
            << "n.raw" << PatternBytes(2, 2) << QByteArray("-2 2") << kRaw << "n.txt";
        QTest::newRow("too large") << "big.raw" << PatternBytes(2, 2) << QByteArray("100000 100000") << kRaw
                                   << "big.txt";
        QTest::newRow("one number") << "one.raw" << PatternBytes(2, 2) << QByteArray("12") << kRaw
                                    << "one.txt";
    }

    void unusableFilesChangeNothing() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, descriptor);
        QFETCH(QString, filter);
        QFETCH(QString, named);
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("a.raw")), PatternBytes(4, 3)));
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("a.txt")), "3 4"));
        QVERIFY(Open({ChooseFile(dir_->filePath(QStringLiteral("a.raw")), kRaw)}));
        const StateSnapshot before = StateSnapshot::Take();

        const QString image = dir_->filePath(name);
        QVERIFY(WriteBytes(image, content));
        if (!descriptor.isNull()) {
            QVERIFY(WriteBytes(dir_->filePath(QFileInfo(name).completeBaseName() + ".txt"), descriptor));
        }
        SeenMessage message;
        QVERIFY(Open({ChooseFile(image, filter), ReadMessage(message), CancelDialog()}));
        QVERIFY2(message.Text.contains(dir_->filePath(named)), qPrintable(message.Text));
        QVERIFY2(message.Text.section(QLatin1Char('\n'), 1).trimmed().size() > 0, qPrintable(message.Text));
        if (name == QStringLiteral("big.raw")) {  // what such a size would need
            QVERIFY2(
                message.Text.contains(QStringLiteral("100000 lines and 100000 columns would need 27.9 GB")),
                qPrintable(message.Text));
        }
        QCOMPARE(MainForm->ImageLines, before.lines);
        QCOMPARE(MainForm->ImageColumns, before.columns);
        QCOMPARE(MainForm->SourceRows.Bytes().data(), before.source);
        QCOMPARE(MainForm->ResultRows.Bytes().data(), before.result);
        QCOMPARE(ImageForm->DisplayBitmap()->size(), QSize(4, 3));
        QCOMPARE(ScreenCursor(), Qt::ArrowCursor);
    }

    // A named pipe blocks a plain open for ever: refused at once, with either
    // filter and with or without a descriptor, before any size question.
    void pipesAreRefusedWithoutWaiting_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("descriptor");
        QTest::newRow("raw") << kRaw << false;
        QTest::newRow("raw with descriptor") << kRaw << true;
        QTest::newRow("bitmap") << kBmp << false;
    }
    void pipesAreRefusedWithoutWaiting() {
        QFETCH(QString, filter);
        QFETCH(bool, descriptor);
        const QString pipe = dir_->filePath(QStringLiteral("pipe.raw"));
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
        if (descriptor) {
            QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("pipe.txt")), "2 2"));
        }
        SeenMessage message;
        QVERIFY(Open({ChooseFile(pipe, filter), ReadMessage(message), CancelDialog()}));
        QVERIFY2(message.Text.contains(QStringLiteral("named pipe")), qPrintable(message.Text));
        QVERIFY(!QFileInfo::exists(dir_->filePath(QStringLiteral("pipe.txt"))) || descriptor);
    }

    // SCENE.RAW beside SCENE.TXT opens without asking, and no second
    // descriptor is written.
    void upperCaseDescriptorIsFound() {
        const QString image = dir_->filePath(QStringLiteral("SCENE.RAW"));
        QVERIFY(WriteBytes(image, PatternBytes(4, 3)));
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("SCENE.TXT")),
                           "\xEF\xBB\xBF"
                           "3 4"));
        QVERIFY(Open({ChooseFile(image, kRaw)}));
        QVERIFY(HoldsPattern(4, 3));
        QCOMPARE(MainForm->DescriptorFileName, dir_->filePath(QStringLiteral("SCENE.TXT")));
        QCOMPARE(QDir(dir_->path()).entryList(QDir::Files).size(), 2);
    }

    // An 8-bit bitmap whose palette is gray but not the ramp (as ImageMagick
    // writes them) opens with the palette's tones; 24-bit files with another
    // header or offset still get the CAUTION box.
    void grayPaletteIsAppliedAndEveryTwentyFourBitFileIsCautioned() {
        const QString image = dir_->filePath(QStringLiteral("palette.bmp"));
        kavel::Palette reversed{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            reversed[i] = (255 - i) * 0x010101u;
        }
        QVERIFY(kavel::WriteBitmapFile(ToPath(image), Pattern(40, 40), kavel::PixelKind::Paletted, &reversed)
                    .ok());
        QVERIFY(Open({ChooseFile(image, kBmp)}));
        for (int i = 0; i < 40; ++i) {
            for (int j = 0; j < 40; ++j) {
                QCOMPARE(int(MainForm->SourceRows[i][j]), 255 - Tone(j, i));
            }
        }

        QByteArray colour = ReadAll(image);  // now as 24 bits with the palette still in
        colour[28] = 24;
        kavel::ByteMatrix rgb = Pattern(120, 40);
        std::string rows(reinterpret_cast<const char*>(rgb.Bytes().data()), rgb.PixelCount());
        colour = colour.left(1078) + QByteArray::fromStdString(rows);
        const QString colourName = dir_->filePath(QStringLiteral("colour.bmp"));
        QVERIFY(WriteBytes(colourName, colour));
        SeenMessage caution;
        SeenMessage named;
        QVERIFY(
            Open({ChooseFile(colourName, kBmp), ReadMessage(caution), ReadMessage(named), CancelDialog()}));
        QVERIFY(named.Text.contains(QStringLiteral("Other images")));
        QCOMPARE(caution.Title, QStringLiteral("CAUTION"));
        QCOMPARE(caution.Text, QStringLiteral("This program does not take into account RBV Bitmap"));
    }

    // A size typed into the dialog that is no image size: refused before the
    // descriptor is written, the working size untouched.
    void impossibleTypedSizeIsRefused() {
        const QString image = dir_->filePath(QStringLiteral("t.raw"));
        QVERIFY(WriteBytes(image, PatternBytes(2, 2)));
        SeenMessage message;
        QVERIFY(Open({ChooseFile(image, kRaw), TypeSize(QStringLiteral("-5"), QStringLiteral("3")),
                      ReadMessage(message), CancelDialog()}));
        QVERIFY(message.Seen);
        QCOMPARE(MainForm->ImageLines, 0);
        QCOMPARE(MainForm->ImageColumns, 0);
        QVERIFY(MainForm->SourceRows.Empty());
        QVERIFY(!QFile::exists(dir_->filePath(QStringLiteral("t.txt"))));
    }

    // The descriptor cannot be written: the image opens with the typed size
    // and the user is told.
    void unwritableDescriptorStillOpens() {
        const QString image = dir_->filePath(QStringLiteral("u.raw"));
        QVERIFY(WriteBytes(image, PatternBytes(3, 2)));
        QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("u.txt")));  // a folder where the file should go
        SeenMessage message;
        QVERIFY(Open({ChooseFile(image, kRaw), TypeSize(QStringLiteral("2"), QStringLiteral("3")),
                      ReadMessage(message)}));
        QVERIFY2(message.Text.contains(dir_->filePath(QStringLiteral("u.txt"))), qPrintable(message.Text));
        QCOMPARE(MainForm->ImageLines, 2);
        QCOMPARE(MainForm->ImageColumns, 3);
        QVERIFY(HoldsPattern(3, 2));
    }

    void cancelChangesNothing() {
        MainForm->ImageLines = 0;
        QVERIFY(Open({CancelDialog()}));
        QVERIFY(MainForm->ImageFileName.isEmpty());
        QVERIFY(MainForm->ImageCaption.isEmpty());
        QVERIFY(ImageForm->DisplayBitmap() == nullptr);
    }

    // Names far beyond 128 characters are kept whole.
    void longNamesAreKeptWhole() {
        QString folder = dir_->path();
        for (int k = 0; k < 3; ++k) {
            folder += QLatin1Char('/') + QString(60, QChar(u'a' + k));
        }
        QVERIFY(QDir().mkpath(folder));
        const QString image =
            folder + QLatin1Char('/') + QString(100, QLatin1Char('z')) + QStringLiteral(".raw");
        QVERIFY(WriteBytes(image, PatternBytes(2, 2)));
        QVERIFY(WriteBytes(
            folder + QLatin1Char('/') + QString(100, QLatin1Char('z')) + QStringLiteral(".txt"), "2 2"));
        QVERIFY(Open({ChooseFile(image, kRaw)}));
        QCOMPARE(MainForm->ImageCaption, QStringLiteral(" 1.- ") + image);
        QCOMPARE(ImageForm->Caption(), QStringLiteral(" 1.- ") + image);
        QCOMPARE(MainForm->ImageDirectory, folder);
        QVERIFY(HoldsPattern(2, 2));
    }

    // The first open starts among the samples (or at home); later ones stay
    // where the user was.
    void openDialogFolder() {
        QTemporaryDir other;
        const QStringList candidates = {dir_->filePath(QStringLiteral("missing")), other.path(),
                                        dir_->path()};
        QCOMPARE(FirstExistingFolder(candidates, QStringLiteral("/home")), other.path());
        QCOMPARE(FirstExistingFolder({dir_->filePath(QStringLiteral("missing"))}, QStringLiteral("/home")),
                 QStringLiteral("/home"));
        const QStringList defaults = ImageFolderCandidates(QStringLiteral("/opt/kavel/bin"));
        // Only the folder beside the program: no build or install path is compiled in.
#ifdef Q_OS_WIN
        QCOMPARE(defaults, QStringList({QStringLiteral("C:\\images"),
                                        QStringLiteral("/opt/kavel/share/kavel/samples")}));
#else
        QCOMPARE(defaults, QStringList{QStringLiteral("/opt/kavel/share/kavel/samples")});
#endif
        QVERIFY(QFileInfo(DefaultImageFolder()).isDir());

        QString first;
        QVERIFY(Open({[&](QWidget* w) {
            first = qobject_cast<QFileDialog*>(w)->directory().absolutePath();
            CancelDialog()(w);
        }}));
        QCOMPARE(first, QDir(DefaultImageFolder()).absolutePath());

        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("a.raw")), PatternBytes(1, 1)));
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("a.txt")), "1 1"));
        QVERIFY(Open({ChooseFile(dir_->filePath(QStringLiteral("a.raw")), kRaw)}));
        QString second;
        QVERIFY(Open({[&](QWidget* w) {
            second = qobject_cast<QFileDialog*>(w)->directory().absolutePath();
            CancelDialog()(w);
        }}));
        QCOMPARE(second, QDir(dir_->path()).absolutePath());
    }

    // A new image replaces both matrices; the result of the previous one is gone.
    void newImageReplacesTheResult() {
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("a.raw")), PatternBytes(4, 3)));
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("a.txt")), "3 4"));
        QVERIFY(Open({ChooseFile(dir_->filePath(QStringLiteral("a.raw")), kRaw)}));
        MainForm->ResultRows[0][0] = 9;
        QVERIFY(WriteBitmap8(dir_->filePath(QStringLiteral("b.bmp")), 5, 6));
        QVERIFY(Open({ChooseFile(dir_->filePath(QStringLiteral("b.bmp")), kBmp)}));
        QCOMPARE(MainForm->ResultRows.Lines(), 6);
        QCOMPARE(MainForm->ResultRows.Columns(), 5);
        QVERIFY(AllZero(MainForm->ResultRows));
    }

private:
    std::optional<ApplicationWindows> windows_;
    std::optional<QTemporaryDir> dir_;
};

QTEST_MAIN(OpenTest)
#include "tst_open.moc"
