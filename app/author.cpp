#include "author.h"

#include "ui_author.h"

QPointer<TAuthorForm> AuthorForm;

TAuthorForm::TAuthorForm(QWidget* parent) : TInfoForm(parent), ui_(std::make_unique<Ui::TAuthorForm>()) {
    ui_->setupUi(this);
    setObjectName(QStringLiteral("AuthorForm"));
    SetUpInfoForm(ui_->BitBtn1);
}

TAuthorForm::~TAuthorForm() = default;
