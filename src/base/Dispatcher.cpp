#include "base/Dispatcher.h"

namespace corvane {

void TEventQueue::RunAndWait(const std::function<void()>& work) {
    if (std::this_thread::get_id() == FOwner) {
        work();
        return;
    }
    bool done = false;
    std::unique_lock lock(FMutex);
    if (FShutdown)
        return;
    ++FSenders;
    FItems.push_back({work, &done});
    FQueued.notify_all();
    if (FOnQueued) {
        lock.unlock();
        FOnQueued();
        lock.lock();
    }
    FFinished.wait(lock, [&] { return done || FShutdown; });
    --FSenders;
    FFinished.notify_all();
}

TEventQueue::~TEventQueue() {
    std::unique_lock lock(FMutex);
    FShutdown = true;
    FItems.clear();
    FQueued.notify_all();
    FFinished.notify_all();
    // A sender still waiting would otherwise wake on a destroyed condition variable.
    FFinished.wait(lock, [&] { return FSenders == 0; });
}

void TEventQueue::Post(std::function<void()> work) {
    {
        std::lock_guard lock(FMutex);
        if (FShutdown)
            return;
        FItems.push_back({std::move(work), nullptr});
        FQueued.notify_all();
    }
    if (FOnQueued)
        FOnQueued();
}

int TEventQueue::ProcessEvents(std::chrono::milliseconds maxWait) {
    std::unique_lock lock(FMutex);
    if (FItems.empty() && maxWait.count() > 0) {
        FQueued.wait_for(lock, maxWait, [&] { return !FItems.empty() || FShutdown; });
    }
    int count = 0;
    while (!FItems.empty() && !FShutdown) {
        TItem item = std::move(FItems.front());
        FItems.pop_front();
        lock.unlock();
        item.Work();
        lock.lock();
        if (item.Done && !FShutdown)
            *item.Done = true;
        FFinished.notify_all();
        ++count;
    }
    return count;
}

void TEventQueue::Shutdown() {
    std::lock_guard lock(FMutex);
    FShutdown = true;
    FItems.clear();
    FQueued.notify_all();
    FFinished.notify_all();
}

}  // namespace corvane
