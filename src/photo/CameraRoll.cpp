// The camera roll: every file below the device's camera folder, listed as it is, unticked.
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Text.h"
#include "device/iPodDev.h"
#include "photo/iPodPhoto.h"

namespace corvane {

namespace {

// The part after the last "/" or "\"; the listing gives device paths in either form.
std::string CameraFileName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int TIpodPhotoDb::LoadCameraRoll() {
    std::vector<std::string> paths;
    const int count = Device.ListCameraFiles(paths);
    for (const std::string& path : paths) {
        TCamPhotoItem& item = CameraPhotos.Add();
        item.Checked = false;
        item.Path = path;
        item.FileName = CameraFileName(path);
    }
    CameraPhotos.DcimRoot = Device.DcimPath();
    // A file the library knows has its date taken from there.
    std::unordered_map<std::string, int> byPath;
    for (int i = 0; i < Photos.Count(); ++i)
        byPath.emplace(AsciiLower(Photos.Items(i).FilePath), i);
    for (int i = 0; i < CameraPhotos.Count(); ++i) {
        auto found = byPath.find(AsciiLower(CameraFileLibraryPath(i)));
        if (found != byPath.end())
            CameraPhotos.Items(i).DateTaken = Photos.Items(found->second).DateTaken;
    }
    return count;
}

std::string TIpodPhotoDb::CameraFileLibraryPath(int index) const {
    const std::string& path = CameraPhotos.Items(index).Path;
    const std::string& root = CameraPhotos.DcimRoot;
    if (root.empty() || path.size() <= root.size() || path.compare(0, root.size(), root) != 0)
        return {};
    return "DCIM/" + path.substr(root.size());
}

}  // namespace corvane
