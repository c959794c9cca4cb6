// The camera roll: every file below the device's camera folder, listed as it is, unticked.
#include <string>
#include <vector>

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
    return count;
}

}  // namespace corvane
