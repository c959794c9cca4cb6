// Destination checks, no-overwrite copies of tracks and folders, sizes and listings.
#include <dirent.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>

#include "base/PlatformTexts.h"
#include "base/Text.h"
#include "device/iPodDev.h"
#include "platform/LocalFiles.h"
#include "platform/SystemFolders.h"

namespace corvane {

namespace {

// Past this many numbered names something is wrong with the folder; give up.
constexpr int kMaxNameNumber = 1000000;

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool RemoveCameraSidecar(const std::string& path) {
    return EndsWithText(path, ".THM") || EndsWithText(path, ".DAT");
}

}  // namespace

bool TIpodDevice::CheckDestination(std::string& folder, uint64_t needed) {
    std::string target = WithoutTrailingSlash(folder);
    // By identity, not by spelling: a link or a bind mount of the device is still the device.
    if (!MobileSession() && FConnected && !FDrive.empty() && IsInsideFolder(target, FDrive)) {
        folder = texts::IsYourIpod(FDrive);
        return false;
    }
    if (!FOptions.ServedFolder.empty() && IsInsideFolder(target, FOptions.ServedFolder)) {
        folder = texts::IsServedDevice(FOptions.ServedFolder);
        return false;
    }
    // A relative path has no file system to measure: it counts as one without room.
    std::optional<uint64_t> free;
    if (!target.empty() && target.front() == '/')
        free = FreeDiskSpace(target);
    if (!free || *free <= needed) {
        bool absolute = !target.empty() && target.front() == '/';
        folder = texts::NotEnoughSpace(absolute ? MountPointOf(target) : target);
        return false;
    }
    if (!ForceDirectories(target)) {
        folder = texts::CannotCreateFolder(target);
        return false;
    }
    folder = target == "/" ? target : target + "/";
    return true;
}

std::string TIpodDevice::UserFolder(bool pictures) const {
    return pictures ? UserPicturesFolder() : UserMusicFolder();
}

std::string TIpodDevice::FormatSize(int64_t bytes) {
    double value;
    const char* unit;
    if (bytes < 1048576) {
        value = static_cast<double>(bytes) / 1024.0;
        unit = " KB";
    } else if (bytes <= 1073741824) {
        value = static_cast<double>(bytes) / 1048576.0;
        unit = " MB";
    } else {
        value = static_cast<double>(bytes) / 1073741824.0;
        unit = " GB";
    }
    // to_chars rounds as printf's "%.2f" does, without its cost: a list prints one per track.
    char text[64];
    char* end = std::to_chars(text, text + sizeof text - 4, value, std::chars_format::fixed, 2).ptr;
    return std::string(text, end) + unit;
}

uint64_t TIpodDevice::LocalFileSize(const std::string& fileName) {
    if (!FileExists(fileName))
        return 0;
    return FileSize(fileName).value_or(0);
}

uint64_t TIpodDevice::DeviceFileSize(const std::string& location) {
    std::string path = LocationToPath(location);
    if (MobileSession())
        return FFileService->GetFileSize(path);
    auto local = DiskPath(path);
    return local ? LocalFileSize(*local) : 0;
}

uint64_t TIpodDevice::ItemSize(const std::string& location) {
    // More files than any book holds: past them a folder is not summed further.
    constexpr size_t kMaxSummedFiles = 100000;
    const std::string path = LocationToPath(location);
    std::vector<std::string> files;
    std::function<uint64_t(const std::string&)> sizeOf;
    if (MobileSession()) {
        if (!FFileService->IsDirectory(path))
            return FFileService->GetFileSize(path);
        FFileService->ListFileTree(WithoutTrailingSlash(path) + "/", files);
        sizeOf = [this](const std::string& file) { return FFileService->GetFileSize(file); };
    } else {
        auto local = DiskPath(path);
        if (!local)
            return 0;
        if (!DirectoryExists(*local))
            return LocalFileSize(*local);
        ListLocalTree(*local, files);
        sizeOf = &LocalFileSize;
    }
    uint64_t total = 0;
    for (size_t i = 0; i < files.size() && i < kMaxSummedFiles; ++i) {
        const uint64_t size = sizeOf(files[i]);
        total = size > UINT64_MAX - total ? UINT64_MAX : total + size;
    }
    return total;
}

bool TIpodDevice::SameFileSize(const std::string& fileName, uint64_t size) {
    return FileExists(fileName) && LocalFileSize(fileName) == size;
}

int TIpodDevice::CopyTrackFile(const std::string& location, std::string& destBase, uint64_t size) {
    std::string ext = ExtractFileExt(location);
    std::string name = destBase + ext;
    int number = 0;
    if (PathExists(name)) {
        if (SameFileSize(name, size)) {
            destBase = name;  // already transferred
            return kCopyDone;
        }
        const TFreeNames::TFound found = FFreeNames.Find(destBase, ext, size, kMaxNameNumber, name);
        if (found == TFreeNames::TFound::None)
            return LocalCopyCode(EEXIST);
        if (found == TFreeNames::TFound::AlreadyThere) {
            destBase = name;
            return kCopyDone;
        }
        number = FFreeNames.LastNumber();
    }
    const std::string base = destBase;
    destBase = name;
    const int result = CopyDeviceFile(location, destBase);
    // What was written, not what the database said: the two differ on damaged libraries.
    if (result == kCopyDone && number > 0)
        FFreeNames.Taken(base, ext, number, LocalFileSize(destBase));
    return result;
}

int TIpodDevice::CopyItem(const std::string& location, std::string& dest, bool& isDir,
                          uint64_t size) {
    isDir = false;
    // A book on a disk-mode iPod is a file like any track: copied, never left behind.
    if (!MobileSession())
        return CopyTrackFile(location, dest, size);
    std::string path = LocationToPath(location);
    if (FFileService->IsDirectory(path)) {
        isDir = true;
        return CopyDirectory(WithoutTrailingSlash(path) + "/", dest);
    }
    return CopyTrackFile(location, dest, size);
}

int TIpodDevice::CopyDirectory(const std::string& devDir, std::string& destDir) {
    std::string base = WithoutTrailingSlash(destDir);
    std::string name = base;
    for (int k = 1; PathExists(name) && k <= kMaxNameNumber; ++k) {
        name = base + "_" + std::to_string(k);
    }
    destDir = name + "/";
    if (PathExists(name) || !ForceDirectories(name))
        return kCopyFolderFailed;

    std::vector<std::string> files;
    FFileService->ListFileTree(devDir, files);
    if (files.empty())
        return kCopyDeviceFailed;
    int result = kCopyDone;
    for (const std::string& file : files) {
        // The device's names are placed below the new folder and can never climb out of it.
        std::optional<std::string> local;
        if (StartsWithText(file, devDir))
            local = JoinInside(name, file.substr(devDir.size()));
        if (!local || !ForceDirectories(std::filesystem::path(*local).parent_path().string())) {
            result = kCopyFolderFailed;
            continue;
        }
        if (!FFileService->CopyToFile(file, *local, OnCopyProgress))
            return kCopyDeviceFailed;
        if (auto time = DeviceFileTime(file))
            SetLocalFileTime(*local, *time);
    }
    return result;
}

bool TIpodDevice::DirectoryExistsOnDevice(const std::string& path) {
    if (MobileSession())
        return FFileService->IsDirectory(ReplaceChar(path, '\\', '/'));
    auto local = DiskPath(path);
    return local && DirectoryExists(*local);
}

std::string TIpodDevice::DcimPath() const {
    return MobileSession() ? "/DCIM/" : FDrive + "/DCIM/";
}

bool TIpodDevice::HasDcim() {
    return DirectoryExistsOnDevice("/DCIM/");
}

int TIpodDevice::ListCameraFiles(std::vector<std::string>& list) {
    list.clear();
    if (MobileSession()) {
        if (FFileService->IsDirectory("/DCIM/"))
            FFileService->ListFileTree("/DCIM/", list);
    } else if (auto local = DiskPath("/DCIM"); local && DirectoryExists(*local)) {
        ListLocalTree(*local, list);
        // The folder's own order is whatever the file system keeps; shots read better in
        // the order they were named (taken).
        std::sort(list.begin(), list.end());
    }
    std::erase_if(list, RemoveCameraSidecar);
    return static_cast<int>(list.size());
}

int TIpodDevice::ListVoiceMemos(std::vector<std::string>& list) {
    if (MobileSession()) {
        std::vector<std::string> names;
        FFileService->ListDirectory("/Recordings/", kKindFile, names);
        std::erase_if(names, [](const std::string& n) { return !EndsWithText(n, ".m4a"); });
        list.insert(list.end(), names.begin(), names.end());
        return static_cast<int>(names.size());
    }
    // A disk-mode iPod keeps its recordings in the same folder as a mobile device.
    auto folder = DiskPath("/Recordings");
    if (!folder)
        return static_cast<int>(list.size());
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder->c_str()), closedir);
    if (!dir)
        return static_cast<int>(list.size());
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir.get())) {
        std::string n = entry->d_name;
        if (n.empty() || n.front() == '.' || !EndsWithText(n, ".m4a"))
            continue;
        if (FileExists(*folder + "/" + n))
            names.push_back(n);
    }
    // Directory order is arbitrary on most file systems; a stable order reads better.
    std::sort(names.begin(), names.end());
    list.insert(list.end(), names.begin(), names.end());
    return static_cast<int>(list.size());
}

int TIpodDevice::ListLocalTree(const std::string& dir, std::vector<std::string>& list) {
    return static_cast<int>(corvane::ListLocalTree(WithoutTrailingSlash(dir), list));
}

}  // namespace corvane
