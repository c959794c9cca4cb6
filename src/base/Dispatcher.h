// Handing work to the owner's (UI) thread. Core code takes a TRunOnUiThread: "run this on the
// owner's thread and wait until it ran". The Qt program passes a blocking queued call; the
// command-line front end and tests pass RunDirect or a TEventQueue that their thread pumps.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace corvane {

using TRunOnUiThread = std::function<void(const std::function<void()>&)>;

// Runs the work on the calling thread.
inline void RunDirect(const std::function<void()>& work) {
    work();
}

// A queue that one owner thread pumps; other threads hand it work and wait for it.
class TEventQueue {
public:
    TEventQueue() : FOwner(std::this_thread::get_id()) {}
    // Releases waiting senders and waits until none is left inside RunAndWait.
    ~TEventQueue();
    TEventQueue(const TEventQueue&) = delete;
    TEventQueue& operator=(const TEventQueue&) = delete;

    // Runs work on the owner thread and waits; runs it at once when called there.
    void RunAndWait(const std::function<void()>& work);
    // Queues work without waiting.
    void Post(std::function<void()> work);
    // Runs queued work on the owner thread; waits up to maxWait for the first item.
    // Returns the number of items run.
    int ProcessEvents(std::chrono::milliseconds maxWait = std::chrono::milliseconds(0));
    // Stops waiting senders when the owner goes away: pending and later work is dropped.
    void Shutdown();
    // Called on the sending thread after each item is queued, so that an owner thread that
    // runs an event loop of its own can be woken to pump this queue. Set before any sender.
    void SetOnQueued(std::function<void()> onQueued) { FOnQueued = std::move(onQueued); }

    TRunOnUiThread Dispatcher() {
        return [this](const std::function<void()>& work) { RunAndWait(work); };
    }
    std::thread::id Owner() const { return FOwner; }

private:
    struct TItem {
        std::function<void()> Work;
        bool* Done = nullptr;
    };
    std::thread::id FOwner;
    std::mutex FMutex;
    std::condition_variable FQueued;
    std::condition_variable FFinished;
    std::deque<TItem> FItems;
    std::function<void()> FOnQueued;
    bool FShutdown = false;
    int FSenders = 0;  // threads inside RunAndWait
};

}  // namespace corvane
