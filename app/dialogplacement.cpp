#include "dialogplacement.h"

#include <QEvent>
#include <QObject>
#include <QWidget>

#include "mainwindow.h"

void CentreOverMainWindow(QWidget* window) {
    if (!MainForm || !window) {
        return;
    }
    const QRect main = MainForm->frameGeometry();
    const QRect frame = window->frameGeometry();
    const QPoint offset = window->pos() - frame.topLeft();  // frame decoration
    window->move(main.center() - QPoint(frame.width() / 2, frame.height() / 2) + offset);
}

namespace {

// Watches one dialog: the frame becomes known only after the window manager
// has framed the window, which shows as a move right after the first showing.
class OuterGeometry : public QObject {
public:
    OuterGeometry(QWidget* window, DialogPlacement placement, bool fixedSize)
        : QObject(window),
          window_(window),
          outer_(window->size()),
          designPosition_(window->pos()),
          placement_(placement),
          fixedSize_(fixedSize) {
        window->installEventFilter(this);
        Apply(false);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_ || applying_) {
            return false;
        }
        switch (event->type()) {
            case QEvent::Show:
                Apply(true);
                break;
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::WindowActivate:
            case QEvent::Paint:
                if (window_->isVisible() && Frame() != appliedFrame_) {
                    Apply(true);
                }
                break;
            default:
                break;
        }
        return false;
    }

private:
    QSize Frame() const { return window_->frameGeometry().size() - window_->geometry().size(); }

    void Apply(bool place) {
        applying_ = true;
        appliedFrame_ = Frame();
        const QSize client = (outer_ - appliedFrame_).expandedTo(QSize(1, 1));
        if (fixedSize_) {
            window_->setFixedSize(client);
        } else {
            window_->resize(client);
        }
        if (place) {
            if (placement_ == DialogPlacement::CentredOverMain) {
                CentreOverMainWindow(window_);
            } else {
                window_->move(designPosition_);
            }
        }
        applying_ = false;
    }

    QWidget* window_;
    QSize outer_;
    QPoint designPosition_;
    DialogPlacement placement_;
    bool fixedSize_;
    QSize appliedFrame_;
    bool applying_ = false;
};

}  // namespace

void KeepOuterGeometry(QWidget* dialog, DialogPlacement placement, bool fixedSize) {
    new OuterGeometry(dialog, placement, fixedSize);
}
