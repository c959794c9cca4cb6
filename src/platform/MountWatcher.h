// Watches /proc/self/mountinfo for mount changes and reports them on the owner's thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "base/Dispatcher.h"
#include "platform/Mounts.h"

namespace corvane {

struct TMountChange {
    std::vector<TMountEntry> Added;
    std::vector<TMountEntry> Removed;
};

class TMountWatcher {
public:
    using TOnChange = std::function<void(const TMountChange&)>;

    // onChange runs through dispatch, i.e. on the owner's thread.
    TMountWatcher(TRunOnUiThread dispatch, TOnChange onChange);
    ~TMountWatcher();
    TMountWatcher(const TMountWatcher&) = delete;
    TMountWatcher& operator=(const TMountWatcher&) = delete;

    // Takes the first snapshot and starts the watching thread; false when
    // /proc/self/mountinfo cannot be watched.
    bool Start();
    // Stops and joins the thread; no report runs after it returns. Safe to call twice, from
    // inside a report, and while a report waits for the owner's thread: that hand-over is
    // abandoned (it does nothing when the owner's thread gets to it), so the owner need not
    // pump its queue for Stop to return. The dispatcher must outlive such a hand-over, or be
    // shut down (TEventQueue::Shutdown), before it goes away.
    void Stop();

private:
    // Carries reports to the owner's thread, so that the watching thread never waits on it.
    struct TCourier;
    static void RunCourier(const std::shared_ptr<TCourier>& courier);

    void Run();

    TRunOnUiThread FDispatch;
    TOnChange FOnChange;
    std::vector<TMountEntry> FSnapshot;
    std::thread FThread;
    int FMountFd = -1;
    int FStopFd = -1;
    std::atomic<bool> FStopping{false};
    std::shared_ptr<TCourier> FCourier;
    std::thread FCourierThread;
};

}  // namespace corvane
