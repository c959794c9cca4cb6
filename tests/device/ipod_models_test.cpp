// The model an iPod's SysInfo files name, and where the program uses it: the device's name and
// the picture formats of its generation.
#include <gtest/gtest.h>

#include <string>

#include "device/DeviceFolder.h"
#include "device/IpodModels.h"
#include "device/SysInfo.h"
#include "device/iPodDev.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/PlistBuilder.h"
#include "fixtures/TempDir.h"

namespace corvane {
namespace {

using namespace testing;

std::string Extended(const std::string& serial) {
    return TPlist(TPlist::TDict{
                      {"FamilyID", 11}, {"SerialNumber", serial}, {"SupportsSparseArtwork", true}})
        .Xml();
}

TEST(IpodModels, SysInfoFilesNameTheModel) {
    struct TCase {
        std::string SysInfo;
        std::string Extended;
        std::string Name;  // empty: no model
    };
    const TCase cases[] = {
        {"BoardHwName: iPod Q\nModelNumStr: xB145\n", "", "iPod classic 160 GB, 6th generation"},
        {"ModelNumStr: MA147\r\n", "", "iPod video 60 GB, 5th generation"},
        {"ModelNumStr:   M9724 \n", "", "iPod shuffle 512 MB, 1st generation"},
        {"ModelNumStr: xC297\n", "", "iPod classic 160 GB, 6th generation, late 2009"},
        {"", Extended("8K1234YMX"), "iPod classic 160 GB, 6th generation"},
        // The serial number wins over the model number.
        {"ModelNumStr: xA147\n", Extended("8K1234YMX"), "iPod classic 160 GB, 6th generation"},
        // A serial nobody knows leaves the model number to decide.
        {"ModelNumStr: xA147\n", Extended("000"), "iPod video 60 GB, 5th generation"},
        {"pszSerialNumber: 4H60132TSX\n", "", "iPod shuffle 512 MB, 1st generation"},
        {"ModelNumStr: xZ999\n", "<plist><dict><key>SerialNumber</key></dict></plist>", ""},
        {"garbage without a colon", "not xml at all", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.SysInfo + " | " + c.Extended);
        const TIpodModel* model = IdentifyModel(c.SysInfo, c.Extended);
        EXPECT_EQ(model ? model->Name() : "", c.Name);
    }
}

TEST(IpodModels, FormatsOfTheGenerationForArtworkAndPhotos) {
    const TIpodModel* video = FindModelByNumber("xA002");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->Color, "white");
    auto cover = FindFormat(video->ArtworkFormats(), 1029);
    ASSERT_TRUE(cover);
    EXPECT_EQ(cover->Width, 200);
    EXPECT_EQ(cover->Height, 200);
    EXPECT_EQ(cover->Pixels, TImagePixels::Rgb565Le);
    auto full = FindFormat(video->PhotoFormats(), 1019);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->Pixels, TImagePixels::Uyvy);
    EXPECT_FALSE(FindFormat(video->PhotoFormats(), 1067));
    EXPECT_TRUE(FindModelByNumber("xB518")->IsShuffle());
    EXPECT_TRUE(FindModelByNumber("xB518")->ArtworkFormats().empty());
}

TEST(IpodModels, AnIpodWithoutANameOfItsOwnIsCalledByItsModel) {
    TTempDir root;
    WriteFile(root / "iPod_Control/Device/SysInfo", "ModelNumStr: xB150\n");
    auto device = DiskDevice(root.Path());
    ASSERT_NE(device->Model(), nullptr);
    EXPECT_EQ(device->DisplayName(), "iPod classic 160 GB, 6th generation");
    // The library's name is the iPod's own: it wins.
    device->SetDisplayName("Kim's iPod");
    EXPECT_EQ(device->DisplayName(), "Kim's iPod");

    TTempDir plain;
    auto unnamed = DiskDevice(plain.Path());
    EXPECT_EQ(unnamed->Model(), nullptr);
    EXPECT_EQ(unnamed->DisplayName(), "iPod");
}

}  // namespace
}  // namespace corvane
