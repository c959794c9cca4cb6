// The mobile-device file service: attaches to a connected iPhone, iPod touch or iPad by
// opening its file service, reports attach and loss, and offers the file operations the
// device session needs. Paths are "/"-separated device paths in UTF-8.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/MemoryStream.h"
#include "device/MobileDeviceLibrary.h"
#include "platform/FileCopy.h"

namespace corvane {

constexpr const char* kAfcServiceName = "com.apple.afc";
constexpr size_t kCopyBufferSize = 1048576;
constexpr size_t kShortCopyBufferSize = 524288;

// GetFileKind results.
constexpr int kKindFile = 0;
constexpr int kKindDirectory = 1;
constexpr int kKindOther = 2;
constexpr int kKindNoInformation = 3;

class TIosHelper {
public:
    // Runs on the library's notification thread.
    using TOnChange = std::function<void(TIosHelper& service, bool attached)>;
    // A line for the session log, in words; may run on any thread of the service.
    using TOnNotice = std::function<void(const std::string& text)>;
    // The pairing message changed (empty: nothing waits for the user any more).
    using TOnPairing = std::function<void(const std::string& message)>;

    // library may be null: the platform library could not be loaded (Loaded() is false).
    TIosHelper(TOnChange onChange, std::unique_ptr<IMobileDeviceLibrary> library);
    ~TIosHelper();
    TIosHelper(const TIosHelper&) = delete;
    TIosHelper& operator=(const TIosHelper&) = delete;

    bool Loaded() const { return FLibrary != nullptr; }
    int LastError() const { return FLastError; }
    // errno of the last failed local write of CopyToFile, 0 when the device side failed.
    int LastLocalError() const { return FLastLocalError; }
    size_t BufferSize() const { return FBufferSize; }
    bool HasDevice() const;
    // Set before StartNotify.
    void SetOnNotice(TOnNotice onNotice) { FOnNotice = std::move(onNotice); }
    void SetOnPairing(TOnPairing onPairing) { FOnPairing = std::move(onPairing); }
    // What the user must do on a connected device that does not trust this computer yet;
    // empty when no device waits for that.
    std::string PairingMessage() const;

    bool StartNotify();
    // The library's notification entry: message 1 attaches, any other detaches.
    void DeviceNotified(TAmDevice device, int message);
    bool Attach(TAmDevice device);
    void Detach();

    bool OpenService(const std::string& name, bool force);
    void CloseService();

    bool PathExists(const std::string& path);
    void SetBufferSize(size_t size);
    // Reads a whole file; false, with nothing kept, past maxBytes.
    bool CopyToStream(const std::string& path, TMemoryStream& stream,
                      uint64_t maxBytes = UINT64_MAX);
    // progress hears of every piece written (its size unknown: 0).
    bool CopyToFile(const std::string& path, const std::string& fileName,
                    const TCopyProgress& progress = {});

    bool OpenFile(const std::string& path);
    bool ReadAt(uint32_t count, uint8_t* buffer, uint64_t offset);
    void CloseFile();
    // Up to count bytes of a file from offset (fewer where the file ends first), through a
    // handle of its own, so that the file OpenFile holds stays open.
    bool ReadFilePart(const std::string& path, uint64_t offset, uint32_t count,
                      std::vector<uint8_t>& bytes);

    bool GetFileInfo(const std::string& path, const std::string& key, std::string& value);
    int GetFileKind(const std::string& path);
    uint64_t GetFileSize(const std::string& path);
    bool IsDirectory(const std::string& path);
    void ListDirectory(const std::string& path, int kind, std::vector<std::string>& list);
    void ListFileTree(const std::string& path, std::vector<std::string>& list);

    bool MakeXmlPlist(const std::string& source, const std::string& target, std::string& result,
                      bool checkBinary);
    std::string GetDeviceName();

private:
    using TSink = std::function<bool(const uint8_t* data, size_t count)>;
    bool CopyToSink(const std::string& path, const TSink& sink);
    int ReconnectDevice();
    void EndDeviceSession();
    int Note(int result);
    bool UsableConnection();
    bool EndAttachment();
    void SetPairing(int code);
    void WaitForTrust();
    void CloseServiceLocked();
    void CloseFileLocked();
    void ListFileTreeLocked(const std::string& path, std::vector<std::string>& list, int depth);

    TOnChange FOnChange;
    TOnNotice FOnNotice;
    TOnPairing FOnPairing;
    std::unique_ptr<IMobileDeviceLibrary> FLibrary;
    // Serialises the connection between the notification thread and file operations on the
    // main and worker threads, so a loss cannot close the connection under a running read.
    mutable std::recursive_mutex FLock;
    // Set by a loss before it takes the lock, so that a running copy stops at its next block.
    std::atomic<bool> FDeviceGoing{false};
    std::atomic<int> FLastError{0};
    std::atomic<int> FLastLocalError{0};
    TAmDevice FAmDevice = nullptr;
    // FAmDevice for the removal report, which must not wait for the lock: a copy that holds
    // it waits for that report.
    std::atomic<TAmDevice> FServedDevice{nullptr};
    bool FReported = false;  // an attach was reported and no loss yet
    TAfcConnection FAfcConn = nullptr;
    TAfcFileRef FAfcFile = 0;
    std::string FServiceName;
    std::string FAfcFilePath;  // of FAfcFile, to open it again over a new connection
    // The open connection failed as a dead one does; it is opened again before the next use.
    bool FConnectionDropped = false;
    bool FReopenFailed = false;  // ... and that failed: later operations fail at once
    int FDropError = 0;
    // A device that does not trust this computer yet is asked again every second while it
    // stays connected, so that it is served as soon as the user taps Trust.
    int FPairingCode = 0;  // of the last attempt; 0 when the device is not waiting for trust
    mutable std::mutex FMessageLock;  // not FLock: an attempt in progress may hold that long
    std::string FPairingMessage;
    TAmDevice FTrustDevice = nullptr;
    std::condition_variable_any FTrustChanged;
    bool FStopping = false;
    std::thread FTrustThread;
    std::vector<uint8_t> FBuffer;
    size_t FBufferSize = 0;
    bool FSubscribed = false;
};

}  // namespace corvane
