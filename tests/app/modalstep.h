// Runs one step on the next modal window to come up, from inside its
// exec(). If nothing in the step ends the showing, the window is rejected
// after a few seconds so a failing test reports instead of hanging.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

inline void OnNextModal(std::function<void(QWidget*)> step) {
    auto* timer = new QTimer(qApp);
    auto* clock = new QElapsedTimer();
    clock->start();
    QObject::connect(timer, &QTimer::timeout, timer, [timer, clock, step = std::move(step)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            if (clock->elapsed() > 5000) {
                timer->deleteLater();
                delete clock;
            }
            return;
        }
        timer->stop();
        timer->deleteLater();
        delete clock;
        QPointer<QWidget> window = modal;
        step(modal);
        if (window && window->isVisible()) {
            QTimer::singleShot(5000, window, [window] {
                if (auto* dialog = qobject_cast<QDialog*>(window.data()); dialog && dialog->isVisible()) {
                    dialog->reject();
                }
            });
        }
    });
    timer->start(5);
}
