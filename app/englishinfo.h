// What the program does, in English. The text box is editable; what is typed stays until the program ends.
#pragma once

#include <QPointer>
#include <memory>

#include "infoform.h"

namespace Ui {
class TEnglishInfoForm;
}

class TEnglishInfoForm : public TInfoForm {
    Q_OBJECT

public:
    explicit TEnglishInfoForm(QWidget* parent = nullptr);
    ~TEnglishInfoForm() override;

private:
    std::unique_ptr<Ui::TEnglishInfoForm> ui_;
};

// Null once the window is destroyed.
extern QPointer<TEnglishInfoForm> EnglishInfoForm;
