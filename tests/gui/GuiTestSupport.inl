#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace corvane::testing {

template <typename T>
void WhenDialogShown(std::function<void(T*)> action, int timeoutMs) {
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [action, timer, timeoutMs, poll]() {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
            dialog != nullptr && dialog->isVisible()) {
            action(dialog);
            *poll = nullptr;  // ends the cycle between the function and itself
            return;
        }
        if (timer->elapsed() > timeoutMs) {
            *poll = nullptr;
            return;
        }
        QTimer::singleShot(10, [poll] {
            if (*poll)
                (*poll)();
        });
    };
    QTimer::singleShot(0, [poll] {
        if (*poll)
            (*poll)();
    });
}

}  // namespace corvane::testing
