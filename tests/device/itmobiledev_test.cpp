// The platform library binding against the Debian libraries installed with the project's
// dependencies. No device is attached (and usbmuxd need not run): the tests cover loading,
// the notification life cycle, handle checks and property-list conversion.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/MobileDeviceLibrary.h"
#include "fixtures/TempDir.h"

namespace corvane {
namespace {

using testing::ReadFile;
using testing::TTempDir;
using testing::WriteFile;

const char* const kDeviceSoname = "libimobiledevice-1.0.so.6";
const char* const kPlistSoname = "libplist-2.0.so.3";

// {"Name": "Corvane", "Count": 42} as a binary property list.
const unsigned char kBinaryPlist[] = {
    'b',  'p',  'l',  'i',  's',  't', '0', '0',   // 0: magic and version
    0xD2, 0x01, 0x02, 0x03, 0x04,                  // 8: object 0, dict of 2: keys 1, 2; values 3, 4
    0x54, 'N',  'a',  'm',  'e',                   // 13: object 1, ASCII string of 4
    0x55, 'C',  'o',  'u',  'n',  't',             // 18: object 2, ASCII string of 5
    0x57, 'C',  'o',  'r',  'v',  'a', 'n', 'e',   // 24: object 3, ASCII string of 7
    0x10, 0x2A,                                    // 32: object 4, 1-byte integer 42
    0x08, 0x0D, 0x12, 0x18, 0x20,                  // 34: offset table, one byte per object
    0,    0,    0,    0,    0,                     // 39: trailer, unused
    0x00,                                          // 44: sort version
    0x01,                                          // 45: offset table entry size
    0x01,                                          // 46: object reference size
    0,    0,    0,    0,    0,    0,   0,   5,     // 47: object count
    0,    0,    0,    0,    0,    0,   0,   0,     // 55: top object
    0,    0,    0,    0,    0,    0,   0,   0x22,  // 63: offset table offset (34)
};

std::string BinaryPlist() {
    return std::string(reinterpret_cast<const char*>(kBinaryPlist), sizeof(kBinaryPlist));
}

const char* const kXmlPlist =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\"><dict><key>Kind</key><string>Voice Memo</string></dict></plist>\n";

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

bool IsLoaded(const char* soname) {
    void* handle = dlopen(soname, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr)
        dlclose(handle);
    return handle != nullptr;
}

TEST(MobileDeviceBindingTest, MissingLibraryOrEntryPointGivesNothingAndReleasesTheOther) {
    bool plistLoadedBefore = IsLoaded(kPlistSoname);
    struct TCase {
        const char* Device;
        const char* Plist;
    };
    const TCase cases[] = {
        {"libcorvane-no-such-device.so", kPlistSoname},
        {kDeviceSoname, "libcorvane-no-such-plist.so"},
        {"libcorvane-no-such-device.so", "libcorvane-no-such-plist.so"},
        // Found, but without the entry points: libplist has no device calls, libz no plist calls.
        {kPlistSoname, kPlistSoname},
        {kDeviceSoname, "libz.so.1"},
    };
    for (const TCase& item : cases) {
        SCOPED_TRACE(std::string(item.Device) + " + " + item.Plist);
        EXPECT_EQ(LoadMobileDevice(item.Device, item.Plist), nullptr);
        // A library found on the way is not kept open.
        if (!plistLoadedBefore) {
            EXPECT_FALSE(IsLoaded(kPlistSoname));
        }
    }
    // Nothing of a failed attempt sticks: the next one starts afresh.
    EXPECT_NE(LoadMobileDevice(), nullptr);
    EXPECT_NE(LoadMobileDevice(kDeviceSoname, kPlistSoname), nullptr);
}

TEST(MobileDeviceBindingTest, SubscribeAndUnsubscribeWithoutDeviceEndPromptly) {
    auto library = LoadMobileDevice();
    ASSERT_NE(library, nullptr);
    auto started = std::chrono::steady_clock::now();
    for (int round = 0; round < 2; ++round) {
        // Without usbmuxd the library may refuse or keep retrying in its thread; either way
        // unsubscribing must return and stop it.
        int result = library->NotificationSubscribe([](TAmDevice, int) {});
        if (result == 0) {
            EXPECT_NE(library->NotificationSubscribe([](TAmDevice, int) {}), 0)
                << "only one subscription at a time";
        }
        library->NotificationUnsubscribe();
    }
    EXPECT_EQ(library->NotificationSubscribe(nullptr), -1);
    // Destroying while subscribed must stop the library's thread before unloading it.
    library->NotificationSubscribe([](TAmDevice, int) {});
    library.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}

TEST(MobileDeviceBindingTest, UnknownHandlesGiveErrorsAndClearResults) {
    auto library = LoadMobileDevice();
    ASSERT_NE(library, nullptr);
    int local = 0;
    void* stranger = &local;  // never handed out by the library

    EXPECT_NE(library->DeviceConnect(stranger), 0);
    EXPECT_NE(library->DeviceIsPaired(stranger), 1);
    EXPECT_NE(library->DeviceStartSession(nullptr), 0);
    TAfcService service = stranger;
    EXPECT_NE(library->DeviceStartService(stranger, "com.apple.afc", &service), 0);
    EXPECT_EQ(service, nullptr);
    std::string name = "unchanged";
    EXPECT_FALSE(library->DeviceCopyValue(stranger, "DeviceName", &name));
    EXPECT_EQ(name, "unchanged");

    TAfcConnection connection = stranger;
    EXPECT_NE(library->AfcConnectionOpen(stranger, 0, &connection), 0);
    EXPECT_EQ(connection, nullptr);
    TAfcDictionary info = stranger;
    EXPECT_NE(library->AfcFileInfoOpen(stranger, "/", &info), 0);
    EXPECT_EQ(info, nullptr);
    const char* key = "x";
    const char* value = "y";
    EXPECT_NE(library->AfcKeyValueRead(stranger, &key, &value), 0);
    TAfcFileRef file = 7;
    EXPECT_NE(library->AfcFileRefOpen(stranger, "/a", kAfcModeRead, &file), 0);
    EXPECT_EQ(file, 0u);
    char buffer[4];
    uint32_t length = sizeof(buffer);
    EXPECT_NE(library->AfcFileRefRead(stranger, 1, buffer, &length), 0);
    EXPECT_EQ(length, 0u);
    TAfcDirectory directory = stranger;
    EXPECT_NE(library->AfcDirectoryOpen(stranger, "/", &directory), 0);
    EXPECT_EQ(directory, nullptr);
    EXPECT_NE(library->AfcDirectoryClose(nullptr, stranger), 0);
    EXPECT_NE(library->AfcConnectionClose(stranger), 0);
}

class MobileDeviceBindingPlistTest : public ::testing::Test {
protected:
    void SetUp() override {
        FLibrary = LoadMobileDevice();
        ASSERT_NE(FLibrary, nullptr);
    }

    std::unique_ptr<IMobileDeviceLibrary> FLibrary;
    TTempDir FDir;
};

TEST_F(MobileDeviceBindingPlistTest, BinaryBecomesXmlInPlaceOrBeside) {
    for (bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "in place" : "to another file");
        std::string source = WriteFile(FDir / "Info.plist", BinaryPlist());
        std::string target = inPlace ? source : FDir / "Info.xml";
        ASSERT_TRUE(FLibrary->ConvertPlist(source, target));
        std::string xml = ReadFile(target);
        EXPECT_EQ(xml.rfind("<?xml", 0), 0u) << xml;
        EXPECT_NE(xml.find("<key>Name</key>"), std::string::npos) << xml;
        EXPECT_NE(xml.find("<string>Corvane</string>"), std::string::npos) << xml;
        EXPECT_NE(xml.find("<integer>42</integer>"), std::string::npos) << xml;
        if (!inPlace) {
            EXPECT_EQ(ReadFile(source), BinaryPlist());
        }
        // Converting the result again keeps it XML with the same content.
        ASSERT_TRUE(FLibrary->ConvertPlist(target, target));
        EXPECT_EQ(ReadFile(target), xml);
    }
}

TEST_F(MobileDeviceBindingPlistTest, XmlStaysXml) {
    std::string path = WriteFile(FDir / "Memo.plist", kXmlPlist);
    ASSERT_TRUE(FLibrary->ConvertPlist(path, path));
    std::string xml = ReadFile(path);
    EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
    EXPECT_NE(xml.find("<string>Voice Memo</string>"), std::string::npos) << xml;
}

TEST_F(MobileDeviceBindingPlistTest, UnreadableSourceFailsAndLeavesTargetAlone) {
    struct TCase {
        const char* Name;
        std::string Content;
        bool Exists;
    };
    const TCase cases[] = {
        {"text", "just some words, not a property list\n", true},
        {"empty", "", true},
        {"truncated binary", BinaryPlist().substr(0, 40), true},
        {"broken xml", "<?xml version=\"1.0\"?><plist><dict><key>A", true},
        {"missing", "", false},
    };
    for (const TCase& item : cases) {
        SCOPED_TRACE(item.Name);
        TTempDir dir;
        std::string source = dir / "source.plist";
        if (item.Exists)
            WriteFile(source, item.Content);
        std::string target = WriteFile(dir / "target.plist", "previous content");
        EXPECT_FALSE(FLibrary->ConvertPlist(source, target));
        EXPECT_EQ(ReadFile(target), "previous content");
        // No temporary file is left behind.
        EXPECT_EQ(FolderNames(dir.Path()).size(), item.Exists ? 2u : 1u);
    }
}

TEST_F(MobileDeviceBindingPlistTest, UnwritableTargetFailsCleanly) {
    std::string source = WriteFile(FDir / "Info.plist", BinaryPlist());
    EXPECT_FALSE(FLibrary->ConvertPlist(source, FDir / "no-such-folder/Info.plist"));
    // A folder in the target's place is not replaced.
    std::filesystem::create_directory(FDir / "taken");
    EXPECT_FALSE(FLibrary->ConvertPlist(source, FDir / "taken"));
    EXPECT_TRUE(std::filesystem::is_directory(FDir / "taken"));
    EXPECT_EQ(FolderNames(FDir.Path()).size(), 2u);
    EXPECT_EQ(ReadFile(source), BinaryPlist());
}

}  // namespace
}  // namespace corvane
