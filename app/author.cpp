#include "author.h"

#include <QPushButton>
#include <QStyle>

#include "dialogplacement.h"
#include "ui_author.h"

TAuthorForm* AuthorForm = nullptr;

TAuthorForm::TAuthorForm(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TAuthorForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("AuthorForm"));
    ui_->BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    KeepOuterGeometry(this, DialogPlacement::CentredOverMain, false);
    connect(ui_->BitBtn1, &QPushButton::clicked, this, &TAuthorForm::BitBtn1Click);
}

TAuthorForm::~TAuthorForm() = default;

void TAuthorForm::BitBtn1Click() {
    accept();
}

void TAuthorForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
}
