// The rights dialog: a heading, the rights holder and its place.
#pragma once

#include <QDialog>
#include <memory>

class QShowEvent;

namespace Ui {
class TCopyrigthForm;
}

class TCopyrigthForm : public QDialog {
    Q_OBJECT

public:
    explicit TCopyrigthForm(QWidget* parent = nullptr);
    ~TCopyrigthForm() override;

    void BitBtn1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TCopyrigthForm> ui_;
};

extern TCopyrigthForm* CopyrigthForm;
