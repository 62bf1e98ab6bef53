// The author dialog: the project's credit lines and an OK button.
#pragma once

#include <QDialog>
#include <memory>

class QShowEvent;

namespace Ui {
class TAuthorForm;
}

class TAuthorForm : public QDialog {
    Q_OBJECT

public:
    explicit TAuthorForm(QWidget* parent = nullptr);
    ~TAuthorForm() override;

    void BitBtn1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TAuthorForm> ui_;
};

extern TAuthorForm* AuthorForm;
