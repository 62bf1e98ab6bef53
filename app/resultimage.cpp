#include "resultimage.h"

#include "mainwindow.h"

TResultImageForm* ResultImageForm = nullptr;

TResultImageForm::TResultImageForm(QWidget* parent) : TImageViewForm(parent) {
    setObjectName(QStringLiteral("ResultImageForm"));
    setProperty("tag", 3);
}

TResultImageForm::~TResultImageForm() = default;

// Back to 1:1 before the first drawing, so the new result never shows at the
// previous result's zoom.
void TResultImageForm::SetImage(const kavel::TRasterImage& image) {
    SetZoomLevel(1);
    TImageViewForm::SetImage(image);
}

QString TResultImageForm::ZoomCaptionBase() const {
    return MainForm ? MainForm->ResultCaption : QString();
}
