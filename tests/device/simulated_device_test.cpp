// The simulated mobile device: a folder served through the library's calls, its sandbox, its
// notification thread and its fault injection.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device/SimulatedDevice.h"
#include "device/SimulatedPlist.h"
#include "fixtures/TempDir.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TTempDir;
using testing::WriteFile;

constexpr int kNoDevice = -3;
constexpr int kAfcInvalidArg = 7;
constexpr int kAfcNotFound = 8;
constexpr int kGone = 2;

struct TNotice {
    TAmDevice Device;
    int Message;
    std::thread::id Thread;
};

class TNoticeLog {
public:
    TDeviceNotification Callback() {
        return [this](TAmDevice device, int message) {
            std::lock_guard lock(FMutex);
            FNotices.push_back({device, message, std::this_thread::get_id()});
        };
    }
    std::vector<TNotice> Notices() const {
        std::lock_guard lock(FMutex);
        return FNotices;
    }
    std::vector<int> Messages() const {
        std::vector<int> messages;
        for (const TNotice& notice : Notices())
            messages.push_back(notice.Message);
        return messages;
    }

private:
    mutable std::mutex FMutex;
    std::vector<TNotice> FNotices;
};

// 100 bytes, each telling its own offset apart from its neighbours.
std::string Song() {
    std::string song;
    for (int i = 0; i < 100; ++i)
        song += static_cast<char>('A' + i % 26);
    return song;
}

class SimulatedDeviceTest : public ::testing::Test {
protected:
    // device/            served as the device
    //   Music/a.mp3      the song, Music/b.txt "notes"
    //   Empty/           no entries
    //   link -> ../outside, innerlink -> Music, pipe (a FIFO)
    // outside/secret.txt beside the device, never reachable
    void SetUp() override {
        FRoot = FDir / "device";
        WriteFile(FRoot + "/Music/a.mp3", Song());
        WriteFile(FRoot + "/Music/b.txt", "notes");
        fs::create_directory(FRoot + "/Empty");
        WriteFile(FDir / "outside/secret.txt", "secret");
        fs::create_directory_symlink("../outside", FRoot + "/link");
        fs::create_directory_symlink("Music", FRoot + "/innerlink");
        ASSERT_EQ(mkfifo((FRoot + "/pipe").c_str(), 0600), 0);
    }

    TSimulatedDeviceOptions Options() const {
        TSimulatedDeviceOptions options;
        options.Root = FRoot;
        return options;
    }

    // Makes the device and subscribes; a device plugged at start has been notified on return.
    void Start(TSimulatedDeviceOptions options) {
        FDevice = MakeSimulatedDevice(std::move(options));
        Subscribe();
    }
    void Start(TSimulatedFaults faults = {}) {
        TSimulatedDeviceOptions options = Options();
        options.Faults = std::move(faults);
        Start(std::move(options));
    }
    void Subscribe() {
        ASSERT_EQ(Library().NotificationSubscribe(FLog.Callback()), 0);
        Control().WaitIdle();
        if (!FLog.Notices().empty())
            FAmDevice = FLog.Notices().front().Device;
    }

    IMobileDeviceLibrary& Library() { return *FDevice.Library; }
    TSimulatedDeviceControl& Control() { return *FDevice.Control; }

    TAfcConnection Connect() {
        TAfcService service = nullptr;
        EXPECT_EQ(Library().DeviceStartService(FAmDevice, "com.apple.afc", &service), 0);
        TAfcConnection connection = nullptr;
        EXPECT_EQ(Library().AfcConnectionOpen(service, 0, &connection), 0);
        return connection;
    }

    int List(TAfcConnection connection, const std::string& path, std::vector<std::string>* names) {
        TAfcDirectory directory = nullptr;
        int result = Library().AfcDirectoryOpen(connection, path, &directory);
        if (result != 0)
            return result;
        const char* name = nullptr;
        while ((result = Library().AfcDirectoryRead(connection, directory, &name)) == 0 && name) {
            names->push_back(name);
        }
        Library().AfcDirectoryClose(connection, directory);
        return result;
    }

    int Info(TAfcConnection connection, const std::string& path,
             std::vector<std::pair<std::string, std::string>>* pairs) {
        TAfcDictionary info = nullptr;
        int result = Library().AfcFileInfoOpen(connection, path, &info);
        if (result != 0)
            return result;
        const char* key = nullptr;
        const char* value = nullptr;
        while ((result = Library().AfcKeyValueRead(info, &key, &value)) == 0 && key) {
            pairs->emplace_back(key, value);
        }
        Library().AfcKeyValueClose(info);
        return result;
    }

    static std::string Value(const std::vector<std::pair<std::string, std::string>>& pairs,
                             const std::string& key) {
        for (const auto& [itemKey, itemValue] : pairs) {
            if (itemKey == key)
                return itemValue;
        }
        return "<absent>";
    }

    // Reads in chunks until the end or an error; gives the last result.
    int ReadAll(TAfcConnection connection, TAfcFileRef file, uint32_t chunk, std::string* data) {
        std::string buffer(chunk, '\0');
        for (;;) {
            uint32_t length = chunk;
            int result = Library().AfcFileRefRead(connection, file, buffer.data(), &length);
            if (result != 0)
                return result;
            if (length == 0)
                return 0;
            EXPECT_LE(length, chunk);
            data->append(buffer, 0, length);
        }
    }

    TTempDir FDir;
    std::string FRoot;
    TNoticeLog FLog;
    TSimulatedDevice FDevice;
    TAmDevice FAmDevice = nullptr;
};

TEST_F(SimulatedDeviceTest, ListsDotEntriesFirstThenNamesSorted) {
    Start();
    TAfcConnection connection = Connect();
    const std::vector<std::string> root = {".",         "..",   "Empty", "Music",
                                           "innerlink", "link", "pipe"};
    for (const char* path : {"", "/", "."}) {
        std::vector<std::string> names;
        EXPECT_EQ(List(connection, path, &names), 0) << path;
        EXPECT_EQ(names, root) << path;
    }
    struct TCase {
        const char* Path;
        std::vector<std::string> Names;
    };
    const TCase cases[] = {
        {"/Music", {".", "..", "a.mp3", "b.txt"}},
        {"Music/", {".", "..", "a.mp3", "b.txt"}},
        {"//Empty", {".", ".."}},
    };
    for (const TCase& item : cases) {
        std::vector<std::string> names;
        EXPECT_EQ(List(connection, item.Path, &names), 0) << item.Path;
        EXPECT_EQ(names, item.Names) << item.Path;
    }
    std::vector<std::string> names;
    EXPECT_EQ(List(connection, "Missing", &names), kAfcNotFound);
    EXPECT_NE(List(connection, "Music/a.mp3", &names), 0);
}

TEST_F(SimulatedDeviceTest, FileInfoGivesTypeAndSizeWithoutFollowingLinks) {
    Start();
    TAfcConnection connection = Connect();
    struct TCase {
        const char* Path;
        const char* Type;
        const char* Size;  // nullptr = not checked
    };
    const TCase cases[] = {
        {"/Music/a.mp3", "S_IFREG", "100"}, {"Music/b.txt", "S_IFREG", "5"},
        {"Music", "S_IFDIR", nullptr},      {"/", "S_IFDIR", nullptr},
        {"link", "S_IFLNK", nullptr},       {"innerlink", "S_IFLNK", nullptr},
        {"pipe", "S_IFIFO", "0"},
    };
    for (const TCase& item : cases) {
        SCOPED_TRACE(item.Path);
        std::vector<std::pair<std::string, std::string>> pairs;
        ASSERT_EQ(Info(connection, item.Path, &pairs), 0);
        ASSERT_FALSE(pairs.empty());
        EXPECT_EQ(pairs.front().first, "st_size");
        EXPECT_EQ(Value(pairs, "st_ifmt"), item.Type);
        if (item.Size) {
            EXPECT_EQ(Value(pairs, "st_size"), item.Size);
        }
        for (const char* key : {"st_blocks", "st_nlink", "st_mtime", "st_birthtime"}) {
            EXPECT_NE(Value(pairs, key), "<absent>") << key;
        }
    }
    std::vector<std::pair<std::string, std::string>> pairs;
    EXPECT_EQ(Info(connection, "Music/none.mp3", &pairs), kAfcNotFound);
    EXPECT_EQ(Info(connection, "Missing/a.mp3", &pairs), kAfcNotFound);
}

TEST_F(SimulatedDeviceTest, ReadsInChunksAndAfterSeeks) {
    Start();
    TAfcConnection connection = Connect();
    TAfcFileRef file = 0;
    ASSERT_EQ(Library().AfcFileRefOpen(connection, "/Music/a.mp3", kAfcModeRead, &file), 0);
    EXPECT_NE(file, 0u);
    EXPECT_EQ(Control().OpenFiles(), 1);
    for (uint32_t chunk : {7u, 100u, 4096u}) {
        SCOPED_TRACE(chunk);
        ASSERT_EQ(Library().AfcFileRefSeek(connection, file, 0), 0);
        std::string data;
        EXPECT_EQ(ReadAll(connection, file, chunk, &data), 0);
        EXPECT_EQ(data, Song());
    }
    char buffer[8] = {};
    struct TCase {
        int64_t Offset;
        uint32_t Room;
        std::string Expected;
    };
    const TCase cases[] = {
        {5, 3, Song().substr(5, 3)},
        {97, 8, Song().substr(97)},  // short at the end
        {100, 8, ""},                // at the end
        {5000, 8, ""},               // past the end: allowed, nothing delivered
        {0, 0, ""},                  // no room
    };
    for (const TCase& item : cases) {
        SCOPED_TRACE(item.Offset);
        ASSERT_EQ(Library().AfcFileRefSeek(connection, file, item.Offset), 0);
        uint32_t length = item.Room;
        ASSERT_EQ(Library().AfcFileRefRead(connection, file, buffer, &length), 0);
        EXPECT_EQ(std::string(buffer, length), item.Expected);
    }
    EXPECT_NE(Library().AfcFileRefSeek(connection, file, -1), 0);
    EXPECT_EQ(Library().AfcFileRefClose(connection, file), 0);
    EXPECT_EQ(Control().OpenFiles(), 0);
    uint32_t length = sizeof(buffer);
    EXPECT_NE(Library().AfcFileRefRead(connection, file, buffer, &length), 0);
}

// The access mode of this process's descriptors open on path.
std::vector<int> AccessModesOf(const std::string& path) {
    std::vector<int> modes;
    std::string wanted = fs::canonical(path).string();
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (fs::read_symlink(entry.path(), error).string() != wanted)
            continue;
        std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
        std::string field;
        while (info >> field) {
            if (field == "flags:") {
                std::string octal;
                info >> octal;
                modes.push_back(std::stoi(octal, nullptr, 8) & O_ACCMODE);
            }
        }
    }
    return modes;
}

TEST_F(SimulatedDeviceTest, OpensReadOnly) {
    Start();
    TAfcConnection connection = Connect();
    std::string song = FRoot + "/Music/a.mp3";
    auto before = fs::last_write_time(song);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        TAfcFileRef file = 0;
        ASSERT_EQ(Library().AfcFileRefOpen(connection, "Music/a.mp3", kAfcModeRead, &file), 0);
        EXPECT_EQ(Control().LastOpenMode(), kAfcModeRead);
        EXPECT_EQ(AccessModesOf(song), std::vector<int>{O_RDONLY});
        std::string data;
        EXPECT_EQ(ReadAll(connection, file, 64, &data), 0);
        EXPECT_EQ(Library().AfcFileRefClose(connection, file), 0);
        EXPECT_TRUE(AccessModesOf(song).empty());
    }
    EXPECT_EQ(ReadFile(song), Song());
    EXPECT_EQ(fs::last_write_time(song), before);

    TAfcFileRef file = 0;
    for (int mode : {0, 2, 3, 4, 5, 6}) {
        EXPECT_NE(Library().AfcFileRefOpen(connection, "Music/a.mp3", mode, &file), 0);
        EXPECT_NE(Library().AfcFileRefOpen(connection, "Music/new.mp3", mode, &file), 0);
    }
    EXPECT_FALSE(fs::exists(FRoot + "/Music/new.mp3"));
    EXPECT_NE(Library().AfcFileRefOpen(connection, "Music", kAfcModeRead, &file), 0);
    EXPECT_NE(Library().AfcFileRefOpen(connection, "pipe", kAfcModeRead, &file), 0);
    EXPECT_EQ(Control().OpenFiles(), 0);
}

TEST_F(SimulatedDeviceTest, PathsCannotLeaveTheRoot) {
    Start();
    TAfcConnection connection = Connect();
    struct TCase {
        const char* Path;
        bool IsLink;  // the link itself may be described, never entered
    };
    const TCase cases[] = {
        {"../outside/secret.txt", false},
        {"/Music/../../outside/secret.txt", false},
        {"Music/../Music/a.mp3", false},
        {"..", false},
        {"link/secret.txt", false},
        {"innerlink/a.mp3", false},
        {"link", true},
        {"innerlink", true},
    };
    for (const TCase& item : cases) {
        SCOPED_TRACE(item.Path);
        TAfcFileRef file = 0;
        EXPECT_NE(Library().AfcFileRefOpen(connection, item.Path, kAfcModeRead, &file), 0);
        std::vector<std::string> names;
        EXPECT_NE(List(connection, item.Path, &names), 0);
        EXPECT_TRUE(names.empty());
        std::vector<std::pair<std::string, std::string>> pairs;
        int result = Info(connection, item.Path, &pairs);
        if (item.IsLink) {
            EXPECT_EQ(Value(pairs, "st_ifmt"), "S_IFLNK");
        } else {
            EXPECT_NE(result, 0);
        }
    }
    std::string nul("Music/a.mp3\0../x", 16);
    TAfcFileRef file = 0;
    EXPECT_NE(Library().AfcFileRefOpen(connection, nul, kAfcModeRead, &file), 0);
    EXPECT_EQ(Control().OpenFiles(), 0);
}

TEST_F(SimulatedDeviceTest, NotificationsRunOnTheLibraryThread) {
    for (bool pluggedAtStart : {true, false}) {
        SCOPED_TRACE(pluggedAtStart);
        TNoticeLog log;
        TSimulatedDeviceOptions options = Options();
        options.PluggedAtStart = pluggedAtStart;
        TSimulatedDevice device = MakeSimulatedDevice(options);
        ASSERT_EQ(device.Library->NotificationSubscribe(log.Callback()), 0);
        EXPECT_NE(device.Library->NotificationSubscribe(log.Callback()), 0);
        device.Control->WaitIdle();
        EXPECT_EQ(log.Messages().size(), pluggedAtStart ? 1u : 0u);

        device.Control->Unplug();
        device.Control->Plug();
        device.Control->Unplug();
        device.Control->WaitIdle();
        std::vector<int> expected = {kDeviceConnected, kGone};
        if (pluggedAtStart)
            expected = {kDeviceConnected, kGone, kDeviceConnected, kGone};
        EXPECT_EQ(log.Messages(), expected);
        for (const TNotice& notice : log.Notices()) {
            EXPECT_NE(notice.Thread, std::this_thread::get_id());
            EXPECT_EQ(notice.Device, log.Notices().front().Device);
        }
        TAmDevice gone = log.Notices().front().Device;
        EXPECT_EQ(device.Library->DeviceConnect(gone), kNoDevice);

        EXPECT_EQ(device.Library->NotificationUnsubscribe(), 0);
        device.Control->Plug();
        device.Control->WaitIdle();
        EXPECT_EQ(log.Messages(), expected);
        EXPECT_EQ(device.Library->DeviceIsPaired(gone), 1);
    }
}

TEST_F(SimulatedDeviceTest, UnsubscribeFromInsideCallbackDoesNotDeadlock) {
    TSimulatedDevice device = MakeSimulatedDevice(Options());
    std::mutex mutex;
    std::vector<int> seen;
    ASSERT_EQ(device.Library->NotificationSubscribe([&](TAmDevice, int message) {
        {
            std::lock_guard lock(mutex);
            seen.push_back(message);
        }
        device.Control->WaitIdle();  // would wait for itself
        device.Library->NotificationUnsubscribe();
    }),
              0);
    device.Control->Unplug();  // queued behind the attach, dropped by the unsubscribe
    device.Control->WaitIdle();
    device.Control->Plug();
    device.Control->WaitIdle();
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(seen, std::vector<int>{kDeviceConnected});
    }
    // A new subscription works after one ended from inside a callback.
    TNoticeLog log;
    ASSERT_EQ(device.Library->NotificationSubscribe(log.Callback()), 0);
    device.Control->WaitIdle();
    EXPECT_EQ(log.Messages(), std::vector<int>{kDeviceConnected});
    device.Library.reset();
    device.Control->Unplug();  // the control outlives the library
    device.Control->WaitIdle();
    EXPECT_EQ(log.Messages(), std::vector<int>{kDeviceConnected});
}

TEST_F(SimulatedDeviceTest, DestroyingTheLibraryInsideItsCallbackIsSafe) {
    TSimulatedDevice device = MakeSimulatedDevice(Options());
    std::mutex mutex;
    bool destroyed = false;
    std::unique_ptr<IMobileDeviceLibrary> library = std::move(device.Library);
    ASSERT_EQ(library->NotificationSubscribe([&](TAmDevice, int) {
        std::lock_guard lock(mutex);
        library.reset();
        destroyed = true;
    }),
              0);
    device.Control->WaitIdle();
    std::lock_guard lock(mutex);
    EXPECT_TRUE(destroyed);
}

TEST_F(SimulatedDeviceTest, HandshakeFaultsAreCountedAndRunOut) {
    TSimulatedFaults faults;
    faults.ConnectFailures = 2;
    faults.ServiceStartFailures = 2;
    Start(faults);
    EXPECT_NE(Library().DeviceConnect(FAmDevice), 0);
    EXPECT_NE(Library().DeviceConnect(FAmDevice), 0);
    EXPECT_EQ(Library().DeviceConnect(FAmDevice), 0);
    EXPECT_EQ(Control().Connects(), 3);
    EXPECT_EQ(Library().DeviceIsPaired(FAmDevice), 1);
    EXPECT_EQ(Library().DeviceValidatePairing(FAmDevice), 0);

    TAfcService service = nullptr;
    EXPECT_NE(Library().DeviceStartService(FAmDevice, "com.apple.afc", &service), 0);
    EXPECT_NE(Library().DeviceStartService(FAmDevice, "com.apple.afc", &service), 0);
    EXPECT_EQ(service, nullptr);
    EXPECT_EQ(Library().DeviceStartService(FAmDevice, "com.apple.afc", &service), 0);
    EXPECT_NE(service, nullptr);
    EXPECT_EQ(Control().ServiceStarts(), 3);
    EXPECT_NE(Library().DeviceStartService(FAmDevice, "com.apple.other", &service), 0);
    EXPECT_EQ(Library().DeviceStartService(FAmDevice, "com.apple.afc2", &service), 0);

    // Faults set later replace the counts left.
    faults.ServiceStartFailures = 1;
    Control().SetFaults(faults);
    EXPECT_NE(Library().DeviceStartService(FAmDevice, "com.apple.afc", &service), 0);
    EXPECT_EQ(Library().DeviceStartService(FAmDevice, "com.apple.afc", &service), 0);
}

TEST_F(SimulatedDeviceTest, NeedsSessionUntilSessionStartedSinceLastPlug) {
    TSimulatedFaults faults;
    faults.NeedsSession = true;
    Start(faults);
    auto startService = [&] {
        TAfcService service = nullptr;
        return Library().DeviceStartService(FAmDevice, "com.apple.afc", &service);
    };
    EXPECT_NE(startService(), 0);
    EXPECT_NE(Library().DeviceStartSession(FAmDevice), 0) << "a session needs a connection";
    EXPECT_NE(startService(), 0);

    EXPECT_EQ(Library().DeviceConnect(FAmDevice), 0);
    EXPECT_EQ(Library().DeviceStartSession(FAmDevice), 0);
    EXPECT_EQ(startService(), 0);
    EXPECT_EQ(Control().SessionStarts(), 2);

    EXPECT_EQ(Library().DeviceStopSession(FAmDevice), 0);
    EXPECT_NE(startService(), 0);
    EXPECT_EQ(Library().DeviceStartSession(FAmDevice), 0);
    EXPECT_EQ(Library().DeviceDisconnect(FAmDevice), 0);
    EXPECT_NE(startService(), 0);

    // A fresh plug has neither connection nor session.
    EXPECT_EQ(Library().DeviceConnect(FAmDevice), 0);
    EXPECT_EQ(Library().DeviceStartSession(FAmDevice), 0);
    Control().Unplug();
    EXPECT_EQ(startService(), kNoDevice);
    Control().Plug();
    EXPECT_NE(startService(), 0);
    EXPECT_NE(Library().DeviceStartSession(FAmDevice), 0);
}

TEST_F(SimulatedDeviceTest, ReadOfMatchingFileFailsAfterItsLimit) {
    TSimulatedFaults faults;
    faults.FailReadSuffix = "a.mp3";
    faults.FailReadAfterBytes = 10;
    Start(faults);
    TAfcConnection connection = Connect();
    TAfcFileRef song = 0;
    ASSERT_EQ(Library().AfcFileRefOpen(connection, "Music/a.mp3", kAfcModeRead, &song), 0);
    char buffer[8];
    uint32_t length = sizeof(buffer);
    ASSERT_EQ(Library().AfcFileRefRead(connection, song, buffer, &length), 0);
    EXPECT_EQ(length, 8u);
    length = sizeof(buffer);
    ASSERT_EQ(Library().AfcFileRefRead(connection, song, buffer, &length), 0);
    EXPECT_EQ(std::string(buffer, length), Song().substr(8, 2)) << "exactly up to the limit";
    length = sizeof(buffer);
    EXPECT_NE(Library().AfcFileRefRead(connection, song, buffer, &length), 0);
    EXPECT_EQ(length, 0u);
    // Seeking back does not undo what was delivered.
    ASSERT_EQ(Library().AfcFileRefSeek(connection, song, 0), 0);
    length = sizeof(buffer);
    EXPECT_NE(Library().AfcFileRefRead(connection, song, buffer, &length), 0);

    // Other files read in full, and the device stays.
    TAfcFileRef notes = 0;
    ASSERT_EQ(Library().AfcFileRefOpen(connection, "Music/b.txt", kAfcModeRead, &notes), 0);
    std::string data;
    EXPECT_EQ(ReadAll(connection, notes, 2, &data), 0);
    EXPECT_EQ(data, "notes");
    EXPECT_EQ(Library().DeviceConnect(FAmDevice), 0);
}

TEST_F(SimulatedDeviceTest, DeviceGoesAwayMidRead) {
    TSimulatedFaults faults;
    faults.GoneAfterBytes = 12;
    Start(faults);
    TAfcConnection connection = Connect();
    TAfcFileRef file = 0;
    ASSERT_EQ(Library().AfcFileRefOpen(connection, "Music/a.mp3", kAfcModeRead, &file), 0);
    char buffer[8];
    uint32_t length = sizeof(buffer);
    ASSERT_EQ(Library().AfcFileRefRead(connection, file, buffer, &length), 0);
    EXPECT_EQ(length, 8u);
    length = sizeof(buffer);
    ASSERT_EQ(Library().AfcFileRefRead(connection, file, buffer, &length), 0);
    EXPECT_EQ(std::string(buffer, length), Song().substr(8, 4)) << "up to the limit";

    length = sizeof(buffer);
    EXPECT_EQ(Library().AfcFileRefRead(connection, file, buffer, &length), kNoDevice);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(Library().AfcFileRefSeek(connection, file, 0), kNoDevice);
    std::vector<std::string> names;
    EXPECT_EQ(List(connection, "/", &names), kNoDevice);
    EXPECT_EQ(Library().DeviceConnect(FAmDevice), kNoDevice);
    std::string name;
    EXPECT_FALSE(Library().DeviceCopyValue(FAmDevice, "DeviceName", &name));

    Control().WaitIdle();
    std::vector<TNotice> notices = FLog.Notices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1].Message, kGone);
    EXPECT_EQ(notices[1].Device, FAmDevice);
    EXPECT_NE(notices[1].Thread, std::this_thread::get_id());

    // Handles of the old plug stay dead; a new plug serves again and counts afresh.
    EXPECT_NE(Library().AfcFileRefClose(connection, file), 0);
    EXPECT_EQ(Control().OpenFiles(), 0);
    Control().Plug();
    length = sizeof(buffer);
    EXPECT_EQ(Library().AfcFileRefRead(connection, file, buffer, &length), kAfcInvalidArg)
        << "closed: an unknown file";
    EXPECT_EQ(List(connection, "/", &names), kNoDevice);
    TAfcConnection fresh = Connect();
    ASSERT_EQ(Library().AfcFileRefOpen(fresh, "Music/a.mp3", kAfcModeRead, &file), 0);
    length = sizeof(buffer);
    EXPECT_EQ(Library().AfcFileRefRead(fresh, file, buffer, &length), 0);
    EXPECT_EQ(length, 8u);
}

TEST_F(SimulatedDeviceTest, DeviceNameValue) {
    struct TCase {
        const char* Name;
        const char* Key;
        bool Found;
    };
    const TCase cases[] = {
        {"Kim's phone", "DeviceName", true},
        {"", "DeviceName", false},
        {"Kim's phone", "ProductVersion", false},
    };
    for (const TCase& item : cases) {
        SCOPED_TRACE(std::string(item.Name) + "/" + item.Key);
        TSimulatedDeviceOptions options = Options();
        options.DeviceName = item.Name;
        TSimulatedDevice device = MakeSimulatedDevice(options);
        TNoticeLog log;
        ASSERT_EQ(device.Library->NotificationSubscribe(log.Callback()), 0);
        device.Control->WaitIdle();
        ASSERT_EQ(log.Notices().size(), 1u);
        std::string value = "unchanged";
        EXPECT_EQ(device.Library->DeviceCopyValue(log.Notices()[0].Device, item.Key, &value),
                  item.Found);
        EXPECT_EQ(value, item.Found ? item.Name : "unchanged");
    }
}

TEST_F(SimulatedDeviceTest, ConvertsPlistsWithOrWithoutThePlatformLibrary) {
    // "Kind" as a binary property list: bplist00, one ASCII string, its offset, the trailer.
    std::string binary("bplist00\x54Kind\x08", 14);
    binary += std::string(6, '\0') + "\x01\x01" + std::string(7, '\0') + "\x01" +
              std::string(8, '\0') + std::string(7, '\0') + "\x0D";
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
        "<string>Memo</string></plist>\n";
    std::string binaryPath = WriteFile(FDir / "binary.plist", binary);
    std::string xmlPath = WriteFile(FDir / "xml.plist", xml);
    std::string target = FDir / "out.plist";

    TSimulatedDevice bare =
        MakeSimulatedDevice(Options(), [] { return std::unique_ptr<IMobileDeviceLibrary>(); });
    WriteFile(target, "previous");
    EXPECT_FALSE(bare.Library->ConvertPlist(binaryPath, target));
    EXPECT_EQ(ReadFile(target), "previous");
    EXPECT_TRUE(bare.Library->ConvertPlist(xmlPath, target));
    EXPECT_EQ(ReadFile(target), xml);
    EXPECT_TRUE(bare.Library->ConvertPlist(xmlPath, xmlPath));
    EXPECT_EQ(ReadFile(xmlPath), xml);

    TSimulatedDevice platform = MakeSimulatedDevice(Options());
    ASSERT_TRUE(platform.Library->ConvertPlist(binaryPath, target));
    EXPECT_NE(ReadFile(target).find("<string>Kind</string>"), std::string::npos)
        << ReadFile(target);
}

}  // namespace
}  // namespace corvane
