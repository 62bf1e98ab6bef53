#include "infoform.h"

#include <QPushButton>
#include <QStyle>

#include "dialogplacement.h"

TInfoForm::TInfoForm(QWidget* parent) : QDialog(parent) {}

void TInfoForm::SetUpInfoForm(QPushButton* ok) {
    ok->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    KeepOuterGeometry(this, DialogPlacement::CentredOverMain, false);
    connect(ok, &QPushButton::clicked, this, &TInfoForm::BitBtn1Click);
}

void TInfoForm::BitBtn1Click() {
    accept();
}
