#include "mainwindow.h"

#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QProxyStyle>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>
#include <algorithm>

#include "author.h"
#include "copyrigth.h"
#include "cursors.h"
#include "diagkaveltreatment.h"
#include "englishinfo.h"
#include "filedialogs.h"
#include "frenchinfo.h"
#include "histogris.h"
#include "imagesize.h"
#include "kavel/statistics.h"
#include "resources.h"
#include "spanishinfo.h"
#include "ui_mainwindow.h"

QPointer<TMainForm> MainForm;

namespace {

// The tool bar lays its items edge to edge, with no margin, frame or spacing,
// so every button sits at the x position the layout promises.
class ToolBarStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        switch (metric) {
            case PM_ToolBarItemMargin:
            case PM_ToolBarFrameWidth:
            case PM_ToolBarItemSpacing:
                return 0;
            default:
                return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }
};

constexpr int kButtonSize = 32;
constexpr int kSeparatorWidth = 8;
constexpr int kToolBarHeight = 34;
constexpr int kStatusBarHeight = 19;
constexpr int kPanelWidth = 250;

}  // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent), ui_(std::make_unique<Ui::TMainForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("MainForm"));
    MainMenu = ui_->MainMenu;
    Files = ui_->Files;
    Tools = ui_->Tools;
    Window = ui_->Window;
    About = ui_->About;
    Infos = ui_->Infos;
    Open = ui_->Open;
    N1 = ui_->N1;
    Exit = ui_->Exit;
    Histo = ui_->Histo;
    GTNumber = ui_->GTNumber;
    N2 = ui_->N2;
    Treatment = ui_->Treatment;
    Cascade2 = ui_->Cascade2;
    Tile2 = ui_->Tile2;
    Previous2 = ui_->Previous2;
    Next2 = ui_->Next2;
    Author = ui_->Author;
    Copyrigth = ui_->Copyrigth;
    English = ui_->English;
    French = ui_->French;
    Spanish = ui_->Spanish;
    MdiArea = ui_->MdiArea;
    ToolBar1 = ui_->ToolBar1;
    StatusBar = ui_->StatusBar;

    // Children larger than the area, or moved beyond it, stay reachable.
    MdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    MdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    CreateToolBar();
    CreateStatusBar();
    CreateFileDialogs();

    connect(Open, &QAction::triggered, this, &TMainForm::OpenClick);
    connect(Exit, &QAction::triggered, this, &TMainForm::ExitClick);
    connect(Histo, &QAction::triggered, this, &TMainForm::HistoClick);
    connect(GTNumber, &QAction::triggered, this, &TMainForm::GTNumberClick);
    connect(Treatment, &QAction::triggered, this, &TMainForm::TreatmentClick);
    connect(Cascade2, &QAction::triggered, this, &TMainForm::Cascade1Click);
    connect(Tile2, &QAction::triggered, this, &TMainForm::Tile1Click);
    connect(Previous2, &QAction::triggered, this, &TMainForm::Previous1Click);
    connect(Next2, &QAction::triggered, this, &TMainForm::Next1Click);
    connect(Author, &QAction::triggered, this, &TMainForm::AuthorClick);
    connect(Copyrigth, &QAction::triggered, this, &TMainForm::CopyrigthClick);
    connect(English, &QAction::triggered, this, &TMainForm::EnglishClick);
    connect(French, &QAction::triggered, this, &TMainForm::FrenchClick);
    connect(Spanish, &QAction::triggered, this, &TMainForm::SpanishClick);

    connect(OpenSpeedButton, &QToolButton::clicked, this, &TMainForm::OpenSpeedButtonClick);
    connect(SaveKavelSpeedButton, &QToolButton::clicked, this, &TMainForm::SaveKavelSpeedButtonClick);
    connect(ZoomSpeedButton, &QToolButton::clicked, this, &TMainForm::ZoomSpeedButtonClick);
    connect(TreatmentSpeedButton, &QToolButton::clicked, this, &TMainForm::TreatmentSpeedButtonClick);
    connect(HistoSpeedButton, &QToolButton::clicked, this, &TMainForm::HistoSpeedButtonClick);
    connect(ExitSpeedButton, &QToolButton::clicked, this, &TMainForm::ExitSpeedButtonClick);

    RegisterCursor(crMagnifier, LoadLoupeCursor());
    SetScreenCursorArrow();
}

TMainForm::~TMainForm() = default;

void TMainForm::CreateToolBar() {
    auto* toolBarStyle = new ToolBarStyle();
    toolBarStyle->setParent(this);  // outlives the tool bar, which uses it until deleted
    ToolBar1->setStyle(toolBarStyle);
    // Buttons from x 0, at y 2, in a bar 34 high. The tool bar's layout takes
    // its left margin as the offset across the bar and its top margin as the
    // offset along it, while its size hint adds them the usual way; these
    // margins give exactly that placement. They stay until a style change.
    ToolBar1->layout()->setContentsMargins(kToolBarHeight - kButtonSize, 0, 0, kToolBarHeight - kButtonSize);
    ToolBar1->setFixedHeight(kToolBarHeight);
    ToolBar1->setIconSize(QSize(kButtonSize, kButtonSize));
    ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
    ToolBar1->toggleViewAction()->setEnabled(false);

    auto addButton = [this](const char* name, const QString& hint, const QString& glyph, int glyphSize) {
        auto* button = new QToolButton(ToolBar1);
        button->setObjectName(QString::fromLatin1(name));
        button->setToolTip(hint);
        button->setFixedSize(kButtonSize, kButtonSize);
        button->setIconSize(QSize(glyphSize, glyphSize));
        button->setIcon(QIcon(LoadGlyph(glyph, glyphSize, glyphSize)));
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        ToolBar1->addWidget(button);
        return button;
    };
    auto addSeparator = [this](const char* name) {
        auto* gap = new QFrame(ToolBar1);
        gap->setObjectName(QString::fromLatin1(name));
        gap->setFrameShape(QFrame::VLine);
        gap->setFrameShadow(QFrame::Sunken);
        gap->setFixedSize(kSeparatorWidth, kButtonSize);
        ToolBar1->addWidget(gap);
    };

    OpenSpeedButton = addButton("OpenSpeedButton", QStringLiteral("Open Gray Tone File"),
                                QStringLiteral(":/glyphs/open.svg"), 32);
    addSeparator("ToolButton4");
    SaveKavelSpeedButton = addButton("SaveKavelSpeedButton", QStringLiteral("Save Binarized Image"),
                                     QStringLiteral(":/glyphs/save.svg"), 32);
    addSeparator("ToolButton1");
    ZoomSpeedButton =
        addButton("ZoomSpeedButton", QStringLiteral("Zoom"), QStringLiteral(":/glyphs/zoom.svg"), 20);
    ZoomSpeedButton->setCheckable(true);
    ZoomSpeedButton->setChecked(false);
    addSeparator("ToolButton3");
    TreatmentSpeedButton = addButton("TreatmentSpeedButton", QStringLiteral("Treatment"),
                                     QStringLiteral(":/glyphs/treatment.svg"), 32);
    addSeparator("ToolButton6");
    HistoSpeedButton =
        addButton("HistoSpeedButton", QStringLiteral("Histo"), QStringLiteral(":/glyphs/histo.svg"), 32);
    addSeparator("ToolButton5");
    ExitSpeedButton =
        addButton("ExitSpeedButton", QStringLiteral("Exit"), QStringLiteral(":/glyphs/exit.svg"), 32);
}

void TMainForm::CreateStatusBar() {
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setFixedHeight(kStatusBarHeight);
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QLabel(StatusBar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFixedWidth(kPanelWidth);
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setTextFormat(Qt::PlainText);
        StatusBar->addWidget(panel);
        panels_[i] = panel;
    }
}

void TMainForm::CreateFileDialogs() {
    // The designed "C:\images" where it exists, else the samples: a folder
    // that does not exist would land in the name box as a file name.
    const QString imagesDir = DefaultImageFolder();

    OpenPictureDialog = new QFileDialog(this, QStringLiteral("OPEN IMAGE"), imagesDir);
    OpenPictureDialog->setObjectName(QStringLiteral("OpenPictureDialog"));
    OpenPictureDialog->setOption(QFileDialog::DontUseNativeDialog, true);
    OpenPictureDialog->setOption(QFileDialog::ReadOnly, false);
    OpenPictureDialog->setAcceptMode(QFileDialog::AcceptOpen);
    OpenPictureDialog->setFileMode(QFileDialog::ExistingFile);
    // The labels carry their patterns in brackets, which Qt does not read as
    // patterns: the real ones follow in parentheses, hidden from the user.
    OpenPictureDialog->setOption(QFileDialog::HideNameFilterDetails, true);
    OpenPictureDialog->setNameFilters({QStringLiteral("Raw Image [*.raw] (*.raw)"),
                                       QStringLiteral("Bitmap [*.bmp] (*.bmp)"), ConvertedEntryFilter()});
    OpenPictureDialog->selectNameFilter(OpenPictureDialog->nameFilters().constFirst());
    OpenPictureDialog->setSizeGripEnabled(true);
    PrepareFileDialog(OpenPictureDialog);

    SavePictureDialog1 = new QFileDialog(this, QStringLiteral("SAVE RESULT"), imagesDir);
    SavePictureDialog1->setObjectName(QStringLiteral("SavePictureDialog1"));
    SavePictureDialog1->setOption(QFileDialog::DontUseNativeDialog, true);
    SavePictureDialog1->setOption(QFileDialog::DontConfirmOverwrite, true);
    SavePictureDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SavePictureDialog1->setFileMode(QFileDialog::AnyFile);
    SavePictureDialog1->setOption(QFileDialog::HideNameFilterDetails, true);
    SavePictureDialog1->setNameFilters(
        {QStringLiteral("Raster Images [*.raw] (*.raw)"), QStringLiteral("Bitmaps [*.bmp] (*.bmp)")});
    SavePictureDialog1->selectNameFilter(SavePictureDialog1->nameFilters().constFirst());
    SavePictureDialog1->setSizeGripEnabled(true);
    PrepareFileDialog(SavePictureDialog1);
}

void TMainForm::SetStatusPanel(int index, const QString& text) {
    if (index >= 0 && index < 3) {
        panels_[index]->setText(text);
    }
}

QString TMainForm::StatusPanel(int index) const {
    return index >= 0 && index < 3 ? panels_[index]->text() : QString();
}

kavel::TRasterImage TMainForm::CreateRasterImage(kavel::ByteMatrix& rows) {
    kavel::TRasterImage raster = kavel::TRasterImage::ViewOf(rows);
    ImageLines = raster.Lines();
    ImageColumns = raster.Columns();
    return raster;
}

void TMainForm::OpenClick() {
    OpenImage();
}
void TMainForm::OpenSpeedButtonClick() {
    OpenImage();
}
void TMainForm::SaveKavelSpeedButtonClick() {
    SaveResult();
}

void TMainForm::ZoomSpeedButtonClick() {
    if (ZoomSpeedButton->isChecked()) {
        SetScreenCursorMagnifier();
    } else {
        SetScreenCursorArrow();
    }
}

void TMainForm::TreatmentClick() {
    DiagKavelTreatForm->exec();
    if (!DiagKavelTreatForm->Cancelled()) {
        ApplyTreatment();
    }
}
void TMainForm::TreatmentSpeedButtonClick() {
    TreatmentClick();
}

void TMainForm::HistoClick() {
    HistoGrisForm->exec();
}
void TMainForm::HistoSpeedButtonClick() {
    HistoGrisForm->exec();
}

void TMainForm::GTNumberClick() {
    const int tones = kavel::CountDistinctTones(SourceRows);
    QMessageBox message(QMessageBox::NoIcon, QString(),
                        QString::asprintf(" %d gray tones in the Original Image ", tones), QMessageBox::Ok);
    // Qt hands the window system the application's name for an empty title;
    // a lone blank keeps the title bar empty.
    message.winId();
    message.windowHandle()->setTitle(QStringLiteral(" "));
    message.exec();
}

void TMainForm::Cascade1Click() {
    MdiArea->cascadeSubWindows();
}

// One above the other, each across the whole client area; the front window
// goes on top. Minimised children keep their place, as in a cascade, and the
// tiles end above their row so they stay in sight.
void TMainForm::Tile1Click() {
    QList<QMdiSubWindow*> windows;
    QRect area = MdiArea->viewport()->rect();
    const QList<QMdiSubWindow*> stacked = MdiArea->subWindowList(QMdiArea::StackingOrder);
    for (qsizetype i = stacked.size(); i-- > 0;) {
        QMdiSubWindow* window = stacked[i];
        if (!window->isVisible()) {
            continue;
        }
        if (window->isMinimized()) {
            area.setBottom(std::min(area.bottom(), window->geometry().top() - 1));
        } else {
            windows.append(window);
        }
    }
    if (windows.isEmpty() || area.height() <= 0) {
        return;
    }
    const int count = static_cast<int>(windows.size());
    for (int i = 0; i < count; ++i) {
        QMdiSubWindow* window = windows[i];
        if (window->isMaximized()) {
            window->showNormal();
        }
        const int top = area.top() + area.height() * i / count;
        const int bottom = area.top() + area.height() * (i + 1) / count;
        window->setGeometry(area.left(), top, area.width(), bottom - top);
    }
}

void TMainForm::Previous1Click() {
    MdiArea->activatePreviousSubWindow();
}
void TMainForm::Next1Click() {
    MdiArea->activateNextSubWindow();
}

void TMainForm::AuthorClick() {
    AuthorForm->exec();
}
void TMainForm::CopyrigthClick() {
    CopyrigthForm->exec();
}
void TMainForm::EnglishClick() {
    EnglishInfoForm->exec();
}
void TMainForm::FrenchClick() {
    FrenchInfoForm->exec();
}
void TMainForm::SpanishClick() {
    SpanishInfoForm->exec();
}

void TMainForm::ExitClick() {
    close();
}
void TMainForm::ExitSpeedButtonClick() {
    close();
}
