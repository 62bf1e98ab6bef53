#include "histogris.h"

#include <QEvent>
#include <QFileDialog>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>

#include "ui_histogris.h"

THistoGrisForm* HistoGrisForm = nullptr;

THistoGrisForm::THistoGrisForm(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::THistoGrisForm>()) {
    ui_->setupUi(this);
    // The form is designed under its class name; uic would otherwise shadow the global.
    setObjectName(QStringLiteral("HistoGrisForm"));
    setFixedSize(size());
    move(336, 260);
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
        PaintBoxPaint();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void THistoGrisForm::PaintBoxPaint() {}

void THistoGrisForm::DrawHistogram(QPainter&, const QRect&) {}

void THistoGrisForm::BitBtnSaveClick() {}

void THistoGrisForm::BitBtnOKClick() {
    accept();
}
