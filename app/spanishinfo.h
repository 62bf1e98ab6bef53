// What the program does, in Spanish. The text box is editable; what is typed stays until the program ends.
#pragma once

#include <QPointer>
#include <memory>

#include "infoform.h"

namespace Ui {
class TSpanishInfoForm;
}

class TSpanishInfoForm : public TInfoForm {
    Q_OBJECT

public:
    explicit TSpanishInfoForm(QWidget* parent = nullptr);
    ~TSpanishInfoForm() override;

private:
    std::unique_ptr<Ui::TSpanishInfoForm> ui_;
};

// Null once the window is destroyed.
extern QPointer<TSpanishInfoForm> SpanishInfoForm;
