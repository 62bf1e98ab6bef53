// What the program does, in French. The text box is editable; what is typed stays until the program ends.
#pragma once

#include <QPointer>
#include <memory>

#include "infoform.h"

namespace Ui {
class TFrenchInfoForm;
}

class TFrenchInfoForm : public TInfoForm {
    Q_OBJECT

public:
    explicit TFrenchInfoForm(QWidget* parent = nullptr);
    ~TFrenchInfoForm() override;

private:
    std::unique_ptr<Ui::TFrenchInfoForm> ui_;
};

// Null once the window is destroyed.
extern QPointer<TFrenchInfoForm> FrenchInfoForm;
