// The histogram window: 256 bars scaled to the most frequent tone, recounted
// from the opened image on every paint, and the export of the counts.
#pragma once

#include <QDialog>
#include <QPointer>
#include <memory>

#include "kavel/statistics.h"

class QFileDialog;
class QPainter;
class QRect;

namespace Ui {
class THistoGrisForm;
}

class THistoGrisForm : public QDialog {
    Q_OBJECT

public:
    explicit THistoGrisForm(QWidget* parent = nullptr);
    ~THistoGrisForm() override;

    // The counts of the last paint.
    const kavel::Histogram& HistoCounts() const noexcept { return histoCounts_; }

    void PaintBoxPaint(const QRect& exposed);
    void BitBtnSaveClick();
    void BitBtnOKClick();

    QWidget* PaintBox() const;
    // Non-native, owned by this window, so it can be driven like any dialog.
    QFileDialog* SaveDialog1 = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void DrawHistogram(QPainter& painter, const QRect& exposed);

    std::unique_ptr<Ui::THistoGrisForm> ui_;
    kavel::Histogram histoCounts_{};
};

// Null once the window is destroyed.
extern QPointer<THistoGrisForm> HistoGrisForm;
