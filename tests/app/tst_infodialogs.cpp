// The five information dialogs: layout, texts, editing that lasts, placement.
#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QtTest>
#include <optional>

#include "author.h"
#include "copyrigth.h"
#include "dialogdriver.h"
#include "englishinfo.h"
#include "frenchinfo.h"
#include "kavelapplication.h"
#include "mainwindow.h"
#include "spanishinfo.h"

namespace {

QPlainTextEdit* Memo(QWidget* dialog) {
    return dialog->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"));
}
QPushButton* Ok(QWidget* dialog) {
    return dialog->findChild<QPushButton*>(QStringLiteral("BitBtn1"));
}

QStringList Lines(const QPlainTextEdit* memo) {
    QStringList lines;
    for (QTextBlock block = memo->document()->begin(); block.isValid(); block = block.next()) {
        lines << block.text();
    }
    return lines;
}

// Shows a dialog through its menu command, runs step on it, then presses OK.
void ShowThroughMenu(QAction* command, const std::function<void(QDialog*)>& step) {
    const ModalScript script({[step](QWidget* modal) {
        auto* dialog = qobject_cast<QDialog*>(modal);
        step(dialog);
        Ok(dialog)->click();
    }});
    command->trigger();
}

}  // namespace

class InfoDialogsTest : public QObject {
    Q_OBJECT

private:
    std::optional<ApplicationWindows> windows_;

private Q_SLOTS:
    void init() {
        QApplication::setQuitOnLastWindowClosed(false);
        windows_.emplace(CreateApplicationWindows());
        QVERIFY(QTest::qWaitForWindowExposed(MainForm));
    }
    void cleanup() { windows_.reset(); }

    void commonLayout() {
        struct Expected {
            QDialog* dialog;
            const char* caption;
            QSize size;
            QPoint ok;
        };
        const Expected all[] = {{AuthorForm, " Author", {310, 209}, {208, 136}},
                                {CopyrigthForm, " Copyrigth", {292, 188}, {200, 120}},
                                {EnglishInfoForm, " Info", {255, 294}, {160, 224}},
                                {FrenchInfoForm, " Info", {239, 314}, {144, 240}},
                                {SpanishInfoForm, " Info", {258, 292}, {160, 216}}};
        for (const Expected& e : all) {
            QCOMPARE(e.dialog->windowTitle(), QString::fromLatin1(e.caption));
            QCOMPARE(e.dialog->size(), e.size);
            QCOMPARE(e.dialog->parentWidget(), MainForm);
            QPushButton* ok = Ok(e.dialog);
            QVERIFY(ok != nullptr);
            QCOMPARE(ok->geometry(), QRect(e.ok, QSize(75, 25)));
            QCOMPARE(ok->text(), QStringLiteral("OK"));
            QVERIFY(ok->isDefault());
            QVERIFY(!ok->icon().isNull());
            QCOMPARE(e.dialog->font().pixelSize(), 11);
        }
    }

    void authorAndRightsLines() {
        const QGroupBox* frame = AuthorForm->findChild<QGroupBox*>(QStringLiteral("GroupBox"));
        QVERIFY(frame != nullptr);
        QCOMPARE(frame->geometry(), QRect(8, 8, 273, 121));
        QVERIFY(frame->title().isEmpty());
        const int ys[] = {16, 32, 48, 80, 96};
        for (int i = 0; i < 5; ++i) {
            auto* label = frame->findChild<QLabel*>(QStringLiteral("Label%1").arg(i + 1));
            QVERIFY(label != nullptr);
            QCOMPARE(label->pos(), QPoint(16, ys[i]));
            QVERIFY(!label->text().trimmed().isEmpty());
        }
        QVERIFY(
            frame->findChild<QLabel*>(QStringLiteral("Label1"))->text().contains(QStringLiteral("KAVEL")));

        const QGroupBox* rights = CopyrigthForm->findChild<QGroupBox*>(QStringLiteral("GroupBox1"));
        QVERIFY(rights != nullptr);
        QCOMPARE(rights->geometry(), QRect(8, 8, 265, 105));
        auto* heading = rights->findChild<QLabel*>(QStringLiteral("Label1"));
        QCOMPARE(heading->geometry(), QRect(24, 16, 75, 29));
        QVERIFY(heading->font().bold());
        QCOMPARE(heading->font().pixelSize(), 24);
        QVERIFY(!heading->text().contains(u' '));
        QCOMPARE(rights->findChild<QLabel*>(QStringLiteral("Label2"))->pos(), QPoint(24, 56));
        QCOMPARE(rights->findChild<QLabel*>(QStringLiteral("Label3"))->pos(), QPoint(24, 80));
    }

    void informationTexts() {
        const QPlainTextEdit* english = Memo(EnglishInfoForm);
        QCOMPARE(english->geometry(), QRect(8, 8, 225, 201));
        const QStringList en = Lines(english);
        QCOMPARE(en.size(), 14);
        QCOMPARE(en.first(), QStringLiteral("This program provides the binarization"));
        QCOMPARE(en[2], QStringLiteral("The thresholding of the gray tone scale "));  // trailing blank kept
        QCOMPARE(en.last(), QStringLiteral("255)."));

        const QPlainTextEdit* french = Memo(FrenchInfoForm);
        QCOMPARE(french->geometry(), QRect(8, 8, 209, 225));
        const QStringList fr = Lines(french);
        QCOMPARE(fr.size(), 16);
        QCOMPARE(fr[1], QStringLiteral("d'une image raster ou bmp."));
        QCOMPARE(fr[12], QStringLiteral("le theme et son contour et de leur "));
        QCOMPARE(fr.last(), QStringLiteral("au fond de l'image (en general 255)."));

        const QPlainTextEdit* spanish = Memo(SpanishInfoForm);
        QCOMPARE(spanish->geometry(), QRect(8, 8, 225, 193));
        const QStringList es = Lines(spanish);
        QCOMPARE(es.size(), 16);
        QCOMPARE(es[7], QStringLiteral("Tambi\u00e9n es posible extraer el borde del tema "));
        QCOMPARE(es[9], QStringLiteral("Por \u00faltimo, tambi\u00e9n es posible extraer el"));
        QCOMPARE(es[12], QStringLiteral("Tambi\u00e9n siempre se debe dar un valor al "));
        QCOMPARE(es[13], QStringLiteral("fondo "));
        QVERIFY(es.last().isEmpty());

        for (const QPlainTextEdit* memo : {english, french, spanish}) {
            QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
            QVERIFY(!memo->isReadOnly());
            QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
            QCOMPARE(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        }
    }

    void typedTextStaysBetweenShowings() {
        ShowThroughMenu(MainForm->French, [](QDialog* dialog) {
            QPlainTextEdit* memo = Memo(dialog);
            memo->moveCursor(QTextCursor::End);
            QTest::keyClicks(memo, QStringLiteral("note"));
        });
        QString seen;
        ShowThroughMenu(MainForm->French, [&seen](QDialog* dialog) { seen = Memo(dialog)->toPlainText(); });
        QVERIFY(seen.endsWith(QStringLiteral("(en general 255).note")));
        // The other dialogs keep their own texts.
        QVERIFY(!Memo(EnglishInfoForm)->toPlainText().contains(QStringLiteral("note")));
    }

    void centredOverTheMainWindowWhereverItIs() {
        MainForm->showNormal();
        for (const QPoint& at : {QPoint(40, 30), QPoint(300, 200)}) {
            MainForm->setGeometry(QRect(at, QSize(817, 652)));
            QApplication::processEvents();
            for (QAction* command : {MainForm->Author, MainForm->Copyrigth, MainForm->English,
                                     MainForm->French, MainForm->Spanish}) {
                QPoint centre;
                ShowThroughMenu(command,
                                [&centre](QDialog* dialog) { centre = dialog->frameGeometry().center(); });
                const QPoint expected = MainForm->frameGeometry().center();
                QVERIFY2((centre - expected).manhattanLength() <= 2, qPrintable(command->text()));
            }
        }
    }

    void okEndsTheShowing() {
        bool wasVisible = false;
        ShowThroughMenu(MainForm->Spanish,
                        [&wasVisible](QDialog* dialog) { wasVisible = dialog->isVisible(); });
        QVERIFY(wasVisible);
        QVERIFY(!SpanishInfoForm->isVisible());
        QCOMPARE(SpanishInfoForm->result(), int(QDialog::Accepted));
    }
};

int main(int argc, char** argv) {
    KavelApplication app(argc, argv);
    InfoDialogsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_infodialogs.moc"
