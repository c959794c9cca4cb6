#include "gui/UiDispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace corvane::app {
namespace {

TEventQueue& UiQueue() {
    // Created on the user-interface thread by the first call, which makes it the owner.
    static TEventQueue queue;
    static const bool hooked = [] {
        queue.SetOnQueued([] {
            if (QCoreApplication* app = QCoreApplication::instance())
                QMetaObject::invokeMethod(
                    app, [] { PumpUiQueue(); }, Qt::QueuedConnection);
        });
        return true;
    }();
    (void)hooked;
    return queue;
}

}  // namespace

TRunOnUiThread UiDispatcher() {
    TEventQueue& queue = UiQueue();
    return [&queue](const std::function<void()>& work) { queue.RunAndWait(work); };
}

void PumpUiQueue() {
    UiQueue().ProcessEvents();
}

void WaitPumping(const std::function<bool()>& done) {
    while (!done()) {
        UiQueue().ProcessEvents(std::chrono::milliseconds(5));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

}  // namespace corvane::app
