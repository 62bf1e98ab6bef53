// What the program does, in Spanish. The text box is editable; what is typed stays until the program ends.
#pragma once

#include <QDialog>
#include <memory>

class QShowEvent;

namespace Ui {
class TSpanishInfoForm;
}

class TSpanishInfoForm : public QDialog {
    Q_OBJECT

public:
    explicit TSpanishInfoForm(QWidget* parent = nullptr);
    ~TSpanishInfoForm() override;

    void BitBtn1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TSpanishInfoForm> ui_;
};

extern TSpanishInfoForm* SpanishInfoForm;
