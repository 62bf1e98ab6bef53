// Saving the result through the real save dialog, reopening what was saved,
// and saves that fail.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <optional>

#include "dialogdriver.h"
#include "file_size_limit.h"
#include "imagewindow.h"
#include "kavel/bitmap.h"
#include "kavelapplication.h"
#include "mainwindow.h"
#include "testimages.h"

namespace {

const QString kRawResult = QStringLiteral("Raster Images [*.raw]");
const QString kBmpResult = QStringLiteral("Bitmaps [*.bmp]");
const QString kRaw = QStringLiteral("Raw Image [*.raw]");
const QString kBmp = QStringLiteral("Bitmap [*.bmp]");

// An opened image of the given size whose result holds a pattern.
void PutResult(int columns, int lines) {
    MainForm->SourceRows = kavel::AllocateByteMatrix(columns, lines).value();
    kavel::ByteMatrix result = kavel::AllocateByteMatrix(columns, lines).value();
    for (int i = 0; i < lines; ++i) {
        for (int j = 0; j < columns; ++j) {
            result[i][j] = Tone(j, i);
        }
    }
    MainForm->ResultRows = std::move(result);
    MainForm->ImageLines = lines;
    MainForm->ImageColumns = columns;
}

bool Save(const QString& name, const QString& filter, SeenMessage* message = nullptr) {
    std::vector<ModalScript::Step> steps = {ChooseFile(name, filter)};
    if (message != nullptr) {
        steps.push_back(ReadMessage(*message));
    }
    ModalScript script(std::move(steps));
    MainForm->SaveResult();
    return script.Done();
}

// Opens with only the file dialog: any size question or message fails it.
bool OpenWithoutQuestion(const QString& name, const QString& filter) {
    ModalScript script({ChooseFile(name, filter)});
    MainForm->OpenImage();
    return script.Done();
}

bool SourceHoldsPattern(int columns, int lines) {
    const kavel::ByteMatrix& rows = MainForm->SourceRows;
    if (rows.Lines() != lines || rows.Columns() != columns) {
        return false;
    }
    const QByteArray expected = PatternBytes(columns, lines);
    return std::equal(rows.Bytes().begin(), rows.Bytes().end(),
                      reinterpret_cast<const std::uint8_t*>(expected.constData()));
}

const QByteArray kDescriptor480x640("480\r\n640\r\n1\r\n0\r\n255\r\n");

}  // namespace

class SaveTest : public QObject {
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

    // Raw: N.raw with the pixels, N.txt with five lines; nothing shown; the
    // result opens again without a size question.
    void rawResultAndItsDescriptor() {
        PutResult(640, 480);
        MainForm->ImageDirectory = dir_->path();
        QString startedIn;
        {
            ModalScript script({[&](QWidget* w) {
                startedIn = qobject_cast<QFileDialog*>(w)->directory().absolutePath();
                ChooseFile(dir_->filePath(QStringLiteral("result")), kRawResult)(w);
            }});
            MainForm->SaveResult();
            QVERIFY(script.Done());
        }
        QCOMPARE(startedIn, QDir(dir_->path()).absolutePath());
        const QByteArray pixels = ReadAll(dir_->filePath(QStringLiteral("result.raw")));
        QCOMPARE(pixels.size(), 307200);
        QVERIFY(pixels == PatternBytes(640, 480));
        QCOMPARE(ReadAll(dir_->filePath(QStringLiteral("result.txt"))), kDescriptor480x640);
        QVERIFY(!QFile::exists(dir_->filePath(QStringLiteral("result"))));
        QCOMPARE(MainForm->ImageFileName, dir_->filePath(QStringLiteral("result")));
        QCOMPARE(MainForm->SavePath, dir_->filePath(QStringLiteral("result.raw")));
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);

        QVERIFY(OpenWithoutQuestion(dir_->filePath(QStringLiteral("result.raw")), kRaw));
        QVERIFY(SourceHoldsPattern(640, 480));
    }

    // The extension is appended whatever the name ends with, and the open of
    // the doubled name finds its descriptor.
    void doubleExtensionsStillReopen() {
        PutResult(5, 3);
        QVERIFY(Save(dir_->filePath(QStringLiteral("scene.raw")), kRawResult));
        QVERIFY(QFile::exists(dir_->filePath(QStringLiteral("scene.raw.raw"))));
        QCOMPARE(ReadAll(dir_->filePath(QStringLiteral("scene.raw.txt"))),
                 QByteArray("3\r\n5\r\n1\r\n0\r\n255\r\n"));
        QVERIFY(!QFile::exists(dir_->filePath(QStringLiteral("scene.raw"))));
        QVERIFY(OpenWithoutQuestion(dir_->filePath(QStringLiteral("scene.raw.raw")), kRaw));
        QVERIFY(SourceHoldsPattern(5, 3));
    }

    // An 8-bit bitmap, bottom line first in the file; small results reopen too.
    void bitmapResult_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("columns");
        QTest::newRow("480 x 640") << 480 << 640;
        QTest::newRow("32 x 32") << 32 << 32;
        QTest::newRow("269 x 4") << 269 << 4;
    }

    void bitmapResult() {
        QFETCH(int, lines);
        QFETCH(int, columns);
        PutResult(columns, lines);
        const QString name = dir_->filePath(QStringLiteral("result"));
        QVERIFY(Save(name + QStringLiteral(".bmp"), kBmpResult));
        const QString file = name + QStringLiteral(".bmp.bmp");
        QCOMPARE(MainForm->SavePath, file);
        const QByteArray bytes = ReadAll(file);
        const int stride = (columns + 3) / 4 * 4;
        QCOMPARE(bytes.size(), 1078 + stride * lines);
        QCOMPARE(static_cast<int>(bytes[28]), 8);
        QCOMPARE(static_cast<std::uint8_t>(bytes[1078 + 1]), Tone(1, lines - 1));
        QCOMPARE(static_cast<std::uint8_t>(bytes[54 + 4 * 200]), 200);  // the gray ramp

        QVERIFY(OpenWithoutQuestion(file, kBmp));
        QVERIFY(SourceHoldsPattern(columns, lines));
    }

    // Before any image: an empty raw file with its 0 x 0 descriptor, or a
    // bitmap of header and palette alone.
    void beforeAnyImage() {
        QVERIFY(Save(dir_->filePath(QStringLiteral("none")), kRawResult));
        QCOMPARE(ReadAll(dir_->filePath(QStringLiteral("none.raw"))), QByteArray());
        QCOMPARE(ReadAll(dir_->filePath(QStringLiteral("none.txt"))),
                 QByteArray("0\r\n0\r\n1\r\n0\r\n255\r\n"));
        QVERIFY(Save(dir_->filePath(QStringLiteral("none")), kBmpResult));
        QCOMPARE(ReadAll(dir_->filePath(QStringLiteral("none.bmp"))).size(), 1078);
    }

    // Right after an open, before any treatment, the result is all black.
    void afterAnOpenTheResultIsBlack() {
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("in.raw")), QByteArray(12, '\x7f')));
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("in.txt")), "3 4"));
        QVERIFY(OpenWithoutQuestion(dir_->filePath(QStringLiteral("in.raw")), kRaw));
        QVERIFY(Save(dir_->filePath(QStringLiteral("out")), kRawResult));
        QCOMPARE(ReadAll(dir_->filePath(QStringLiteral("out.raw"))), QByteArray(12, '\0'));
        QCOMPARE(ReadAll(dir_->filePath(QStringLiteral("out.txt"))),
                 QByteArray("3\r\n4\r\n1\r\n0\r\n255\r\n"));
    }

    void savingTwiceReplacesWithoutAQuestion() {
        PutResult(2, 2);
        QVERIFY(Save(dir_->filePath(QStringLiteral("twice")), kRawResult));
        PutResult(3, 1);
        QVERIFY(Save(dir_->filePath(QStringLiteral("twice")), kRawResult));
        QCOMPARE(ReadAll(dir_->filePath(QStringLiteral("twice.raw"))), PatternBytes(3, 1));
        QCOMPARE(ReadAll(dir_->filePath(QStringLiteral("twice.txt"))),
                 QByteArray("1\r\n3\r\n1\r\n0\r\n255\r\n"));
    }

    void cancelWritesNothing() {
        PutResult(2, 2);
        MainForm->ImageFileName = QStringLiteral("kept");
        ModalScript script({CancelDialog()});
        MainForm->SaveResult();
        QVERIFY(script.Done());
        QCOMPARE(MainForm->ImageFileName, QStringLiteral("kept"));
        QVERIFY(MainForm->SavePath.isEmpty());
        QVERIFY(QDir(dir_->path()).isEmpty());
    }

    // A folder that cannot be written: the message names the file and the reason.
    void unwritableFolderIsReported_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("extension");
        QTest::newRow("raw") << kRawResult << ".raw";
        QTest::newRow("bitmap") << kBmpResult << ".bmp";
    }

    void unwritableFolderIsReported() {
        QFETCH(QString, filter);
        QFETCH(QString, extension);
        PutResult(2, 2);
        QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("plain")), "not a folder"));
        SeenMessage message;
        QVERIFY(Save(dir_->filePath(QStringLiteral("plain/result")), filter, &message));
        QVERIFY(message.Seen);
        QVERIFY2(message.Text.contains(dir_->filePath(QStringLiteral("plain/result")) + extension),
                 qPrintable(message.Text));
        QVERIFY2(message.Text.section(QLatin1Char('\n'), 1).trimmed().size() > 0, qPrintable(message.Text));
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
    }

    // The disk fills up while writing: the files of an earlier save stay whole
    // and no temporary is left behind.
    void fullDiskKeepsTheOldFiles_data() {
        QTest::addColumn<QString>("filter");
        QTest::newRow("raw") << kRawResult;
        QTest::newRow("bitmap") << kBmpResult;
    }

    void fullDiskKeepsTheOldFiles() {
        QFETCH(QString, filter);
        const QString name = dir_->filePath(QStringLiteral("result"));
        PutResult(4, 4);
        QVERIFY(Save(name, filter));
        const QStringList files = QDir(dir_->path()).entryList(QDir::Files);
        QList<QByteArray> before;
        for (const QString& file : files) {
            before << ReadAll(dir_->filePath(file));
        }

        PutResult(100, 100);  // far beyond the limit below
        // SIGXFSZ is not ignored here: the program itself survives the limit.
        std::optional<FileSizeLimit> limit(std::in_place, 2000);
        QVERIFY(limit->Applied());
        SeenMessage message;
        const bool done = Save(name, filter, &message);
        limit.reset();
        QVERIFY(done);
        QVERIFY(message.Seen);
        QVERIFY2(message.Text.contains(QStringLiteral("File too large")), qPrintable(message.Text));
        // No temporary either (they begin with a full stop).
        QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), files);
        for (int k = 0; k < files.size(); ++k) {
            QCOMPARE(ReadAll(dir_->filePath(files[k])), before[k]);
        }
    }

    // Saving the result under the open image's own name would replace the
    // source (and for a raw image its descriptor): refused, naming the file.
    void savingOverTheOpenImageIsRefused_data() {
        QTest::addColumn<QString>("opened");
        QTest::addColumn<QString>("openFilter");
        QTest::addColumn<QString>("saveFilter");
        QTest::addColumn<QString>("named");
        QTest::newRow("raw over raw") << "scene.raw" << kRaw << kRawResult << "scene.raw";
        QTest::newRow("bitmap over bitmap") << "scene.bmp" << kBmp << kBmpResult << "scene.bmp";
    }
    void savingOverTheOpenImageIsRefused() {
        QFETCH(QString, opened);
        QFETCH(QString, openFilter);
        QFETCH(QString, saveFilter);
        QFETCH(QString, named);
        const QString image = dir_->filePath(opened);
        if (openFilter == kRaw) {
            QVERIFY(WriteBytes(image, PatternBytes(40, 40)));
            QVERIFY(WriteBytes(dir_->filePath(QStringLiteral("scene.txt")), "40 40"));
        } else {
            PutResult(40, 40);
            QVERIFY(Save(dir_->filePath(QStringLiteral("scene")), kBmpResult));
        }
        QVERIFY(OpenWithoutQuestion(image, openFilter));
        const QByteArray before = ReadAll(image);
        const QByteArray descriptor = ReadAll(dir_->filePath(QStringLiteral("scene.txt")));
        PutResult(40, 40);
        SeenMessage message;
        QVERIFY(Save(dir_->filePath(QStringLiteral("scene")), saveFilter, &message));
        QVERIFY(message.Seen);
        QVERIFY2(message.Text.contains(dir_->filePath(named)), qPrintable(message.Text));
        QCOMPARE(ReadAll(image), before);
        QCOMPARE(ReadAll(dir_->filePath(QStringLiteral("scene.txt"))), descriptor);

        // Another name is saved as always, without a question.
        QVERIFY(Save(dir_->filePath(QStringLiteral("other")), saveFilter));
        QVERIFY(QFileInfo::exists(dir_->filePath(QStringLiteral("other")) + named.mid(5)));
    }

private:
    std::optional<ApplicationWindows> windows_;
    std::optional<QTemporaryDir> dir_;
};

QTEST_MAIN(SaveTest)
#include "tst_save.moc"
