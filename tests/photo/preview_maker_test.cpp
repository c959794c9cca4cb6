// Previews of camera files read in part: a JPEG's embedded EXIF picture comes from its first
// bytes, so a file far too large to be read whole still gets its preview, in disk mode and on a
// mobile device alike; damaged EXIF data and cut-off pictures get a log line and the next source.
#include "photo/PreviewMaker.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "device/iPodDev.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/PictureFiles.h"
#include "fixtures/TempDir.h"

namespace corvane {
namespace {

using namespace testing;

constexpr int kCell = 100;
// Past what a whole-file read takes (1 GiB): only a partial read can make its preview.
constexpr off_t kHugeFile = off_t{2} << 30;

bool Near(TRgb got, TRgb want) {
    return std::abs(got.R - want.R) < 40 && std::abs(got.G - want.G) < 40 &&
           std::abs(got.B - want.B) < 40;
}

// An application segment of payload bytes, as a camera puts an ICC profile before its EXIF data.
std::string AppSegment(uint8_t marker, size_t payload) {
    std::string segment = {'\xff', static_cast<char>(marker), static_cast<char>((payload + 2) >> 8),
                           static_cast<char>((payload + 2) & 0xff)};
    segment.append(payload, 'p');
    return segment;
}

// The file with a 32-bit value of its little-endian EXIF data replaced: the one that follows
// the entry of tag (type LONG, count 1).
std::string WithExifLong(std::string file, uint16_t tag, uint32_t value) {
    const char entry[] = {
        static_cast<char>(tag & 0xff), static_cast<char>(tag >> 8), 4, 0, 1, 0, 0, 0};
    const size_t at = file.find(std::string(entry, sizeof entry));
    EXPECT_NE(at, std::string::npos);
    if (at != std::string::npos)
        std::memcpy(&file[at + sizeof entry], &value, sizeof value);
    return file;
}

struct TCase {
    const char* Name;
    std::string File;
    bool Huge;                   // zeros up to 2 GiB follow the bytes
    std::optional<TRgb> Centre;  // nothing: no preview
    const char* Logged;          // part of the line the device log gets; empty: none
};

TEST(PreviewMaker, JpegPreviewsReadTheExifDataAndOnlyThenTheWholeFile) {
    const TBitmap main = SolidPicture(320, 240, kRed);
    const std::string thumb = JpegFile(SolidPicture(160, 120, kBlue));
    const std::string withThumb = JpegFileWithExif(main, ExifThumbnail(thumb));
    // The EXIF segment behind a 60 KB one ends past the first read.
    const std::string behindProfile =
        withThumb.substr(0, 2) + AppSegment(0xe2, 60000) + withThumb.substr(2);
    const std::string plain = JpegFile(NoisePicture(256, 256));
    const TCase cases[] = {
        {"embedded picture of a huge file", withThumb, true, kBlue, ""},
        {"embedded picture behind a profile", behindProfile, true, kBlue, ""},
        {"embedded picture, small file", withThumb, false, kBlue, ""},
        {"no EXIF data", JpegFile(main), false, kRed, ""},
        {"thumbnail offset past the EXIF data", WithExifLong(withThumb, 0x0201, 0x00fffff0), false,
         kRed, "lies past the end of its EXIF data"},
        {"huge thumbnail length", WithExifLong(withThumb, 0x0202, 0xfffffff0), false, kRed,
         "lies past the end of its EXIF data"},
        {"EXIF segment cut by the file's end", withThumb.substr(0, 300), false, std::nullopt,
         "its EXIF data runs past the end of the file"},
        {"picture cut short", plain.substr(0, plain.size() * 3 / 4), false, std::nullopt,
         "cannot be decoded"},
        {"no EXIF data, huge file", JpegFile(main), true, std::nullopt, "too large"},
    };
    for (bool mobile : {false, true}) {
        for (const TCase& c : cases) {
            const std::string name = std::string(c.Name) + (mobile ? ", mobile" : ", disk mode");
            const TTempDir dir;
            const std::string file = WriteFile(dir / "DCIM/100APPLE/IMG_0001.JPG", c.File);
            if (c.Huge) {
                ASSERT_EQ(truncate(file.c_str(), kHugeFile), 0) << name;
            }
            auto device = mobile ? MobileDevice(dir.Path()) : DiskDevice(dir.Path());
            ASSERT_TRUE(device->Connected()) << name;
            device->Log.Clear();
            TPreviewMaker maker(*device, kCell, kCell);
            const TBitmap* preview = maker.Make("/DCIM/100APPLE/IMG_0001.JPG", "");
            ASSERT_EQ(preview != nullptr, c.Centre.has_value()) << name;
            if (preview) {
                EXPECT_TRUE(Near(preview->Pixel(50, 50), *c.Centre)) << name;
            }
            const std::string log = device->Log.Text();
            if (*c.Logged == '\0') {
                EXPECT_EQ(log, "") << name;
            } else {
                EXPECT_NE(log.find(c.Logged), std::string::npos) << name << ": " << log;
            }
        }
    }
}

}  // namespace
}  // namespace corvane
