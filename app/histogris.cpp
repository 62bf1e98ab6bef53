#include "histogris.h"

#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>

#include "cursors.h"
#include "dialogplacement.h"
#include "filedialogs.h"
#include "formfont.h"
#include "mainwindow.h"
#include "qtconvert.h"
#include "resources.h"
#include "ui_histogris.h"

QPointer<THistoGrisForm> HistoGrisForm;

THistoGrisForm::THistoGrisForm(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::THistoGrisForm>()) {
    ui_->setupUi(this);
    // The form is designed under its class name; uic would otherwise shadow the global.
    setObjectName(QStringLiteral("HistoGrisForm"));
    setWindowIcon(ApplicationIcon());
    ui_->Label1->setFont(FormFont(12));
    ui_->Label3->setFont(FormFont(12));
    ui_->BitBtnOK->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    // Shown where it was designed, not centred on the main window.
    move(336, 260);
    KeepOuterGeometry(this, DialogPlacement::AtDesignPosition, true);

    SaveDialog1 = new QFileDialog(this, QStringLiteral("Save Histogram"));
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setOption(QFileDialog::DontUseNativeDialog, true);
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite, true);
    SaveDialog1->setOption(QFileDialog::HideNameFilterDetails, true);
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setNameFilters({QStringLiteral("File .xls (*.xls)"), QStringLiteral("File .ts (*.ts)")});
    SaveDialog1->setDirectory(WritableSaveFolder({}));
    PrepareFileDialog(SaveDialog1);
    ui_->PaintBox->installEventFilter(this);
    connect(ui_->BitBtnSave, &QPushButton::clicked, this, &THistoGrisForm::BitBtnSaveClick);
    connect(ui_->BitBtnOK, &QPushButton::clicked, this, &THistoGrisForm::BitBtnOKClick);
}

THistoGrisForm::~THistoGrisForm() = default;

QWidget* THistoGrisForm::PaintBox() const {
    return ui_->PaintBox;
}

bool THistoGrisForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->PaintBox && event->type() == QEvent::Paint) {
        PaintBoxPaint(static_cast<QPaintEvent*>(event)->rect());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void THistoGrisForm::PaintBoxPaint(const QRect& exposed) {
    QPainter painter(ui_->PaintBox);
    DrawHistogram(painter, exposed);
}

// A line from P to Q leaves Q unpainted, so every stroke here is a one-pixel
// wide rectangle from P up to, not including, Q.
void THistoGrisForm::DrawHistogram(QPainter& painter, const QRect& exposed) {
    // Recounted on every paint: the image may have changed since the last one.
    histoCounts_ = MainForm != nullptr ? kavel::ComputeHistogram(MainForm->SourceRows) : kavel::Histogram{};
    const std::int64_t maximum = kavel::MostFrequentCount(histoCounts_);

    painter.fillRect(exposed, palette().color(QPalette::Button));
    const QColor pen = Qt::black;
    const int baseline = ui_->PaintBox->height() - 5;

    for (int tone = 0; tone < 256; ++tone) {
        const int top =
            kavel::HistogramBarTop(histoCounts_[static_cast<std::size_t>(tone)], maximum, baseline);
        if (top < baseline) {
            painter.fillRect(tone, top + 1, 1, baseline - top, pen);
        }
    }
    painter.fillRect(0, baseline, 255, 1, pen);
    for (int tick = 0; tick <= 240; tick += 20) {
        painter.fillRect(tick, baseline + 1, 1, 4, pen);
    }
}

void THistoGrisForm::BitBtnSaveClick() {
    if (MainForm == nullptr) {
        return;
    }
    // The image's folder, unless the program may not write there (the
    // installed samples): then the user's pictures or home.
    SaveDialog1->setDirectory(WritableSaveFolder(MainForm->ImageDirectory.isEmpty()
                                                     ? SaveDialog1->directory().absolutePath()
                                                     : MainForm->ImageDirectory));
    if (SaveDialog1->exec() != QDialog::Accepted || SaveDialog1->selectedFiles().isEmpty()) {
        return;
    }
    MainForm->HistogramFileName = SaveDialog1->selectedFiles().constFirst();
    // ".xls" whatever the filter and whatever the name already ends with.
    const QString path = MainForm->HistogramFileName + QStringLiteral(".xls");
    const kavel::Status written = kavel::WriteHistogramFile(ToPath(path), histoCounts_);
    SetScreenCursorArrow();
    if (!written) {
        QMessageBox::warning(this, QStringLiteral("Save Histogram"),
                             tr("The histogram could not be saved in %1:\n%2")
                                 .arg(QDir::toNativeSeparators(path), ErrorText(written.error())));
    }
}

void THistoGrisForm::BitBtnOKClick() {
    accept();
}
