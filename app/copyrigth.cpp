#include "copyrigth.h"

#include "formfont.h"
#include "ui_copyrigth.h"

QPointer<TCopyrigthForm> CopyrigthForm;

TCopyrigthForm::TCopyrigthForm(QWidget* parent)
    : TInfoForm(parent), ui_(std::make_unique<Ui::TCopyrigthForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("CopyrigthForm"));
    SetUpInfoForm(ui_->BitBtn1);
    QFont heading = FormFont(24);
    heading.setBold(true);
    ui_->Label1->setFont(heading);
}

TCopyrigthForm::~TCopyrigthForm() = default;
