#include "englishinfo.h"

#include <QPushButton>
#include <QStyle>

#include "dialogplacement.h"
#include "ui_englishinfo.h"

TEnglishInfoForm* EnglishInfoForm = nullptr;

TEnglishInfoForm::TEnglishInfoForm(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TEnglishInfoForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("EnglishInfoForm"));
    ui_->BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    KeepOuterGeometry(this, DialogPlacement::CentredOverMain, false);
    // The box takes typed text, but Tab moves on, so the keyboard reaches OK.
    ui_->Memo1->setTabChangesFocus(true);
    connect(ui_->BitBtn1, &QPushButton::clicked, this, &TEnglishInfoForm::BitBtn1Click);
}

TEnglishInfoForm::~TEnglishInfoForm() = default;

void TEnglishInfoForm::BitBtn1Click() {
    accept();
}

void TEnglishInfoForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
}
