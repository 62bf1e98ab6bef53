// The MDI frame: menu, tool bar, three-panel status bar, zoom mode, window
// commands and the working state every other window reads and writes.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <filesystem>
#include <memory>
#include <vector>

#include "kavel/guitools.h"

class QAction;
class QFileDialog;
class QLabel;
class QMdiArea;
class QMenu;
class QMenuBar;
class QStatusBar;
class QToolBar;
class QToolButton;

namespace Ui {
class TMainForm;
}

class TMainForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Controls, owned by the window.
    QMenuBar* MainMenu = nullptr;
    QMenu* Files = nullptr;
    QMenu* Tools = nullptr;
    QMenu* Window = nullptr;
    QMenu* About = nullptr;
    QMenu* Infos = nullptr;
    QAction* Open = nullptr;
    QAction* N1 = nullptr;
    QAction* Exit = nullptr;
    QAction* Histo = nullptr;
    QAction* GTNumber = nullptr;
    QAction* N2 = nullptr;
    QAction* Treatment = nullptr;
    QAction* Cascade2 = nullptr;
    QAction* Tile2 = nullptr;
    QAction* Previous2 = nullptr;
    QAction* Next2 = nullptr;
    QAction* Author = nullptr;
    QAction* Copyrigth = nullptr;
    QAction* English = nullptr;
    QAction* French = nullptr;
    QAction* Spanish = nullptr;
    QMdiArea* MdiArea = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QToolButton* OpenSpeedButton = nullptr;
    QToolButton* SaveKavelSpeedButton = nullptr;
    QToolButton* ZoomSpeedButton = nullptr;
    QToolButton* TreatmentSpeedButton = nullptr;
    QToolButton* HistoSpeedButton = nullptr;
    QToolButton* ExitSpeedButton = nullptr;
    QStatusBar* StatusBar = nullptr;
    void SetStatusPanel(int index, const QString& text);
    QString StatusPanel(int index) const;

    // Non-native, so tests can drive them like any other dialog.
    QFileDialog* OpenPictureDialog = nullptr;   // "OPEN IMAGE"
    QFileDialog* SavePictureDialog1 = nullptr;  // "SAVE RESULT"

    // Handlers.
    void OpenClick();
    void OpenSpeedButtonClick();
    void SaveKavelSpeedButtonClick();
    void ZoomSpeedButtonClick();
    void TreatmentClick();
    void TreatmentSpeedButtonClick();
    void HistoClick();
    void HistoSpeedButtonClick();
    void GTNumberClick();
    void Cascade1Click();
    void Tile1Click();
    void Previous1Click();
    void Next1Click();
    void AuthorClick();
    void CopyrigthClick();
    void EnglishClick();
    void FrenchClick();
    void SpanishClick();
    void ExitClick();
    void ExitSpeedButtonClick();

    void OpenImage();
    void SaveResult();

    // A gray raster over rows (no copy); building it stores its size into
    // ImageLines and ImageColumns, which the windows take their bounds from.
    kavel::TRasterImage CreateRasterImage(kavel::ByteMatrix& rows);

    // Working state.
    QString ImageFileName;
    QString DescriptorFileName;
    QString ResultCaption;
    QString HistogramFileName;
    QString ImageCaption;
    QString ImageDirectory;
    QString ImagePath;
    kavel::ByteMatrix SourceRows;
    kavel::ByteMatrix ResultRows;
    int ImageLines = 0;
    int ImageColumns = 0;
    QString SavePath;

private:
    void CreateToolBar();
    void CreateStatusBar();
    void CreateFileDialogs();

    std::unique_ptr<Ui::TMainForm> ui_;
    QLabel* panels_[3] = {nullptr, nullptr, nullptr};
};

void ApplyTreatment();

// Kept by the open (mainwindow_open.cpp): the image file on show and, for a
// raw image, its descriptor; a save must not replace them.
const std::vector<std::filesystem::path>& FilesOfOpenImage();

// Null once the window is destroyed.
extern QPointer<TMainForm> MainForm;
