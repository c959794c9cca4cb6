// A real mount seen by the session: needs root (CI runs as root) and skips otherwise.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "device/iPodDev.h"
#include "fixtures/TempDir.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

// Pumps the queue until done() or the time is up.
template <typename F>
bool PumpUntil(TEventQueue& queue, F done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        queue.ProcessEvents(std::chrono::milliseconds(50));
    }
    return done();
}

TEST(MountedIpod, ArrivalAndRemovalReachTheOwnersThread) {
    if (geteuid() != 0)
        GTEST_SKIP() << "mounting needs root";
    testing::TTempDir temp;
    std::string stage = temp / "stage";
    std::string volume = temp / "volume";
    fs::create_directories(stage);
    fs::create_directories(volume);
    if (mount("corvane-test", stage.c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "cannot mount tmpfs here: " << strerror(errno);
    }
    fs::create_directories(stage + "/iPod_Control/iTunes");

    TEventQueue queue;
    std::atomic<int> attached{0}, lost{0};
    std::thread::id reportThread;
    TDeviceSessionOptions options;
    options.LoadLibrary = [] { return std::unique_ptr<IMobileDeviceLibrary>(); };
    options.VolumeRule = [&](const TMountEntry& entry) { return entry.MountPoint == volume; };
    options.Dispatch = queue.Dispatcher();
    TIpodDevice device(
        [&](bool connected) {
            reportThread = std::this_thread::get_id();
            (connected ? attached : lost)++;
        },
        options);
    EXPECT_FALSE(device.ScanDrives());

    // The prepared tmpfs appears at the volume's place, iPod_Control already inside.
    bool mounted = mount(stage.c_str(), volume.c_str(), nullptr, MS_BIND, nullptr) == 0;
    EXPECT_TRUE(mounted) << strerror(errno);
    if (mounted) {
        EXPECT_TRUE(PumpUntil(queue, [&] { return attached == 1; }));
        EXPECT_EQ(reportThread, std::this_thread::get_id());
        EXPECT_EQ(device.Drive(), volume);
        EXPECT_TRUE(device.FileExistsOnDevice("/iPod_Control/iTunes"));

        EXPECT_EQ(umount2(volume.c_str(), MNT_DETACH), 0);
        EXPECT_TRUE(PumpUntil(queue, [&] { return lost == 1; }));
        EXPECT_EQ(reportThread, std::this_thread::get_id());
        EXPECT_FALSE(device.Connected());
    }
    umount2(stage.c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace corvane
