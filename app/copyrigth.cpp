#include "copyrigth.h"

#include <QPushButton>
#include <QStyle>

#include "dialogplacement.h"
#include "formfont.h"
#include "ui_copyrigth.h"

TCopyrigthForm* CopyrigthForm = nullptr;

TCopyrigthForm::TCopyrigthForm(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TCopyrigthForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("CopyrigthForm"));
    ui_->BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    KeepOuterGeometry(this, DialogPlacement::CentredOverMain, false);
    QFont heading = FormFont(24);
    heading.setBold(true);
    ui_->Label1->setFont(heading);

    connect(ui_->BitBtn1, &QPushButton::clicked, this, &TCopyrigthForm::BitBtn1Click);
}

TCopyrigthForm::~TCopyrigthForm() = default;

void TCopyrigthForm::BitBtn1Click() {
    accept();
}

void TCopyrigthForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
}
