#include "diagkaveltreatment.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QString>
#include <QStyle>

#include "dialogplacement.h"
#include "qtconvert.h"
#include "resources.h"
#include "ui_diagkaveltreatment.h"

QPointer<TDiagKavelTreatForm> DiagKavelTreatForm;

namespace {

// Hidden first, then disabled (or the reverse for the box in use), so a box is
// never enabled while out of sight.
void SetToneBox(QWidget* box, bool inUse) {
    box->setVisible(inUse);
    box->setEnabled(inUse);
}

}  // namespace

TDiagKavelTreatForm::TDiagKavelTreatForm(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TDiagKavelTreatForm>()) {
    ui_->setupUi(this);
    // The form is designed under its class name; uic would otherwise shadow the global.
    setObjectName(QStringLiteral("DiagKavelTreatForm"));
    setWindowIcon(ApplicationIcon());
    ui_->BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    ui_->BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    KeepOuterGeometry(this, DialogPlacement::CentredOverMain, true);

    parameters_.TreatmentType = kavel::TreatmentKind::None;
    ui_->RadioButton1->setChecked(false);
    ui_->RadioButton2->setChecked(false);
    ui_->RadioButton3->setChecked(false);
    for (QWidget* box : {ui_->GroupBox3, ui_->GroupBox4, ui_->GroupBox5}) {
        box->setVisible(false);
        box->setEnabled(false);
    }
    cancelled_ = false;

    connect(ui_->MinEdit, &QLineEdit::textChanged, this, &TDiagKavelTreatForm::MinEditChange);
    connect(ui_->MaxEdit, &QLineEdit::textChanged, this, &TDiagKavelTreatForm::MaxEditChange);
    connect(ui_->ItemEdit1, &QLineEdit::textChanged, this, &TDiagKavelTreatForm::ItemEdit1Change);
    connect(ui_->BackGroundEdit1, &QLineEdit::textChanged, this, &TDiagKavelTreatForm::BackGroundEdit1Change);
    connect(ui_->BorderEdit2, &QLineEdit::textChanged, this, &TDiagKavelTreatForm::BorderEdit2Change);
    connect(ui_->BackGroundEdit2, &QLineEdit::textChanged, this, &TDiagKavelTreatForm::BackGroundEdit2Change);
    connect(ui_->ItemEdit3, &QLineEdit::textChanged, this, &TDiagKavelTreatForm::ItemEdit3Change);
    connect(ui_->BorderEdit3, &QLineEdit::textChanged, this, &TDiagKavelTreatForm::BorderEdit3Change);
    connect(ui_->BackGroundEdit3, &QLineEdit::textChanged, this, &TDiagKavelTreatForm::BackGroundEdit3Change);
    connect(ui_->RadioButton1, &QRadioButton::clicked, this, &TDiagKavelTreatForm::RadioButton1Click);
    connect(ui_->RadioButton2, &QRadioButton::clicked, this, &TDiagKavelTreatForm::RadioButton2Click);
    connect(ui_->RadioButton3, &QRadioButton::clicked, this, &TDiagKavelTreatForm::RadioButton3Click);
    connect(ui_->BitBtn1, &QPushButton::clicked, this, &TDiagKavelTreatForm::BitBtn1Click);
    connect(ui_->BitBtn2, &QPushButton::clicked, this, &TDiagKavelTreatForm::BitBtn2Click);
}

TDiagKavelTreatForm::~TDiagKavelTreatForm() = default;

void TDiagKavelTreatForm::MinEditChange(const QString& text) {
    parameters_.MinThreshold = EditValue(text);
}
void TDiagKavelTreatForm::MaxEditChange(const QString& text) {
    parameters_.MaxThreshold = EditValue(text);
}
void TDiagKavelTreatForm::ItemEdit1Change(const QString& text) {
    parameters_.ItemTone = EditValue(text);
}
void TDiagKavelTreatForm::BackGroundEdit1Change(const QString& text) {
    parameters_.BackgroundTone = EditValue(text);
}
void TDiagKavelTreatForm::BorderEdit2Change(const QString& text) {
    parameters_.BorderTone = EditValue(text);
}
void TDiagKavelTreatForm::BackGroundEdit2Change(const QString& text) {
    parameters_.BackgroundTone = EditValue(text);
}
void TDiagKavelTreatForm::ItemEdit3Change(const QString& text) {
    parameters_.ItemTone = EditValue(text);
}
void TDiagKavelTreatForm::BorderEdit3Change(const QString& text) {
    parameters_.BorderTone = EditValue(text);
}
void TDiagKavelTreatForm::BackGroundEdit3Change(const QString& text) {
    parameters_.BackgroundTone = EditValue(text);
}

void TDiagKavelTreatForm::ShowToneBox(kavel::TreatmentKind type) {
    ui_->RadioButton1->setChecked(type == kavel::TreatmentKind::WholeItem);
    ui_->RadioButton2->setChecked(type == kavel::TreatmentKind::Border);
    ui_->RadioButton3->setChecked(type == kavel::TreatmentKind::ItemAndBorder);
    SetToneBox(ui_->GroupBox3, type == kavel::TreatmentKind::WholeItem);
    SetToneBox(ui_->GroupBox4, type == kavel::TreatmentKind::Border);
    SetToneBox(ui_->GroupBox5, type == kavel::TreatmentKind::ItemAndBorder);
    parameters_.TreatmentType = type;
}

void TDiagKavelTreatForm::RadioButton1Click() {
    ShowToneBox(kavel::TreatmentKind::WholeItem);
}
void TDiagKavelTreatForm::RadioButton2Click() {
    ShowToneBox(kavel::TreatmentKind::Border);
}
void TDiagKavelTreatForm::RadioButton3Click() {
    ShowToneBox(kavel::TreatmentKind::ItemAndBorder);
}

void TDiagKavelTreatForm::BitBtn1Click() {
    accept();
}

void TDiagKavelTreatForm::BitBtn2Click() {
    cancelled_ = true;
    reject();
}

void TDiagKavelTreatForm::showEvent(QShowEvent* event) {
    // Only the showing that is starting decides whether the treatment runs.
    cancelled_ = false;
    QDialog::showEvent(event);
}

void TDiagKavelTreatForm::keyPressEvent(QKeyEvent* event) {
    // Esc is the Cancel button, not a plain close: the close box runs the
    // treatment, Esc does not.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        ui_->BitBtn2->click();
        return;
    }
    QDialog::keyPressEvent(event);
}
