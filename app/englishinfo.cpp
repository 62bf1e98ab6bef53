#include "englishinfo.h"

#include "ui_englishinfo.h"

QPointer<TEnglishInfoForm> EnglishInfoForm;

TEnglishInfoForm::TEnglishInfoForm(QWidget* parent)
    : TInfoForm(parent), ui_(std::make_unique<Ui::TEnglishInfoForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("EnglishInfoForm"));
    SetUpInfoForm(ui_->BitBtn1);
    // The box takes typed text, but Tab moves on, so the keyboard reaches OK.
    ui_->Memo1->setTabChangesFocus(true);
}

TEnglishInfoForm::~TEnglishInfoForm() = default;
