#include "platform/MountWatcher.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "platform/UniqueFd.h"

namespace corvane {

// The watching thread hands each change to the courier and goes back to polling; only the
// courier waits for the owner's thread. Stop can therefore always join the watching thread,
// and a courier stuck in a hand-over the owner will not serve is left to finish on its own:
// it holds this shared state, never the watcher.
struct TMountWatcher::TCourier {
    TRunOnUiThread Dispatch;
    TOnChange OnChange;

    std::mutex Mutex;
    std::condition_variable Wake;
    std::deque<TMountChange> Pending;
    bool Stopping = false;
    bool InDispatch = false;

    // Held while a report runs; recursive so that a report may itself call Stop.
    std::recursive_mutex ReportMutex;
    bool Stopped = false;
};

namespace {

std::optional<std::string> ReadWhole(int fd) {
    if (lseek(fd, 0, SEEK_SET) != 0)
        return std::nullopt;
    std::string text;
    char buffer[16384];
    for (;;) {
        ssize_t count = read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::nullopt;
        if (count == 0)
            return text;
        text.append(buffer, static_cast<size_t>(count));
    }
}

using TMountKey = std::pair<int, std::string>;

std::set<TMountKey> KeysOf(const std::vector<TMountEntry>& entries) {
    std::set<TMountKey> keys;
    for (const TMountEntry& entry : entries)
        keys.insert({entry.MountId, entry.MountPoint});
    return keys;
}

TMountChange Compare(const std::vector<TMountEntry>& before,
                     const std::vector<TMountEntry>& after) {
    std::set<TMountKey> beforeKeys = KeysOf(before);
    std::set<TMountKey> afterKeys = KeysOf(after);
    TMountChange change;
    for (const TMountEntry& entry : after) {
        if (!beforeKeys.count({entry.MountId, entry.MountPoint}))
            change.Added.push_back(entry);
    }
    for (const TMountEntry& entry : before) {
        if (!afterKeys.count({entry.MountId, entry.MountPoint}))
            change.Removed.push_back(entry);
    }
    return change;
}

}  // namespace

TMountWatcher::TMountWatcher(TRunOnUiThread dispatch, TOnChange onChange, TWatchedFolders folders)
    : FDispatch(std::move(dispatch)), FOnChange(std::move(onChange)), FFolders(std::move(folders)) {
    if (!FFolders.Present)
        FFolders.Folders.clear();
}

TMountWatcher::~TMountWatcher() {
    Stop();
}

bool TMountWatcher::Start() {
    if (FThread.joinable())
        return true;
    TUniqueFd stopFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!stopFd)
        return false;
    TUniqueFd mountFd;
    if (FFolders.MountTable) {
        mountFd.Reset(open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
        if (!mountFd)
            return false;
        // Opened before the first read: a change in between still wakes the first poll.
        auto text = ReadWhole(mountFd.Get());
        if (!text)
            return false;
        FSnapshot = ParseMountInfo(*text);
    }
    FFolderPresent.clear();
    for (const std::string& folder : FFolders.Folders)
        FFolderPresent.push_back(FFolders.Present(folder));

    FStopping = false;
    FCourier = std::make_shared<TCourier>();
    FCourier->Dispatch = FDispatch ? FDispatch : TRunOnUiThread(RunDirect);
    FCourier->OnChange = FOnChange;
    FMountFd = mountFd.Release();
    FStopFd = stopFd.Release();
    FCourierThread = std::thread([courier = FCourier] { RunCourier(courier); });
    FThread = std::thread(&TMountWatcher::Run, this);
    return true;
}

void TMountWatcher::Stop() {
    FStopping = true;
    if (FStopFd >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t written = write(FStopFd, &one, sizeof one);
    }
    if (FThread.joinable())
        FThread.join();
    if (FCourier) {
        {
            // Waits for a report running on another thread; passes at once inside a report.
            std::lock_guard guard(FCourier->ReportMutex);
            FCourier->Stopped = true;
        }
        bool handingOver = false;
        {
            std::lock_guard lock(FCourier->Mutex);
            FCourier->Stopping = true;
            FCourier->Pending.clear();
            handingOver = FCourier->InDispatch;
        }
        FCourier->Wake.notify_all();
        if (FCourierThread.joinable()) {
            // A courier in a hand-over may wait for this very thread; it ends by itself later.
            if (handingOver) {
                FCourierThread.detach();
            } else {
                FCourierThread.join();
            }
        }
        FCourier.reset();
    }
    for (int* fd : {&FMountFd, &FStopFd}) {
        if (*fd >= 0)
            close(std::exchange(*fd, -1));
    }
}

void TMountWatcher::Run() {
    // Without the mount table only the stop request is waited for, between looks at folders.
    pollfd fds[2] = {{FStopFd, POLLIN, 0}, {FMountFd, POLLPRI, 0}};
    const nfds_t count = FMountFd >= 0 ? 2 : 1;
    const int timeout = FFolders.Folders.empty() ? -1 : kFolderPollMs;
    while (!FStopping) {
        const int ready = poll(fds, count, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents != 0 || FStopping)
            return;
        TMountChange change;
        if (count == 2 && (fds[1].revents & POLLNVAL))
            return;
        // The kernel flags a changed mount table with POLLPRI and POLLERR.
        if (count == 2 && (fds[1].revents & (POLLPRI | POLLERR))) {
            if (auto text = ReadWhole(FMountFd)) {
                std::vector<TMountEntry> current = ParseMountInfo(*text);
                change = Compare(FSnapshot, current);
                FSnapshot = std::move(current);
            }
        }
        LookAtFolders(change);
        if (change.Added.empty() && change.Removed.empty())
            continue;
        {
            std::lock_guard lock(FCourier->Mutex);
            FCourier->Pending.push_back(std::move(change));
        }
        FCourier->Wake.notify_all();
    }
}

void TMountWatcher::LookAtFolders(TMountChange& change) {
    for (size_t i = 0; i < FFolders.Folders.size(); ++i) {
        const bool present = FFolders.Present(FFolders.Folders[i]);
        if (present == FFolderPresent[i])
            continue;
        FFolderPresent[i] = present;
        TMountEntry entry;
        entry.MountId = -1;
        entry.MountPoint = FFolders.Folders[i];
        (present ? change.Added : change.Removed).push_back(std::move(entry));
    }
}

void TMountWatcher::RunCourier(const std::shared_ptr<TCourier>& courier) {
    std::unique_lock lock(courier->Mutex);
    for (;;) {
        courier->Wake.wait(lock, [&] { return courier->Stopping || !courier->Pending.empty(); });
        if (courier->Stopping)
            return;
        auto report = std::make_shared<const TMountChange>(std::move(courier->Pending.front()));
        courier->Pending.pop_front();
        courier->InDispatch = true;
        lock.unlock();
        // The work holds its own references: a dispatcher may still run it after we gave up.
        courier->Dispatch([courier, report] {
            std::lock_guard guard(courier->ReportMutex);
            if (!courier->Stopped && courier->OnChange)
                courier->OnChange(*report);
        });
        lock.lock();
        courier->InDispatch = false;
    }
}

}  // namespace corvane
