// Loading the photo library: Photos.sqlite when the device has one that reads, else the Photo
// Database, and the camera roll beside either.
#include <unistd.h>

#include "device/iPodDev.h"
#include "photo/iPodPhoto.h"

namespace corvane {

namespace {

// Staged copies of a mobile device's files are ours to delete; in disk mode the device's own
// files were read in place and are never touched.
void RemoveStaged(const TIpodDevice& device, const std::string& path) {
    if (device.IsIos() && !path.empty())
        unlink(path.c_str());
}

}  // namespace

bool TIpodPhotoDb::Load() {
    bool result = false;
    const std::string local = Device.StagePhotoDataFile("Photos.sqlite", "");
    if (!local.empty()) {
        const std::string wal = Device.StagePhotoDataFile("Photos.sqlite-wal", "-wal");
        try {
            result = LoadPhotosSqlite(local);
        } catch (...) {
            result = false;  // the Photo Database is tried next; nothing is logged
        }
        RemoveStaged(Device, local);
        RemoveStaged(Device, wal);
        if (!result) {
            // Half a library from the failed read must not mix with the Photo Database's:
            // its albums would keep members that index photos of the other list.
            Photos.Clear();
            Albums.Clear();
            SeparateFiles = false;
            ThumbFormat = {};
            Photos.ThumbWidth = 0;
            Photos.ThumbHeight = 0;
        }
    }
    if (!result)
        result = LoadPhotoDatabase();
    LibraryLoaded = result;
    if (WithCameraRoll && LoadCameraRoll() > 0)
        return true;
    return result;
}

}  // namespace corvane
