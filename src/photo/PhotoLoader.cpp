// Loading the photo library: Photos.sqlite when the device has one that reads, else the Photo
// Database, and the camera roll beside either.
#include <unistd.h>

#include <exception>
#include <string>

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

// SQLite errors come as several lines; the log takes one.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n')
            c = ' ';
    std::string out;
    for (char c : text)
        if (c != ' ' || out.empty() || out.back() != ' ')
            out += c;
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

}  // namespace

bool TIpodPhotoDb::Load() {
    bool result = false;
    const std::string local = Device.StagePhotoDataFile("Photos.sqlite", "");
    if (!local.empty()) {
        const std::string wal = Device.StagePhotoDataFile("Photos.sqlite-wal", "-wal");
        try {
            result = LoadPhotosSqlite(local);
        } catch (const std::exception& error) {
            // The Photo Database is tried next; why this library failed must still be told.
            AddLog("Photos.sqlite cannot be read: " + OneLine(error.what()));
            result = false;
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
