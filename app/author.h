// The author dialog: the project's credit lines and an OK button.
#pragma once

#include <QPointer>
#include <memory>

#include "infoform.h"

namespace Ui {
class TAuthorForm;
}

class TAuthorForm : public TInfoForm {
    Q_OBJECT

public:
    explicit TAuthorForm(QWidget* parent = nullptr);
    ~TAuthorForm() override;

private:
    std::unique_ptr<Ui::TAuthorForm> ui_;
};

// Null once the window is destroyed.
extern QPointer<TAuthorForm> AuthorForm;
