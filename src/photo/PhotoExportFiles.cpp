// Photo export of pictures that are files of their own: the library's full-size files (Photo
// Database containers, every Photos.sqlite library) and the camera roll. Files are copied
// unchanged by the device session, which never replaces a file and publishes a copy only when
// it is complete.
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>

#include "device/iPodDev.h"
#include "photo/iPodPhoto.h"
#include "platform/LocalFiles.h"

namespace corvane {

namespace {

// The platform's transient I/O error, as the device session reports a local copy's errors: a
// copy that fails with it gets one more try.
constexpr int kTransientCopyError = LocalCopyCode(EIO);
constexpr std::chrono::milliseconds kLibraryRetryPause{2000};
constexpr std::chrono::milliseconds kCameraRetryPause{1000};
// An export stops at the error after this many.
constexpr int kMaxCopyErrors = 30;
// A free camera-roll name grows by a prefix per try; past this the folder is hopeless.
constexpr size_t kMaxCameraName = 240;

// The Photo Database keeps ":"-separated paths below the device's "Photos" folder.
std::string PhotoDatabaseFileName(const std::string& path) {
    const size_t separator = path.find_last_of(":\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string SqliteFileName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void PauseBeforeRetry(const TIpodPhotoDb& db, std::chrono::milliseconds wait) {
    if (db.RetryPause) {
        db.RetryPause(wait);
    } else {
        std::this_thread::sleep_for(wait);
    }
}

// The name under which a device file goes into folder: name itself while free, else name
// prefixed with 1_, then 2_1_ ... False when a non-empty file of the device file's size is
// already there (copied before). Sizes are compared in full 64 bits. The loop ends: each step
// makes the name longer, and a name past the file system's limit exists nowhere.
bool FindFreeName(TIpodDevice& device, const std::string& source, const std::string& folder,
                  std::string& name) {
    std::optional<uint64_t> deviceSize;
    for (int k = 1; PathExists(folder + name); ++k) {
        const uint64_t localSize = TIpodDevice::LocalFileSize(folder + name);
        if (localSize > 0) {
            if (!deviceSize)
                deviceSize = device.DeviceFileSize(source);
            if (localSize == *deviceSize)
                return false;
        }
        name = std::to_string(k) + "_" + name;
    }
    return true;
}

}  // namespace

int TIpodPhotoDb::ExportSqliteFiles() {
    Cancelled = false;
    return ExportSeparateFiles(true);
}

int TIpodPhotoDb::ExportSeparateFiles(bool sqliteNames) {
    if (Destination.empty())
        return 0;
    int written = 0;
    int errors = 0;
    for (int i = 0; i < Photos.Count() && !Cancelled; ++i) {
        const TPhotoItem& photo = Photos.Items(i);
        if (!photo.Checked)
            continue;
        std::string name = SafeFileName(
            sqliteNames ? SqliteFileName(photo.FilePath) : PhotoDatabaseFileName(photo.FilePath),
            std::to_string(photo.ImageId));
        if (OnProgress)
            OnProgress(name);
        const std::string source = sqliteNames ? photo.FilePath : ":Photos:" + photo.FilePath;
        const std::string folder = AlbumFolder(i);
        if (!FindFreeName(Device, source, folder, name))
            continue;
        int result = Device.CopyDeviceFile(source, folder + name);
        if (result == kTransientCopyError) {
            PauseBeforeRetry(*this, kLibraryRetryPause);
            result = Device.CopyDeviceFile(source, folder + name);
        }
        if (result == kCopyDone) {
            ++written;
            continue;
        }
        AddLog(photo.FilePath + ": Error " + std::to_string(result));
        ++ExportFailures;
        if (++errors > kMaxCopyErrors) {
            AddLog("Too many error, transfer abort.");
            break;
        }
    }
    return written;
}

int TIpodPhotoDb::ExportCameraRoll() {
    Cancelled = false;
    CameraRollFailures = 0;
    if (CameraPhotos.CheckedCount <= 0 || Destination.empty())
        return 0;
    // A real folder only: a link found in the destination would carry the copies elsewhere.
    if (!MakeRealFolder(Destination + "Camera_Roll")) {
        AddLog("Cannot create the folder " + Destination + "Camera_Roll");
        CameraRollFailures = CameraPhotos.CheckedCount;
        return 0;
    }
    const std::string folder = Destination + "Camera_Roll/";
    std::unordered_set<std::string> writtenNow;
    int copied = 0;
    int errors = 0;
    for (int i = 0; i < CameraPhotos.Count() && !Cancelled; ++i) {
        const TCamPhotoItem& item = CameraPhotos.Items(i);
        if (!item.Checked)
            continue;
        const std::string name = SafeFileName(item.FileName, "Camera_" + std::to_string(i + 1));
        if (OnProgress)
            OnProgress(name);
        // Phones past 9,999 pictures start their names again in the next folder: a name taken
        // by this export is another picture and gets a free name; one found from an earlier
        // export with the same size is that picture, copied before.
        std::string target = folder + name;
        if (PathExists(target)) {
            const std::optional<uint64_t> size = Device.FileSizeFrom(item.Path);
            auto copiedBefore = [&](const std::string& path) {
                return !writtenNow.count(path) && size && FileExists(path) &&
                       TIpodDevice::LocalFileSize(path) == *size;
            };
            if (copiedBefore(target))
                continue;
            std::string free = name;
            bool found = false;
            for (int k = 1; !found && free.size() < kMaxCameraName; ++k) {
                free = std::to_string(k) + "_" + free;
                if (!PathExists(folder + free) || copiedBefore(folder + free))
                    found = true;
            }
            if (!found || copiedBefore(folder + free)) {
                if (!found) {
                    AddLog(item.Path + ": no free name in " + folder);
                    ++CameraRollFailures;
                }
                continue;
            }
            target = folder + free;
        }
        int result = Device.CopyFileFrom(item.Path, target);
        if (result == kTransientCopyError) {
            // The same source again: Path is already the full path the listing gave.
            PauseBeforeRetry(*this, kCameraRetryPause);
            result = Device.CopyFileFrom(item.Path, target);
        }
        if (result == kCopyDone) {
            writtenNow.insert(target);
            ++copied;
            continue;
        }
        AddLog(item.Path + ": Error " + std::to_string(result));
        ++CameraRollFailures;
        if (++errors > kMaxCopyErrors) {
            AddLog("Too many error, camera photos transfer abort.");
            break;
        }
    }
    return copied;
}

}  // namespace corvane
