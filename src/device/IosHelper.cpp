#include "device/IosHelper.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "base/Text.h"
#include "device/MobileDeviceErrors.h"
#include "platform/FileCopy.h"

namespace corvane {

namespace {

// Reported as LastError when a copy stops because the device is going away.
constexpr int kErrorDeviceGone = -3;
// Device folders nest a handful of levels; a deeper tree is damaged or hostile.
constexpr int kMaxTreeDepth = 64;
// How often a device that does not trust this computer yet is asked again.
constexpr auto kTrustRetry = std::chrono::seconds(1);
// A connection that drops because the device was pulled out is followed by the removal
// report within moments; this long it is waited for before the drop counts as a fault.
constexpr int kRemovalWaitSteps = 15;
constexpr auto kRemovalWaitStep = std::chrono::milliseconds(20);

bool IsPairingAnswer(int code) {
    return code == kPairingPending || code == kPairingPasscodeLocked || code == kPairingDenied;
}

// A name from a directory read that cannot be used as one path component.
bool IsUnusableName(const char* name) {
    std::string_view text(name);
    return text.empty() || text == "." || text == ".." || text.find('/') != std::string_view::npos;
}

}  // namespace

TIosHelper::TIosHelper(TOnChange onChange, std::unique_ptr<IMobileDeviceLibrary> library)
    : FOnChange(std::move(onChange)), FLibrary(std::move(library)) {}

TIosHelper::~TIosHelper() {
    if (!FLibrary)
        return;
    // No notification may run into a half-destroyed instance.
    if (FSubscribed)
        FLibrary->NotificationUnsubscribe();
    {
        std::lock_guard lock(FLock);
        FStopping = true;
        FTrustDevice = nullptr;
    }
    FTrustChanged.notify_all();
    if (FTrustThread.joinable())
        FTrustThread.join();
    std::lock_guard lock(FLock);
    if (FAmDevice) {
        CloseServiceLocked();
        EndDeviceSession();
        FAmDevice = nullptr;
    }
}

bool TIosHelper::HasDevice() const {
    std::lock_guard lock(FLock);
    return FAmDevice != nullptr && !FServiceName.empty();
}

std::string TIosHelper::PairingMessage() const {
    std::lock_guard lock(FMessageLock);
    return FPairingMessage;
}

bool TIosHelper::StartNotify() {
    if (!FLibrary)
        return false;
    int result = FLibrary->NotificationSubscribe(
        [this](TAmDevice device, int message) { DeviceNotified(device, message); });
    FLastError = result;
    if (result != 0)
        return false;
    FSubscribed = true;
    SetBufferSize(kCopyBufferSize);
    return true;
}

void TIosHelper::DeviceNotified(TAmDevice device, int message) {
    if (message == kDeviceConnected) {
        Attach(device);
        return;
    }
    // The loss of a device we do not serve changes nothing.
    TAmDevice served = FServedDevice;
    if (served != nullptr && device != nullptr && device != served)
        return;
    Detach();
}

bool TIosHelper::Attach(TAmDevice device) {
    bool opened;
    {
        std::lock_guard lock(FLock);
        if (FAmDevice != nullptr && !FServiceName.empty()) {
            // The first device served wins; a repeated report of it changes nothing.
            return device == FAmDevice;
        }
        FDeviceGoing = false;
        FAmDevice = device;
        FServedDevice = device;
        FPairingCode = 0;
        FConnectionDropped = false;
        FReopenFailed = false;
        opened = OpenService(kAfcServiceName, false);
        if (opened)
            FReported = true;
        SetPairing(opened ? 0 : FPairingCode);
        if (FPairingCode != 0 && !FStopping) {
            // Asked again until the user answers on the device or it goes away.
            FTrustDevice = device;
            if (!FTrustThread.joinable())
                FTrustThread = std::thread([this] { WaitForTrust(); });
            FTrustChanged.notify_all();
        } else if (FTrustDevice == device) {
            FTrustDevice = nullptr;
        }
    }
    if (opened && FOnChange)
        FOnChange(*this, true);
    return opened;
}

void TIosHelper::SetPairing(int code) {
    std::string message;
    if (code != 0) {
        std::string deviceClass;
        if (FAmDevice != nullptr)
            FLibrary->DeviceCopyValue(FAmDevice, "DeviceClass", &deviceClass);
        message = corvane::PairingMessage(code, DeviceKindWord(deviceClass));
    }
    {
        std::lock_guard lock(FMessageLock);
        if (message == FPairingMessage)
            return;
        FPairingMessage = message;
    }
    if (message.empty() && code == 0 && FReported && FOnNotice)
        FOnNotice("The device trusts this computer now.");
    if (!message.empty() && FOnNotice)
        FOnNotice(message);
    if (FOnPairing)
        FOnPairing(message);
}

void TIosHelper::WaitForTrust() {
    std::unique_lock lock(FLock);
    while (!FStopping) {
        if (FTrustDevice == nullptr) {
            FTrustChanged.wait(lock);
            continue;
        }
        TAmDevice device = FTrustDevice;
        FTrustChanged.wait_for(lock, kTrustRetry);
        // Still held: a loss cannot slip in between the check and the attempt.
        if (!FStopping && FTrustDevice == device)
            Attach(device);
    }
}

void TIosHelper::Detach() {
    FDeviceGoing = true;
    bool report;
    {
        std::lock_guard lock(FLock);
        report = EndAttachment();
        FDeviceGoing = false;
    }
    // Only a device that was reported attached is reported lost.
    if (report && FOnChange)
        FOnChange(*this, false);
}

bool TIosHelper::EndAttachment() {
    CloseServiceLocked();
    if (FAmDevice)
        EndDeviceSession();
    FAmDevice = nullptr;
    FServedDevice = nullptr;
    FTrustDevice = nullptr;
    FPairingCode = 0;
    SetPairing(0);
    bool report = FReported;
    FReported = false;
    return report;
}

int TIosHelper::ReconnectDevice() {
    FLibrary->DeviceDisconnect(FAmDevice);
    int result = FLibrary->DeviceConnect(FAmDevice);
    if (result != 0)
        return result;
    bool paired =
        FLibrary->DeviceIsPaired(FAmDevice) == 1 && FLibrary->DeviceValidatePairing(FAmDevice) == 0;
    if (!paired) {
        // This computer asks to be trusted itself: the device may never have been paired
        // with it, and the pairing done when it was plugged in may not have run.
        result = FLibrary->DevicePair(FAmDevice);
        if (IsPairingAnswer(result))
            FPairingCode = result;
        if (result != 0)
            return result;
        FPairingCode = 0;
        paired = FLibrary->DeviceValidatePairing(FAmDevice) == 0;
    }
    if (paired) {
        result = FLibrary->DeviceStartSession(FAmDevice);
        if (IsPairingAnswer(result))
            FPairingCode = result;
        return result;
    }
    return 0;
}

void TIosHelper::EndDeviceSession() {
    FLibrary->DeviceStopSession(FAmDevice);
    FLibrary->DeviceDisconnect(FAmDevice);
}

bool TIosHelper::OpenService(const std::string& name, bool force) {
    std::lock_guard lock(FLock);
    if (!FLibrary || !FAmDevice)
        return false;
    if (!force && FAfcConn != nullptr && SameText(FServiceName, name))
        return true;
    bool fresh = FServiceName.empty();
    CloseServiceLocked();
    for (int pass = 0; pass < 3; ++pass) {
        if (fresh) {
            TAfcService service = nullptr;
            int result = FLibrary->DeviceStartService(FAmDevice, name, &service);
            FLastError = result;
            if (result == 0) {
                TAfcConnection connection = nullptr;
                result = FLibrary->AfcConnectionOpen(service, 0, &connection);
                FLastError = result;
                if (result == 0) {
                    FAfcConn = connection;
                    FServiceName = name;
                    return true;
                }
            }
        }
        // A fresh device has no session yet: connect, check the pairing, start one, retry.
        fresh = false;
        for (int attempt = 0; attempt < 3 && !fresh && !FDeviceGoing; ++attempt) {
            fresh = ReconnectDevice() == 0;
            // Asking again at once changes nothing: the user has to answer on the device.
            if (FPairingCode != 0)
                return false;
        }
        if (!fresh)
            return false;
    }
    return false;
}

int TIosHelper::Note(int result) {
    if (IsAfcConnectionLoss(result) && FAfcConn != nullptr && !FConnectionDropped) {
        FConnectionDropped = true;
        FDropError = result;
    }
    return result;
}

bool TIosHelper::UsableConnection() {
    if (FConnectionDropped && !FReopenFailed && FAmDevice != nullptr) {
        for (int step = 0; step < kRemovalWaitSteps && !FDeviceGoing; ++step)
            std::this_thread::sleep_for(kRemovalWaitStep);
    }
    if (FConnectionDropped && FDeviceGoing && FAmDevice != nullptr) {
        // The device was pulled out: its loss is reported here, in order with the items the
        // caller goes on with, and the removal report that waits for the lock finds it done.
        if (EndAttachment() && FOnChange)
            FOnChange(*this, false);
    }
    if (FConnectionDropped && !FReopenFailed && FAmDevice != nullptr && !FDeviceGoing) {
        // The device is still attached: its file service is opened again as at attach.
        FConnectionDropped = false;
        std::string name = FServiceName.empty() ? kAfcServiceName : FServiceName;
        std::string reopenPath = FAfcFile != 0 ? FAfcFilePath : std::string();
        if (OpenService(name, true)) {
            if (FOnNotice) {
                FOnNotice("The connection to the device's files dropped (" +
                          AfcErrorText(FDropError) + "); it was opened again.");
            }
            TAfcFileRef file = 0;
            if (!reopenPath.empty() &&
                FLibrary->AfcFileRefOpen(FAfcConn, reopenPath, kAfcModeRead, &file) == 0) {
                FAfcFile = file;
                FAfcFilePath = reopenPath;
            }
        } else {
            FReopenFailed = true;
            if (FOnNotice) {
                FOnNotice("The connection to the device's files dropped (" +
                          AfcErrorText(FDropError) +
                          ") and could not be opened again; the remaining items cannot be "
                          "read.");
            }
        }
    }
    if (FAfcConn == nullptr)
        FLastError = FReopenFailed ? FDropError : kErrorDeviceGone;
    return FAfcConn != nullptr;
}

void TIosHelper::CloseService() {
    std::lock_guard lock(FLock);
    CloseServiceLocked();
}

void TIosHelper::CloseServiceLocked() {
    CloseFileLocked();
    if (FAfcConn != nullptr) {
        FLibrary->AfcConnectionClose(FAfcConn);
        FAfcConn = nullptr;
        FServiceName.clear();
        FConnectionDropped = false;
    }
}

bool TIosHelper::PathExists(const std::string& path) {
    std::lock_guard lock(FLock);
    if (path.empty())
        return false;
    int lastError = FLastError;
    bool usable = UsableConnection();
    FLastError = lastError;
    if (!usable)
        return false;
    TAfcDictionary info = nullptr;
    if (Note(FLibrary->AfcFileInfoOpen(FAfcConn, path, &info)) != 0)
        return false;
    if (info != nullptr)
        FLibrary->AfcKeyValueClose(info);
    return true;
}

void TIosHelper::SetBufferSize(size_t size) {
    std::lock_guard lock(FLock);
    if (size == FBufferSize)
        return;
    FBuffer = {};
    FBufferSize = 0;
    if (size == 0)
        return;
    try {
        FBuffer.resize(size);
        FBufferSize = size;
    } catch (const std::bad_alloc&) {
        try {
            FBuffer.resize(kShortCopyBufferSize);
            FBufferSize = kShortCopyBufferSize;
        } catch (const std::bad_alloc&) {
            FBuffer = {};
        }
    }
}

bool TIosHelper::CopyToSink(const std::string& path, const TSink& sink) {
    std::lock_guard lock(FLock);
    if (!UsableConnection())
        return false;
    if (FBufferSize == 0)
        SetBufferSize(kCopyBufferSize);
    if (FBufferSize == 0)
        return false;
    TAfcFileRef file = 0;
    int result = Note(FLibrary->AfcFileRefOpen(FAfcConn, path, kAfcModeRead, &file));
    FLastError = result;
    if (result != 0)
        return false;
    // A copy that stops early is a failure: its caller must not take a truncated file for the
    // whole one.
    bool complete = false;
    while (true) {
        if (FDeviceGoing) {
            FLastError = kErrorDeviceGone;
            break;
        }
        uint32_t length = static_cast<uint32_t>(FBufferSize);
        result = Note(FLibrary->AfcFileRefRead(FAfcConn, file, FBuffer.data(), &length));
        FLastError = result;
        if (result != 0)
            break;
        if (length == 0) {
            complete = true;
            break;
        }
        if (length > FBufferSize || !sink(FBuffer.data(), length))
            break;
    }
    if (!FConnectionDropped)
        FLibrary->AfcFileRefClose(FAfcConn, file);
    return complete;
}

bool TIosHelper::CopyToStream(const std::string& path, TMemoryStream& stream, uint64_t maxBytes) {
    return CopyToSink(path, [&stream, maxBytes](const uint8_t* data, size_t count) {
        if (count > maxBytes || stream.Size() > maxBytes - count)
            return false;
        try {
            stream.Write(data, count);
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    });
}

bool TIosHelper::CopyToFile(const std::string& path, const std::string& fileName,
                            const TCopyProgress& progress) {
    FLastLocalError = 0;
    if (!PathExists(path))
        return false;
    TAtomicFileWriter writer(fileName);
    int error = writer.Open();
    if (error != 0) {
        FLastLocalError = error;
        return false;
    }
    uint64_t written = 0;
    bool copied = CopyToSink(path, [&](const uint8_t* data, size_t count) {
        error = writer.Write(data, count);
        written += count;
        if (error == 0 && progress)
            progress(written, 0);
        return error == 0;
    });
    if (error != 0)
        FLastLocalError = error;
    if (!copied)
        return false;  // the writer removes the partial file
    error = writer.Commit();
    if (error != 0) {
        FLastLocalError = error;
        return false;
    }
    return true;
}

bool TIosHelper::OpenFile(const std::string& path) {
    std::lock_guard lock(FLock);
    if (!PathExists(path))
        return false;
    CloseFileLocked();
    // Read-only: nothing is ever written to the device.
    TAfcFileRef file = 0;
    int result = Note(FLibrary->AfcFileRefOpen(FAfcConn, path, kAfcModeRead, &file));
    FLastError = result;
    if (result != 0)
        return false;
    FAfcFile = file;
    FAfcFilePath = path;
    return true;
}

bool TIosHelper::ReadAt(uint32_t count, uint8_t* buffer, uint64_t offset) {
    std::lock_guard lock(FLock);
    if (!UsableConnection())
        return false;
    if (FAfcFile == 0) {
        FLastError = kErrorDeviceGone;
        return false;
    }
    if (offset > static_cast<uint64_t>(INT64_MAX))
        return false;
    int result = Note(FLibrary->AfcFileRefSeek(FAfcConn, FAfcFile, static_cast<int64_t>(offset)));
    FLastError = result;
    if (result != 0)
        return false;
    // The service may deliver less than asked; a record counts only when it is whole.
    uint32_t done = 0;
    while (done < count) {
        uint32_t length = count - done;
        result = Note(FLibrary->AfcFileRefRead(FAfcConn, FAfcFile, buffer + done, &length));
        FLastError = result;
        if (result != 0 || length == 0 || length > count - done)
            return false;
        done += length;
    }
    return true;
}

void TIosHelper::CloseFile() {
    std::lock_guard lock(FLock);
    CloseFileLocked();
}

bool TIosHelper::ReadFilePart(const std::string& path, uint64_t offset, uint32_t count,
                              std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::lock_guard lock(FLock);
    if (!UsableConnection() || offset > static_cast<uint64_t>(INT64_MAX))
        return false;
    TAfcFileRef file = 0;
    int result = Note(FLibrary->AfcFileRefOpen(FAfcConn, path, kAfcModeRead, &file));
    FLastError = result;
    if (result != 0)
        return false;
    bool read = false;
    try {
        bytes.resize(count);
        result = offset == 0
                     ? 0
                     : Note(FLibrary->AfcFileRefSeek(FAfcConn, file, static_cast<int64_t>(offset)));
        uint32_t done = 0;
        while (result == 0 && done < count && !FDeviceGoing) {
            uint32_t length = count - done;
            result = Note(FLibrary->AfcFileRefRead(FAfcConn, file, bytes.data() + done, &length));
            if (result != 0 || length > count - done)
                break;
            if (length == 0) {  // the end of the file
                read = true;
                break;
            }
            done += length;
        }
        FLastError = result;
        read = read || (result == 0 && done == count);
        bytes.resize(done);
    } catch (const std::bad_alloc&) {
        read = false;
    }
    if (!FConnectionDropped)
        FLibrary->AfcFileRefClose(FAfcConn, file);
    if (!read)
        bytes.clear();
    return read;
}

void TIosHelper::CloseFileLocked() {
    if (FAfcFile == 0 || FAfcConn == nullptr) {
        FAfcFile = 0;
        return;
    }
    int result = FConnectionDropped ? FDropError : FLibrary->AfcFileRefClose(FAfcConn, FAfcFile);
    FLastError = result;
    // A handle the service refuses to close is forgotten all the same: the device is gone.
    FAfcFile = 0;
}

bool TIosHelper::GetFileInfo(const std::string& path, const std::string& key, std::string& value) {
    std::lock_guard lock(FLock);
    int lastError = FLastError;
    bool usable = UsableConnection();
    FLastError = lastError;
    if (!usable)
        return false;
    TAfcDictionary info = nullptr;
    if (Note(FLibrary->AfcFileInfoOpen(FAfcConn, path, &info)) != 0 || info == nullptr)
        return false;
    bool found = false;
    while (true) {
        const char* itemKey = nullptr;
        const char* itemValue = nullptr;
        if (FLibrary->AfcKeyValueRead(info, &itemKey, &itemValue) != 0)
            break;
        if (itemKey == nullptr || itemValue == nullptr)
            break;
        if (SameText(itemKey, key)) {
            value = itemValue;
            found = true;
            break;
        }
    }
    FLibrary->AfcKeyValueClose(info);
    return found;
}

int TIosHelper::GetFileKind(const std::string& path) {
    std::string value;
    if (!GetFileInfo(path, "ST_IFMT", value))
        return kKindNoInformation;
    if (SameText(value, "S_IFDIR"))
        return kKindDirectory;
    if (SameText(value, "S_IFREG"))
        return kKindFile;
    return kKindOther;
}

uint64_t TIosHelper::GetFileSize(const std::string& path) {
    std::string value;
    if (!GetFileInfo(path, "ST_SIZE", value))
        return 0;
    auto size = ParseInt64(value);
    return size && *size > 0 ? static_cast<uint64_t>(*size) : 0;
}

bool TIosHelper::IsDirectory(const std::string& path) {
    return GetFileKind(path) == kKindDirectory;
}

void TIosHelper::ListDirectory(const std::string& path, int kind, std::vector<std::string>& list) {
    std::lock_guard lock(FLock);
    if (!UsableConnection())
        return;
    TAfcDirectory directory = nullptr;
    int result = Note(FLibrary->AfcDirectoryOpen(FAfcConn, path, &directory));
    FLastError = result;
    if (result != 0)
        return;
    while (true) {
        const char* name = nullptr;
        if (FLibrary->AfcDirectoryRead(FAfcConn, directory, &name) != 0 || name == nullptr)
            break;
        if (IsUnusableName(name))
            continue;
        if (GetFileKind(path + name) == kind)
            list.emplace_back(name);
    }
    FLibrary->AfcDirectoryClose(FAfcConn, directory);
}

void TIosHelper::ListFileTree(const std::string& path, std::vector<std::string>& list) {
    std::lock_guard lock(FLock);
    if (!UsableConnection())
        return;
    ListFileTreeLocked(path, list, 0);
}

void TIosHelper::ListFileTreeLocked(const std::string& path, std::vector<std::string>& list,
                                    int depth) {
    if (FAfcConn == nullptr || depth > kMaxTreeDepth)
        return;
    TAfcDirectory directory = nullptr;
    int result = Note(FLibrary->AfcDirectoryOpen(FAfcConn, path, &directory));
    FLastError = result;
    if (result != 0)
        return;
    // Collect the names first: listing a subfolder opens another directory read.
    std::vector<std::string> names;
    while (true) {
        const char* name = nullptr;
        if (FLibrary->AfcDirectoryRead(FAfcConn, directory, &name) != 0 || name == nullptr)
            break;
        if (!IsUnusableName(name))
            names.emplace_back(name);
    }
    FLibrary->AfcDirectoryClose(FAfcConn, directory);
    for (const std::string& name : names) {
        int kind = GetFileKind(path + name);
        if (kind == kKindDirectory) {
            ListFileTreeLocked(path + name + "/", list, depth + 1);
        } else if (kind == kKindFile) {
            list.push_back(path + name);
        }
    }
}

bool TIosHelper::MakeXmlPlist(const std::string& source, const std::string& target,
                              std::string& result, bool checkBinary) {
    result.clear();
    if (access(source.c_str(), F_OK) != 0)
        return false;
    if (checkBinary) {
        char head[6] = {};
        int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        ssize_t got = read(fd, head, sizeof head);
        close(fd);
        if (got != static_cast<ssize_t>(sizeof head) || std::memcmp(head, "bplist", 6) != 0) {
            result = source;
            return true;
        }
    }
    if (!FLibrary || !FLibrary->ConvertPlist(source, target))
        return false;
    result = target;
    return true;
}

std::string TIosHelper::GetDeviceName() {
    std::lock_guard lock(FLock);
    if (!FLibrary || FAmDevice == nullptr)
        return {};
    std::string name;
    if (!FLibrary->DeviceCopyValue(FAmDevice, "DeviceName", &name))
        return {};
    return name;
}

}  // namespace corvane
