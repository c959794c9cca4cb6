#include "device/SimulatedState.h"

#include <chrono>
#include <utility>

#include "platform/LocalFiles.h"

namespace corvane {

namespace {

constexpr int kRemoved = 2;

thread_local const void* tNotifyingFor = nullptr;  // the state whose callback this thread runs

}  // namespace

TSimulatedState::~TSimulatedState() {
    // Only a worker detached from inside its own callback can be left here.
    if (FWorker.joinable())
        FWorker.detach();
}

void TSimulatedState::Plug() {
    std::lock_guard lock(FMutex);
    PlugLocked();
}

void TSimulatedState::PlugLocked() {
    if (!FPlugged) {
        FPlugged = true;
        ++FPlug;
        FConnected = false;
        FSession = false;
        FBytesRead = 0;
    }
    QueueLocked(kDeviceConnected);
}

void TSimulatedState::Unplug() {
    std::lock_guard lock(FMutex);
    GoAwayLocked();
}

void TSimulatedState::SetFaults(const TSimulatedFaults& faults) {
    std::lock_guard lock(FMutex);
    FFaults = faults;
    FBytesRead = 0;  // GoneAfterBytes counts from here
}

void TSimulatedState::WaitIdle() {
    std::unique_lock lock(FMutex);
    if (tNotifyingFor == this)
        return;  // a callback waiting for itself would never end
    FIdle.wait(lock, [this] { return FQueue.empty() && FRunning == 0; });
}

int TSimulatedState::Subscribe(TDeviceNotification callback) {
    if (!callback)
        return kSimInvalid;
    std::thread previous;
    {
        std::lock_guard lock(FMutex);
        if (FSubscribed)
            return kSimRefused;
        previous = std::move(FWorker);
    }
    JoinUnlessSelf(std::move(previous));
    std::lock_guard lock(FMutex);
    FSubscribed = true;
    FCallback = std::move(callback);
    FQueue.clear();
    if (FPlugged)
        FQueue.push_back(kDeviceConnected);
    uint64_t epoch = ++FEpoch;
    FWorker = std::thread([self = shared_from_this(), epoch] { self->Run(epoch); });
    return 0;
}

int TSimulatedState::Unsubscribe() {
    std::thread worker;
    {
        std::lock_guard lock(FMutex);
        FSubscribed = false;
        ++FEpoch;  // the running worker stops before its next message
        FCallback = nullptr;
        FQueue.clear();
        FWake.notify_all();
        FIdle.notify_all();
        // From inside a callback the worker cannot join itself; it is joined later.
        if (tNotifyingFor == this)
            return 0;
        worker = std::move(FWorker);
    }
    JoinUnlessSelf(std::move(worker));
    return 0;
}

void TSimulatedState::JoinUnlessSelf(std::thread worker) {
    if (!worker.joinable())
        return;
    if (worker.get_id() == std::this_thread::get_id()) {
        worker.detach();
    } else {
        worker.join();
    }
}

void TSimulatedState::Run(uint64_t epoch) {
    tNotifyingFor = this;
    std::unique_lock lock(FMutex);
    for (;;) {
        auto woken = [&] { return FEpoch != epoch || !FQueue.empty(); };
        if (FFollowedRoot.empty()) {
            FWake.wait(lock, woken);
        } else if (!FWake.wait_for(lock, std::chrono::milliseconds(500), woken)) {
            FollowRootLocked();
            continue;
        }
        if (FEpoch != epoch)
            break;
        int message = FQueue.front();
        FQueue.pop_front();
        TDeviceNotification callback = FCallback;
        ++FRunning;
        lock.unlock();
        callback(Device(), message);
        lock.lock();
        --FRunning;
        FIdle.notify_all();
    }
    tNotifyingFor = nullptr;
}

void TSimulatedState::QueueLocked(int message) {
    if (!FSubscribed)
        return;
    FQueue.push_back(message);
    FWake.notify_all();
}

void TSimulatedState::FollowRootLocked() {
    const bool there = DirectoryExists(FFollowedRoot);
    if (there && !FPlugged)
        PlugLocked();
    else if (!there && FPlugged)
        GoAwayLocked();
}

void TSimulatedState::GoAwayLocked() {
    if (!FPlugged)
        return;
    FPlugged = false;
    FConnected = false;
    FSession = false;
    QueueLocked(kRemoved);
}

}  // namespace corvane
