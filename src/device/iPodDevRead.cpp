// Reading device files, staging databases, single-file copies and thumbnail records.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/Text.h"
#include "device/DiskPaths.h"
#include "device/iPodDev.h"
#include "platform/FileCopy.h"
#include "platform/LocalFiles.h"

namespace corvane {

namespace {

// Whole-file reads are for databases and pictures; anything larger is not one of them.
constexpr uint64_t kMaxWholeFileRead = uint64_t{1} << 30;
// A thumbnail record is at most a few megabytes; a larger count is a damaged database.
constexpr uint32_t kMaxThumbRecord = 64u << 20;
// A part of a file is read for its header data; what a caller asks for is held to this.
constexpr uint32_t kMaxFilePart = 64u << 20;

std::string ThumbFileError(int error) {
    switch (error) {
        case ENOENT:
            return "the file is missing";
        case EISDIR:
            return "it is a folder, not a file";
        case EINVAL:
            return "it is not a regular file";
        default:
            return std::strerror(error);
    }
}

std::string ToDevicePath(std::string path) {
    return ReplaceChar(std::move(path), '\\', '/');
}

enum class TLoadResult { Done, Failed, TooLarge };

// Reads a whole local file into stream.
TLoadResult LoadLocalFile(const std::string& path, TMemoryStream& stream) {
    int error = 0;
    TUniqueFd fd = OpenRegularFile(path, error);
    struct stat info;
    if (!fd || fstat(fd.Get(), &info) != 0)
        return TLoadResult::Failed;
    if (static_cast<uint64_t>(info.st_size) > kMaxWholeFileRead)
        return TLoadResult::TooLarge;
    stream.Reserve(static_cast<size_t>(info.st_size));
    uint8_t buffer[65536];
    while (true) {
        ssize_t got = read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return TLoadResult::Failed;
        if (got == 0)
            return TLoadResult::Done;
        // A file that grows while it is read is held to the same limit.
        if (stream.Size() + static_cast<size_t>(got) > kMaxWholeFileRead)
            return TLoadResult::TooLarge;
        stream.Write(buffer, static_cast<size_t>(got));
    }
}

}  // namespace

std::optional<std::string> TIpodDevice::DiskPath(const std::string& path) const {
    return ResolveBelow(FDrive, path);
}

std::string TIpodDevice::LocationToPath(const std::string& location) const {
    return ReplaceChar(location, ':', '/');
}

bool TIpodDevice::FileExistsOnDevice(const std::string& path) {
    if (MobileSession())
        return FFileService->PathExists(ToDevicePath(path));
    auto local = DiskPath(path);
    return local && PathExists(*local);
}

void TIpodDevice::ListFolderFiles(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    if (MobileSession()) {
        std::string path = ToDevicePath(folder);
        if (path.empty() || path.back() != '/')
            path += '/';
        FFileService->ListDirectory(path, kKindFile, names);
        return;
    }
    auto local = DiskPath(folder);
    if (!local)
        return;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(local->c_str()), closedir);
    if (!dir)
        return;
    while (dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && FileExists(*local + "/" + name))
            names.push_back(name);
    }
}

std::optional<int64_t> TIpodDevice::DeviceFileTime(const std::string& path) {
    if (MobileSession()) {
        std::string value;
        if (!FFileService->GetFileInfo(ToDevicePath(path), "st_mtime", value))
            return std::nullopt;
        return ParseInt64(value);
    }
    auto local = DiskPath(path);
    struct stat info {};
    if (!local || stat(local->c_str(), &info) != 0)
        return std::nullopt;
    return int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
}

bool TIpodDevice::ReadToStream(const std::string& path, TMemoryStream& stream) {
    stream.Clear();
    if (MobileSession()) {
        // The same limit as in disk mode, told before anything is read.
        const std::string devicePath = ToDevicePath(path);
        if (const uint64_t size = FFileService->GetFileSize(devicePath); size > kMaxWholeFileRead) {
            AddLog(path + ": " + FormatSize(static_cast<int64_t>(size)) +
                   " is too large to be a real database or picture");
            return false;
        }
        if (!FFileService->CopyToStream(devicePath, stream, kMaxWholeFileRead)) {
            AddLog("Ios: " + std::to_string(FFileService->LastError()));
            stream.Clear();
            return false;
        }
        stream.Rewind();
        return true;
    }
    auto local = DiskPath(path);
    if (!local || !FileExists(*local)) {
        AddLog("Not found: " + path);
        return false;
    }
    const TLoadResult result = LoadLocalFile(*local, stream);
    if (result != TLoadResult::Done) {
        AddLog(result == TLoadResult::TooLarge
                   ? path + ": " + FormatSize(static_cast<int64_t>(LocalFileSize(*local))) +
                         " is too large to be a real database or picture"
                   : "iPod not found, connect iPod to try again.");
        stream.Clear();
        return false;
    }
    stream.Rewind();
    return true;
}

bool TIpodDevice::ReadITunesDB(TMemoryStream& stream, bool& compressed) {
    std::string folder = MobileSession() ? "/iTunes_Control/iTunes/" : "/iPod_Control/iTunes/";
    compressed = true;
    if (ReadToStream(folder + "iTunesCDB", stream))
        return true;
    compressed = false;
    return ReadToStream(folder + "iTunesDB", stream);
}

bool TIpodDevice::ReadToBytes(const std::string& path, TFileBytes& bytes) {
    bytes.Clear();
    if (MobileSession())
        return ReadToStream(path, bytes.Copied);
    auto local = DiskPath(path);
    if (!local || !FileExists(*local)) {
        AddLog("Not found: " + path);
        return false;
    }
    const TMappedFile::TResult result = bytes.Mapped.Map(*local, kMaxWholeFileRead);
    if (result != TMappedFile::TResult::Done) {
        AddLog(result == TMappedFile::TResult::TooLarge
                   ? path + ": " + FormatSize(static_cast<int64_t>(LocalFileSize(*local))) +
                         " is too large to be a real database or picture"
                   : "iPod not found, connect iPod to try again.");
        return false;
    }
    return true;
}

bool TIpodDevice::ReadITunesDB(TFileBytes& bytes, bool& compressed) {
    std::string folder = MobileSession() ? "/iTunes_Control/iTunes/" : "/iPod_Control/iTunes/";
    compressed = true;
    if (ReadToBytes(folder + "iTunesCDB", bytes))
        return true;
    compressed = false;
    return ReadToBytes(folder + "iTunesDB", bytes);
}

bool TIpodDevice::ReadPhotoDatabase(TMemoryStream& stream) {
    return ReadToStream("/Photos/Photo Database", stream);
}

bool TIpodDevice::ReadIfPresent(const std::string& path, TMemoryStream& stream) {
    stream.Clear();
    bool read = false;
    if (MobileSession()) {
        read = FFileService->CopyToStream(ToDevicePath(path), stream, kMaxWholeFileRead);
    } else if (auto local = DiskPath(path); local && FileExists(*local)) {
        read = LoadLocalFile(*local, stream) == TLoadResult::Done;
    }
    if (!read)
        stream.Clear();
    stream.Rewind();
    return read;
}

TPictureKind TIpodDevice::PictureKindOf(const std::string& path) {
    std::string ext = AsciiLower(ExtractFileExt(path));
    TPictureKind kind = pkNone;
    if (ext == ".jpg" || ext == ".jpeg") {
        kind = pkJpeg;
    } else if (ext == ".tif" || ext == ".tiff") {
        kind = pkTiff;
    } else if (ext == ".png") {
        kind = pkPng;
    } else if (ext == ".gif") {
        kind = pkGif;
    } else if (ext == ".bmp") {
        kind = pkBmp;
    } else if (ext == ".heic" || ext == ".heif" || ext == ".hif") {
        kind = pkHeic;
    }
    return kind;
}

TPictureKind TIpodDevice::ReadImageFile(const std::string& path, TMemoryStream& stream) {
    const TPictureKind kind = PictureKindOf(path);
    if (kind == pkNone || !ReadToStream(path, stream))
        return pkNone;
    return kind;
}

bool TIpodDevice::ReadFilePart(const std::string& path, uint64_t offset, uint32_t count,
                               std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (count > kMaxFilePart || offset > static_cast<uint64_t>(INT64_MAX) - count)
        return false;
    if (MobileSession())
        return FFileService->ReadFilePart(ToDevicePath(path), offset, count, bytes);
    auto local = DiskPath(path);
    int error = 0;
    TUniqueFd fd = local ? OpenRegularFile(*local, error) : TUniqueFd();
    if (!fd)
        return false;
    // Measured before anything is allocated: the count may come from a damaged index.
    const off_t end = lseek(fd.Get(), 0, SEEK_END);
    if (end < 0)
        return false;
    if (offset >= static_cast<uint64_t>(end))
        return true;
    count = static_cast<uint32_t>(std::min<uint64_t>(count, static_cast<uint64_t>(end) - offset));
    bytes.resize(count);
    uint32_t done = 0;
    while (done < count) {
        ssize_t got =
            pread(fd.Get(), bytes.data() + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            bytes.clear();
            return false;
        }
        if (got == 0)
            break;
        done += static_cast<uint32_t>(got);
    }
    bytes.resize(done);
    return true;
}

std::string TIpodDevice::StageFromDevice(const std::string& devicePath, const std::string& suffix,
                                         const std::string& failureLine) {
    if (FWorkFile.empty()) {
        AddLog(failureLine + "no staging folder");
        return {};
    }
    std::string target = FWorkFile + suffix;
    // A stale staged copy of ours must not stand in for the device's file.
    unlink(target.c_str());
    if (!FFileService->CopyToFile(devicePath, target)) {
        AddLog(failureLine + std::to_string(FFileService->LastError()));
        return {};
    }
    return target;
}

std::string TIpodDevice::StageITunesFile(const std::string& name, bool inItlp,
                                         const std::string& suffix) {
    std::string folder = inItlp ? "iTunes Library.itlp/" : "";
    if (MobileSession()) {
        return StageFromDevice("/iTunes_Control/iTunes/" + folder + name, suffix,
                               "Copy itdb failed: ");
    }
    auto local = DiskPath("/iPod_Control/iTunes/" + folder + name);
    return local && FileExists(*local) ? *local : std::string();
}

std::string TIpodDevice::StagePhotoDataFile(const std::string& name, const std::string& suffix) {
    if (MobileSession())
        return StageFromDevice("/PhotoData/" + name, suffix, "Copy photodb failed: ");
    auto local = DiskPath("/PhotoData/" + name);
    return local && FileExists(*local) ? *local : std::string();
}

std::string TIpodDevice::StageBooksPlist(bool purchased) {
    if (!MobileSession())
        return {};
    std::string staged = purchased
                             ? StageFromDevice("Books/Purchases/Purchases.plist", "",
                                               "Copy puchased bookplist failed: ")
                             : StageFromDevice("Books/Books.plist", "", "Copy bookplist failed: ");
    if (staged.empty())
        return {};
    std::string result;
    FFileService->MakeXmlPlist(staged, staged, result, true);
    return result;
}

std::string TIpodDevice::StageRingtonesPlist() {
    if (!MobileSession())
        return {};
    std::string staged =
        StageFromDevice("/iTunes_Control/iTunes/Ringtones.plist", "", "copy ringplist failed: ");
    if (staged.empty())
        return {};
    std::string result;
    FFileService->MakeXmlPlist(staged, staged, result, true);
    return result;
}

int TIpodDevice::CopyLocalNoReplace(const std::string& source, const std::string& destFile) {
    return LocalCopyCode(CopyFileNoReplace(source, destFile, OnCopyProgress));
}

int TIpodDevice::CopyDeviceFile(const std::string& location, const std::string& destFile) {
    if (MobileSession())
        return CopyFileFrom(LocationToPath(location), destFile);
    auto local = DiskPath(LocationToPath(location));
    if (!local)
        return LocalCopyCode(ENOENT);  // a location that would leave the volume
    return CopyLocalNoReplace(*local, destFile);
}

int TIpodDevice::CopyFileFrom(const std::string& path, const std::string& destFile) {
    if (!MobileSession())
        return CopyLocalNoReplace(path, destFile);  // a complete local path
    if (FFileService->CopyToFile(ToDevicePath(path), destFile, OnCopyProgress)) {
        // The copy carries the device's time, as a disk-mode copy does.
        if (auto time = DeviceFileTime(path))
            SetLocalFileTime(destFile, *time);
        return kCopyDone;
    }
    std::string line = "Copy fail: " + std::to_string(FFileService->LastError());
    if (int local = FFileService->LastLocalError())
        line += std::string(", ") + strerror(local);
    AddLog(line);
    return kCopyDeviceFailed;
}

std::optional<uint64_t> TIpodDevice::FileSizeFrom(const std::string& path) {
    if (!MobileSession())
        return FileExists(path) ? FileSize(path) : std::nullopt;
    if (!FFileService->PathExists(ToDevicePath(path)))
        return std::nullopt;
    return FFileService->GetFileSize(ToDevicePath(path));
}

bool TIpodDevice::OpenThumbFile(const std::string& name, uint32_t recordSize) {
    CloseThumbFile();
    if (MobileSession()) {
        if (!FFileService->OpenFile("/Photos/Thumbs/" + name + ".ithmb") &&
            !FFileService->OpenFile("/PhotoData/Thumbnails/" + name)) {
            FThumbError = "the device's error " + std::to_string(FFileService->LastError());
            AddLog("Ios: " + std::to_string(FFileService->LastError()));
            return false;
        }
        // The buffer grows with the records really read: recordSize comes from the database.
        (void)recordSize;
        FHasThumbBuffer = true;
        return true;
    }
    auto local = DiskPath("/Photos/Thumbs/" + name + ".ithmb");
    int error = ENOENT;
    if (local)
        FThumbFile = OpenRegularFile(*local, error);
    if (!FThumbFile) {
        FThumbError = ThumbFileError(error);
        AddLog(error == ENOENT ? "File not found: " + name
                               : name + ".ithmb cannot be read: " + FThumbError);
        return false;
    }
    return true;
}

bool TIpodDevice::ReadThumbRecord(uint32_t count, TMemoryStream& stream, uint64_t offset) {
    if (MobileSession()) {
        if (!FHasThumbBuffer || count > kMaxThumbRecord) {
            FThumbError = "a record of " + std::to_string(count) + " bytes is refused";
            AddLog("Ios: record of " + std::to_string(count) + " bytes refused");
            return false;
        }
        if (count > FThumbBuffer.size())
            FThumbBuffer.resize(count);
        if (!FFileService->ReadAt(count, FThumbBuffer.data(), offset)) {
            FThumbError = "the device's error " + std::to_string(FFileService->LastError());
            AddLog("Ios: " + std::to_string(FFileService->LastError()));
            return false;
        }
        stream.Write(FThumbBuffer.data(), count);
        stream.Rewind();
        return true;
    }
    if (!FThumbFile) {
        FThumbError = "its file is not open";
        return false;
    }
    struct stat info;
    if (offset > static_cast<uint64_t>(INT64_MAX) || fstat(FThumbFile.Get(), &info) != 0) {
        FThumbError = "the file cannot be measured";
        AddLog("Seek error");
        return false;
    }
    // Checked before anything is allocated: the count comes from the device's database.
    uint64_t size = static_cast<uint64_t>(info.st_size);
    if (offset > size || count > size - offset) {
        FThumbError = "it runs past the end of the file";
        return false;
    }
    std::vector<uint8_t> record(count);
    uint32_t done = 0;
    while (done < count) {
        ssize_t got = pread(FThumbFile.Get(), record.data() + done, count - done,
                            static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            FThumbError = got < 0 ? std::strerror(errno) : "the file ends early";
            return false;
        }
        done += static_cast<uint32_t>(got);
    }
    stream.Write(record.data(), count);
    stream.Rewind();
    return true;
}

void TIpodDevice::CloseThumbFile() {
    if (MobileSession()) {
        if (FFileService)
            FFileService->CloseFile();
    }
    FThumbFile.Reset();
    FThumbError.clear();
    FThumbBuffer = {};
    FHasThumbBuffer = false;
}

}  // namespace corvane
