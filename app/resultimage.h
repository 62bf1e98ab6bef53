// The window showing the treatment's result. It takes its zoom captions from
// the main window's ResultCaption.
#pragma once

#include <QPointer>
#include "imageview.h"

class TResultImageForm : public TImageViewForm {
    Q_OBJECT

public:
    explicit TResultImageForm(QWidget* parent = nullptr);
    ~TResultImageForm() override;

protected:
    QString ZoomCaptionBase() const override;
};

// Null once the window is destroyed.
extern QPointer<TResultImageForm> ResultImageForm;
