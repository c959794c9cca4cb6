// Reading device files, staging databases, single-file copies and thumbnail records.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

std::string ToDevicePath(std::string path) {
    return ReplaceChar(std::move(path), '\\', '/');
}

// Reads a whole local file into stream; false on any read error.
bool LoadLocalFile(const std::string& path, TMemoryStream& stream) {
    TUniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info;
    if (!fd || fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    if (static_cast<uint64_t>(info.st_size) > kMaxWholeFileRead)
        return false;
    stream.Reserve(static_cast<size_t>(info.st_size));
    uint8_t buffer[65536];
    while (true) {
        ssize_t got = read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
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

bool TIpodDevice::ReadToStream(const std::string& path, TMemoryStream& stream) {
    stream.Clear();
    if (MobileSession()) {
        if (!FFileService->CopyToStream(ToDevicePath(path), stream)) {
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
    if (!LoadLocalFile(*local, stream)) {
        AddLog("iPod not found, connect iPod to try again.");
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

bool TIpodDevice::ReadPhotoDatabase(TMemoryStream& stream) {
    return ReadToStream("/Photos/Photo Database", stream);
}

TPictureKind TIpodDevice::ReadImageFile(const std::string& path, TMemoryStream& stream) {
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
    }
    if (kind == pkNone || !ReadToStream(path, stream))
        return pkNone;
    return kind;
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
    return LocalCopyCode(CopyFileNoReplace(source, destFile));
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
    if (FFileService->CopyToFile(ToDevicePath(path), destFile))
        return kCopyDone;
    std::string line = "Copy fail: " + std::to_string(FFileService->LastError());
    if (int local = FFileService->LastLocalError())
        line += std::string(", ") + strerror(local);
    AddLog(line);
    return kCopyDeviceFailed;
}

bool TIpodDevice::OpenThumbFile(const std::string& name, uint32_t recordSize) {
    CloseThumbFile();
    if (MobileSession()) {
        if (!FFileService->OpenFile("/Photos/Thumbs/" + name + ".ithmb") &&
            !FFileService->OpenFile("/PhotoData/Thumbnails/" + name)) {
            AddLog("Ios: " + std::to_string(FFileService->LastError()));
            return false;
        }
        FThumbBuffer.assign(std::min(recordSize, kMaxThumbRecord), 0);
        FHasThumbBuffer = true;
        return true;
    }
    auto local = DiskPath("/Photos/Thumbs/" + name + ".ithmb");
    if (local)
        FThumbFile.Reset(open(local->c_str(), O_RDONLY | O_CLOEXEC));
    if (!FThumbFile) {
        AddLog("File not found: " + name);
        return false;
    }
    return true;
}

bool TIpodDevice::ReadThumbRecord(uint32_t count, TMemoryStream& stream, uint64_t offset) {
    if (MobileSession()) {
        if (!FHasThumbBuffer || count > kMaxThumbRecord) {
            AddLog("Ios: record of " + std::to_string(count) + " bytes refused");
            return false;
        }
        if (count > FThumbBuffer.size())
            FThumbBuffer.resize(count);
        if (!FFileService->ReadAt(count, FThumbBuffer.data(), offset)) {
            AddLog("Ios: " + std::to_string(FFileService->LastError()));
            return false;
        }
        stream.Write(FThumbBuffer.data(), count);
        stream.Rewind();
        return true;
    }
    if (!FThumbFile)
        return false;
    struct stat info;
    if (offset > static_cast<uint64_t>(INT64_MAX) || fstat(FThumbFile.Get(), &info) != 0) {
        AddLog("Seek error");
        return false;
    }
    // Checked before anything is allocated: the count comes from the device's database.
    uint64_t size = static_cast<uint64_t>(info.st_size);
    if (offset > size || count > size - offset)
        return false;
    std::vector<uint8_t> record(count);
    uint32_t done = 0;
    while (done < count) {
        ssize_t got = pread(FThumbFile.Get(), record.data() + done, count - done,
                            static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
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
    FThumbBuffer = {};
    FHasThumbBuffer = false;
}

}  // namespace corvane
