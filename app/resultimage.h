// The window showing the treatment's result. Unlike the image window it
// returns to 1:1 with every new result and takes its zoom captions from the
// main window's ResultCaption.
#pragma once

#include "imageview.h"

class TResultImageForm : public TImageViewForm {
    Q_OBJECT

public:
    explicit TResultImageForm(QWidget* parent = nullptr);
    ~TResultImageForm() override;

    void SetImage(const kavel::TRasterImage& image);

protected:
    QString ZoomCaptionBase() const override;
};

extern TResultImageForm* ResultImageForm;
