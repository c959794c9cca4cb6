// The previews a mobile device keeps of its own pictures and videos: one JPEG per picture and
// size under PhotoData/Thumbnails/V2/<folder>/<file name>/<format id>.JPG, and the small JPEG a
// camera writes beside a video (X.THM beside X.MOV). Misses are normal and never logged.
#pragma once

#include <string>
#include <vector>

#include "base/MemoryStream.h"

namespace corvane {

class TIpodDevice;

class TDevicePreviews {
public:
    // Previews for cells of cellWidth x cellHeight; the size that covers the cell best wins.
    TDevicePreviews(TIpodDevice& device, int cellWidth, int cellHeight);

    // Reads the device's own preview of the file at mediaPath ("/DCIM/100APPLE/IMG_0001.HEIC"
    // or the same without the leading "/") into stream. False on a disk-mode device, on a
    // device without the V2 folder, and for a file that has no preview there.
    bool ReadV2(const std::string& mediaPath, TMemoryStream& stream);
    // Reads the .THM file beside the video at path (a device path) into stream.
    bool ReadSidecar(const std::string& path, TMemoryStream& stream);

    // Whether the V2 folder is there at all; the first call looks.
    bool HasV2();
    // The format ids tried, best first (known after the first ReadV2 that found the folder).
    const std::vector<int>& Formats() const { return FFormats; }

    static bool IsVideo(const std::string& path);

private:
    void ReadConfiguration();
    void RankFormats(const std::string& folder);
    bool ReadQuietly(const std::string& path, TMemoryStream& stream);

    TIpodDevice& FDevice;
    int FCellSide;
    bool FLooked = false;
    bool FHasV2 = false;
    bool FRanked = false;
    std::vector<int> FFormats;
};

}  // namespace corvane
