// The Qt program's "run this on the user-interface thread and wait": work from other threads
// is queued and the Qt event loop is woken to run it. A user-interface step that must wait
// for a worker pumps the same queue meanwhile, so a worker waiting on a hand-over never
// deadlocks against it.
#pragma once

#include <chrono>
#include <functional>

#include "base/Dispatcher.h"

namespace corvane::app {

// The dispatcher of the program's user-interface thread. The first call must be made on that
// thread, after the QApplication exists.
TRunOnUiThread UiDispatcher();

// Runs the queued hand-overs of the user-interface thread now (the Qt event loop also does).
void PumpUiQueue();

// Waits on the user-interface thread until done() holds, running hand-overs and Qt events
// meanwhile.
void WaitPumping(const std::function<bool()>& done);

}  // namespace corvane::app
