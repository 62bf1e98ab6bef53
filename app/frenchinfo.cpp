#include "frenchinfo.h"

#include <QPushButton>
#include <QStyle>

#include "guiutil.h"
#include "ui_frenchinfo.h"

TFrenchInfoForm* FrenchInfoForm = nullptr;

TFrenchInfoForm::TFrenchInfoForm(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TFrenchInfoForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("FrenchInfoForm"));
    ui_->BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    connect(ui_->BitBtn1, &QPushButton::clicked, this, &TFrenchInfoForm::BitBtn1Click);
}

TFrenchInfoForm::~TFrenchInfoForm() = default;

void TFrenchInfoForm::BitBtn1Click() {
    accept();
}

void TFrenchInfoForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    CentreOverMainWindow(this);
}
