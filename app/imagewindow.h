// The window showing the opened image.
#pragma once

#include <QPointer>
#include "imageview.h"

class TImageForm : public TImageViewForm {
    Q_OBJECT

public:
    explicit TImageForm(QWidget* parent = nullptr);
    ~TImageForm() override;

    // Filled by the main window with the caption it gives this window.
    QString CaptionText;

protected:
    QString ZoomCaptionBase() const override;
};

// Null once the window is destroyed.
extern QPointer<TImageForm> ImageForm;
