#include "dialogplacement.h"

#include <QEvent>
#include <QObject>
#include <QTimer>
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
// has framed the window, which usually shows as a move right after the first
// showing. On a busy machine the frame can arrive with no event to the
// dialog at all, so for a while after each showing it is also looked at on a
// timer.
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
        settle_.setInterval(kSettleIntervalMs);
        connect(&settle_, &QTimer::timeout, this, [this] {
            if (window_->isVisible() && Frame() != appliedFrame_) {
                Apply(true);
            }
            if (++settleTicks_ >= kSettleTicks || !window_->isVisible()) {
                settle_.stop();
            }
        });
        Apply(false);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_ || applying_) {
            return false;
        }
        switch (event->type()) {
            case QEvent::Show:
                Apply(true);
                settleTicks_ = 0;
                settle_.start();
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
    static constexpr int kSettleIntervalMs = 50;
    static constexpr int kSettleTicks = 60;  // 3 s

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
    QTimer settle_;
    int settleTicks_ = 0;
};

}  // namespace

void KeepOuterGeometry(QWidget* dialog, DialogPlacement placement, bool fixedSize) {
    new OuterGeometry(dialog, placement, fixedSize);
}
