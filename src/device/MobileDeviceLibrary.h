// The mobile-device library as the file service sees it: one call per bound entry point.
// Two implementations: the platform library bound at run time (itmobiledev) and the simulated
// device that serves a local folder (SimulatedDevice). Results are the library's codes,
// 0 = success.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace corvane {

using TAmDevice = void*;       // a device reported by the notification; none = nullptr
using TAfcService = void*;     // a started service
using TAfcConnection = void*;  // an open file-service connection
using TAfcDictionary = void*;  // an open file-information list
using TAfcDirectory = void*;   // an open directory read
using TAfcFileRef = uint64_t;  // an open file, 0 = none

constexpr int kDeviceConnected = 1;  // notification message; any other = gone

// The only open mode there is: nothing is ever written to a device, so no other mode can be
// asked for (implementations refuse any other value).
constexpr int kAfcModeRead = 1;

// Answers to DevicePair (and to a session start) while the device does not trust this
// computer yet.
constexpr int kPairingPasscodeLocked = -17;
constexpr int kPairingDenied = -18;
constexpr int kPairingPending = -19;

// Runs on a thread of the library's own.
using TDeviceNotification = std::function<void(TAmDevice device, int message)>;

class IMobileDeviceLibrary {
public:
    virtual ~IMobileDeviceLibrary() = default;

    // Notifications start on the library's thread; at most one subscription.
    virtual int NotificationSubscribe(TDeviceNotification callback) = 0;
    // No notification runs once this returns.
    virtual int NotificationUnsubscribe() = 0;

    virtual int DeviceConnect(TAmDevice device) = 0;
    virtual int DeviceIsPaired(TAmDevice device) = 0;  // 1 = paired
    virtual int DeviceValidatePairing(TAmDevice device) = 0;
    // Asks the device to trust this computer; on a phone that puts up its trust dialog, and
    // the answer is pending until the user taps Trust (kPairing* codes).
    virtual int DevicePair(TAmDevice device) = 0;
    virtual int DeviceStartSession(TAmDevice device) = 0;
    virtual int DeviceStopSession(TAmDevice device) = 0;
    virtual int DeviceDisconnect(TAmDevice device) = 0;
    virtual int DeviceStartService(TAmDevice device, const std::string& name,
                                   TAfcService* service) = 0;
    // A string value of the device ("DeviceName"); false when absent or not convertible.
    virtual bool DeviceCopyValue(TAmDevice device, const std::string& key, std::string* value) = 0;

    virtual int AfcConnectionOpen(TAfcService service, unsigned timeout,
                                  TAfcConnection* connection) = 0;
    virtual int AfcConnectionClose(TAfcConnection connection) = 0;

    // File information: key/value pairs ("st_ifmt" = "S_IFREG"/"S_IFDIR"/..., "st_size").
    virtual int AfcFileInfoOpen(TAfcConnection connection, const std::string& path,
                                TAfcDictionary* info) = 0;
    // *key and *value stay valid until the next read or the close; null key at the end.
    virtual int AfcKeyValueRead(TAfcDictionary info, const char** key, const char** value) = 0;
    virtual int AfcKeyValueClose(TAfcDictionary info) = 0;

    virtual int AfcFileRefOpen(TAfcConnection connection, const std::string& path, int mode,
                               TAfcFileRef* file) = 0;
    // *length in: room in buffer; out: bytes delivered (0 at the end of the file).
    virtual int AfcFileRefRead(TAfcConnection connection, TAfcFileRef file, void* buffer,
                               uint32_t* length) = 0;
    virtual int AfcFileRefSeek(TAfcConnection connection, TAfcFileRef file, int64_t offset) = 0;
    virtual int AfcFileRefClose(TAfcConnection connection, TAfcFileRef file) = 0;

    // Directory reads give every name, "." and ".." included; null name at the end.
    virtual int AfcDirectoryOpen(TAfcConnection connection, const std::string& path,
                                 TAfcDirectory* directory) = 0;
    virtual int AfcDirectoryRead(TAfcConnection connection, TAfcDirectory directory,
                                 const char** name) = 0;
    virtual int AfcDirectoryClose(TAfcConnection connection, TAfcDirectory directory) = 0;

    // Rewrites a property list (binary or XML) as an XML property list; Src may equal Dst.
    virtual bool ConvertPlist(const std::string& source, const std::string& target) = 0;
};

// Locates and binds the platform library; nothing when a library or entry point is missing
// (both are released then, and a later call starts afresh).
std::unique_ptr<IMobileDeviceLibrary> LoadMobileDevice();
// The same with exactly these two library names for dlopen (tests make them unfindable).
std::unique_ptr<IMobileDeviceLibrary> LoadMobileDevice(const std::string& deviceLibrary,
                                                       const std::string& plistLibrary);

}  // namespace corvane
