// The treatment parameters dialog: the interval [Min, Max], the treatment type
// and the tones for item, border and background, kept between showings.
#pragma once

#include <QDialog>
#include <QPointer>
#include <cstdint>
#include <memory>

#include "kavel/treatment.h"

class QKeyEvent;
class QShowEvent;
class QString;

namespace Ui {
class TDiagKavelTreatForm;
}

class TDiagKavelTreatForm : public QDialog {
    Q_OBJECT

public:
    explicit TDiagKavelTreatForm(QWidget* parent = nullptr);
    ~TDiagKavelTreatForm() override;

    std::int32_t MinThreshold() const noexcept { return parameters_.MinThreshold; }
    std::int32_t MaxThreshold() const noexcept { return parameters_.MaxThreshold; }
    std::int32_t ItemTone() const noexcept { return parameters_.ItemTone; }
    std::int32_t BorderTone() const noexcept { return parameters_.BorderTone; }
    std::int32_t BackgroundTone() const noexcept { return parameters_.BackgroundTone; }
    kavel::TreatmentKind TreatmentType() const noexcept { return parameters_.TreatmentType; }
    // True when the showing that just ended was left with Cancel (or Esc).
    bool Cancelled() const noexcept { return cancelled_; }
    kavel::TreatmentParameters Parameters() const noexcept { return parameters_; }

    void MinEditChange(const QString& text);
    void MaxEditChange(const QString& text);
    void ItemEdit1Change(const QString& text);
    void BackGroundEdit1Change(const QString& text);
    void BorderEdit2Change(const QString& text);
    void BackGroundEdit2Change(const QString& text);
    void ItemEdit3Change(const QString& text);
    void BorderEdit3Change(const QString& text);
    void BackGroundEdit3Change(const QString& text);
    void RadioButton1Click();
    void RadioButton2Click();
    void RadioButton3Click();
    void BitBtn1Click();
    void BitBtn2Click();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ShowToneBox(kavel::TreatmentKind type);

    std::unique_ptr<Ui::TDiagKavelTreatForm> ui_;
    kavel::TreatmentParameters parameters_;
    bool cancelled_ = false;
};

// Null once the window is destroyed.
extern QPointer<TDiagKavelTreatForm> DiagKavelTreatForm;
