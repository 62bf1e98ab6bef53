// The rights dialog: a heading, the rights holder and its place.
#pragma once

#include <QPointer>
#include <memory>

#include "infoform.h"

namespace Ui {
class TCopyrigthForm;
}

class TCopyrigthForm : public TInfoForm {
    Q_OBJECT

public:
    explicit TCopyrigthForm(QWidget* parent = nullptr);
    ~TCopyrigthForm() override;

private:
    std::unique_ptr<Ui::TCopyrigthForm> ui_;
};

// Null once the window is destroyed.
extern QPointer<TCopyrigthForm> CopyrigthForm;
