// The main window as the program starts it: windows and their order, menus,
// tool bar, status bar, zoom mode and cursor, window commands, the dialogs it
// shows and the exception guard.
#include <QAbstractButton>
#include <QBitmap>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>
#include <optional>
#include <stdexcept>

#include "author.h"
#include "copyrigth.h"
#include "cursors.h"
#include "diagkaveltreatment.h"
#include "dialogdriver.h"
#include "englishinfo.h"
#include "frenchinfo.h"
#include "histogris.h"
#include "imagesize.h"
#include "imagewindow.h"
#include "kavelapplication.h"
#include "mainwindow.h"
#include "resultimage.h"
#include "spanishinfo.h"

namespace {

QStringList ActionTexts(const QMenu* menu) {
    QStringList texts;
    for (const QAction* action : menu->actions()) {
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return texts;
}

// An object whose event handler throws, to stand in for a failing command.
class Thrower : public QObject {
public:
    bool throwUnknown = false;
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) {
            if (throwUnknown) {
                throw 42;
            }
            throw std::runtime_error("disk on fire");
        }
        return QObject::event(e);
    }
};

}  // namespace

class MainWindowTest : public QObject {
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

    void startUpState() {
        QCOMPARE(MainForm->windowTitle(), QStringLiteral("Kavel_V2"));
        QCOMPARE(QApplication::applicationName(), QStringLiteral("KAVEL"));
        QCOMPARE(QApplication::applicationDisplayName(), QStringLiteral("KAVEL"));

        // The two children, result first, image in front, both empty.
        const auto created = MainForm->MdiArea->subWindowList(QMdiArea::CreationOrder);
        QCOMPARE(created.size(), 2);
        QCOMPARE(created[0]->widget(), ResultImageForm);
        QCOMPARE(created[1]->widget(), ImageForm);
        QCOMPARE(MainForm->MdiArea->subWindowList(QMdiArea::StackingOrder).last()->widget(), ImageForm);
        QCOMPARE(MainForm->MdiArea->activeSubWindow(), ImageForm->SubWindow());
        for (TImageViewForm* view :
             {static_cast<TImageViewForm*>(ImageForm), static_cast<TImageViewForm*>(ResultImageForm)}) {
            QVERIFY(view->SubWindow()->isVisible());
            QCOMPARE(view->Caption(), QStringLiteral("Image (1:1)"));
            QCOMPARE(view->ZoomLevel(), 1);
            QVERIFY(view->DisplayBitmap() == nullptr);
        }

        // The eight dialogs, hidden, owned by the main window, in creation order.
        const QList<QWidget*> expected = {HistoGrisForm, ImageSizeForm,   DiagKavelTreatForm,
                                          AuthorForm,    EnglishInfoForm, FrenchInfoForm,
                                          CopyrigthForm, SpanishInfoForm};
        QList<QWidget*> children;
        for (QObject* child : MainForm->children()) {
            if (auto* widget = qobject_cast<QWidget*>(child); widget && expected.contains(widget)) {
                children << widget;
            }
        }
        QCOMPARE(children, expected);
        for (QWidget* dialog : expected) {
            QVERIFY(!dialog->isVisible());
        }

        QVERIFY(MainForm->ZoomSpeedButton->isCheckable());
        QVERIFY(!MainForm->ZoomSpeedButton->isChecked());
        QVERIFY(QGuiApplication::overrideCursor() != nullptr);
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::ArrowCursor);

        QVERIFY(MainForm->ImageFileName.isEmpty() && MainForm->ResultCaption.isEmpty());
        QVERIFY(MainForm->ImageCaption.isEmpty() && MainForm->SavePath.isEmpty());
        QVERIFY(MainForm->SourceRows.Empty() && MainForm->ResultRows.Empty());
        QCOMPARE(MainForm->ImageLines, 0);
        QCOMPARE(MainForm->ImageColumns, 0);
    }

    void windowsAreTornDownWithTheOwner() {
        windows_.reset();
        QVERIFY(MainForm == nullptr && ImageForm == nullptr && ResultImageForm == nullptr);
        QVERIFY(AuthorForm == nullptr && SpanishInfoForm == nullptr && DiagKavelTreatForm == nullptr);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    }

    void zoomButtonSwitchesTheCursor() {
        QTest::mouseClick(MainForm->ZoomSpeedButton, Qt::LeftButton);
        QVERIFY(MainForm->ZoomSpeedButton->isChecked());
        const QCursor* cursor = QGuiApplication::overrideCursor();
        QVERIFY(cursor != nullptr);
        QCOMPARE(cursor->shape(), Qt::BitmapCursor);
        QCOMPARE(cursor->hotSpot(), QPoint(13, 12));
        QCOMPARE(cursor->bitmap().size(), QSize(32, 32));
        QCOMPARE(cursor->mask().size(), QSize(32, 32));
        QCOMPARE(ScreenCursorByNumber(crMagnifier).hotSpot(), QPoint(13, 12));

        QTest::mouseClick(MainForm->ZoomSpeedButton, Qt::LeftButton);
        QVERIFY(!MainForm->ZoomSpeedButton->isChecked());
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::ArrowCursor);

        // Replaced, never stacked: one restore removes the override.
        QGuiApplication::restoreOverrideCursor();
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    }

    void longCommandsLeaveZoomModeOn() {
        QTest::mouseClick(MainForm->ZoomSpeedButton, Qt::LeftButton);
        SetScreenCursorHourglass();
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
        SetScreenCursorArrow();  // what a command does when it ends
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::ArrowCursor);
        QVERIFY(MainForm->ZoomSpeedButton->isChecked());
    }

    void menus() {
        const QList<QAction*> top = MainForm->MainMenu->actions();
        QStringList titles;
        for (const QAction* action : top) {
            titles << action->text();
        }
        QCOMPARE(titles, (QStringList{"Files", "Tools", "Window", "About"}));
        QCOMPARE(ActionTexts(MainForm->Files), (QStringList{"Open Gray Tone  Image", "-", "Exit"}));
        QCOMPARE(ActionTexts(MainForm->Tools),
                 (QStringList{"Histogram", "Gray Tones Number", "-", "Treatment"}));
        QCOMPARE(ActionTexts(MainForm->Window), (QStringList{"Cascade", "Tile", "Previous", "Next"}));
        QCOMPARE(ActionTexts(MainForm->About), (QStringList{"Author", "Copyrigth", "Infos"}));
        QCOMPARE(ActionTexts(MainForm->Infos), (QStringList{"English", "French", "Spanish"}));
        QCOMPARE(MainForm->About->actions()[2]->menu(), MainForm->Infos);

        QList<QAction*> all = MainForm->MainMenu->actions();
        for (qsizetype i = 0; i < all.size(); ++i) {
            if (const QMenu* sub = all[i]->menu()) {
                all += sub->actions();
            }
        }
        QCOMPARE(all.size(), 4 + 3 + 4 + 4 + 3 + 3);
        for (const QAction* action : all) {
            QVERIFY2(action->shortcut().isEmpty(), qPrintable(action->text()));
            QVERIFY2(!action->text().contains(u'&'), qPrintable(action->text()));
            QVERIFY(action->isEnabled());
        }
        for (const char* name :
             {"Open", "Exit", "Histo", "GTNumber", "Treatment", "Cascade2", "Tile2", "Previous2", "Next2",
              "Author", "Copyrigth", "English", "French", "Spanish"}) {
            QVERIFY2(MainForm->findChild<QAction*>(QString::fromLatin1(name)) != nullptr, name);
        }
    }

    void toolBar() {
        QCOMPARE(MainForm->ToolBar1->height(), 34);
        struct Item {
            const char* name;
            int x;
            const char* hint;
        };
        const Item buttons[] = {{"OpenSpeedButton", 0, "Open Gray Tone File"},
                                {"SaveKavelSpeedButton", 40, "Save Binarized Image"},
                                {"ZoomSpeedButton", 80, "Zoom"},
                                {"TreatmentSpeedButton", 120, "Treatment"},
                                {"HistoSpeedButton", 160, "Histo"},
                                {"ExitSpeedButton", 200, "Exit"}};
        for (const Item& item : buttons) {
            auto* button = MainForm->ToolBar1->findChild<QToolButton*>(QString::fromLatin1(item.name));
            QVERIFY2(button != nullptr, item.name);
            QCOMPARE(button->geometry().topLeft(), QPoint(item.x, 2));
            QCOMPARE(button->size(), QSize(32, 32));
            QCOMPARE(button->toolTip(), QString::fromLatin1(item.hint));
            QVERIFY(button->isVisible());
            // The glyph really came out of the resources.
            const QImage glyph = button->icon().pixmap(button->iconSize()).toImage();
            QVERIFY2(!glyph.isNull() && glyph.pixelColor(glyph.width() / 2, glyph.height() / 2).alpha() > 0,
                     item.name);
        }
        QCOMPARE(MainForm->ZoomSpeedButton->iconSize(), QSize(20, 20));
        QCOMPARE(MainForm->OpenSpeedButton->iconSize(), QSize(32, 32));
        QVERIFY(!MainForm->OpenSpeedButton->isCheckable());
        for (const auto& [name, x] :
             {std::pair{"ToolButton4", 32}, std::pair{"ToolButton1", 72}, std::pair{"ToolButton3", 112},
              std::pair{"ToolButton6", 152}, std::pair{"ToolButton5", 192}}) {
            auto* gap = MainForm->ToolBar1->findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY2(gap != nullptr, name);
            QCOMPARE(gap->geometry().x(), x);
            QCOMPARE(gap->width(), 8);
        }
        QCOMPARE(MainForm->toolTip(), QStringLiteral("Local Filing"));
    }

    void statusBar() {
        const QList<QLabel*> panels = MainForm->StatusBar->findChildren<QLabel*>();
        QCOMPARE(panels.size(), 3);
        for (const QLabel* panel : panels) {
            QCOMPARE(panel->width(), 250);
        }
        QVERIFY(panels[0]->x() < panels[1]->x() && panels[1]->x() < panels[2]->x());
        MainForm->SetStatusPanel(1, QStringLiteral("Gray Tone :    7 "));
        QCOMPARE(MainForm->StatusPanel(1), QStringLiteral("Gray Tone :    7 "));
        QCOMPARE(panels[1]->text(), QStringLiteral("Gray Tone :    7 "));
        QVERIFY(MainForm->StatusPanel(0).isEmpty());
        MainForm->SetStatusPanel(3, QStringLiteral("ignored"));
        QVERIFY(MainForm->StatusPanel(3).isEmpty());
    }

    void fileDialogs() {
        QCOMPARE(MainForm->OpenPictureDialog->windowTitle(), QStringLiteral("OPEN IMAGE"));
        QCOMPARE(
            MainForm->OpenPictureDialog->nameFilters(),
            (QStringList{
                "Raw Image [*.raw] (*.raw)", "Bitmap [*.bmp] (*.bmp)",
                "Other images (converted to 8-bit gray) [*.png *.tif *.tiff *.jpg *.jpeg *.bmp *.pgm "
                "*.pnm *.gif *.webp] (*.png *.tif *.tiff *.jpg *.jpeg *.bmp *.pgm *.pnm *.gif *.webp)"}));
        QCOMPARE(MainForm->OpenPictureDialog->selectedNameFilter(), QStringLiteral("Raw Image [*.raw]"));
        QVERIFY(MainForm->OpenPictureDialog->testOption(QFileDialog::HideNameFilterDetails));
        QCOMPARE(MainForm->OpenPictureDialog->fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(MainForm->SavePictureDialog1->windowTitle(), QStringLiteral("SAVE RESULT"));
        QCOMPARE(MainForm->SavePictureDialog1->nameFilters(),
                 (QStringList{"Raster Images [*.raw] (*.raw)", "Bitmaps [*.bmp] (*.bmp)"}));
        QVERIFY(MainForm->SavePictureDialog1->testOption(QFileDialog::HideNameFilterDetails));
        QCOMPARE(MainForm->SavePictureDialog1->acceptMode(), QFileDialog::AcceptSave);
        QVERIFY(MainForm->SavePictureDialog1->testOption(QFileDialog::DontConfirmOverwrite));
        QVERIFY(MainForm->SavePictureDialog1->testOption(QFileDialog::DontUseNativeDialog));
    }

    // The user sees the labels alone, and each filter really lists its files.
    void fileDialogFiltersListTheirFiles() {
        QFileDialog& dialog = *MainForm->OpenPictureDialog;
        dialog.setDirectory(QStringLiteral(KAVEL_BUILD_SAMPLES_DIR));
        const auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        QVERIFY(combo != nullptr);
        QCOMPARE(combo->itemText(0), QStringLiteral("Raw Image [*.raw]"));
        QCOMPARE(combo->itemText(1), QStringLiteral("Bitmap [*.bmp]"));
        auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
        QVERIFY(view != nullptr);
        const auto shown = [view] {
            QStringList names;
            for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
                names << view->model()->index(row, 0, view->rootIndex()).data().toString();
            }
            return names;
        };
        dialog.selectNameFilter(dialog.nameFilters().at(0));
        QTRY_VERIFY(shown().contains(QStringLiteral("scene.raw")));
        QVERIFY(!shown().contains(QStringLiteral("scene.bmp")));
        dialog.selectNameFilter(dialog.nameFilters().at(1));
        QTRY_VERIFY(shown().contains(QStringLiteral("scene.bmp")));
        QVERIFY(!shown().contains(QStringLiteral("scene.raw")));
        dialog.selectNameFilter(dialog.nameFilters().at(0));
    }

    void rasterStoresItsSize() {
        auto rows = kavel::AllocateByteMatrix(640, 480);
        QVERIFY(rows.ok());
        MainForm->ImageLines = 3;
        MainForm->ImageColumns = 4;
        const kavel::TRasterImage raster = MainForm->CreateRasterImage(*rows);
        QCOMPARE(raster.Columns(), 640);
        QCOMPARE(MainForm->ImageLines, 480);
        QCOMPARE(MainForm->ImageColumns, 640);
    }

    void tileStacksChildrenAcrossTheFullWidth() {
        MainForm->Cascade1Click();
        MainForm->Tile1Click();
        const QRect area = MainForm->MdiArea->viewport()->rect();
        const QRect front = ImageForm->SubWindow()->geometry();
        const QRect back = ResultImageForm->SubWindow()->geometry();
        QCOMPARE(front.x(), 0);
        QCOMPARE(back.x(), 0);
        QCOMPARE(front.width(), area.width());
        QCOMPARE(back.width(), area.width());
        QCOMPARE(front.y(), 0);  // the front window on top
        QCOMPARE(back.y(), front.bottom() + 1);
        QCOMPARE(front.height() + back.height(), area.height());
        QVERIFY(qAbs(front.height() - back.height()) <= 1);

        // A minimised child keeps its place; the other takes the area above
        // the row of minimised bars, which stays in sight.
        ResultImageForm->SubWindow()->close();
        QVERIFY(ResultImageForm->SubWindow()->isMinimized());
        const QRect bar = ResultImageForm->SubWindow()->geometry();
        MainForm->Tile1Click();
        const QRect tiled = ImageForm->SubWindow()->geometry();
        QCOMPARE(tiled.topLeft(), area.topLeft());
        QCOMPARE(tiled.width(), area.width());
        QCOMPARE(tiled.bottom(), bar.top() - 1);
        QVERIFY(!tiled.intersects(bar));
    }

    void cascadeAndNeighbours() {
        MainForm->Cascade1Click();
        QVERIFY(ImageForm->SubWindow()->pos() != ResultImageForm->SubWindow()->pos());
        QCOMPARE(MainForm->MdiArea->activeSubWindow(), ImageForm->SubWindow());
        MainForm->Next2->trigger();
        QCOMPARE(MainForm->MdiArea->activeSubWindow(), ResultImageForm->SubWindow());
        MainForm->Next2->trigger();
        QCOMPARE(MainForm->MdiArea->activeSubWindow(), ImageForm->SubWindow());
        MainForm->Previous2->trigger();
        QCOMPARE(MainForm->MdiArea->activeSubWindow(), ResultImageForm->SubWindow());
    }

    void closingAChildMinimisesIt() {
        auto rows = kavel::AllocateByteMatrix(10, 10);
        QVERIFY(rows.ok());
        ImageForm->SetImage(MainForm->CreateRasterImage(*rows));
        ImageForm->SetCaption(QStringLiteral(" 1.- a.raw"));
        QVERIFY(ImageForm->DisplayBitmap() != nullptr);

        QMdiSubWindow* frame = ImageForm->SubWindow();
        QVERIFY(frame->close() == false);
        QVERIFY(frame->isMinimized());
        QVERIFY(ImageForm != nullptr && ImageForm->SubWindow() == frame);
        QVERIFY(ImageForm->DisplayBitmap() == nullptr);
        QCOMPARE(ImageForm->Caption(), QStringLiteral(" 1.- a.raw"));
        QCOMPARE(MainForm->MdiArea->subWindowList().size(), 2);

        // The next image brings it back.
        ImageForm->SetImage(MainForm->CreateRasterImage(*rows));
        ImageForm->BringToFront();
        QVERIFY(!frame->isMinimized());
        QCOMPARE(MainForm->MdiArea->activeSubWindow(), frame);
    }

    void informationCommandsShowTheirDialogs() {
        const std::pair<QAction*, QDialog*> commands[] = {{MainForm->Author, AuthorForm},
                                                          {MainForm->Copyrigth, CopyrigthForm},
                                                          {MainForm->English, EnglishInfoForm},
                                                          {MainForm->French, FrenchInfoForm},
                                                          {MainForm->Spanish, SpanishInfoForm}};
        for (const auto& [action, dialog] : commands) {
            QWidget* seen = nullptr;
            const ModalScript script1({[&seen](QWidget* modal) {
                seen = modal;
                if (auto* ok = modal->findChild<QAbstractButton*>(QStringLiteral("BitBtn1"))) {
                    ok->click();
                }
            }});
            action->trigger();
            QCOMPARE(seen, static_cast<QWidget*>(dialog));
            QVERIFY(!dialog->isVisible());
        }
    }

    void histogramCommandShowsItsWindow() {
        using Handler = void (TMainForm::*)();
        for (Handler show : {&TMainForm::HistoClick, &TMainForm::HistoSpeedButtonClick}) {
            QWidget* seen = nullptr;
            const ModalScript script2({[&seen](QWidget* modal) {
                seen = modal;
                qobject_cast<QDialog*>(modal)->reject();
            }});
            (MainForm->*show)();
            QCOMPARE(seen, static_cast<QWidget*>(HistoGrisForm));
        }
    }

    void treatmentRunsOnlyWhenNotCancelled() {
        const ModalScript script3({[](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); }});
        MainForm->TreatmentClick();
        QVERIFY(DiagKavelTreatForm->Cancelled());
        QVERIFY(MainForm->ResultCaption.isEmpty());

        const ModalScript script4({[](QWidget* modal) { qobject_cast<QDialog*>(modal)->accept(); }});
        QTest::mouseClick(MainForm->TreatmentSpeedButton, Qt::LeftButton);
        QVERIFY(!DiagKavelTreatForm->Cancelled());
        QCOMPARE(MainForm->ResultCaption, QStringLiteral("Resulting Binarized Image"));
    }

    void exitClosesTheMainWindowAtOnce() {
        MainForm->Exit->trigger();
        QVERIFY(!MainForm->isVisible());
        windows_.reset();
        windows_.emplace(CreateApplicationWindows());
        QVERIFY(QTest::qWaitForWindowExposed(MainForm));
        QTest::mouseClick(MainForm->ExitSpeedButton, Qt::LeftButton);
        QVERIFY(!MainForm->isVisible());
    }

    void exceptionsAreShownAndTheProgramGoesOn() {
        Thrower thrower;
        QString shown;
        const ModalScript script5({[&shown](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                shown = box->text();
                box->accept();
            }
        }});
        QEvent event(QEvent::User);
        QVERIFY(!QCoreApplication::sendEvent(&thrower, &event));
        QCOMPARE(shown, QStringLiteral("disk on fire"));

        thrower.throwUnknown = true;
        shown = QStringLiteral("untouched");
        const ModalScript script6({[&shown](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                shown = box->text();
                box->accept();
            }
        }});
        QVERIFY(!QCoreApplication::sendEvent(&thrower, &event));
        QVERIFY(shown.isEmpty());
        QVERIFY(MainForm->isVisible());
    }

    void screenshotHasTheLayout() {
        MainForm->showNormal();
        MainForm->resize(817, 652);
        QTest::qWait(20);
        const QPixmap shot = MainForm->grab();
        QCOMPARE(shot.size(), QSize(817, 652));
        const QRect tools = MainForm->ToolBar1->geometry();
        const QRect status = MainForm->StatusBar->geometry();
        const QRect area = MainForm->MdiArea->geometry();
        QVERIFY(tools.top() >= MainForm->MainMenu->geometry().bottom());
        QVERIFY(area.top() > tools.bottom());
        QCOMPARE(status.height(), 19);
        QCOMPARE(status.bottom(), 651);
        QVERIFY(area.bottom() < status.top());
        QCOMPARE(area.width(), 817);
        QCOMPARE(MainForm->ToolBar1->grab().height(), 34);
        QVERIFY(!MainForm->windowIcon().isNull());
    }
};

int main(int argc, char** argv) {
    KavelApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
