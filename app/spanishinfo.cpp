#include "spanishinfo.h"

#include <QPushButton>
#include <QStyle>

#include "dialogplacement.h"
#include "ui_spanishinfo.h"

TSpanishInfoForm* SpanishInfoForm = nullptr;

TSpanishInfoForm::TSpanishInfoForm(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TSpanishInfoForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("SpanishInfoForm"));
    ui_->BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    KeepOuterGeometry(this, DialogPlacement::CentredOverMain, false);
    // The box takes typed text, but Tab moves on, so the keyboard reaches OK.
    ui_->Memo1->setTabChangesFocus(true);
    connect(ui_->BitBtn1, &QPushButton::clicked, this, &TSpanishInfoForm::BitBtn1Click);
}

TSpanishInfoForm::~TSpanishInfoForm() = default;

void TSpanishInfoForm::BitBtn1Click() {
    accept();
}

void TSpanishInfoForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
}
