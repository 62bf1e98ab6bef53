// What the program does, in English. The text box is editable; what is typed stays until the program ends.
#pragma once

#include <QDialog>
#include <memory>

class QShowEvent;

namespace Ui {
class TEnglishInfoForm;
}

class TEnglishInfoForm : public QDialog {
    Q_OBJECT

public:
    explicit TEnglishInfoForm(QWidget* parent = nullptr);
    ~TEnglishInfoForm() override;

    void BitBtn1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TEnglishInfoForm> ui_;
};

extern TEnglishInfoForm* EnglishInfoForm;
