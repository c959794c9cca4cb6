// A mobile device without hardware: a local folder served as the device's file service, with
// notifications on a thread of its own and fault injection for tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "device/MobileDeviceLibrary.h"

namespace corvane {

struct TSimulatedFaults {
    // DeviceStartService fails this many times before it succeeds.
    int ServiceStartFailures = 0;
    // A freshly plugged device has no session: service starts fail until DeviceStartSession.
    bool NeedsSession = false;
    // DeviceConnect fails this many times.
    int ConnectFailures = 0;
    // Reads of files whose device path ends with this text fail (empty = none) ...
    std::string FailReadSuffix;
    // ... once this many bytes of that file were delivered.
    uint64_t FailReadAfterBytes = 0;
    // The device goes away (every call fails, a removal is notified) once this many bytes
    // were read in total; UINT64_MAX = never.
    uint64_t GoneAfterBytes = UINT64_MAX;
};

struct TSimulatedDeviceOptions {
    std::string Root;                        // the folder served as the device's file system
    std::string DeviceName = "Demo iPhone";  // empty = the device has no name value
    bool PluggedAtStart = true;              // notify an attach as soon as notifications start
    // The device is plugged while Root is a folder: its removal unplugs the device, its
    // return plugs it again (looked at every half second while notifications run).
    bool FollowRoot = false;
    TSimulatedFaults Faults;
};

class TSimulatedDeviceControl;

// The simulated library plus a control to plug, unplug and inject faults from tests.
struct TSimulatedDevice {
    std::unique_ptr<IMobileDeviceLibrary> Library;
    std::shared_ptr<TSimulatedDeviceControl> Control;
};

TSimulatedDevice MakeSimulatedDevice(TSimulatedDeviceOptions options);

class TSimulatedDeviceControl {
public:
    virtual ~TSimulatedDeviceControl() = default;
    // Notifies an attach (message 1) on the library's thread.
    virtual void Plug() = 0;
    // The device goes away: later calls fail, a removal is notified.
    virtual void Unplug() = 0;
    // Replaces the faults for later calls.
    virtual void SetFaults(const TSimulatedFaults& faults) = 0;
    // Waits until every queued notification has run.
    virtual void WaitIdle() = 0;
    // Calls counted so far, for tests of the retry scheme.
    virtual int ServiceStarts() const = 0;
    virtual int Connects() const = 0;
    virtual int SessionStarts() const = 0;
    virtual int OpenFiles() const = 0;  // files open right now
    virtual int LastOpenMode() const = 0;
};

}  // namespace corvane
