// The device session: the one object through which the program finds the attached iPod
// (disk mode, a mounted volume carrying iPod_Control/iTunes) or mobile device (through the
// file service) and reads, stages and copies its files. Nothing is ever written to the device.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/Dispatcher.h"
#include "base/LogText.h"
#include "base/MemoryStream.h"
#include "device/FileBytes.h"
#include "device/FreeNames.h"
#include "device/IosHelper.h"
#include "device/IpodModels.h"
#include "device/MobileDeviceLibrary.h"
#include "platform/FileCopy.h"
#include "platform/MountWatcher.h"
#include "platform/Mounts.h"
#include "platform/UniqueFd.h"

namespace corvane {

// Copy result codes.
constexpr int kCopyDone = 0;
constexpr int kCopyDeviceFailed = 2;
constexpr int kCopyFolderFailed = 5;
// An error of the local file copy comes back as this base plus its errno value: EPERM, ENOENT
// and EIO are 1, 2 and 5 and would otherwise read as the codes above.
constexpr int kCopyLocalError = 1000;
constexpr int LocalCopyCode(int error) {
    return error == 0 ? kCopyDone : kCopyLocalError + error;
}

// ReadImageFile picture kinds.
enum TPictureKind {
    pkNone = 0,
    pkJpeg = 1,
    pkTiff = 2,
    pkPng = 3,
    pkGif = 4,
    pkBmp = 5,
    pkHeic = 6
};

struct TDeviceSessionOptions {
    // Loads the mobile-device library; returns null when it is missing.
    std::function<std::unique_ptr<IMobileDeviceLibrary>()> LoadLibrary = [] {
        return LoadMobileDevice();
    };
    // Which mounted file systems count as removable volumes.
    TVolumeRule VolumeRule = IsRemovableMount;
    // Folders that count as attached removable volumes before the mount table (a device
    // image given on the command line, the demo device).
    std::vector<std::string> ExtraVolumes;
    // Where volume arrival and removal run: the owner's thread.
    TRunOnUiThread Dispatch = RunDirect;
    // Watch the mount table for arrival and removal.
    bool WatchMounts = true;
    // Watch the ExtraVolumes folders too: one whose iPod_Control/iTunes goes away is a lost
    // device, one whose folders come back an arrival (a folder device the user removes and
    // brings back, or a stick holding one).
    bool WatchFolders = false;
    // The local folder a simulated mobile device serves: no export may write into it.
    std::string ServedFolder;
    // Load the mobile-device library only when ScanDrives finds no disk-mode iPod, for a
    // session that serves the first device it finds (a command): with a disk-mode iPod no
    // mobile device can be the answer, and the library (with its TLS libraries and its
    // watcher thread) is never loaded. Until then NoLibrary is false. The desktop program
    // watches for phones from the start.
    bool MobileOnDemand = false;
};

class TIpodDevice {
public:
    // Called on attach (true) and loss (false): on the owner's thread for a disk-mode iPod,
    // on the library's thread for a mobile device. It must not wait for the owner's thread.
    using TOnChange = std::function<void(bool connected)>;
    // A connected mobile device waits for the user to trust this computer (the message says
    // what to do), or no longer does (empty). Runs on a thread of the file service.
    using TOnPairing = std::function<void(const std::string& message)>;

    TIpodDevice(TOnChange onChange, TDeviceSessionOptions options = {});
    ~TIpodDevice();
    TIpodDevice(const TIpodDevice&) = delete;
    TIpodDevice& operator=(const TIpodDevice&) = delete;

    // State
    bool IsIos() const { return FIsIos; }
    bool Connected() const { return FConnected; }
    bool NoLibrary() const { return FNoLibrary; }
    const std::string& Drive() const { return FDrive; }  // disk mode: the mount root
    const std::string& WorkFile() const { return FWorkFile; }
    std::atomic<bool> Busy{false};
    TLogText Log;
    void AddLog(const std::string& text) { Log.AddLog(text); }
    void SetOnChange(TOnChange onChange);
    void SetOnPairing(TOnPairing onPairing);
    // What the user must do on a connected device that does not trust this computer yet.
    std::string PairingMessage() const;
    TIosHelper* FileService() { return FFileService.get(); }

    // Finding a disk-mode iPod
    bool ScanDrives();
    bool CheckDrive(const std::string& mountPoint);
    void VolumeMessage(const TMountChange& change);

    // Reading
    bool FileExistsOnDevice(const std::string& path);
    // Names of the files in one device folder ("DCIM/100APPLE"); none when it cannot be listed.
    void ListFolderFiles(const std::string& folder, std::vector<std::string>& names);
    // The device's modification time of a file, in nanoseconds since 1970; nothing when the
    // device does not tell.
    std::optional<int64_t> DeviceFileTime(const std::string& path);
    bool ReadToStream(const std::string& path, TMemoryStream& stream);
    // ReadToStream for files that may well be missing (previews): a miss is not logged.
    bool ReadIfPresent(const std::string& path, TMemoryStream& stream);
    bool ReadITunesDB(TMemoryStream& stream, bool& compressed);
    // The same without copying on a disk-mode iPod: its file is mapped in place (the same
    // checks and log lines as ReadToStream); a mobile device's file is copied into memory.
    bool ReadToBytes(const std::string& path, TFileBytes& bytes);
    bool ReadITunesDB(TFileBytes& bytes, bool& compressed);
    bool ReadPhotoDatabase(TMemoryStream& stream);
    TPictureKind ReadImageFile(const std::string& path, TMemoryStream& stream);
    // The picture kind ReadImageFile reports for a path, told by its extension alone.
    static TPictureKind PictureKindOf(const std::string& path);
    // Up to count bytes of a device file from offset (fewer where the file ends first), for
    // readers that need only part of a large file (a picture's EXIF data). False, with
    // nothing kept and nothing logged, when the file cannot be read: the caller falls back to
    // a whole-file read, which says why.
    bool ReadFilePart(const std::string& path, uint64_t offset, uint32_t count,
                      std::vector<uint8_t>& bytes);

    // Staging of database files as local files for the readers
    std::string StageITunesFile(const std::string& name, bool inItlp, const std::string& suffix);
    std::string StagePhotoDataFile(const std::string& name, const std::string& suffix);
    std::string StageBooksPlist(bool purchased);
    std::string StageRingtonesPlist();

    // Hears of every piece the copies below write (on the copying thread); a transfer
    // worker sets it for its run.
    TCopyProgress OnCopyProgress;
    // Copies to the computer; results are the copy codes above, local errors as LocalCopyCode
    int CopyDeviceFile(const std::string& location, const std::string& destFile);
    int CopyFileFrom(const std::string& path, const std::string& destFile);
    // The size of the file CopyFileFrom would copy; nothing when it cannot be told.
    std::optional<uint64_t> FileSizeFrom(const std::string& path);

    // Random access to one thumbnail file
    bool OpenThumbFile(const std::string& name, uint32_t recordSize);
    bool ReadThumbRecord(uint32_t count, TMemoryStream& stream, uint64_t offset);
    void CloseThumbFile();
    // Why the last OpenThumbFile or ReadThumbRecord failed, for the lines naming each picture.
    const std::string& ThumbError() const { return FThumbError; }

    // A disk-mode iPod without a name of its own is called by its model, else "iPod".
    std::string DisplayName();
    void SetDisplayName(const std::string& name);
    // What the device says about itself (iPodDevInfo.cpp). The model that SysInfo and
    // SysInfoExtended name on a disk-mode iPod; null when they name none (or on a mobile device).
    const TIpodModel* Model();
    // Seconds east of UTC that the device's clock runs at: the times it records are its local
    // Mac times.
    int32_t ClockShift();
    // A property list from the device as XML: an XML one as it stands, a binary one converted
    // through the platform library. Nothing, with a log line, when it is there but cannot be
    // read as XML; nothing without one when it is missing.
    std::optional<std::string> ReadPlistXml(const std::string& path);
    bool IsITunesRunning() const { return false; }  // no such program on this platform
    void StopAutoSync() {}

    // Destination checks and listings
    bool CheckDestination(std::string& folder, uint64_t needed);
    std::string UserFolder(bool pictures) const;
    static std::string FormatSize(int64_t bytes);
    static uint64_t LocalFileSize(const std::string& fileName);
    uint64_t DeviceFileSize(const std::string& location);
    // The bytes an item of the lists (a book, a tone, a memo) takes on the device: a file's
    // size, or the sum of a folder's files (a book is often a folder). Only the sizes are
    // asked, nothing is read; 0 when they cannot be told.
    uint64_t ItemSize(const std::string& location);
    static bool SameFileSize(const std::string& fileName, uint64_t size);
    int CopyTrackFile(const std::string& location, std::string& destBase, uint64_t size);
    // Forgets the numbered names seen taken; an export starts with this.
    void ForgetFreeNames() { FFreeNames.Clear(); }
    int CopyItem(const std::string& location, std::string& dest, bool& isDir, uint64_t size);
    int CopyDirectory(const std::string& devDir, std::string& destDir);
    bool DirectoryExistsOnDevice(const std::string& path);
    std::string DcimPath() const;
    bool HasDcim();
    int ListCameraFiles(std::vector<std::string>& list);
    int ListVoiceMemos(std::vector<std::string>& list);
    static int ListLocalTree(const std::string& dir, std::vector<std::string>& list);

    // A disk-mode device path ("/" or "\" separated, below Drive) as a local path inside
    // Drive; nothing when the path would leave it.
    std::optional<std::string> DiskPath(const std::string& path) const;
    // A colon location (":iPod_Control:Music:F00:A.mp3") as a device path of the current mode.
    std::string LocationToPath(const std::string& location) const;

private:
    // Loads the mobile-device library and subscribes to its device notifications.
    void StartMobileDevices();
    void IosChanged(bool attached);
    // A mobile device that went away keeps its session on the mobile-device branch (where
    // every operation fails with that branch's code) until another device is found: an
    // export running at the loss must not try its items as paths of a disk-mode iPod.
    bool MobileSession() const { return FIsIos || FLostIos; }
    void Report(bool connected);
    std::string StageFromDevice(const std::string& devicePath, const std::string& suffix,
                                const std::string& failureLine);
    int CopyLocalNoReplace(const std::string& source, const std::string& destFile);

    TDeviceSessionOptions FOptions;
    std::mutex FOnChangeLock;
    TOnChange FOnChange;
    TOnPairing FOnPairing;
    std::atomic<bool> FIsIos{false};
    std::atomic<bool> FLostIos{false};
    std::atomic<bool> FConnected{false};
    bool FNoLibrary = false;
    bool FMobileStarted = false;
    std::string FDrive;
    std::string FWorkFile;
    std::mutex FNameLock;
    std::string FNameCache;
    bool FNameIsModel = false;  // the cached name is the model's, not the device's own
    std::mutex FModelLock;
    std::optional<const TIpodModel*> FModel;
    std::vector<uint8_t> FThumbBuffer;
    bool FHasThumbBuffer = false;
    TUniqueFd FThumbFile;
    std::string FThumbError;
    std::unique_ptr<TIosHelper> FFileService;
    TFreeNames FFreeNames;
    std::unique_ptr<TMountWatcher> FMountWatcher;
};

}  // namespace corvane
