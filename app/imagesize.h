// The size dialog of the open: asks for the lines and columns of a raw image
// that has no descriptor beside it.
#pragma once

#include <QDialog>
#include <QPointer>
#include <memory>

#include "kavel/rawimage.h"

class QLineEdit;
class QString;

namespace Ui {
class TImageSizeForm;
}

class TImageSizeForm : public QDialog {
    Q_OBJECT

public:
    explicit TImageSizeForm(QWidget* parent = nullptr);
    ~TImageSizeForm() override;

    // The edits' values only become the image size once the open has really
    // read the image, so they go to a pending size: the caller sets it to the
    // current size before a showing (what an untouched edit keeps) and reads
    // it back afterwards.
    void SetPendingSize(kavel::ImageSize size) noexcept { pending_ = size; }
    kavel::ImageSize PendingSize() const noexcept { return pending_; }

    void NumLineEditChange(const QString& text);
    void NumColEditChange(const QString& text);

    QLineEdit* NumLineEdit() const;
    QLineEdit* NumColEdit() const;

private:
    std::unique_ptr<Ui::TImageSizeForm> ui_;
    kavel::ImageSize pending_;
};

// Null once the window is destroyed.
extern QPointer<TImageSizeForm> ImageSizeForm;
