// Watches /proc/self/mountinfo for mount changes, and folders standing in for volumes for
// their coming and going, and reports them on the owner's thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/Dispatcher.h"
#include "platform/Mounts.h"

namespace corvane {

struct TMountChange {
    std::vector<TMountEntry> Added;
    std::vector<TMountEntry> Removed;
};

// Folders that count as volumes while Present says so (a folder device that a test or the
// user removes and puts back): each change is reported as the folder's mount point added or
// removed (MountId -1). A folder has no event of its own to wait for; it is looked at every
// kFolderPollMs.
struct TWatchedFolders {
    std::vector<std::string> Folders;
    std::function<bool(const std::string& folder)> Present;
    bool MountTable = true;  // watch the mount table too
};

class TMountWatcher {
public:
    using TOnChange = std::function<void(const TMountChange&)>;
    static constexpr int kFolderPollMs = 500;

    // onChange runs through dispatch, i.e. on the owner's thread.
    TMountWatcher(TRunOnUiThread dispatch, TOnChange onChange, TWatchedFolders folders = {});
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
    // Adds the watched folders whose presence changed since the last look to change.
    void LookAtFolders(TMountChange& change);

    TRunOnUiThread FDispatch;
    TOnChange FOnChange;
    TWatchedFolders FFolders;
    std::vector<bool> FFolderPresent;
    std::vector<TMountEntry> FSnapshot;
    std::thread FThread;
    int FMountFd = -1;
    int FStopFd = -1;
    std::atomic<bool> FStopping{false};
    std::shared_ptr<TCourier> FCourier;
    std::thread FCourierThread;
};

}  // namespace corvane
