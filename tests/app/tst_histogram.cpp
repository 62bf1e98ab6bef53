// The histogram window (counts, bars read back from the painted box, export)
// and the gray-tone count message.
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <csignal>
#include <functional>
#include <numeric>
#include <optional>

#include "dialogdriver.h"
#include "file_size_limit.h"
#include "histogris.h"
#include "kavelapplication.h"
#include "mainwindow.h"

namespace {

void PutImage(int lines, int columns, const std::function<int(int, int)>& tone) {
    kavel::ByteMatrix source = kavel::AllocateByteMatrix(columns, lines).value();
    for (int i = 0; i < lines; ++i) {
        for (int j = 0; j < columns; ++j) {
            source[i][j] = static_cast<std::uint8_t>(tone(i, j));
        }
    }
    MainForm->SourceRows = std::move(source);
    MainForm->ResultRows = kavel::AllocateByteMatrix(columns, lines).value();
    MainForm->ImageLines = lines;
    MainForm->ImageColumns = columns;
}

// The painted box, one pixel per tone.
QImage PaintedBox() {
    return HistoGrisForm->PaintBox()->grab().toImage();
}

bool IsBlack(const QImage& image, int x, int y) {
    return image.pixelColor(x, y) == QColor(Qt::black);
}

// Rows of column x painted black, as [first, last]; {-1, -1} when none above the axis.
std::pair<int, int> BarExtent(const QImage& image, int x) {
    int first = -1, last = -1;
    for (int y = 0; y < 244; ++y) {
        if (IsBlack(image, x, y)) {
            if (first < 0) {
                first = y;
            }
            last = y;
        }
    }
    return {first, last};
}

QStringList Lines(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.readAll();
    if (!bytes.endsWith("\r\n")) {
        return {QStringLiteral("<no CR LF at the end>")};
    }
    QStringList lines = QString::fromLatin1(bytes).split(QStringLiteral("\r\n"));
    lines.removeLast();
    return lines;
}

bool SaveHistogram(const QString& name, const QString& filter, SeenMessage* message = nullptr) {
    std::vector<ModalScript::Step> steps = {ChooseFile(name, filter)};
    if (message != nullptr) {
        steps.push_back(ReadMessage(*message));
    }
    ModalScript script(std::move(steps));
    HistoGrisForm->BitBtnSaveClick();
    return script.Done();
}

const QString kXls = QStringLiteral("File .xls (*.xls)");
const QString kTs = QStringLiteral("File .ts (*.ts)");

}  // namespace

class HistogramTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { windows_.emplace(CreateApplicationWindows()); }
    void cleanup() { windows_.reset(); }

    void layout() {
        THistoGrisForm* form = HistoGrisForm;
        QCOMPARE(form->windowTitle(), QStringLiteral(" HISTOGRAM"));
        QCOMPARE(form->size(), QSize(301, 380));
        QCOMPARE(form->pos(), QPoint(336, 260));
        QCOMPARE(form->PaintBox()->geometry(), QRect(16, 16, 256, 249));
        const QList<std::tuple<const char*, const char*, int, int>> labels = {
            {"Label1", "0", 14, 12},    {"Label2", "20", 30, 11},    {"Label3", "80", 90, 12},
            {"Label8", "100", 108, 11}, {"Label15", "240", 248, 11},
        };
        for (const auto& [name, text, left, height] : labels) {
            auto* label = form->findChild<QLabel*>(QString::fromLatin1(name));
            QVERIFY2(label != nullptr, name);
            QCOMPARE(label->text(), QString::fromLatin1(text));
            QCOMPARE(label->pos(), QPoint(left, 270));
            QCOMPARE(label->font().pixelSize(), height);
        }
        QCOMPARE(form->findChildren<QLabel*>(Qt::FindDirectChildrenOnly).size(), 13);
        QCOMPARE(form->findChild<QPushButton*>(QStringLiteral("BitBtnSave"))->text(), QStringLiteral("Save"));
        QCOMPARE(form->findChild<QPushButton*>(QStringLiteral("BitBtnOK"))->geometry(),
                 QRect(16, 296, 75, 25));
    }

    // Each tick label ends before the next begins, whatever font stands in
    // for the designed one.
    void tickLabelsDoNotRunTogether() {
        QList<QLabel*> labels = HistoGrisForm->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
        std::sort(labels.begin(), labels.end(), [](QLabel* a, QLabel* b) { return a->x() < b->x(); });
        QCOMPARE(labels.size(), 13);
        for (qsizetype i = 0; i + 1 < labels.size(); ++i) {
            const int end =
                labels[i]->x() + QFontMetrics(labels[i]->font()).horizontalAdvance(labels[i]->text());
            QVERIFY2(end <= labels[i + 1]->x(),
                     qPrintable(labels[i]->text() + " runs into " + labels[i + 1]->text()));
        }
    }

    // One tone: one bar from the baseline up to the top.
    void uniformImageDrawsOneFullBar() {
        PutImage(6, 7, [](int, int) { return 42; });
        const QImage box = PaintedBox();
        QCOMPARE(HistoGrisForm->HistoCounts()[42], 42);
        QCOMPARE(std::accumulate(HistoGrisForm->HistoCounts().begin(), HistoGrisForm->HistoCounts().end(),
                                 std::int64_t{0}),
                 std::int64_t{42});
        // The line ends at y = 0, which stays unpainted.
        QCOMPARE(BarExtent(box, 42), std::make_pair(1, 243));
        QVERIFY(IsBlack(box, 42, 244));
        QCOMPARE(BarExtent(box, 41), std::make_pair(-1, -1));
        QCOMPARE(BarExtent(box, 43), std::make_pair(-1, -1));
    }

    void halfBlackHalfWhiteDrawsTwoFullBars() {
        PutImage(4, 8, [](int, int j) { return j < 4 ? 0 : 255; });
        const QImage box = PaintedBox();
        QCOMPARE(BarExtent(box, 0), std::make_pair(1, 243));
        QCOMPARE(BarExtent(box, 255), std::make_pair(1, 243));
        for (int x = 1; x < 255; ++x) {
            QCOMPARE(BarExtent(box, x), std::make_pair(-1, -1));
        }
    }

    // Half the maximum: the line from 244 up to y = 122, which is left unpainted.
    void halfTheMaximumEndsAt122() {
        PutImage(1, 30, [](int, int j) { return j < 20 ? 100 : 200; });
        const QImage box = PaintedBox();
        QCOMPARE(HistoGrisForm->HistoCounts()[100], 20);
        QCOMPARE(HistoGrisForm->HistoCounts()[200], 10);
        QCOMPARE(BarExtent(box, 200), std::make_pair(123, 243));
        QVERIFY(!IsBlack(box, 200, 122));
    }

    // Every count 0: only the axis and its ticks, nothing divided by zero.
    void withoutAnImageOnlyTheAxis() {
        const QImage box = PaintedBox();
        const QColor face = HistoGrisForm->palette().color(QPalette::Button);
        for (int x = 0; x < 256; ++x) {
            QCOMPARE(BarExtent(box, x), std::make_pair(-1, -1));
            QCOMPARE(box.pixelColor(x, 10), face);
            // The axis runs from 0 to 255, the end point left out.
            QCOMPARE(IsBlack(box, x, 244), x < 255);
            const bool tick = x % 20 == 0 && x <= 240;
            for (int y = 245; y <= 248; ++y) {
                QCOMPARE(IsBlack(box, x, y), tick);
            }
        }
    }

    // Recounted at every paint: a new image shows without reopening the window.
    void countsFollowTheCurrentImage() {
        PutImage(2, 2, [](int, int) { return 5; });
        PaintedBox();
        QCOMPARE(HistoGrisForm->HistoCounts()[5], 4);
        PutImage(3, 3, [](int i, int) { return i; });
        PaintedBox();
        QCOMPARE(HistoGrisForm->HistoCounts()[5], 0);
        QCOMPARE(HistoGrisForm->HistoCounts()[2], 3);
    }

    void exportNamesAlwaysGetXls_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("written");
        QTest::newRow("plain") << "h" << kXls << "h.xls";
        QTest::newRow("already .xls") << "h.xls" << kXls << "h.xls.xls";
        QTest::newRow(".ts filter") << "h.ts" << kTs << "h.ts.xls";
        QTest::newRow("long name") << QString(150, QLatin1Char('n')) << kXls
                                   << QString(150, QLatin1Char('n')) + ".xls";
    }

    void exportNamesAlwaysGetXls() {
        QFETCH(QString, typed);
        QFETCH(QString, filter);
        QFETCH(QString, written);
        QTemporaryDir dir;
        PutImage(10, 10, [](int i, int j) { return i * 10 + j; });
        PaintedBox();
        QVERIFY(SaveHistogram(dir.filePath(typed), filter));
        QCOMPARE(MainForm->HistogramFileName, dir.filePath(typed));
        const QStringList lines = Lines(dir.filePath(written));
        QCOMPARE(lines.size(), 256);
        QCOMPARE(lines[0], QStringLiteral("1"));
        QCOMPARE(lines[99], QStringLiteral("1"));
        QCOMPARE(lines[100], QStringLiteral("0"));
        QVERIFY(!QFile::exists(dir.filePath(typed)) || typed == written);
    }

    // The dialog starts in the image's folder; a second save replaces the file.
    void exportStartsInTheImageFolderAndReplaces() {
        QTemporaryDir dir;
        MainForm->ImageDirectory = dir.path();
        PutImage(3, 4, [](int, int) { return 9; });
        PaintedBox();
        QString startedIn;
        {
            ModalScript script({[&](QWidget* w) {
                startedIn = qobject_cast<QFileDialog*>(w)->directory().absolutePath();
                ChooseFile(dir.filePath(QStringLiteral("h")), kXls)(w);
            }});
            HistoGrisForm->BitBtnSaveClick();
            QVERIFY(script.Done());
        }
        QCOMPARE(startedIn, QDir(dir.path()).absolutePath());
        QCOMPARE(Lines(dir.filePath(QStringLiteral("h.xls")))[9], QStringLiteral("12"));

        PutImage(1, 1, [](int, int) { return 0; });
        PaintedBox();
        QVERIFY(SaveHistogram(dir.filePath(QStringLiteral("h")), kXls));
        const QStringList lines = Lines(dir.filePath(QStringLiteral("h.xls")));
        QCOMPARE(lines[0], QStringLiteral("1"));
        QCOMPARE(lines[9], QStringLiteral("0"));
    }

    void exportWithoutAnImageWrites256Zeros() {
        QTemporaryDir dir;
        PaintedBox();
        QVERIFY(SaveHistogram(dir.filePath(QStringLiteral("empty")), kXls));
        QCOMPARE(Lines(dir.filePath(QStringLiteral("empty.xls"))), QStringList(256, QStringLiteral("0")));
    }

    void cancelledExportWritesNothing() {
        QTemporaryDir dir;
        MainForm->HistogramFileName = QStringLiteral("before");
        ModalScript script({CancelDialog()});
        HistoGrisForm->BitBtnSaveClick();
        QVERIFY(script.Done());
        QCOMPARE(MainForm->HistogramFileName, QStringLiteral("before"));
        QVERIFY(QDir(dir.path()).isEmpty());
    }

    // A folder that cannot be written, or a disk that fills up: the user is
    // told why, and an existing export stays as it was.
    void failedExportSaysWhyAndKeepsTheOldFile() {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("plain")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        SeenMessage message;
        QVERIFY(SaveHistogram(dir.filePath(QStringLiteral("plain/h")), kXls, &message));
        QVERIFY(message.Seen);
        QVERIFY2(message.Text.contains(QStringLiteral("plain/h.xls")), qPrintable(message.Text));

        PutImage(1, 1, [](int, int) { return 3; });
        PaintedBox();
        QVERIFY(SaveHistogram(dir.filePath(QStringLiteral("kept")), kXls));
        const QStringList before = Lines(dir.filePath(QStringLiteral("kept.xls")));
        QCOMPARE(before.size(), 256);

        // No room left: the file size limit stands in for a full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        std::optional<FileSizeLimit> limit(std::in_place, 100);
        QVERIFY(limit->Applied());
        SeenMessage full;
        const bool done = SaveHistogram(dir.filePath(QStringLiteral("kept")), kXls, &full);
        limit.reset();
        QVERIFY(done);
        QVERIFY(full.Seen);
        QCOMPARE(Lines(dir.filePath(QStringLiteral("kept.xls"))), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);  // no temporary left behind
    }

    void toneCountMessage_data() {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("tones");
        QTest::newRow("no image") << 0 << 0;
        QTest::newRow("one tone") << 3 << 1;
        QTest::newRow("three tones") << 3 << 3;
    }

    void toneCountMessage() {
        QFETCH(int, lines);
        QFETCH(int, tones);
        if (lines > 0) {
            PutImage(lines, 4, [tones](int i, int) { return tones == 1 ? 77 : i * 50; });
        }
        SeenMessage message;
        ModalScript script({ReadMessage(message)});
        MainForm->GTNumberClick();
        QVERIFY(script.Done());
        QCOMPARE(message.Text, QStringLiteral(" %1 gray tones in the Original Image ").arg(tones));
        QVERIFY(message.Title.isEmpty());
        // An empty title would be shown as the application's name.
        QVERIFY(!message.ShownTitle.isEmpty());
        QVERIFY(message.ShownTitle.trimmed().isEmpty());
        QCOMPARE(message.Icon, QMessageBox::NoIcon);
        QCOMPARE(message.Owner, nullptr);
        QCOMPARE(message.Buttons, 1);
    }

private:
    std::optional<ApplicationWindows> windows_;
};

QTEST_MAIN(HistogramTest)
#include "tst_histogram.moc"
