// The simulated mobile device: a local folder served through the library's calls. Paths are
// resolved component by component without following symlinks, so nothing outside the folder is
// ever reached, and files are opened read-only whatever mode the caller asks for.
//
// Directory reads list "." and "..", then the entries sorted by name (byte order), so that
// tests see the same order on every file system.
//
// Property lists are converted by the platform library when it loads; without it an XML
// property list is copied as it is and a binary one cannot be converted (false).
//
// While the device is gone every call fails with -3; closing still releases the object. What
// was opened before an unplug stays dead after the next plug. GoneAfterBytes counts the bytes
// read since the last plug or SetFaults; FailReadAfterBytes counts per open file.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "device/SimulatedPlist.h"
#include "device/SimulatedState.h"
#include "device/itmobiledev.h"

namespace corvane {

namespace {

// File-service calls answer with the file service's codes.
constexpr int kAfcReadError = 4;
constexpr int kAfcInvalidArg = 7;
constexpr int kAfcNotFound = 8;
constexpr int kAfcIsDirectory = 9;
constexpr int kAfcPermDenied = 10;

class TFd {
public:
    explicit TFd(int fd = -1) : FFd(fd) {}
    TFd(TFd&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
    TFd& operator=(TFd&& other) noexcept {
        if (this != &other) {
            Reset();
            FFd = std::exchange(other.FFd, -1);
        }
        return *this;
    }
    ~TFd() { Reset(); }
    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    int Release() { return std::exchange(FFd, -1); }

private:
    void Reset() {
        if (FFd >= 0)
            close(FFd);
        FFd = -1;
    }
    int FFd;
};

struct TDirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// Every object handed out remembers the plug it belongs to: after an unplug it stays dead even
// when the device comes back, as on the real device.
struct TSimObject {
    uint64_t Plug = 0;
};
struct TSimService : TSimObject {};
struct TSimConnection : TSimObject {};
struct TSimDictionary : TSimObject {
    std::vector<std::pair<std::string, std::string>> Pairs;
    size_t Next = 0;
};
struct TSimDirectory : TSimObject {
    std::vector<std::string> Names;
    size_t Next = 0;
};
struct TSimFile : TSimObject {
    TAfcConnection Connection = nullptr;
    std::string Path;
    TFd Fd;
    uint64_t Delivered = 0;
};

template <typename T>
using THandleMap = std::unordered_map<const void*, std::unique_ptr<T>>;

template <typename T>
T* FindIn(const THandleMap<T>& map, const void* handle) {
    auto it = map.find(handle);
    return it == map.end() ? nullptr : it->second.get();
}

template <typename T>
void* AddTo(THandleMap<T>& map, std::unique_ptr<T> item) {
    void* handle = item.get();
    map.emplace(handle, std::move(item));
    return handle;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool LooksLikeXml(const std::string& data) {
    size_t at = data.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (at < data.size() &&
           (data[at] == ' ' || data[at] == '\t' || data[at] == '\r' || data[at] == '\n')) {
        ++at;
    }
    return data.compare(at, 5, "<?xml") == 0 || data.compare(at, 6, "<plist") == 0 ||
           data.compare(at, 9, "<!DOCTYPE") == 0;
}

const char* FileTypeName(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFREG:
            return "S_IFREG";
        case S_IFDIR:
            return "S_IFDIR";
        case S_IFLNK:
            return "S_IFLNK";
        case S_IFIFO:
            return "S_IFIFO";
        case S_IFCHR:
            return "S_IFCHR";
        case S_IFBLK:
            return "S_IFBLK";
        case S_IFSOCK:
            return "S_IFSOCK";
        default:
            return "S_IFUNKNOWN";
    }
}

int AfcCodeOf(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return kAfcNotFound;
        case EISDIR:
            return kAfcIsDirectory;
        case ELOOP:
        case EACCES:
        case EPERM:
            return kAfcPermDenied;
        default:
            return kAfcReadError;
    }
}

}  // namespace

// The library's calls over the state: handles, files and directories of the served folder.
class TSimulatedLibrary final : public IMobileDeviceLibrary {
public:
    TSimulatedLibrary(std::shared_ptr<TSimulatedState> state, TSimulatedDeviceOptions options,
                      TPlistConverterLoader loader)
        : FState(std::move(state)),
          FRoot(std::move(options.Root)),
          FDeviceName(std::move(options.DeviceName)),
          FLoader(std::move(loader)) {}

    ~TSimulatedLibrary() override {
        FState->Unsubscribe();
        std::lock_guard lock(FState->FMutex);
        FState->FOpenFiles = 0;
    }

    int NotificationSubscribe(TDeviceNotification callback) override {
        return FState->Subscribe(std::move(callback));
    }
    int NotificationUnsubscribe() override { return FState->Unsubscribe(); }

    int DeviceConnect(TAmDevice device) override {
        auto lock = Lock();
        if (device != FState->Device())
            return kSimInvalid;
        ++FState->FConnects;
        if (!FState->FPlugged)
            return kSimNoDevice;
        if (FState->FFaults.ConnectFailures > 0) {
            --FState->FFaults.ConnectFailures;
            return kSimRefused;
        }
        FState->FConnected = true;
        return 0;
    }

    int DeviceIsPaired(TAmDevice device) override {
        int result = CheckDevice(device);
        return result == 0 ? 1 : result;
    }

    int DeviceValidatePairing(TAmDevice device) override { return CheckDevice(device); }
    int DevicePair(TAmDevice device) override { return CheckDevice(device); }

    int DeviceStartSession(TAmDevice device) override {
        auto lock = Lock();
        if (device != FState->Device())
            return kSimInvalid;
        ++FState->FSessionStarts;
        if (!FState->FPlugged)
            return kSimNoDevice;
        if (!FState->FConnected)
            return kSimRefused;
        FState->FSession = true;
        return 0;
    }

    int DeviceStopSession(TAmDevice device) override {
        auto lock = Lock();
        if (device != FState->Device())
            return kSimInvalid;
        if (!FState->FPlugged)
            return kSimNoDevice;
        FState->FSession = false;
        return 0;
    }

    int DeviceDisconnect(TAmDevice device) override {
        auto lock = Lock();
        if (device != FState->Device())
            return kSimInvalid;
        if (!FState->FPlugged)
            return kSimNoDevice;
        FState->FConnected = false;
        FState->FSession = false;
        return 0;
    }

    int DeviceStartService(TAmDevice device, const std::string& name,
                           TAfcService* service) override {
        if (service == nullptr)
            return kSimInvalid;
        *service = nullptr;
        auto lock = Lock();
        if (device != FState->Device())
            return kSimInvalid;
        ++FState->FServiceStarts;
        if (!FState->FPlugged)
            return kSimNoDevice;
        TSimulatedFaults& faults = FState->FFaults;
        if (faults.ServiceStartFailures > 0) {
            --faults.ServiceStartFailures;
            return kSimRefused;
        }
        if (faults.NeedsSession && !FState->FSession)
            return kSimRefused;
        if (name != "com.apple.afc" && name != "com.apple.afc2")
            return kSimRefused;
        auto started = std::make_unique<TSimService>();
        started->Plug = FState->FPlug;
        *service = AddTo(FServices, std::move(started));
        return 0;
    }

    bool DeviceCopyValue(TAmDevice device, const std::string& key, std::string* value) override {
        if (value == nullptr || CheckDevice(device) != 0)
            return false;
        if (key != "DeviceName" || FDeviceName.empty())
            return false;
        *value = FDeviceName;
        return true;
    }

    int AfcConnectionOpen(TAfcService service, unsigned /*timeout*/,
                          TAfcConnection* connection) override {
        if (connection == nullptr)
            return kAfcInvalidArg;
        *connection = nullptr;
        auto lock = Lock();
        TSimService* started = FindIn(FServices, service);
        if (started == nullptr)
            return kAfcInvalidArg;
        if (!FState->LiveLocked(started->Plug))
            return kSimNoDevice;
        auto open = std::make_unique<TSimConnection>();
        open->Plug = started->Plug;
        FServices.erase(service);  // the connection now stands for the service
        *connection = AddTo(FConnections, std::move(open));
        return 0;
    }

    int AfcConnectionClose(TAfcConnection connection) override {
        auto lock = Lock();
        auto it = FConnections.find(connection);
        if (it == FConnections.end())
            return kAfcInvalidArg;
        bool live = FState->LiveLocked(it->second->Plug);
        FConnections.erase(it);
        // Closing the connection closes its files, as the device does.
        std::erase_if(FFiles,
                      [&](const auto& entry) { return entry.second->Connection == connection; });
        FState->FOpenFiles = static_cast<int>(FFiles.size());
        return live ? 0 : kSimNoDevice;
    }

    int AfcFileInfoOpen(TAfcConnection connection, const std::string& path,
                        TAfcDictionary* info) override {
        if (info == nullptr)
            return kAfcInvalidArg;
        *info = nullptr;
        auto lock = Lock();
        int result = CheckConnection(connection);
        if (result != 0)
            return result;
        TFd folder;
        std::string name;
        result = Walk(path, &folder, &name);
        if (result != 0)
            return result;
        struct statx item {};
        int flags = AT_SYMLINK_NOFOLLOW | (name.empty() ? AT_EMPTY_PATH : 0);
        if (statx(folder.Get(), name.c_str(), flags, STATX_BASIC_STATS | STATX_BTIME, &item) != 0) {
            return AfcCodeOf(errno);
        }
        auto dictionary = std::make_unique<TSimDictionary>();
        dictionary->Plug = FState->FPlug;
        auto nanoseconds = [](const statx_timestamp& time) {
            return std::to_string(static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec);
        };
        auto& pairs = dictionary->Pairs;
        pairs.emplace_back("st_size", std::to_string(item.stx_size));
        pairs.emplace_back("st_blocks", std::to_string(item.stx_blocks));
        pairs.emplace_back("st_nlink", std::to_string(item.stx_nlink));
        pairs.emplace_back("st_ifmt", FileTypeName(item.stx_mode));
        pairs.emplace_back("st_mtime", nanoseconds(item.stx_mtime));
        // Not every Linux file system keeps a birth time; the modification time stands in.
        pairs.emplace_back(
            "st_birthtime",
            nanoseconds((item.stx_mask & STATX_BTIME) ? item.stx_btime : item.stx_mtime));
        if (S_ISLNK(item.stx_mode)) {
            std::string target(4096, '\0');
            ssize_t length = readlinkat(folder.Get(), name.c_str(), target.data(), target.size());
            if (length >= 0) {
                target.resize(static_cast<size_t>(length));
                pairs.emplace_back("LinkTarget", target);
            }
        }
        *info = AddTo(FDictionaries, std::move(dictionary));
        return 0;
    }

    int AfcKeyValueRead(TAfcDictionary info, const char** key, const char** value) override {
        auto lock = Lock();
        TSimDictionary* dictionary = FindIn(FDictionaries, info);
        if (dictionary == nullptr || key == nullptr || value == nullptr)
            return kAfcInvalidArg;
        *key = nullptr;
        *value = nullptr;
        if (!FState->LiveLocked(dictionary->Plug))
            return kSimNoDevice;
        if (dictionary->Next < dictionary->Pairs.size()) {
            const auto& [itemKey, itemValue] = dictionary->Pairs[dictionary->Next++];
            *key = itemKey.c_str();
            *value = itemValue.c_str();
        }
        return 0;
    }

    int AfcKeyValueClose(TAfcDictionary info) override {
        auto lock = Lock();
        return Close(FDictionaries, info);
    }

    int AfcFileRefOpen(TAfcConnection connection, const std::string& path, int mode,
                       TAfcFileRef* file) override {
        if (file == nullptr)
            return kAfcInvalidArg;
        *file = 0;
        if (mode != kAfcModeRead)
            return kAfcInvalidArg;
        auto lock = Lock();
        int result = CheckConnection(connection);
        if (result != 0)
            return result;
        FState->FLastOpenMode = mode;
        TFd folder;
        std::string name;
        result = Walk(path, &folder, &name);
        if (result != 0)
            return result;
        if (name.empty())
            return kAfcIsDirectory;
        struct stat item {};
        if (fstatat(folder.Get(), name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) {
            return AfcCodeOf(errno);
        }
        if (S_ISDIR(item.st_mode))
            return kAfcIsDirectory;
        // Links are never followed; pipes and devices could block or change state.
        if (!S_ISREG(item.st_mode))
            return kAfcPermDenied;
        // Read-only whatever the mode: the device is never written.
        TFd fd(openat(folder.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!fd.Valid())
            return AfcCodeOf(errno);
        if (fstat(fd.Get(), &item) != 0 || !S_ISREG(item.st_mode))
            return kAfcPermDenied;
        auto opened = std::make_unique<TSimFile>();
        opened->Plug = FState->FPlug;
        opened->Connection = connection;
        opened->Path = path;
        opened->Fd = std::move(fd);
        *file = FNextFile++;
        FFiles.emplace(*file, std::move(opened));
        FState->FOpenFiles = static_cast<int>(FFiles.size());
        return 0;
    }

    int AfcFileRefRead(TAfcConnection connection, TAfcFileRef file, void* buffer,
                       uint32_t* length) override {
        if (length == nullptr)
            return kAfcInvalidArg;
        uint64_t allowed = *length;
        *length = 0;
        if (buffer == nullptr && allowed > 0)
            return kAfcInvalidArg;
        auto lock = Lock();
        TSimFile* opened = FindFile(connection, file);
        if (opened == nullptr)
            return kAfcInvalidArg;
        if (!FState->LiveLocked(opened->Plug))
            return kSimNoDevice;
        const TSimulatedFaults& faults = FState->FFaults;
        if (!faults.FailReadSuffix.empty() && EndsWith(opened->Path, faults.FailReadSuffix)) {
            if (opened->Delivered >= faults.FailReadAfterBytes)
                return kAfcReadError;
            allowed = std::min(allowed, faults.FailReadAfterBytes - opened->Delivered);
        }
        bool goneLimit = faults.GoneAfterBytes != UINT64_MAX;
        if (goneLimit) {
            if (FState->FBytesRead >= faults.GoneAfterBytes) {
                FState->GoAwayLocked();
                return kSimNoDevice;
            }
            allowed = std::min(allowed, faults.GoneAfterBytes - FState->FBytesRead);
        }
        auto* out = static_cast<char*>(buffer);
        uint64_t done = 0;
        while (done < allowed) {
            ssize_t got = read(opened->Fd.Get(), out + done, allowed - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return kAfcReadError;
            if (got == 0)
                break;
            done += static_cast<uint64_t>(got);
        }
        opened->Delivered += done;
        FState->FBytesRead += done;
        *length = static_cast<uint32_t>(done);
        if (goneLimit && FState->FBytesRead >= faults.GoneAfterBytes)
            FState->GoAwayLocked();
        return 0;
    }

    int AfcFileRefSeek(TAfcConnection connection, TAfcFileRef file, int64_t offset) override {
        auto lock = Lock();
        TSimFile* opened = FindFile(connection, file);
        if (opened == nullptr || offset < 0)
            return kAfcInvalidArg;
        if (!FState->LiveLocked(opened->Plug))
            return kSimNoDevice;
        // Past the end is allowed: the next read delivers nothing.
        if (lseek(opened->Fd.Get(), static_cast<off_t>(offset), SEEK_SET) < 0) {
            return kAfcInvalidArg;
        }
        return 0;
    }

    int AfcFileRefClose(TAfcConnection connection, TAfcFileRef file) override {
        auto lock = Lock();
        TSimFile* opened = FindFile(connection, file);
        if (opened == nullptr)
            return kAfcInvalidArg;
        bool live = FState->LiveLocked(opened->Plug);
        FFiles.erase(file);
        FState->FOpenFiles = static_cast<int>(FFiles.size());
        return live ? 0 : kSimNoDevice;
    }

    int AfcDirectoryOpen(TAfcConnection connection, const std::string& path,
                         TAfcDirectory* directory) override {
        if (directory == nullptr)
            return kAfcInvalidArg;
        *directory = nullptr;
        auto lock = Lock();
        int result = CheckConnection(connection);
        if (result != 0)
            return result;
        TFd folder;
        std::string name;
        result = Walk(path, &folder, &name);
        if (result != 0)
            return result;
        const char* target = name.empty() ? "." : name.c_str();
        struct stat item {};
        if (fstatat(folder.Get(), target, &item, AT_SYMLINK_NOFOLLOW) != 0) {
            return AfcCodeOf(errno);
        }
        if (S_ISLNK(item.st_mode))
            return kAfcPermDenied;
        if (!S_ISDIR(item.st_mode))
            return kAfcInvalidArg;
        TFd fd(openat(folder.Get(), target, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd.Valid())
            return AfcCodeOf(errno);
        std::unique_ptr<DIR, TDirCloser> reader(fdopendir(fd.Get()));
        if (!reader)
            return AfcCodeOf(errno);
        fd.Release();  // now owned by the reader
        auto listing = std::make_unique<TSimDirectory>();
        listing->Plug = FState->FPlug;
        errno = 0;
        while (const dirent* entry = readdir(reader.get())) {
            std::string entryName = entry->d_name;
            if (entryName != "." && entryName != "..")
                listing->Names.push_back(entryName);
        }
        if (errno != 0)
            return kAfcReadError;
        std::sort(listing->Names.begin(), listing->Names.end());
        listing->Names.insert(listing->Names.begin(), {".", ".."});
        *directory = AddTo(FDirectories, std::move(listing));
        return 0;
    }

    int AfcDirectoryRead(TAfcConnection /*connection*/, TAfcDirectory directory,
                         const char** name) override {
        auto lock = Lock();
        TSimDirectory* listing = FindIn(FDirectories, directory);
        if (listing == nullptr || name == nullptr)
            return kAfcInvalidArg;
        *name = nullptr;
        if (!FState->LiveLocked(listing->Plug))
            return kSimNoDevice;
        if (listing->Next < listing->Names.size())
            *name = listing->Names[listing->Next++].c_str();
        return 0;
    }

    int AfcDirectoryClose(TAfcConnection /*connection*/, TAfcDirectory directory) override {
        auto lock = Lock();
        return Close(FDirectories, directory);
    }

    bool ConvertPlist(const std::string& source, const std::string& target) override {
        if (IMobileDeviceLibrary* converter = Converter()) {
            return converter->ConvertPlist(source, target);
        }
        std::string data;
        if (!mobiledev::ReadSmallFile(source, mobiledev::kMaxPlistBytes, &data))
            return false;
        if (!LooksLikeXml(data))
            return false;
        if (source == target)
            return true;
        return mobiledev::ReplaceFile(target, data.data(), data.size());
    }

private:
    std::unique_lock<std::mutex> Lock() { return std::unique_lock(FState->FMutex); }

    int CheckDevice(TAmDevice device) {
        auto lock = Lock();
        if (device != FState->Device())
            return kSimInvalid;
        return FState->FPlugged ? 0 : kSimNoDevice;
    }

    // Caller holds the lock.
    int CheckConnection(TAfcConnection connection) {
        TSimConnection* open = FindIn(FConnections, connection);
        if (open == nullptr)
            return kAfcInvalidArg;
        return FState->LiveLocked(open->Plug) ? 0 : kSimNoDevice;
    }

    TSimFile* FindFile(TAfcConnection connection, TAfcFileRef file) {
        auto it = FFiles.find(file);
        if (it == FFiles.end() || it->second->Connection != connection)
            return nullptr;
        return it->second.get();
    }

    template <typename T>
    int Close(THandleMap<T>& map, const void* handle) {
        auto it = map.find(handle);
        if (it == map.end())
            return kAfcInvalidArg;
        bool live = FState->LiveLocked(it->second->Plug);
        map.erase(it);
        return live ? 0 : kSimNoDevice;
    }

    // Opens the folder that holds the path's last component and gives that component's name
    // ("" for the root). Every step is checked without following links, so neither ".." nor a
    // link can lead outside the root. Caller holds the lock.
    int Walk(const std::string& path, TFd* folder, std::string* name) const {
        if (path.find('\0') != std::string::npos)
            return kAfcInvalidArg;
        std::vector<std::string> parts;
        size_t start = 0;
        while (start <= path.size()) {
            size_t end = std::min(path.find('/', start), path.size());
            std::string part = path.substr(start, end - start);
            if (part == "..")
                return kAfcPermDenied;
            if (!part.empty() && part != ".")
                parts.push_back(std::move(part));
            start = end + 1;
        }
        TFd current(open(FRoot.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!current.Valid())
            return kAfcNotFound;
        for (size_t i = 0; i + 1 < parts.size(); ++i) {
            struct stat item {};
            if (fstatat(current.Get(), parts[i].c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) {
                return AfcCodeOf(errno);
            }
            if (S_ISLNK(item.st_mode))
                return kAfcPermDenied;
            if (!S_ISDIR(item.st_mode))
                return kAfcNotFound;
            TFd next(openat(current.Get(), parts[i].c_str(),
                            O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!next.Valid())
                return AfcCodeOf(errno);
            current = std::move(next);
        }
        *name = parts.empty() ? std::string() : parts.back();
        *folder = std::move(current);
        return 0;
    }

    IMobileDeviceLibrary* Converter() {
        std::call_once(FConverterOnce, [this] {
            if (FLoader)
                FConverter = FLoader();
        });
        return FConverter.get();
    }

    std::shared_ptr<TSimulatedState> FState;
    const std::string FRoot;
    const std::string FDeviceName;
    TPlistConverterLoader FLoader;
    std::once_flag FConverterOnce;
    std::unique_ptr<IMobileDeviceLibrary> FConverter;

    // Guarded by FState->FMutex.
    THandleMap<TSimService> FServices;
    THandleMap<TSimConnection> FConnections;
    THandleMap<TSimDictionary> FDictionaries;
    THandleMap<TSimDirectory> FDirectories;
    std::map<TAfcFileRef, std::unique_ptr<TSimFile>> FFiles;
    TAfcFileRef FNextFile = 1;
};

TSimulatedDevice MakeSimulatedDevice(TSimulatedDeviceOptions options,
                                     TPlistConverterLoader loader) {
    auto state = std::make_shared<TSimulatedState>(options);
    TSimulatedDevice device;
    device.Library =
        std::make_unique<TSimulatedLibrary>(state, std::move(options), std::move(loader));
    device.Control = std::move(state);
    return device;
}

TSimulatedDevice MakeSimulatedDevice(TSimulatedDeviceOptions options) {
    return MakeSimulatedDevice(std::move(options), [] { return LoadMobileDevice(); });
}

}  // namespace corvane
