#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "device/IosHelper.h"
#include "device/SimulatedDevice.h"
#include "fixtures/TempDir.h"

namespace corvane {
namespace {

// Faults built field by field: designated initializers would leave the rest unnamed.
TSimulatedFaults Faults(int serviceStartFailures, bool needsSession = false,
                        int connectFailures = 0) {
    TSimulatedFaults faults;
    faults.ServiceStartFailures = serviceStartFailures;
    faults.NeedsSession = needsSession;
    faults.ConnectFailures = connectFailures;
    return faults;
}

TSimulatedFaults FailReadAfter(const std::string& suffix, uint64_t bytes) {
    TSimulatedFaults faults;
    faults.FailReadSuffix = suffix;
    faults.FailReadAfterBytes = bytes;
    return faults;
}

TSimulatedFaults GoneAfter(uint64_t bytes) {
    TSimulatedFaults faults;
    faults.GoneAfterBytes = bytes;
    return faults;
}

using testing::ReadFile;
using testing::TTempDir;
using testing::WriteFile;

// A file service on a simulated device serving a temporary folder.
class IosHelperTest : public ::testing::Test {
protected:
    void Start(TSimulatedFaults faults = {}, bool plugged = true) {
        TSimulatedDeviceOptions options;
        options.Root = FRoot.Path();
        options.Faults = faults;
        options.PluggedAtStart = plugged;
        TSimulatedDevice device = MakeSimulatedDevice(options);
        FControl = device.Control;
        FService = std::make_unique<TIosHelper>(
            [this](TIosHelper&, bool attached) {
                FReportThread = std::this_thread::get_id();
                (attached ? FAttaches : FLosses)++;
            },
            std::move(device.Library));
        ASSERT_TRUE(FService->StartNotify());
        FControl->WaitIdle();
    }
    void TearDown() override { FService.reset(); }

    TTempDir FRoot;
    std::shared_ptr<TSimulatedDeviceControl> FControl;
    std::unique_ptr<TIosHelper> FService;
    std::atomic<int> FAttaches{0};
    std::atomic<int> FLosses{0};
    std::thread::id FReportThread;
};

TEST_F(IosHelperTest, AttachAndLossAreReportedOnTheLibraryThread) {
    Start();
    EXPECT_EQ(FAttaches, 1);
    EXPECT_NE(FReportThread, std::this_thread::get_id());
    EXPECT_EQ(FService->BufferSize(), kCopyBufferSize);
    EXPECT_TRUE(FService->HasDevice());
    FControl->Unplug();
    FControl->WaitIdle();
    EXPECT_EQ(FLosses, 1);
    EXPECT_FALSE(FService->HasDevice());
    EXPECT_FALSE(FService->PathExists("/"));
}

TEST_F(IosHelperTest, ServiceOpensThroughReconnectsOrIsNotReported) {
    struct {
        const char* name;
        TSimulatedFaults faults;
        bool attached;
        int serviceStarts;
    } cases[] = {
        {"ready device", Faults(0), true, 1},
        {"fresh device needs a session", Faults(0, true), true, 2},
        {"two failed starts", Faults(2), true, 3},
        {"three failed starts", Faults(3), false, 3},
        {"device refuses to connect", Faults(0, true, 3), false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FAttaches = 0;
        Start(c.faults);
        EXPECT_EQ(FAttaches, c.attached ? 1 : 0);
        EXPECT_EQ(FControl->ServiceStarts(), c.serviceStarts);
        EXPECT_EQ(FService->HasDevice(), c.attached);
        FService.reset();
    }
}

TEST_F(IosHelperTest, OpenServiceForTheOpenServiceTouchesNothing) {
    Start();
    int starts = FControl->ServiceStarts();
    EXPECT_TRUE(FService->OpenService("COM.APPLE.AFC", false));
    EXPECT_EQ(FControl->ServiceStarts(), starts);
    EXPECT_TRUE(FService->OpenService(kAfcServiceName, true));
    EXPECT_GT(FControl->ServiceStarts(), starts);
}

TEST_F(IosHelperTest, CopiesWholeFilesAndFailsOnATruncatedRead) {
    WriteFile(FRoot / "empty.bin", "");
    std::string big(3 * kCopyBufferSize + 17, 'x');
    for (size_t i = 0; i < big.size(); i += 4099)
        big[i] = static_cast<char>(i);
    WriteFile(FRoot / "iTunes_Control/iTunes/big.bin", big);
    Start();

    TMemoryStream stream;
    EXPECT_TRUE(FService->CopyToStream("/empty.bin", stream));
    EXPECT_EQ(stream.Size(), 0u);
    EXPECT_TRUE(FService->CopyToStream("/iTunes_Control/iTunes/big.bin", stream));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Data()), stream.Size()), big);

    FControl->SetFaults(FailReadAfter("big.bin", kCopyBufferSize + 5));
    TMemoryStream partial;
    EXPECT_FALSE(FService->CopyToStream("/iTunes_Control/iTunes/big.bin", partial));
    EXPECT_NE(FService->LastError(), 0);
    EXPECT_EQ(FControl->OpenFiles(), 0);

    TMemoryStream missing;
    EXPECT_FALSE(FService->CopyToStream("/nope.bin", missing));
    EXPECT_NE(FService->LastError(), 0);
}

TEST_F(IosHelperTest, CopyToFileNeverLeavesAPartOrReplacesAFile) {
    WriteFile(FRoot / "song.mp3", std::string(2 * kCopyBufferSize + 3, 's'));
    Start();
    TTempDir local;

    EXPECT_TRUE(FService->CopyToFile("/song.mp3", local / "a.mp3"));
    EXPECT_EQ(std::filesystem::file_size(local / "a.mp3"), 2 * kCopyBufferSize + 3);

    WriteFile(local / "b.mp3", "mine");
    EXPECT_FALSE(FService->CopyToFile("/song.mp3", local / "b.mp3"));
    EXPECT_EQ(ReadFile(local / "b.mp3"), "mine");
    EXPECT_EQ(FService->LastLocalError(), EEXIST);

    // The device goes away in the middle of the file.
    FControl->SetFaults(GoneAfter(kCopyBufferSize + 100));
    EXPECT_FALSE(FService->CopyToFile("/song.mp3", local / "c.mp3"));
    FControl->WaitIdle();
    EXPECT_EQ(FLosses, 1);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(local.Path())) {
        left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"a.mp3", "b.mp3"}));
}

TEST_F(IosHelperTest, RandomReadsAreReadOnlyAndWhole) {
    WriteFile(FRoot / "Photos/Thumbs/F1.ithmb", "0123456789");
    Start();
    ASSERT_TRUE(FService->OpenFile("/Photos/Thumbs/F1.ithmb"));
    EXPECT_EQ(FControl->LastOpenMode(), kAfcModeRead);
    uint8_t buffer[4] = {};
    EXPECT_TRUE(FService->ReadAt(4, buffer, 6));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "6789");
    EXPECT_FALSE(FService->ReadAt(4, buffer, 8));  // runs past the end
    FService->CloseFile();
    EXPECT_EQ(FControl->OpenFiles(), 0);
    EXPECT_FALSE(FService->OpenFile("/Photos/Thumbs/F2.ithmb"));
}

TEST_F(IosHelperTest, KindsSizesAndListings) {
    WriteFile(FRoot / "DCIM/100APPLE/IMG_0001.JPG", "jpeg");
    WriteFile(FRoot / "DCIM/100APPLE/IMG_0001.THM", "t");
    WriteFile(FRoot / "DCIM/101APPLE/IMG_0002.MOV", "movie");
    WriteFile(FRoot / "Recordings/Memo 1.m4a", "m");
    std::filesystem::create_directories(FRoot / "Recordings/folder.m4a");
    std::filesystem::create_symlink(FRoot / "Recordings/Memo 1.m4a", FRoot / "Recordings/link.m4a");
    Start();

    EXPECT_EQ(FService->GetFileKind("/DCIM"), kKindDirectory);
    EXPECT_EQ(FService->GetFileKind("/Recordings/Memo 1.m4a"), kKindFile);
    EXPECT_EQ(FService->GetFileKind("/Recordings/link.m4a"), kKindOther);
    EXPECT_EQ(FService->GetFileKind("/Recordings/none"), kKindNoInformation);
    EXPECT_EQ(FService->GetFileSize("/DCIM/101APPLE/IMG_0002.MOV"), 5u);
    EXPECT_EQ(FService->GetFileSize("/none"), 0u);

    std::vector<std::string> files;
    FService->ListDirectory("/Recordings/", kKindFile, files);
    EXPECT_EQ(files, (std::vector<std::string>{"Memo 1.m4a"}));

    std::vector<std::string> tree;
    FService->ListFileTree("/DCIM/", tree);
    EXPECT_EQ(tree, (std::vector<std::string>{"/DCIM/100APPLE/IMG_0001.JPG",
                                              "/DCIM/100APPLE/IMG_0001.THM",
                                              "/DCIM/101APPLE/IMG_0002.MOV"}));

    std::vector<std::string> none;
    FService->ListDirectory("/Missing/", kKindFile, none);
    EXPECT_TRUE(none.empty());
    EXPECT_NE(FService->LastError(), 0);
}

TEST_F(IosHelperTest, ALossDuringACopyWaitsForTheRead) {
    WriteFile(FRoot / "long.bin", std::string(64 * kCopyBufferSize, 'l'));
    Start();
    TTempDir local;
    std::atomic<bool> copying{true};
    bool copied = true;
    std::thread reader([&] {
        copied = FService->CopyToFile("/long.bin", local / "long.bin");
        copying = false;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    FControl->Unplug();
    FControl->WaitIdle();
    reader.join();
    EXPECT_EQ(FLosses, 1);
    // Either the copy finished before the loss or it failed and left nothing.
    EXPECT_EQ(copied, std::filesystem::exists(local / "long.bin"));
}

TEST_F(IosHelperTest, MakeXmlPlistKeepsTextAndShortFiles) {
    Start();
    TTempDir local;
    std::string result;
    WriteFile(local / "short", "bpl");
    EXPECT_TRUE(FService->MakeXmlPlist(local / "short", local / "short", result, true));
    EXPECT_EQ(result, local / "short");
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>";
    WriteFile(local / "x.plist", xml);
    EXPECT_TRUE(FService->MakeXmlPlist(local / "x.plist", local / "x.plist", result, true));
    EXPECT_EQ(result, local / "x.plist");
    EXPECT_EQ(ReadFile(local / "x.plist"), xml);
    EXPECT_FALSE(FService->MakeXmlPlist(local / "missing", local / "missing", result, true));
    EXPECT_EQ(result, "");
}

TEST_F(IosHelperTest, DeviceNameComesFromTheDevice) {
    Start();
    EXPECT_EQ(FService->GetDeviceName(), "Demo iPhone");
}

}  // namespace
}  // namespace corvane
