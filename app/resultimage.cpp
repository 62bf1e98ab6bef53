#include "resultimage.h"

#include "mainwindow.h"

QPointer<TResultImageForm> ResultImageForm;

TResultImageForm::TResultImageForm(QWidget* parent) : TImageViewForm(parent) {
    setObjectName(QStringLiteral("ResultImageForm"));
    setProperty("tag", 3);
}

TResultImageForm::~TResultImageForm() = default;

QString TResultImageForm::ZoomCaptionBase() const {
    return MainForm ? MainForm->ResultCaption : QString();
}
