// What the program does, in French. The text box is editable; what is typed stays until the program ends.
#pragma once

#include <QDialog>
#include <memory>

class QShowEvent;

namespace Ui {
class TFrenchInfoForm;
}

class TFrenchInfoForm : public QDialog {
    Q_OBJECT

public:
    explicit TFrenchInfoForm(QWidget* parent = nullptr);
    ~TFrenchInfoForm() override;

    void BitBtn1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TFrenchInfoForm> ui_;
};

extern TFrenchInfoForm* FrenchInfoForm;
