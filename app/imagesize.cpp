#include "imagesize.h"

#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QStyle>

#include "dialogplacement.h"
#include "qtconvert.h"
#include "resources.h"
#include "ui_imagesize.h"

QPointer<TImageSizeForm> ImageSizeForm;

TImageSizeForm::TImageSizeForm(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::TImageSizeForm>()) {
    ui_->setupUi(this);
    // The form is designed under its class name; uic would otherwise shadow the global.
    setObjectName(QStringLiteral("ImageSizeForm"));
    setWindowIcon(ApplicationIcon());
    ui_->BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    // Shown where it was designed, not centred on the main window.
    move(661, 200);
    KeepOuterGeometry(this, DialogPlacement::AtDesignPosition, true);
    connect(ui_->NumLineEdit, &QLineEdit::textChanged, this, &TImageSizeForm::NumLineEditChange);
    connect(ui_->NumColEdit, &QLineEdit::textChanged, this, &TImageSizeForm::NumColEditChange);
    connect(ui_->BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

TImageSizeForm::~TImageSizeForm() = default;

void TImageSizeForm::NumLineEditChange(const QString& text) {
    pending_.Lines = EditValue(text);
}

void TImageSizeForm::NumColEditChange(const QString& text) {
    pending_.Columns = EditValue(text);
}

QLineEdit* TImageSizeForm::NumLineEdit() const {
    return ui_->NumLineEdit;
}

QLineEdit* TImageSizeForm::NumColEdit() const {
    return ui_->NumColEdit;
}
