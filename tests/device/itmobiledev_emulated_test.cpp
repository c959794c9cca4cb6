// The platform binding over the real library against the emulated iPhone: what reaches the
// phone when the binding is asked for something.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "device/MobileDeviceLibrary.h"
#include "fixtures/EmulatedPhone.h"
#include "fixtures/TempDir.h"

namespace corvane {
namespace {

using testing::TEmulatedPhone;
using testing::TTempDir;
using testing::WriteFile;

// The first device the library reports.
class TFirstDevice {
public:
    TDeviceNotification Callback() {
        return [this](TAmDevice device, int message) {
            std::lock_guard lock(FMutex);
            if (message == kDeviceConnected && FDevice == nullptr)
                FDevice = device;
            FChanged.notify_all();
        };
    }
    TAmDevice Wait() {
        std::unique_lock lock(FMutex);
        FChanged.wait_for(lock, std::chrono::seconds(10), [this] { return FDevice != nullptr; });
        return FDevice;
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    TAmDevice FDevice = nullptr;
};

TEST(EmulatedPhoneBindingTest, FilesOpenOnlyForReading) {
    TTempDir folder;
    WriteFile(folder / "iTunes_Control/Music/F00/song.mp3", std::string(100000, 'x'));
    TEmulatedPhone phone(folder.Path());
    ASSERT_TRUE(phone.Ready()) << phone.Error();
    auto library = LoadMobileDevice();
    ASSERT_TRUE(library);
    TFirstDevice first;
    ASSERT_EQ(library->NotificationSubscribe(first.Callback()), 0);
    TAmDevice device = first.Wait();
    ASSERT_NE(device, nullptr);
    ASSERT_EQ(library->DeviceConnect(device), 0);
    ASSERT_EQ(library->DeviceStartSession(device), 0);
    TAfcService service = nullptr;
    ASSERT_EQ(library->DeviceStartService(device, "com.apple.afc", &service), 0);
    TAfcConnection connection = nullptr;
    ASSERT_EQ(library->AfcConnectionOpen(service, 0, &connection), 0);

    const std::string song = "/iTunes_Control/Music/F00/song.mp3";
    // Every value the library knows as a mode (2 to 6 write or create), and some it does not.
    for (int mode : {0, 2, 3, 4, 5, 6, 7, -1, 0x10001}) {
        SCOPED_TRACE(mode);
        TAfcFileRef file = 99;
        EXPECT_NE(library->AfcFileRefOpen(connection, song, mode, &file), 0);
        EXPECT_EQ(file, 0u);
        EXPECT_NE(library->AfcFileRefOpen(connection, "/new.mp3", mode, &file), 0);
    }
    TAfcFileRef file = 0;
    ASSERT_EQ(library->AfcFileRefOpen(connection, song, kAfcModeRead, &file), 0);
    std::string data(200000, '\0');
    uint32_t length = static_cast<uint32_t>(data.size());
    ASSERT_EQ(library->AfcFileRefRead(connection, file, data.data(), &length), 0);
    EXPECT_EQ(data.substr(0, length), std::string(100000, 'x'));
    EXPECT_EQ(library->AfcFileRefClose(connection, file), 0);
    EXPECT_EQ(library->AfcConnectionClose(connection), 0);

    EXPECT_EQ(phone.Stat("write_mode_opens"), 0);
    EXPECT_EQ(phone.Stat("write_requests"), 0);
    EXPECT_EQ(phone.Stat("tls_sessions"), 1);
    EXPECT_EQ(library->NotificationUnsubscribe(), 0);
}

}  // namespace
}  // namespace corvane
