// The treatment parameters dialog driven as a user would, and the treatment
// command that fills the result and shows it.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <optional>
#include <vector>

#include "diagkaveltreatment.h"
#include "dialogdriver.h"
#include "imagewindow.h"
#include "kavel/treatment.h"
#include "kavelapplication.h"
#include "longcommand.h"
#include "mainwindow.h"
#include "resultimage.h"

namespace {

// The worked example: a 5 x 5 image whose central 3 x 3 block is 100, the rest 0.
std::vector<std::vector<int>> WorkedExample() {
    std::vector<std::vector<int>> image(5, std::vector<int>(5, 0));
    for (int i = 1; i <= 3; ++i) {
        for (int j = 1; j <= 3; ++j) {
            image[i][j] = 100;
        }
    }
    return image;
}

void PutImage(const std::vector<std::vector<int>>& tones) {
    const int lines = static_cast<int>(tones.size());
    const int columns = lines > 0 ? static_cast<int>(tones[0].size()) : 0;
    kavel::ByteMatrix source = kavel::AllocateByteMatrix(columns, lines).value();
    for (int i = 0; i < lines; ++i) {
        for (int j = 0; j < columns; ++j) {
            source[i][j] = static_cast<std::uint8_t>(tones[i][j]);
        }
    }
    MainForm->SourceRows = std::move(source);
    MainForm->ResultRows = kavel::AllocateByteMatrix(columns, lines).value();
    MainForm->ImageLines = lines;
    MainForm->ImageColumns = columns;
}

std::vector<std::vector<int>> Result() {
    const kavel::ByteMatrix& rows = MainForm->ResultRows;
    std::vector<std::vector<int>> tones(rows.Lines(), std::vector<int>(rows.Columns()));
    for (int i = 0; i < rows.Lines(); ++i) {
        for (int j = 0; j < rows.Columns(); ++j) {
            tones[i][j] = rows[i][j];
        }
    }
    return tones;
}

template <class T>
T* Child(QWidget* window, const char* name) {
    return window->findChild<T*>(QString::fromLatin1(name));
}

void Type(QWidget* window, const char* edit, const QString& text) {
    QLineEdit* box = Child<QLineEdit>(window, edit);
    QVERIFY2(box != nullptr, edit);
    box->setFocus();
    QTest::keyClicks(box, text);
}

void Choose(QWidget* window, const char* radio) {
    QRadioButton* button = Child<QRadioButton>(window, radio);
    QVERIFY2(button != nullptr, radio);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, button->height() / 2));
}

void PressOk(QWidget* window) {
    Child<QPushButton>(window, "BitBtn1")->click();
}

// Runs the treatment command with the given steps for the dialog.
bool RunTreatment(std::vector<ModalScript::Step> steps) {
    ModalScript script(std::move(steps));
    MainForm->TreatmentSpeedButtonClick();
    return script.Done();
}

}  // namespace

class TreatmentTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        windows_.emplace(CreateApplicationWindows());
        QVERIFY(QTest::qWaitForWindowExposed(MainForm));
    }
    void cleanup() { windows_.reset(); }

    void startsWithNoTypeAndEmptyBoxes() {
        TDiagKavelTreatForm* dialog = DiagKavelTreatForm;
        QCOMPARE(dialog->windowTitle(), QStringLiteral(" Parameters"));
        QCOMPARE(dialog->size(), QSize(255, 403));
        QCOMPARE(dialog->TreatmentType(), kavel::TreatmentKind::None);
        QCOMPARE(dialog->MinThreshold(), 0);
        QCOMPARE(dialog->BackgroundTone(), 0);
        QVERIFY(!dialog->Cancelled());
        for (const char* radio : {"RadioButton1", "RadioButton2", "RadioButton3"}) {
            QVERIFY(!Child<QRadioButton>(dialog, radio)->isChecked());
        }
        for (const char* box : {"GroupBox3", "GroupBox4", "GroupBox5"}) {
            QVERIFY(Child<QGroupBox>(dialog, box)->isHidden());
            QVERIFY(!Child<QGroupBox>(dialog, box)->isEnabled());
        }
        // The three tone boxes share one rectangle.
        QCOMPARE(Child<QGroupBox>(dialog, "GroupBox5")->geometry(), QRect(8, 216, 217, 105));
        QCOMPARE(Child<QGroupBox>(dialog, "GroupBox3")->geometry(), QRect(8, 216, 217, 105));
        QCOMPARE(Child<QGroupBox>(dialog, "GroupBox5")->title(),
                 QStringLiteral(" Item and Border Gray Tones "));
        QCOMPARE(Child<QRadioButton>(dialog, "RadioButton3")->text(), QStringLiteral("Item and Border"));
        QCOMPARE(Child<QLabel>(dialog, "Border")->text(), QStringLiteral("Border"));
        QCOMPARE(Child<QLineEdit>(dialog, "BorderEdit2")->geometry(), QRect(104, 44, 65, 21));
    }

    // Each keystroke stores the whole text's value at once.
    void typingStoresTheValueAfterEveryKey() {
        QList<int> seen;
        QPoint dialogCentre;
        const bool done = RunTreatment({[&](QWidget* w) {
            dialogCentre = w->frameGeometry().center();
            QLineEdit* edit = Child<QLineEdit>(w, "MinEdit");
            for (const char key : {'1', '2', '0'}) {
                QTest::keyClick(edit, key);
                seen << DiagKavelTreatForm->MinThreshold();
            }
            for (int k = 0; k < 3; ++k) {
                QTest::keyClick(edit, Qt::Key_Backspace);
            }
            seen << DiagKavelTreatForm->MinThreshold();
            QTest::keyClicks(Child<QLineEdit>(w, "MaxEdit"), QStringLiteral(" -5x"));
            seen << DiagKavelTreatForm->MaxThreshold();
            Child<QPushButton>(w, "BitBtn2")->click();
        }});
        QVERIFY(done);
        QCOMPARE(seen, (QList<int>{1, 12, 120, 0, -5}));
        // Shown centred on the main window.
        QVERIFY((dialogCentre - MainForm->frameGeometry().center()).manhattanLength() <= 2);
    }

    void workedExampleThroughTheDialog_data() {
        QTest::addColumn<QString>("radio");
        QTest::addColumn<QStringList>("edits");  // name=value pairs, in typing order
        QTest::addColumn<bool>("enterKey");
        QTest::addColumn<QList<int>>("expectedRow2");  // line 2 of the result
        QTest::addColumn<int>("corner");               // pixel (1, 1)
        QTest::newRow("whole item") << "RadioButton1" << QStringList{"ItemEdit1=255", "BackGroundEdit1=0"}
                                    << false << QList<int>{0, 255, 255, 255, 0} << 255;
        QTest::newRow("border") << "RadioButton2" << QStringList{"BorderEdit2=128", "BackGroundEdit2=0"}
                                << true << QList<int>{0, 128, 0, 128, 0} << 128;
        QTest::newRow("item and border")
            << "RadioButton3" << QStringList{"ItemEdit3=255", "BorderEdit3=128", "BackGroundEdit3=0"} << false
            << QList<int>{0, 128, 255, 128, 0} << 128;
    }

    void workedExampleThroughTheDialog() {
        QFETCH(QString, radio);
        QFETCH(QStringList, edits);
        QFETCH(bool, enterKey);
        QFETCH(QList<int>, expectedRow2);
        QFETCH(int, corner);
        PutImage(WorkedExample());

        const bool done = RunTreatment({[&](QWidget* w) {
            Type(w, "MinEdit", QStringLiteral("50"));
            Type(w, "MaxEdit", QStringLiteral("150"));
            Choose(w, radio.toLatin1().constData());
            for (const QString& edit : edits) {
                const QStringList pair = edit.split(QLatin1Char('='));
                Type(w, pair[0].toLatin1().constData(), pair[1]);
            }
            if (enterKey) {
                QTest::keyClick(Child<QLineEdit>(w, "MaxEdit"), Qt::Key_Return);
            } else {
                PressOk(w);
            }
        }});
        QVERIFY(done);
        const auto result = Result();
        QCOMPARE(QList<int>(result[2].begin(), result[2].end()), expectedRow2);
        QCOMPARE(result[1][1], corner);
        QCOMPARE(result[3][3], corner);
        for (int j = 0; j < 5; ++j) {
            QCOMPARE(result[0][j], 0);
            QCOMPARE(result[4][j], 0);
        }
        QCOMPARE(MainForm->ResultCaption, QStringLiteral("Resulting Binarized Image"));
        QCOMPARE(ResultImageForm->Caption(), QStringLiteral("Resulting Binarized Image"));
        QVERIFY(ResultImageForm->DisplayBitmap() != nullptr);
        QCOMPARE(ResultImageForm->DisplayBitmap()->size(), QSize(5, 5));
        QCOMPARE(qGray(ResultImageForm->DisplayBitmap()->pixel(2, 2)), expectedRow2[2]);
        QCOMPARE(MainForm->ImageLines, 5);
        QCOMPARE(MainForm->ImageColumns, 5);
    }

    // Before any type is chosen the tone edits are hidden: type 0, all background 0.
    void typeZeroGivesTheBackgroundAlone() {
        PutImage(WorkedExample());
        MainForm->ResultRows[2][2] = 77;  // must be overwritten
        QVERIFY(RunTreatment({[](QWidget* w) {
            Type(w, "MinEdit", QStringLiteral("0"));
            Type(w, "MaxEdit", QStringLiteral("255"));
            PressOk(w);
        }}));
        QCOMPARE(DiagKavelTreatForm->TreatmentType(), kavel::TreatmentKind::None);
        for (const auto& line : Result()) {
            for (int tone : line) {
                QCOMPARE(tone, 0);
            }
        }
    }

    // One number per meaning: a background typed under one type stays in force
    // under another, although that type's edit shows empty.
    void valueTypedUnderOneTypeStaysUnderAnother() {
        PutImage(WorkedExample());
        QVERIFY(RunTreatment({[](QWidget* w) {
            Type(w, "MinEdit", QStringLiteral("50"));
            Type(w, "MaxEdit", QStringLiteral("150"));
            Choose(w, "RadioButton1");
            Type(w, "BackGroundEdit1", QStringLiteral("150"));
            Choose(w, "RadioButton2");
            QVERIFY(Child<QGroupBox>(w, "GroupBox3")->isHidden());
            QVERIFY(!Child<QGroupBox>(w, "GroupBox3")->isEnabled());
            QVERIFY(Child<QGroupBox>(w, "GroupBox4")->isVisible());
            QVERIFY(Child<QGroupBox>(w, "GroupBox4")->isEnabled());
            QVERIFY(!Child<QRadioButton>(w, "RadioButton1")->isChecked());
            QVERIFY(Child<QLineEdit>(w, "BackGroundEdit2")->text().isEmpty());
            Type(w, "BorderEdit2", QStringLiteral("9"));
            PressOk(w);
        }}));
        QCOMPARE(DiagKavelTreatForm->TreatmentType(), kavel::TreatmentKind::Border);
        QCOMPARE(DiagKavelTreatForm->BackgroundTone(), 150);
        const auto result = Result();
        QCOMPARE(result[0][0], 150);
        QCOMPARE(result[2][2], 150);  // inside of the item: background under "Border"
        QCOMPARE(result[1][2], 9);
    }

    // Tones are written as their low 8 bits.
    void tonesOutOfRangeWrapToTheirLowByte() {
        PutImage(WorkedExample());
        QVERIFY(RunTreatment({[](QWidget* w) {
            Type(w, "MinEdit", QStringLiteral("50"));
            Type(w, "MaxEdit", QStringLiteral("150"));
            Choose(w, "RadioButton1");
            Type(w, "ItemEdit1", QStringLiteral("300"));
            Type(w, "BackGroundEdit1", QStringLiteral("-1"));
            PressOk(w);
        }}));
        QCOMPARE(DiagKavelTreatForm->ItemTone(), 300);
        QCOMPARE(Result()[2][2], 44);
        QCOMPARE(Result()[0][0], 255);
    }

    // Cancel stops the treatment; the mark does not outlive its showing.
    void cancelThenOk() {
        PutImage(WorkedExample());
        QVERIFY(RunTreatment({[](QWidget* w) {
            Type(w, "MinEdit", QStringLiteral("0"));
            Type(w, "MaxEdit", QStringLiteral("255"));
            Choose(w, "RadioButton1");
            Type(w, "ItemEdit1", QStringLiteral("200"));
            Child<QPushButton>(w, "BitBtn2")->click();
        }}));
        QVERIFY(DiagKavelTreatForm->Cancelled());
        QCOMPARE(Result()[2][2], 0);
        QVERIFY(MainForm->ResultCaption.isEmpty());

        bool clearedOnShow = false;
        QVERIFY(RunTreatment({[&](QWidget* w) {
            clearedOnShow = !DiagKavelTreatForm->Cancelled();
            // Everything typed in the first showing is still there.
            QCOMPARE(Child<QLineEdit>(w, "ItemEdit1")->text(), QStringLiteral("200"));
            QVERIFY(Child<QRadioButton>(w, "RadioButton1")->isChecked());
            QVERIFY(Child<QGroupBox>(w, "GroupBox3")->isVisible());
            PressOk(w);
        }}));
        QVERIFY(clearedOnShow);
        QVERIFY(!DiagKavelTreatForm->Cancelled());
        QCOMPARE(Result()[2][2], 200);
    }

    // The close box is not Cancel; Esc is.
    void closeBoxRunsEscapeDoesNot() {
        PutImage(WorkedExample());
        QVERIFY(RunTreatment({[](QWidget* w) {
            Type(w, "MinEdit", QStringLiteral("0"));
            Type(w, "MaxEdit", QStringLiteral("255"));
            Choose(w, "RadioButton1");
            Type(w, "ItemEdit1", QStringLiteral("7"));
            QTest::keyClick(Child<QLineEdit>(w, "ItemEdit1"), Qt::Key_Escape);
        }}));
        QVERIFY(DiagKavelTreatForm->Cancelled());
        QCOMPARE(Result()[0][0], 0);

        QVERIFY(RunTreatment({[](QWidget* w) { w->close(); }}));
        QVERIFY(!DiagKavelTreatForm->Cancelled());
        QCOMPARE(Result()[0][0], 7);
    }

    // A second run replaces the first result completely, in the matrix and on
    // screen, and the result window returns to 1:1 while the image window keeps
    // its own zoom.
    void secondRunReplacesTheFirst() {
        PutImage(WorkedExample());
        QVERIFY(RunTreatment({[](QWidget* w) {
            Type(w, "MinEdit", QStringLiteral("50"));
            Type(w, "MaxEdit", QStringLiteral("150"));
            Choose(w, "RadioButton1");
            Type(w, "ItemEdit1", QStringLiteral("255"));
            Type(w, "BackGroundEdit1", QStringLiteral("10"));
            PressOk(w);
        }}));
        QCOMPARE(Result()[0][0], 10);

        MainForm->ZoomSpeedButton->click();
        ResultImageForm->PaintBoxMouseDown(Qt::LeftButton, 2, 2);
        QCOMPARE(ResultImageForm->ZoomLevel(), 2);
        QCOMPARE(ImageForm->ZoomLevel(), 1);

        QVERIFY(RunTreatment({[](QWidget* w) {
            Choose(w, "RadioButton2");
            Type(w, "BorderEdit2", QStringLiteral("128"));
            PressOk(w);
        }}));
        const std::vector<std::vector<int>> expected = {{10, 10, 10, 10, 10},
                                                        {10, 128, 128, 128, 10},
                                                        {10, 128, 10, 128, 10},
                                                        {10, 128, 128, 128, 10},
                                                        {10, 10, 10, 10, 10}};
        QCOMPARE(Result(), expected);
        QCOMPARE(ResultImageForm->ZoomLevel(), 1);
        QCOMPARE(ResultImageForm->Caption(), QStringLiteral("Resulting Binarized Image"));
        QCOMPARE(qGray(ResultImageForm->DisplayBitmap()->pixel(2, 2)), 10);
        QCOMPARE(ImageForm->ZoomLevel(), 1);
    }

    // Bands of any height give the whole-image result, with the band edges
    // falling on the item's border, inside it and outside it; a step that
    // says stop ends the work after its band.
    void bandsGiveTheWholeResult() {
        kavel::ByteMatrix source = kavel::AllocateByteMatrix(13, 29).value();
        std::uint32_t state = 12345;
        for (std::uint8_t& tone : source.Bytes()) {
            state = state * 1103515245u + 12345u;
            tone = static_cast<std::uint8_t>((state >> 16) % 3 == 0 ? 200 : 40);
        }
        for (const kavel::TreatmentKind kind : {kavel::TreatmentKind::WholeItem, kavel::TreatmentKind::Border,
                                                kavel::TreatmentKind::ItemAndBorder}) {
            const kavel::TreatmentParameters parameters{kind, 100, 255, 255, 128, 7};
            kavel::ByteMatrix whole = kavel::AllocateByteMatrix(13, 29).value();
            QVERIFY(kavel::ComputeTreatment(source, parameters, whole).ok());
            for (const int band : {1, 2, 3, 7, 28, 29, 100}) {
                kavel::ByteMatrix banded = kavel::AllocateByteMatrix(13, 29).value();
                std::vector<int> steps;
                const kavel::Expected<bool> done =
                    TreatInBands(source, parameters, banded, band, [&](int lines) {
                        steps.push_back(lines);
                        return true;
                    });
                QVERIFY(done.ok() && *done);
                QVERIFY2(std::equal(whole.Bytes().begin(), whole.Bytes().end(), banded.Bytes().begin()),
                         qPrintable(QStringLiteral("band of %1 lines").arg(band)));
                QCOMPARE(steps.back(), 29);
                QCOMPARE(static_cast<int>(steps.size()), (29 + band - 1) / band);
            }
        }
        kavel::ByteMatrix stopped = kavel::AllocateByteMatrix(13, 29).value();
        int calls = 0;
        const kavel::Expected<bool> done =
            TreatInBands(source, {kavel::TreatmentKind::WholeItem, 0, 255, 1, 1, 1}, stopped, 5, [&](int) {
                ++calls;
                return false;
            });
        QVERIFY(done.ok() && !*done);
        QCOMPARE(calls, 1);
        QCOMPARE(stopped[4][12], 1);
        QCOMPARE(stopped[5][0], 0);  // the second band was never computed
    }

    void withoutAnImageTheResultIsEmpty() {
        QVERIFY(RunTreatment({[](QWidget* w) {
            Choose(w, "RadioButton3");
            PressOk(w);
        }}));
        QVERIFY(MainForm->ResultRows.Empty());
        QCOMPARE(MainForm->ImageLines, 0);
        QCOMPARE(ResultImageForm->Caption(), QStringLiteral("Resulting Binarized Image"));
    }

private:
    std::optional<ApplicationWindows> windows_;
};

QTEST_MAIN(TreatmentTest)
#include "tst_treatment.moc"
