// Photo export of pictures that are files of their own: the library's full-size files (Photo
// Database containers, every Photos.sqlite library) and the camera roll. Files are copied
// unchanged by the device session, which never replaces a file and publishes a copy only when
// it is complete.
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "base/Text.h"
#include "device/iPodDev.h"
#include "photo/HeicToJpeg.h"
#include "photo/iPodPhoto.h"
#include "platform/FileCopy.h"
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
// A camera-roll listing names its files by full path; the library by device location.
bool FindFreeName(TIpodDevice& device, const std::string& source, bool listing,
                  const std::string& folder, std::string& name,
                  const std::unordered_set<std::string>* writtenNow) {
    std::optional<uint64_t> deviceSize;
    for (int k = 1; PathExists(folder + name); ++k) {
        const uint64_t localSize = TIpodDevice::LocalFileSize(folder + name);
        if (localSize > 0 && !(writtenNow && writtenNow->count(folder + name))) {
            if (!deviceSize)
                deviceSize = listing ? device.FileSizeFrom(source).value_or(0)
                                     : device.DeviceFileSize(source);
            if (localSize == *deviceSize)
                return false;
        }
        name = std::to_string(k) + "_" + name;
    }
    return true;
}

std::string StemOf(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string ExtensionOf(const std::string& name) {
    const size_t dot = name.rfind('.');
    const size_t slash = name.find_last_of("/:\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return name.substr(dot);
}

// A folder of our own for one conversion's copy of a device file, removed with what it holds.
class TScratchFolder {
public:
    TScratchFolder() {
        std::error_code error;
        std::string pattern =
            (std::filesystem::temp_directory_path(error) / "corvane-heic-XXXXXX").string();
        if (!error && mkdtemp(pattern.data()) != nullptr)
            FPath = pattern;
    }
    ~TScratchFolder() {
        if (!FPath.empty()) {
            std::error_code error;
            std::filesystem::remove_all(FPath, error);
        }
    }
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

enum class TCopyOutcome { Written, AlreadyThere, Failed };

// One device file, named as the library names it (Location) or as the camera listing gives it
// (Listing), copied or converted into a folder.
class TFileCopier {
public:
    TFileCopier(TIpodPhotoDb& db, bool listing, std::chrono::milliseconds retryPause,
                std::unordered_set<std::string>* writtenNow = nullptr)
        : FDb(db), FListing(listing), FRetryPause(retryPause), FWrittenNow(writtenNow) {}

    // Into folder under name (a free variant of it); toJpeg writes a HEIC/HEIF file as JPEG
    // under the name's stem + ".jpg". name becomes the name used. A conversion that fails
    // copies the file as it is, with a log line.
    TCopyOutcome Copy(const std::string& source, const std::string& folder, std::string& name,
                      bool toJpeg) {
        if (toJpeg && IsHeifName(name)) {
            std::string jpegName = StemOf(name) + ".jpg";
            if (TIpodDevice::LocalFileSize(folder + jpegName) > 0) {
                name = jpegName;
                return TCopyOutcome::AlreadyThere;
            }
            for (int k = 1; PathExists(folder + jpegName); ++k)
                jpegName = std::to_string(k) + "_" + jpegName;
            std::string error;
            if (Convert(source, folder + jpegName, error)) {
                name = jpegName;
                return TCopyOutcome::Written;
            }
            FDb.AddLog(source + ": cannot be written as JPEG (" + error + "); copied as it is");
        }
        if (!FindFreeName(FDb.Device, FListing ? source : FDb.Device.LocationToPath(source),
                          FListing, folder, name, FWrittenNow))
            return TCopyOutcome::AlreadyThere;
        int result = CopyTo(source, folder + name);
        if (result == kTransientCopyError) {
            PauseBeforeRetry(FDb, FRetryPause);
            result = CopyTo(source, folder + name);
        }
        if (result == kCopyDone) {
            if (FWrittenNow)
                FWrittenNow->insert(folder + name);
            return TCopyOutcome::Written;
        }
        // Photo Database files are named below "Photos" in the log, as the database names them.
        const std::string shown = StartsWithText(source, ":Photos:") ? source.substr(8) : source;
        FDb.AddLog(shown + ": Error " + std::to_string(result));
        return TCopyOutcome::Failed;
    }

    // The device's modification time of a source, in seconds.
    TPhotoDate Time(const std::string& source) {
        std::optional<int64_t> nanoseconds;
        if (FListing && !FDb.Device.IsIos()) {
            struct stat info {};
            if (stat(source.c_str(), &info) == 0)
                nanoseconds = int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
        } else {
            nanoseconds = FDb.Device.DeviceFileTime(DevicePath(source));
        }
        if (!nanoseconds)
            return std::nullopt;
        return *nanoseconds / 1000000000;
    }

private:
    std::string DevicePath(const std::string& source) const {
        return FListing ? source : FDb.Device.LocationToPath(source);
    }

    int CopyTo(const std::string& source, const std::string& target) {
        return FListing ? FDb.Device.CopyFileFrom(source, target)
                        : FDb.Device.CopyDeviceFile(source, target);
    }

    bool Convert(const std::string& source, const std::string& target, std::string& error) {
        std::string local;
        TScratchFolder scratch;
        if (!FDb.Device.IsIos()) {
            if (FListing) {
                local = source;
            } else if (auto path = FDb.Device.DiskPath(DevicePath(source))) {
                local = *path;
            }
        } else if (!scratch.Path().empty()) {
            local = scratch.Path() + "/picture.heic";
            if (CopyTo(source, local) != kCopyDone)
                local.clear();
        }
        if (local.empty()) {
            error = "it cannot be read from the device";
            return false;
        }
        const std::vector<uint8_t> jpeg = HeicFileToJpeg(local, error);
        if (jpeg.empty())
            return false;
        TAtomicFileWriter writer(target);
        int code = writer.Open();
        if (code == 0)
            code = writer.Write(jpeg.data(), jpeg.size());
        if (code == 0)
            code = writer.Commit();
        if (code != 0) {
            error = std::strerror(code);
            return false;
        }
        if (auto time = Time(source))
            SetLocalFileTime(target, *time * 1000000000);
        return true;
    }

    TIpodPhotoDb& FDb;
    bool FListing;
    std::chrono::milliseconds FRetryPause;
    std::unordered_set<std::string>* FWrittenNow;
};

}  // namespace

int TIpodPhotoDb::ExportSqliteFiles() {
    Cancelled = false;
    return ExportSeparateFiles(true);
}

int TIpodPhotoDb::ExportSeparateFiles(bool sqliteNames) {
    LibraryCopies.clear();
    if (Destination.empty())
        return 0;
    TFileCopier copier(*this, false, kLibraryRetryPause);
    int written = 0;
    int errors = 0;
    auto failed = [&] {
        ++ExportFailures;
        return ++errors > kMaxCopyErrors;
    };
    for (int i = 0; i < Photos.Count() && !Cancelled; ++i) {
        const TPhotoItem& photo = Photos.Items(i);
        if (!photo.Checked)
            continue;
        std::string name = SafeFileName(
            sqliteNames ? SqliteFileName(photo.FilePath) : PhotoDatabaseFileName(photo.FilePath),
            std::to_string(photo.ImageId));
        ProgressItemSize = static_cast<uint64_t>(std::max(photo.FullSize, 0));
        if (OnProgress)
            OnProgress(name);
        // An original only in the cloud has no file to copy; the reader counted it.
        if (!photo.Local)
            continue;
        const std::string source = sqliteNames ? photo.FilePath : ":Photos:" + photo.FilePath;
        const std::string folder = AlbumFolder(i);
        const bool edited = !photo.EditedPath.empty();
        bool stop = false;
        bool wrote = false;

        std::string pictureName = name;
        if (!edited || Edited != TEditedExport::AsEdited) {
            const TCopyOutcome outcome = copier.Copy(source, folder, pictureName, HeicToJpeg);
            wrote |= outcome == TCopyOutcome::Written;
            if (outcome != TCopyOutcome::Failed) {
                LibraryCopies.insert(AsciiLower(photo.FilePath));
            } else {
                stop = failed();
            }
        }
        if (!stop && edited && Edited != TEditedExport::Originals) {
            std::string editedName = StemOf(name) + " (edited)" + ExtensionOf(photo.EditedPath);
            const TCopyOutcome outcome =
                copier.Copy(photo.EditedPath, folder, editedName, HeicToJpeg);
            wrote |= outcome == TCopyOutcome::Written;
            if (outcome == TCopyOutcome::Failed)
                stop = failed();
        }
        if (!stop && LiveVideo && !photo.LiveVideoPath.empty()) {
            // Beside its picture, under the picture's name.
            std::string clipName = StemOf(pictureName) + ExtensionOf(photo.LiveVideoPath);
            if (copier.Copy(photo.LiveVideoPath, folder, clipName, false) == TCopyOutcome::Failed) {
                stop = failed();
            } else {
                LibraryCopies.insert(AsciiLower(photo.LiveVideoPath));
            }
        }
        if (wrote)
            ++written;
        if (stop) {
            AddLog("Too many error, transfer abort.");
            break;
        }
    }
    if (!CloudOnlyText().empty())
        AddLog(CloudOnlyText());
    return written;
}

int TIpodPhotoDb::ExportCameraRoll() {
    Cancelled = false;
    CameraRollFailures = 0;
    if (CameraPhotos.CheckedCount <= 0 || Destination.empty())
        return 0;
    std::string rollFolder = Destination + "Camera_Roll/";
    if (!OrganizeByDate && !MakeRealFolder(Destination + "Camera_Roll")) {
        // A real folder only: a link found in the destination would carry the copies elsewhere.
        AddLog("Cannot create the folder " + Destination + "Camera_Roll");
        CameraRollFailures = CameraPhotos.CheckedCount;
        return 0;
    }
    // Phones past 9,999 pictures start their names again in the next folder: a name this
    // export wrote is another picture and gets a free name, never counts as copied before.
    std::unordered_set<std::string> writtenNow;
    TFileCopier copier(*this, true, kCameraRetryPause, &writtenNow);
    int copied = 0;
    int errors = 0;
    for (int i = 0; i < CameraPhotos.Count() && !Cancelled; ++i) {
        const TCamPhotoItem& item = CameraPhotos.Items(i);
        if (!item.Checked)
            continue;
        std::string name = SafeFileName(item.FileName, "Camera_" + std::to_string(i + 1));
        ProgressItemSize = 0;  // the camera roll's listing gives no sizes
        if (OnProgress)
            OnProgress(name);
        // The library export of this session already wrote the same device file.
        if (LibraryCopies.count(AsciiLower(CameraFileLibraryPath(i))) > 0)
            continue;
        std::string folder = rollFolder;
        if (OrganizeByDate)
            folder = DateFolder(item.DateTaken ? item.DateTaken : copier.Time(item.Path));
        const TCopyOutcome outcome = copier.Copy(item.Path, folder, name, HeicToJpeg);
        if (outcome == TCopyOutcome::Written)
            ++copied;
        if (outcome != TCopyOutcome::Failed)
            continue;
        ++CameraRollFailures;
        if (++errors > kMaxCopyErrors) {
            AddLog("Too many error, camera photos transfer abort.");
            break;
        }
    }
    return copied;
}

}  // namespace corvane
