#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "base/Dispatcher.h"
#include "fixtures/TempDir.h"
#include "platform/LocalFiles.h"
#include "platform/MountWatcher.h"
#include "platform/PlatformTestSupport.h"

namespace corvane {
namespace {

using namespace std::chrono_literals;
using testing::RealPath;
using testing::TTempDir;
using testing::TTmpfsMount;

bool Lists(const std::vector<TMountEntry>& entries, const std::string& mountPoint) {
    return std::any_of(entries.begin(), entries.end(),
                       [&](const TMountEntry& entry) { return entry.MountPoint == mountPoint; });
}

// Pumps the queue on this thread until done() holds or time runs out.
template <typename TDone>
bool PumpUntil(TEventQueue& queue, TDone done, std::chrono::milliseconds limit = 5s) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        queue.ProcessEvents(20ms);
    }
    return true;
}

template <typename TDone>
bool WaitUntil(TDone done, std::chrono::milliseconds limit = 5s) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// The owner's queue, with a count of hand-overs, so that a test can wait for every hand-over
// to leave the queue before the queue goes away. Other processes may mount at any time, so a
// hand-over can always be in flight when a test stops its watcher.
class MountWatcherTest : public ::testing::Test {
protected:
    void TearDown() override {
        PumpUntil(Queue, [&] { return HandOversDone == HandOvers; });
        ASSERT_EQ(HandOversDone.load(), HandOvers.load());
    }
    TRunOnUiThread Dispatch() {
        return [this](const std::function<void()>& work) {
            ++HandOvers;
            Queue.RunAndWait(work);
            ++HandOversDone;
        };
    }
    TEventQueue Queue;
    std::atomic<int> HandOvers{0};
    std::atomic<int> HandOversDone{0};
};

// A folder to mount on, skipped unless this process may mount.
class MountWatcherOnTmpfs : public MountWatcherTest {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to mount a tmpfs";
        MountPoint = RealPath(Dir.Path()) + "/IPOD";
        ASSERT_TRUE(ForceDirectories(MountPoint));
    }
    TTempDir Dir;
    std::string MountPoint;
};

TEST_F(MountWatcherTest, StopsPromptlyTwiceAndOnDestruction) {
    auto start = std::chrono::steady_clock::now();
    {
        TMountWatcher watcher(Dispatch(), [](const TMountChange&) {});
        ASSERT_TRUE(watcher.Start());
        watcher.Stop();
        watcher.Stop();
        ASSERT_TRUE(watcher.Start());  // a stopped watcher starts again
    }                                  // the destructor stops the second run
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST_F(MountWatcherOnTmpfs, ReportsMountAndUnmountOnThePumpingThread) {
    std::vector<TMountChange> changes;
    std::vector<std::thread::id> threads;
    TMountWatcher watcher(Dispatch(), [&](const TMountChange& change) {
        changes.push_back(change);
        threads.push_back(std::this_thread::get_id());
    });
    ASSERT_TRUE(watcher.Start());

    TTmpfsMount tmpfs(MountPoint, "size=1m");
    ASSERT_TRUE(tmpfs.Mounted());
    ASSERT_TRUE(ForceDirectories(MountPoint + "/iPod_Control/iTunes"));
    auto added = [&] {
        return std::any_of(changes.begin(), changes.end(),
                           [&](const TMountChange& c) { return Lists(c.Added, MountPoint); });
    };
    ASSERT_TRUE(PumpUntil(Queue, added));
    const TMountEntry& entry =
        *std::find_if(changes.back().Added.begin(), changes.back().Added.end(),
                      [&](const TMountEntry& e) { return e.MountPoint == MountPoint; });
    EXPECT_EQ(entry.FsType, "tmpfs");
    EXPECT_TRUE(DirectoryExists(entry.MountPoint + "/iPod_Control/iTunes"));

    ASSERT_TRUE(tmpfs.Unmount());
    auto removed = [&] {
        return std::any_of(changes.begin(), changes.end(),
                           [&](const TMountChange& c) { return Lists(c.Removed, MountPoint); });
    };
    ASSERT_TRUE(PumpUntil(Queue, removed));
    for (std::thread::id id : threads)
        EXPECT_EQ(id, std::this_thread::get_id());
    watcher.Stop();
}

// The owner calls Stop while the watcher waits for the owner to run a report: Stop must not
// wait for that report, and the report must not run when the owner pumps again.
TEST_F(MountWatcherOnTmpfs, StopWhileAReportWaitsForTheOwnerDoesNotDeadlock) {
    int reports = 0;
    TMountWatcher watcher(Dispatch(), [&](const TMountChange&) { ++reports; });
    ASSERT_TRUE(watcher.Start());
    TTmpfsMount tmpfs(MountPoint, "size=1m");
    ASSERT_TRUE(tmpfs.Mounted());
    ASSERT_TRUE(WaitUntil([&] { return HandOvers > 0; }));  // not pumping

    auto start = std::chrono::steady_clock::now();
    watcher.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

    PumpUntil(Queue, [&] { return HandOversDone == HandOvers; });
    EXPECT_EQ(reports, 0);
}

TEST_F(MountWatcherOnTmpfs, StopFromInsideAReportEndsTheReports) {
    int reports = 0;
    std::unique_ptr<TMountWatcher> watcher;
    watcher = std::make_unique<TMountWatcher>(Dispatch(), [&](const TMountChange&) {
        ++reports;
        watcher->Stop();
    });
    ASSERT_TRUE(watcher->Start());
    {
        TTmpfsMount tmpfs(MountPoint, "size=1m");
        ASSERT_TRUE(tmpfs.Mounted());
        ASSERT_TRUE(PumpUntil(Queue, [&] { return reports > 0; }));
    }
    // The unmount would be a second report; none may come.
    PumpUntil(
        Queue, [] { return false; }, 300ms);
    EXPECT_EQ(reports, 1);
}

}  // namespace
}  // namespace corvane
