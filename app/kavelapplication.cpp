#include "kavelapplication.h"

#include <QMdiArea>
#include <QMessageBox>
#include <QScreen>
#include <exception>

#include "author.h"
#include "copyrigth.h"
#include "cursors.h"
#include "diagkaveltreatment.h"
#include "englishinfo.h"
#include "formfont.h"
#include "frenchinfo.h"
#include "histogris.h"
#include "imagesize.h"
#include "imagewindow.h"
#include "mainwindow.h"
#include "resources.h"
#include "resultimage.h"
#include "spanishinfo.h"

KavelApplication::KavelApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The name only: a display name would be appended to every window title.
    setApplicationName(QStringLiteral("KAVEL"));
    setApplicationVersion(QStringLiteral(KAVEL_VERSION));
    InitKavelResources();
    setWindowIcon(ApplicationIcon());
}

bool KavelApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowException(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ShowException(QString());
    }
    return false;
}

void ShowException(const QString& message) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), message, QMessageBox::Ok);
    box.setObjectName(QStringLiteral("ExceptionBox"));
    box.exec();
}

ApplicationWindows::~ApplicationWindows() {
    if (!main_) {
        return;
    }
    // Qt's parent tree deletes the children; each global pointer is a QPointer
    // and turns null with its window. The main window's is cleared first, so
    // nothing reads it while its children go.
    std::unique_ptr<TMainForm> main = std::move(main_);
    MainForm = nullptr;
    main.reset();
    ClearScreenCursor();
}

ApplicationWindows CreateApplicationWindows() {
    InitKavelResources();
    // One icon and one font for every window; a top-level window does not
    // take its font from its parent, so it is set for the application.
    QApplication::setWindowIcon(ApplicationIcon());
    RegisterFormFont();
    QApplication::setFont(FormFont());

    ApplicationWindows windows;
    windows.main_ = std::make_unique<TMainForm>();
    MainForm = windows.main_.get();
    MainForm->setWindowIcon(ApplicationIcon());

    ResultImageForm = new TResultImageForm();
    ResultImageForm->AddToMdiArea(MainForm->MdiArea);
    ImageForm = new TImageForm();
    ImageForm->AddToMdiArea(MainForm->MdiArea);  // added last, so in front

    HistoGrisForm = new THistoGrisForm(MainForm);
    ImageSizeForm = new TImageSizeForm(MainForm);
    DiagKavelTreatForm = new TDiagKavelTreatForm(MainForm);
    AuthorForm = new TAuthorForm(MainForm);
    EnglishInfoForm = new TEnglishInfoForm(MainForm);
    FrenchInfoForm = new TFrenchInfoForm(MainForm);
    CopyrigthForm = new TCopyrigthForm(MainForm);
    SpanishInfoForm = new TSpanishInfoForm(MainForm);

    // The frame fills the work area; restored, it takes its design bounds,
    // 817 x 652 centred on the screen, with the title bar in sight.
    if (const QScreen* screen = MainForm->screen()) {
        QRect design(0, 0, 817, 652);
        design.moveCenter(screen->availableGeometry().center());
        MainForm->setGeometry(design);
    }
    MainForm->showMaximized();
    MainForm->MdiArea->setActiveSubWindow(ImageForm->SubWindow());
    return windows;
}
