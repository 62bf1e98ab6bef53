#include "imagewindow.h"

#include "mainwindow.h"

QPointer<TImageForm> ImageForm;

TImageForm::TImageForm(QWidget* parent) : TImageViewForm(parent) {
    setObjectName(QStringLiteral("ImageForm"));
}

TImageForm::~TImageForm() = default;

QString TImageForm::ZoomCaptionBase() const {
    return MainForm ? MainForm->ImageCaption : QString();
}
