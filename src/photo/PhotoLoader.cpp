// Loading the photo library: Photos.sqlite when the device has one that reads, else the Photo
// Database, and the camera roll beside either.
#include <exception>
#include <string>

#include "device/iPodDev.h"
#include "photo/iPodPhoto.h"
#include "platform/StagedCopy.h"

namespace corvane {

namespace {

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
    // Staged copies of a mobile device's files are ours; in disk mode the device's own files
    // are read in place.
    TStagedCopy local(Device.StagePhotoDataFile("Photos.sqlite", ""), Device.IsIos());
    if (!local.Empty()) {
        // The -wal lands beside the copy and goes with it.
        Device.StagePhotoDataFile("Photos.sqlite-wal", "-wal");
        try {
            result = LoadPhotosSqlite(local.Path());
        } catch (const std::exception& error) {
            // The Photo Database is tried next; why this library failed must still be told.
            AddLog("Photos.sqlite cannot be read: " + OneLine(error.what()));
            result = false;
        }
        local.Remove();
        if (!result) {
            // Half a library from the failed read must not mix with the Photo Database's:
            // its albums would keep members that index photos of the other list.
            Photos.Clear();
            Albums.Clear();
            SeparateFiles = false;
            ThumbFormat = {};
            CellFormat = {};
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
