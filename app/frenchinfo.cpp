#include "frenchinfo.h"

#include <QPushButton>
#include <QStyle>

#include "dialogplacement.h"
#include "ui_frenchinfo.h"

TFrenchInfoForm* FrenchInfoForm = nullptr;

TFrenchInfoForm::TFrenchInfoForm(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TFrenchInfoForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("FrenchInfoForm"));
    ui_->BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    KeepOuterGeometry(this, DialogPlacement::CentredOverMain, false);
    // The box takes typed text, but Tab moves on, so the keyboard reaches OK.
    ui_->Memo1->setTabChangesFocus(true);
    connect(ui_->BitBtn1, &QPushButton::clicked, this, &TFrenchInfoForm::BitBtn1Click);
}

TFrenchInfoForm::~TFrenchInfoForm() = default;

void TFrenchInfoForm::BitBtn1Click() {
    accept();
}

void TFrenchInfoForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
}
