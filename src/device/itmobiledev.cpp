// The mobile-device library bound at run time: libimobiledevice and libplist are opened with
// dlopen and every entry point is looked up with dlsym. The headers are used for types only, so
// the program starts (and takes its no-library path) on a system without them.
#include "device/itmobiledev.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <libimobiledevice/afc.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <plist/plist.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <usbmuxd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "device/MobileDeviceLibrary.h"
#include "device/itmobiledevHandles.h"

namespace corvane {

namespace mobiledev {

bool ReadSmallFile(const std::string& path, size_t maxBytes, std::string* content) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
              static_cast<uint64_t>(info.st_size) <= maxBytes;
    std::string data;
    if (ok) {
        data.resize(static_cast<size_t>(info.st_size));
        size_t done = 0;
        while (done < data.size()) {
            ssize_t got = read(fd, data.data() + done, data.size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += static_cast<size_t>(got);
        }
        // A file that shrank while being read is taken as it was read.
        data.resize(done);
    }
    close(fd);
    if (ok)
        *content = std::move(data);
    return ok;
}

bool ReplaceFile(const std::string& target, const char* data, size_t size) {
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
    if (folder.empty())
        folder = '/';  // a char: GCC 12 misreads the literal copy (-Wrestrict)
    std::string temp = folder + "/.corvane-plist-XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = true;
    size_t done = 0;
    while (ok && done < size) {
        ssize_t put = write(fd, data + done, size - done);
        if (put < 0 && errno == EINTR)
            continue;
        ok = put > 0;
        if (ok)
            done += static_cast<size_t>(put);
    }
    // mkstemp makes the file private; a replaced file keeps its own permissions.
    struct stat old {};
    mode_t mode = stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    ok = ok && fchmod(fd, mode) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), target.c_str()) == 0;
    if (!ok)
        unlink(temp.c_str());
    return ok;
}

}  // namespace mobiledev

namespace {

// Members carry the entry point's own name so that each call reads like the library's.
// clang-format off
#define CORVANE_DEVICE_ENTRIES(X)                                                           \
    X(idevice_event_subscribe) X(idevice_event_unsubscribe) X(idevice_new) X(idevice_free)  \
    X(lockdownd_client_new) X(lockdownd_client_new_with_handshake) X(lockdownd_client_free) \
    X(lockdownd_validate_pair) X(lockdownd_pair) X(lockdownd_start_service)                 \
    X(lockdownd_service_descriptor_free) X(lockdownd_get_value)                             \
    X(afc_client_new) X(afc_client_free) X(afc_get_file_info) X(afc_dictionary_free)        \
    X(afc_file_open) X(afc_file_read) X(afc_file_seek) X(afc_file_close)                    \
    X(afc_read_directory)

#define CORVANE_PLIST_ENTRIES(X)                                                            \
    X(plist_free) X(plist_get_node_type) X(plist_get_string_val)                            \
    X(plist_to_xml) X(plist_to_xml_free) X(plist_from_bin) X(plist_from_xml)
// clang-format on

#define CORVANE_DECLARE_ENTRY(name) decltype(&::name) name = nullptr;

struct TDlClose {
    void operator()(void* handle) const { dlclose(handle); }
};
using TLibraryHandle = std::unique_ptr<void, TDlClose>;

struct TApi {
    TLibraryHandle DeviceLibrary;
    TLibraryHandle PlistLibrary;
    std::string DeviceLibraryName;  // the name it was found by
    CORVANE_DEVICE_ENTRIES(CORVANE_DECLARE_ENTRY)
    CORVANE_PLIST_ENTRIES(CORVANE_DECLARE_ENTRY)
    // Optional: without them pairing is checked by validation, and plists are told apart by
    // their first bytes.
    decltype(&::usbmuxd_read_pair_record) usbmuxd_read_pair_record = nullptr;
    decltype(&::plist_from_memory) plist_from_memory = nullptr;
};

#undef CORVANE_DECLARE_ENTRY

template <typename F>
bool Bind(void* library, const char* name, F* entry) {
    void* symbol = dlsym(library, name);
    *entry = reinterpret_cast<F>(symbol);
    return symbol != nullptr;
}

TLibraryHandle OpenFirst(const std::vector<std::string>& names, std::string* found = nullptr) {
    for (const std::string& name : names) {
        if (void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            if (found != nullptr)
                *found = name;
            return TLibraryHandle(handle);
        }
    }
    return nullptr;
}

// Frees a library object with the library's own function.
template <auto Entry>
struct TApiFree {
    const TApi* Api = nullptr;
    template <typename P>
    void operator()(P object) const {
        (Api->*Entry)(object);
    }
};
template <typename T, auto Entry>
using TApiPtr = std::unique_ptr<T, TApiFree<Entry>>;

using TDeviceOwner = TApiPtr<idevice_private, &TApi::idevice_free>;
using TLockdownOwner = TApiPtr<lockdownd_client_private, &TApi::lockdownd_client_free>;
using TDescriptorOwner =
    TApiPtr<lockdownd_service_descriptor, &TApi::lockdownd_service_descriptor_free>;
using TAfcOwner = TApiPtr<afc_client_private, &TApi::afc_client_free>;
using TStringsOwner = TApiPtr<char*, &TApi::afc_dictionary_free>;
using TPlistOwner = TApiPtr<void, &TApi::plist_free>;
using TXmlOwner = TApiPtr<char, &TApi::plist_to_xml_free>;

struct TMallocFree {
    void operator()(void* memory) const { std::free(memory); }
};
using TMallocOwner = std::unique_ptr<char, TMallocFree>;

static_assert(kPairingPasscodeLocked == LOCKDOWN_E_PASSWORD_PROTECTED);
static_assert(kPairingDenied == LOCKDOWN_E_USER_DENIED_PAIRING);
static_assert(kPairingPending == LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING);
static_assert(kAfcModeRead == AFC_FOPEN_RDONLY);

constexpr const char* kLabel = "corvane";
constexpr int kRemoved = 2;

// A device reported by the library: what TAmDevice points to.
struct TBoundDevice {
    std::string Udid;
    TDeviceOwner Device;
    std::mutex Mutex;  // lockdown clients are not safe for concurrent use
    TLockdownOwner Lockdown;
};

struct TBoundService {
    std::shared_ptr<TBoundDevice> Device;  // the service's connection needs its idevice_t
    TDescriptorOwner Descriptor;
};

struct TBoundConnection {
    std::unique_ptr<TBoundService> Service;
    TAfcOwner Client;  // declared last: freed before the service it runs over
};

struct TStringList {
    TStringsOwner Items;
    size_t Next = 0;
};

// An attach or removal as the library's thread reported it.
struct TDeviceEvent {
    std::string Udid;
    bool Added = false;
};

// The unix socket of the device multiplexer, as the library finds it; empty when it is
// reached over the network.
std::string MuxSocketPath() {
    const char* address = std::getenv("USBMUXD_SOCKET_ADDRESS");
    if (address == nullptr)
        return "/var/run/usbmuxd";
    if (std::strncmp(address, "UNIX:", 5) == 0)
        return address + 5;
    return {};
}

// Shuts down every connection of this process to the multiplexer, so that library calls
// blocked on a device that stopped answering return at once.
void CutMuxConnections() {
    std::string path = MuxSocketPath();
    if (path.empty() || path.size() >= sizeof(sockaddr_un::sun_path))
        return;
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr)
        return;
    while (dirent* entry = readdir(folder)) {
        char* end = nullptr;
        long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == dirfd(folder))
            continue;
        struct stat info {};
        if (fstat(static_cast<int>(fd), &info) != 0 || !S_ISSOCK(info.st_mode))
            continue;
        sockaddr_un peer{};
        socklen_t length = sizeof peer;
        if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &length) == 0 &&
            peer.sun_family == AF_UNIX && path == peer.sun_path) {
            shutdown(static_cast<int>(fd), SHUT_RDWR);
        }
    }
    closedir(folder);
}

class TBoundLibrary final : public IMobileDeviceLibrary {
public:
    explicit TBoundLibrary(TApi api) : FApi(std::move(api)) {}

    ~TBoundLibrary() override {
        // The library's thread and ours must be gone before the records and handles they use.
        if (FLibrarySubscribed)
            FApi.idevice_event_unsubscribe();
        StopWorker();
    }

    int NotificationSubscribe(TDeviceNotification callback) override {
        std::lock_guard subscribeLock(FSubscribeMutex);
        if (!callback)
            return IDEVICE_E_INVALID_ARG;
        {
            std::lock_guard lock(FCallbackMutex);
            if (FCallback)
                return IDEVICE_E_UNKNOWN_ERROR;
            FCallback = std::move(callback);
        }
        // An unsubscribe asked for from inside a callback is finished here, off that thread.
        if (FLibrarySubscribed) {
            FApi.idevice_event_unsubscribe();
            FLibrarySubscribed = false;
        }
        StopWorker();
        StartWorker();
        // The event machinery keeps process-wide state that the library never frees (its
        // listener list, its thread's bookkeeping): once started, the library stays loaded.
        if (void* pin = dlopen(FApi.DeviceLibraryName.c_str(),
                               RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD | RTLD_NODELETE)) {
            dlclose(pin);
        }
        int result = FApi.idevice_event_subscribe(&TBoundLibrary::OnEvent, this);
        if (result == IDEVICE_E_SUCCESS) {
            FLibrarySubscribed = true;
        } else {
            {
                std::lock_guard lock(FCallbackMutex);
                FCallback = nullptr;
            }
            StopWorker();
        }
        return result;
    }

    int NotificationUnsubscribe() override {
        bool onLibraryThread;
        {
            std::unique_lock lock(FCallbackMutex);
            FCallback = nullptr;
            onLibraryThread = FRunning > 0 && FCallbackThread == std::this_thread::get_id();
        }
        // Both threads are joined on unsubscribe: from inside a callback that cannot work, so
        // it is left to the next subscribe or the destructor.
        int result = IDEVICE_E_SUCCESS;
        if (!onLibraryThread) {
            std::lock_guard subscribeLock(FSubscribeMutex);
            if (FLibrarySubscribed)
                result = FApi.idevice_event_unsubscribe();
            FLibrarySubscribed = false;
            StopWorker();
        }
        return result;
    }

    int DeviceConnect(TAmDevice device) override {
        auto record = FindDevice(device);
        if (!record)
            return IDEVICE_E_NO_DEVICE;
        std::lock_guard lock(record->Mutex);
        if (record->Lockdown)
            return LOCKDOWN_E_SUCCESS;
        lockdownd_client_t client = nullptr;
        int result = FApi.lockdownd_client_new(record->Device.get(), &client, kLabel);
        TLockdownOwner owner(client, {&FApi});
        if (result == LOCKDOWN_E_SUCCESS)
            record->Lockdown = std::move(owner);
        return result;
    }

    int DeviceIsPaired(TAmDevice device) override {
        auto record = FindDevice(device);
        if (!record)
            return IDEVICE_E_NO_DEVICE;
        if (FApi.usbmuxd_read_pair_record) {
            char* data = nullptr;
            uint32_t size = 0;
            int result = FApi.usbmuxd_read_pair_record(record->Udid.c_str(), &data, &size);
            TMallocOwner owner(data);
            return result == 0 && data != nullptr ? 1 : 0;
        }
        std::lock_guard lock(record->Mutex);
        return WithClient(*record,
                          [this](lockdownd_client_t client) {
                              return FApi.lockdownd_validate_pair(client, nullptr);
                          }) == LOCKDOWN_E_SUCCESS
                   ? 1
                   : 0;
    }

    int DeviceValidatePairing(TAmDevice device) override {
        auto record = FindDevice(device);
        if (!record)
            return IDEVICE_E_NO_DEVICE;
        std::lock_guard lock(record->Mutex);
        return WithClient(*record, [this](lockdownd_client_t client) {
            return FApi.lockdownd_validate_pair(client, nullptr);
        });
    }

    int DevicePair(TAmDevice device) override {
        auto record = FindDevice(device);
        if (!record)
            return IDEVICE_E_NO_DEVICE;
        std::lock_guard lock(record->Mutex);
        return WithClient(*record, [this](lockdownd_client_t client) {
            return FApi.lockdownd_pair(client, nullptr);
        });
    }

    int DeviceStartSession(TAmDevice device) override {
        auto record = FindDevice(device);
        if (!record)
            return IDEVICE_E_NO_DEVICE;
        std::lock_guard lock(record->Mutex);
        lockdownd_client_t client = nullptr;
        int result =
            FApi.lockdownd_client_new_with_handshake(record->Device.get(), &client, kLabel);
        TLockdownOwner owner(client, {&FApi});
        if (result == LOCKDOWN_E_SUCCESS)
            record->Lockdown = std::move(owner);
        return result;
    }

    int DeviceStopSession(TAmDevice device) override { return DropClient(device); }
    int DeviceDisconnect(TAmDevice device) override { return DropClient(device); }

    int DeviceStartService(TAmDevice device, const std::string& name,
                           TAfcService* service) override {
        if (service == nullptr)
            return LOCKDOWN_E_INVALID_ARG;
        *service = nullptr;
        if (name != "com.apple.afc" && name != "com.apple.afc2") {
            return LOCKDOWN_E_INVALID_SERVICE;
        }
        auto record = FindDevice(device);
        if (!record)
            return IDEVICE_E_NO_DEVICE;
        std::lock_guard lock(record->Mutex);
        if (!record->Lockdown)
            return LOCKDOWN_E_NO_RUNNING_SESSION;
        lockdownd_service_descriptor_t descriptor = nullptr;
        int result =
            FApi.lockdownd_start_service(record->Lockdown.get(), name.c_str(), &descriptor);
        TDescriptorOwner owner(descriptor, {&FApi});
        if (result != LOCKDOWN_E_SUCCESS)
            return result;
        if (!owner)
            return LOCKDOWN_E_UNKNOWN_ERROR;
        auto bound = std::make_unique<TBoundService>();
        bound->Device = record;
        bound->Descriptor = std::move(owner);
        *service = FServices.Add(std::move(bound));
        return LOCKDOWN_E_SUCCESS;
    }

    bool DeviceCopyValue(TAmDevice device, const std::string& key, std::string* value) override {
        auto record = FindDevice(device);
        if (!record || value == nullptr)
            return false;
        std::lock_guard lock(record->Mutex);
        plist_t node = nullptr;
        int result = WithClient(*record, [&](lockdownd_client_t client) {
            return FApi.lockdownd_get_value(client, nullptr, key.c_str(), &node);
        });
        TPlistOwner owner(node, {&FApi});
        if (result != LOCKDOWN_E_SUCCESS || !owner)
            return false;
        if (FApi.plist_get_node_type(node) != PLIST_STRING)
            return false;
        char* text = nullptr;
        FApi.plist_get_string_val(node, &text);
        TMallocOwner textOwner(text);
        if (text == nullptr)
            return false;
        *value = text;
        return true;
    }

    int AfcConnectionOpen(TAfcService service, unsigned /*timeout*/,
                          TAfcConnection* connection) override {
        if (connection == nullptr)
            return AFC_E_INVALID_ARG;
        *connection = nullptr;
        if (FStopping)
            return AFC_E_MUX_ERROR;
        // Taken so that one service never backs two connections; put back on failure.
        std::unique_ptr<TBoundService> bound = FServices.Take(service);
        if (!bound)
            return AFC_E_INVALID_ARG;
        afc_client_t client = nullptr;
        int result =
            FApi.afc_client_new(bound->Device->Device.get(), bound->Descriptor.get(), &client);
        TAfcOwner owner(client, {&FApi});
        if (result != AFC_E_SUCCESS || !owner) {
            FServices.Add(std::move(bound));
            return result != AFC_E_SUCCESS ? result : AFC_E_UNKNOWN_ERROR;
        }
        auto open = std::make_unique<TBoundConnection>();
        open->Service = std::move(bound);
        open->Client = std::move(owner);
        *connection = FConnections.Add(std::move(open));
        return AFC_E_SUCCESS;
    }

    int AfcConnectionClose(TAfcConnection connection) override {
        return FConnections.Take(connection) ? AFC_E_SUCCESS : AFC_E_INVALID_ARG;
    }

    int AfcFileInfoOpen(TAfcConnection connection, const std::string& path,
                        TAfcDictionary* info) override {
        return OpenList(connection, path, info, FDictionaries, FApi.afc_get_file_info);
    }

    int AfcKeyValueRead(TAfcDictionary info, const char** key, const char** value) override {
        TStringList* list = FDictionaries.Find(info);
        if (list == nullptr || key == nullptr || value == nullptr)
            return AFC_E_INVALID_ARG;
        char** items = list->Items.get();
        // An odd last key has no value and ends the list as well.
        if (items == nullptr || items[list->Next] == nullptr || items[list->Next + 1] == nullptr) {
            *key = nullptr;
            *value = nullptr;
            return AFC_E_SUCCESS;
        }
        *key = items[list->Next];
        *value = items[list->Next + 1];
        list->Next += 2;
        return AFC_E_SUCCESS;
    }

    int AfcKeyValueClose(TAfcDictionary info) override {
        return FDictionaries.Take(info) ? AFC_E_SUCCESS : AFC_E_INVALID_ARG;
    }

    int AfcFileRefOpen(TAfcConnection connection, const std::string& path, int mode,
                       TAfcFileRef* file) override {
        if (file == nullptr)
            return AFC_E_INVALID_ARG;
        *file = 0;
        // Read only, whatever the caller asks: every other mode of the library may create,
        // truncate or write the device's file.
        if (mode != kAfcModeRead)
            return AFC_E_INVALID_ARG;
        TBoundConnection* open = FConnections.Find(connection);
        if (open == nullptr)
            return AFC_E_INVALID_ARG;
        uint64_t handle = 0;
        int result =
            FApi.afc_file_open(open->Client.get(), path.c_str(), AFC_FOPEN_RDONLY, &handle);
        if (result == AFC_E_SUCCESS)
            *file = handle;
        return result;
    }

    int AfcFileRefRead(TAfcConnection connection, TAfcFileRef file, void* buffer,
                       uint32_t* length) override {
        if (length == nullptr)
            return AFC_E_INVALID_ARG;
        uint32_t room = *length;
        *length = 0;
        TBoundConnection* open = FConnections.Find(connection);
        if (open == nullptr || (buffer == nullptr && room > 0))
            return AFC_E_INVALID_ARG;
        uint32_t got = 0;
        int result =
            FApi.afc_file_read(open->Client.get(), file, static_cast<char*>(buffer), room, &got);
        if (result == AFC_E_SUCCESS)
            *length = got;
        return result;
    }

    int AfcFileRefSeek(TAfcConnection connection, TAfcFileRef file, int64_t offset) override {
        TBoundConnection* open = FConnections.Find(connection);
        if (open == nullptr)
            return AFC_E_INVALID_ARG;
        return FApi.afc_file_seek(open->Client.get(), file, offset, SEEK_SET);
    }

    int AfcFileRefClose(TAfcConnection connection, TAfcFileRef file) override {
        TBoundConnection* open = FConnections.Find(connection);
        if (open == nullptr)
            return AFC_E_INVALID_ARG;
        return FApi.afc_file_close(open->Client.get(), file);
    }

    int AfcDirectoryOpen(TAfcConnection connection, const std::string& path,
                         TAfcDirectory* directory) override {
        return OpenList(connection, path, directory, FDirectories, FApi.afc_read_directory);
    }

    int AfcDirectoryRead(TAfcConnection /*connection*/, TAfcDirectory directory,
                         const char** name) override {
        TStringList* list = FDirectories.Find(directory);
        if (list == nullptr || name == nullptr)
            return AFC_E_INVALID_ARG;
        char** items = list->Items.get();
        *name = items == nullptr ? nullptr : items[list->Next];
        if (*name != nullptr)
            ++list->Next;
        return AFC_E_SUCCESS;
    }

    int AfcDirectoryClose(TAfcConnection /*connection*/, TAfcDirectory directory) override {
        return FDirectories.Take(directory) ? AFC_E_SUCCESS : AFC_E_INVALID_ARG;
    }

    bool ConvertPlist(const std::string& source, const std::string& target) override {
        std::string data;
        if (!mobiledev::ReadSmallFile(source, mobiledev::kMaxPlistBytes, &data))
            return false;
        if (data.empty())
            return false;
        auto length = static_cast<uint32_t>(data.size());
        plist_t root = nullptr;
        if (FApi.plist_from_memory)
            FApi.plist_from_memory(data.data(), length, &root);
        if (root == nullptr) {
            if (data.compare(0, 6, "bplist") == 0) {
                FApi.plist_from_bin(data.data(), length, &root);
            } else {
                FApi.plist_from_xml(data.data(), length, &root);
            }
        }
        TPlistOwner owner(root, {&FApi});
        if (!owner)
            return false;
        char* xml = nullptr;
        uint32_t xmlLength = 0;
        FApi.plist_to_xml(root, &xml, &xmlLength);
        TXmlOwner xmlOwner(xml, {&FApi});
        if (xml == nullptr || xmlLength == 0)
            return false;
        return mobiledev::ReplaceFile(target, xml, xmlLength);
    }

private:
    // Runs on the library's thread, which must never wait for the work an event starts:
    // unsubscribing waits for it, and a removal would queue behind a slow attach.
    static void OnEvent(const idevice_event_t* event, void* self) {
        // Files are copied over the cable; a device also seen over the network would
        // otherwise be added and removed twice under one UDID.
        if (event == nullptr || event->udid == nullptr || event->conn_type != CONNECTION_USBMUXD)
            return;
        if (event->event != IDEVICE_DEVICE_ADD && event->event != IDEVICE_DEVICE_REMOVE)
            return;
        auto* library = static_cast<TBoundLibrary*>(self);
        {
            std::lock_guard lock(library->FQueueMutex);
            library->FQueue.push_back({event->udid, event->event == IDEVICE_DEVICE_ADD});
        }
        library->FQueueChanged.notify_all();
    }

    void StartWorker() {
        {
            std::lock_guard lock(FQueueMutex);
            FQueue.clear();
            FWorkerStop = false;
        }
        FStopping = false;
        FWorkerDone = false;
        FWorker = std::thread([this] { Work(); });
    }

    void Work() {
        while (true) {
            TDeviceEvent event;
            {
                std::unique_lock lock(FQueueMutex);
                FQueueChanged.wait(lock, [this] { return FWorkerStop || !FQueue.empty(); });
                if (FWorkerStop)
                    break;
                event = std::move(FQueue.front());
                FQueue.pop_front();
            }
            HandleEvent(event);
        }
        {
            std::lock_guard lock(FQueueMutex);
            FWorkerDone = true;
        }
        FQueueChanged.notify_all();
    }

    void StopWorker() {
        if (!FWorker.joinable())
            return;
        if (FWorker.get_id() == std::this_thread::get_id()) {
            FWorker.detach();  // cannot join itself; it ends at its next look at the queue
            std::lock_guard lock(FQueueMutex);
            FWorkerStop = true;
            return;
        }
        {
            std::lock_guard lock(FQueueMutex);
            FWorkerStop = true;
            FQueue.clear();
        }
        FQueueChanged.notify_all();
        // From now on device calls fail at once (until the next subscribe). An attach in
        // progress may be waiting on a phone that does not answer: after a short grace its
        // connections are cut, so that the program can end.
        FStopping = true;
        auto grace = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
        std::unique_lock lock(FQueueMutex);
        while (!FWorkerDone) {
            if (std::chrono::steady_clock::now() >= grace)
                CutMuxConnections();
            FQueueChanged.wait_for(lock, std::chrono::milliseconds(10));
        }
        lock.unlock();
        FWorker.join();
    }

    void HandleEvent(const TDeviceEvent& event) {
        const std::string& udid = event.Udid;
        if (event.Added) {
            std::shared_ptr<TBoundDevice> record = AddDevice(udid);
            if (record)
                Notify(record.get(), kDeviceConnected);
        } else {
            std::shared_ptr<TBoundDevice> record;
            {
                std::lock_guard lock(FDevicesMutex);
                auto it = FDevices.find(udid);
                if (it == FDevices.end())
                    return;
                record = it->second;
            }
            Notify(record.get(), kRemoved);
            std::lock_guard lock(FDevicesMutex);
            FDevices.erase(udid);
            // Freed here unless a call in flight or a service still holds it.
        }
    }

    std::shared_ptr<TBoundDevice> AddDevice(const std::string& udid) {
        {
            std::lock_guard lock(FDevicesMutex);
            auto it = FDevices.find(udid);
            if (it != FDevices.end())
                return it->second;
        }
        idevice_t device = nullptr;
        int result = FApi.idevice_new(&device, udid.c_str());
        TDeviceOwner owner(device, {&FApi});
        if (result != IDEVICE_E_SUCCESS || !owner)
            return nullptr;
        auto record = std::make_shared<TBoundDevice>();
        record->Udid = udid;
        record->Device = std::move(owner);
        record->Lockdown = TLockdownOwner(nullptr, {&FApi});
        std::lock_guard lock(FDevicesMutex);
        return FDevices.emplace(udid, std::move(record)).first->second;
    }

    void Notify(TAmDevice device, int message) {
        TDeviceNotification callback;
        {
            std::lock_guard lock(FCallbackMutex);
            if (!FCallback)
                return;
            callback = FCallback;
            ++FRunning;
            FCallbackThread = std::this_thread::get_id();
        }
        callback(device, message);
        {
            std::lock_guard lock(FCallbackMutex);
            --FRunning;
        }
    }

    std::shared_ptr<TBoundDevice> FindDevice(TAmDevice device) {
        if (FStopping)
            return nullptr;
        std::lock_guard lock(FDevicesMutex);
        for (const auto& [udid, record] : FDevices) {
            if (record.get() == device)
                return record;
        }
        return nullptr;
    }

    // Runs fn with the device's lockdown client, or a plain temporary one when it has none.
    // The caller holds record.Mutex.
    template <typename F>
    int WithClient(TBoundDevice& record, F fn) {
        if (record.Lockdown)
            return fn(record.Lockdown.get());
        lockdownd_client_t client = nullptr;
        int result = FApi.lockdownd_client_new(record.Device.get(), &client, kLabel);
        TLockdownOwner owner(client, {&FApi});
        if (result != LOCKDOWN_E_SUCCESS)
            return result;
        if (!owner)
            return LOCKDOWN_E_UNKNOWN_ERROR;
        return fn(client);
    }

    int DropClient(TAmDevice device) {
        auto record = FindDevice(device);
        if (!record)
            return IDEVICE_E_NO_DEVICE;
        std::lock_guard lock(record->Mutex);
        record->Lockdown.reset();
        return LOCKDOWN_E_SUCCESS;
    }

    template <typename Read>
    int OpenList(TAfcConnection connection, const std::string& path, void** handle,
                 THandleTable<TStringList>& table, Read read) {
        if (handle == nullptr)
            return AFC_E_INVALID_ARG;
        *handle = nullptr;
        TBoundConnection* open = FConnections.Find(connection);
        if (open == nullptr)
            return AFC_E_INVALID_ARG;
        char** items = nullptr;
        int result = read(open->Client.get(), path.c_str(), &items);
        auto list = std::make_unique<TStringList>();
        list->Items = TStringsOwner(items, {&FApi});
        if (result != AFC_E_SUCCESS)
            return result;
        *handle = table.Add(std::move(list));
        return AFC_E_SUCCESS;
    }

    // Declared first so that it outlives every object below that frees through it.
    const TApi FApi;

    std::mutex FSubscribeMutex;  // orders subscribe and unsubscribe calls
    bool FLibrarySubscribed = false;

    std::mutex FCallbackMutex;
    TDeviceNotification FCallback;
    int FRunning = 0;
    std::thread::id FCallbackThread;

    std::mutex FDevicesMutex;
    std::map<std::string, std::shared_ptr<TBoundDevice>> FDevices;

    // Events are handled on a thread of ours, in the order the library reported them.
    std::mutex FQueueMutex;
    std::condition_variable FQueueChanged;
    std::deque<TDeviceEvent> FQueue;
    bool FWorkerStop = false;
    std::atomic<bool> FWorkerDone{true};
    std::atomic<bool> FStopping{false};  // device calls fail at once while the worker stops
    std::thread FWorker;

    THandleTable<TBoundService> FServices;
    THandleTable<TBoundConnection> FConnections;
    THandleTable<TStringList> FDictionaries;
    THandleTable<TStringList> FDirectories;
};

std::unique_ptr<IMobileDeviceLibrary> Load(const std::vector<std::string>& deviceNames,
                                           const std::vector<std::string>& plistNames) {
    TApi api;
    api.DeviceLibrary = OpenFirst(deviceNames, &api.DeviceLibraryName);
    api.PlistLibrary = OpenFirst(plistNames);
    // Returning early releases whichever library was found.
    if (!api.DeviceLibrary || !api.PlistLibrary)
        return nullptr;
    void* device = api.DeviceLibrary.get();
    void* plist = api.PlistLibrary.get();
    bool bound = true;
#define CORVANE_BIND_DEVICE(name) bound = Bind(device, #name, &api.name) && bound;
#define CORVANE_BIND_PLIST(name) bound = Bind(plist, #name, &api.name) && bound;
    CORVANE_DEVICE_ENTRIES(CORVANE_BIND_DEVICE)
    CORVANE_PLIST_ENTRIES(CORVANE_BIND_PLIST)
#undef CORVANE_BIND_DEVICE
#undef CORVANE_BIND_PLIST
    if (!bound)
        return nullptr;
    // Found through the device library's own dependencies (libusbmuxd).
    Bind(device, "usbmuxd_read_pair_record", &api.usbmuxd_read_pair_record);
    Bind(plist, "plist_from_memory", &api.plist_from_memory);
    return std::make_unique<TBoundLibrary>(std::move(api));
}

}  // namespace

std::unique_ptr<IMobileDeviceLibrary> LoadMobileDevice() {
    return Load({"libimobiledevice-1.0.so.6", "libimobiledevice-1.0.so"},
                {"libplist-2.0.so.3", "libplist-2.0.so"});
}

std::unique_ptr<IMobileDeviceLibrary> LoadMobileDevice(const std::string& deviceLibrary,
                                                       const std::string& plistLibrary) {
    return Load({deviceLibrary}, {plistLibrary});
}

}  // namespace corvane
