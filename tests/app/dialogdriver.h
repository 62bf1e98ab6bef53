// Drives modal windows from a test: each step runs on the modal window in front
// when its turn comes, and must end that window's showing (accept, reject, a
// button click). A step that fails leaves the window open; after a few seconds
// without progress the driver closes whatever is modal so the test can end and
// report the failure instead of hanging.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <utility>
#include <vector>

class ModalScript : public QObject {
public:
    using Step = std::function<void(QWidget*)>;

    explicit ModalScript(std::vector<Step> steps) : steps_(std::move(steps)) {
        connect(&timer_, &QTimer::timeout, this, &ModalScript::Tick);
        timer_.start(5);
        sinceProgress_.start();
    }

    bool Done() const noexcept { return next_ == steps_.size() && !timedOut_; }
    bool TimedOut() const noexcept { return timedOut_; }
    std::size_t StepsRun() const noexcept { return next_; }

private:
    static constexpr qint64 kPatienceMs = 5000;

    void Tick() {
        QWidget* active = QApplication::activeModalWidget();
        if (active != last_) {
            lastEnded_ = true;
        }
        const bool fresh = active != nullptr && (active != last_ || lastEnded_);
        if (fresh && next_ < steps_.size()) {
            last_ = active;
            lastEnded_ = false;
            QPointer<QWidget> handled = active;
            steps_[next_++](active);
            // The same dialog may be shown again before the next tick.
            lastEnded_ = handled.isNull() || !handled->isVisible();
            sinceProgress_.restart();
            return;
        }
        if (active != nullptr && sinceProgress_.elapsed() > kPatienceMs) {
            timedOut_ = true;
            if (auto* dialog = qobject_cast<QDialog*>(active)) {
                dialog->reject();
            } else {
                active->close();
            }
            sinceProgress_.restart();
        }
    }

    std::vector<Step> steps_;
    std::size_t next_ = 0;
    QWidget* last_ = nullptr;
    bool lastEnded_ = true;
    bool timedOut_ = false;
    QTimer timer_;
    QElapsedTimer sinceProgress_;
};

// Selects the filter whose text begins with label, so a filter given as
// "Label (*.ext)" behind its label is found by the label alone.
inline void SelectNameFilter(QFileDialog& dialog, const QString& label) {
    for (const QString& filter : dialog.nameFilters()) {
        if (filter.startsWith(label)) {
            dialog.selectNameFilter(filter);
            return;
        }
    }
}

// Common steps.
inline ModalScript::Step ChooseFile(const QString& fileName, const QString& nameFilter) {
    return [fileName, nameFilter](QWidget* window) {
        auto* dialog = qobject_cast<QFileDialog*>(window);
        if (dialog == nullptr) {
            return;
        }
        SelectNameFilter(*dialog, nameFilter);
        dialog->selectFile(fileName);  // moves to the file's folder when it exists
        // selectFile leaves the name box alone while it has the focus; type the
        // whole name there, as a user may.
        if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
            edit->setText(fileName);
        }
        static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, with its checks
    };
}

inline ModalScript::Step CancelDialog() {
    return [](QWidget* window) {
        if (auto* dialog = qobject_cast<QDialog*>(window)) {
            dialog->reject();
        }
    };
}

// Records what a message box showed, then presses its OK button.
struct SeenMessage {
    QString Title, Text;
    QString ShownTitle;  // what the window system is given for the title bar
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QWidget* Owner = nullptr;
    int Buttons = 0;
    bool Seen = false;
};

inline ModalScript::Step ReadMessage(SeenMessage& seen) {
    return [&seen](QWidget* window) {
        auto* box = qobject_cast<QMessageBox*>(window);
        if (box == nullptr) {
            return;
        }
        seen.Seen = true;
        seen.Title = box->windowTitle();
        seen.ShownTitle = box->windowHandle() != nullptr ? box->windowHandle()->title() : QString();
        seen.Text = box->text();
        seen.Icon = box->icon();
        seen.Owner = box->parentWidget();
        seen.Buttons = static_cast<int>(box->buttons().size());
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
            ok->click();
        } else {
            box->reject();
        }
    };
}
