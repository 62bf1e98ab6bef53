#include "frenchinfo.h"

#include "ui_frenchinfo.h"

QPointer<TFrenchInfoForm> FrenchInfoForm;

TFrenchInfoForm::TFrenchInfoForm(QWidget* parent)
    : TInfoForm(parent), ui_(std::make_unique<Ui::TFrenchInfoForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("FrenchInfoForm"));
    SetUpInfoForm(ui_->BitBtn1);
    // The box takes typed text, but Tab moves on, so the keyboard reaches OK.
    ui_->Memo1->setTabChangesFocus(true);
}

TFrenchInfoForm::~TFrenchInfoForm() = default;
