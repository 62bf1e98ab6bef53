#include "spanishinfo.h"

#include "ui_spanishinfo.h"

QPointer<TSpanishInfoForm> SpanishInfoForm;

TSpanishInfoForm::TSpanishInfoForm(QWidget* parent)
    : TInfoForm(parent), ui_(std::make_unique<Ui::TSpanishInfoForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("SpanishInfoForm"));
    SetUpInfoForm(ui_->BitBtn1);
    // The box takes typed text, but Tab moves on, so the keyboard reaches OK.
    ui_->Memo1->setTabChangesFocus(true);
}

TSpanishInfoForm::~TSpanishInfoForm() = default;
