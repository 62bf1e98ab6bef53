// What the five information dialogs share: an OK button with its glyph that
// closes the dialog, and centring over the main window on every showing.
#pragma once

#include <QDialog>

class QPushButton;

class TInfoForm : public QDialog {
    Q_OBJECT

public:
    void BitBtn1Click();

protected:
    explicit TInfoForm(QWidget* parent);
    // Called once the form's controls exist: gives ok its glyph and its click.
    void SetUpInfoForm(QPushButton* ok);
};
