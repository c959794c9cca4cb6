#include "platform/StagingCleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

namespace corvane {

namespace {

// Only what a signal handler may touch: fixed slots, atomics, system calls.
constexpr int kSlots = 8;
enum TSlotState : int { kFree = 0, kWriting = 1, kReady = 2 };

struct TSlot {
    std::atomic<int> State{kFree};
    char Path[PATH_MAX];
};

TSlot gSlots[kSlots];
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Empties the flat folder and removes it, with system calls only (no allocation).
void RemoveFlatFolder(const char* path) {
    int folder = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return;
    alignas(8) char buffer[4096];
    for (;;) {
        long count = syscall(SYS_getdents64, folder, buffer, sizeof buffer);
        if (count <= 0)
            break;
        for (long offset = 0; offset < count;) {
            // linux_dirent64: inode (8), offset (8), record length (2), type (1), name
            unsigned short length;
            std::memcpy(&length, buffer + offset + 16, sizeof length);
            const char* name = buffer + offset + 19;
            if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0)
                unlinkat(folder, name, 0);
            offset += length;
        }
    }
    close(folder);
    rmdir(path);
}

void OnEndingSignal(int signal) {
    const int savedErrno = errno;
    for (TSlot& slot : gSlots) {
        if (slot.State.load() == kReady)
            RemoveFlatFolder(slot.Path);
    }
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    errno = savedErrno;
    raise(signal);
}

void InstallHandlers() {
    for (int signal : kSignals) {
        struct sigaction current = {};
        if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
            (current.sa_flags & SA_SIGINFO) != 0)
            continue;
        struct sigaction action = {};
        action.sa_handler = OnEndingSignal;
        sigemptyset(&action.sa_mask);
        for (int other : kSignals)
            sigaddset(&action.sa_mask, other);
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace

void RegisterStagingFolder(const std::string& folder) {
    static std::once_flag installed;
    std::call_once(installed, InstallHandlers);
    if (folder.size() >= PATH_MAX)
        return;
    for (TSlot& slot : gSlots) {
        int expected = kFree;
        if (!slot.State.compare_exchange_strong(expected, kWriting))
            continue;
        std::memcpy(slot.Path, folder.c_str(), folder.size() + 1);
        slot.State.store(kReady);
        return;
    }
}

void UnregisterStagingFolder(const std::string& folder) {
    for (TSlot& slot : gSlots) {
        if (slot.State.load() == kReady && folder == slot.Path)
            slot.State.store(kFree);
    }
}

}  // namespace corvane
