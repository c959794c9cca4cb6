// The simulated device's state: plugged or gone, sessions, counters, faults and the thread that
// delivers notifications. Shared by the simulated library and the control handed to tests, which
// may outlive the library; the library works on it under its mutex.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "device/MobileDeviceLibrary.h"
#include "device/SimulatedDevice.h"

namespace corvane {

// Device calls answer like the platform library: negative codes.
inline constexpr int kSimInvalid = -1;   // bad argument or handle
inline constexpr int kSimRefused = -2;   // injected fault, no session, unknown service
inline constexpr int kSimNoDevice = -3;  // the device is gone

class TSimulatedState final : public TSimulatedDeviceControl,
                              public std::enable_shared_from_this<TSimulatedState> {
public:
    explicit TSimulatedState(const TSimulatedDeviceOptions& options)
        : FFaults(options.Faults),
          FPlugged(options.PluggedAtStart),
          FFollowedRoot(options.FollowRoot ? options.Root : std::string()) {}
    ~TSimulatedState() override;

    void Plug() override;
    void Unplug() override;
    void SetFaults(const TSimulatedFaults& faults) override;
    void WaitIdle() override;

    int ServiceStarts() const override { return Read(FServiceStarts); }
    int Connects() const override { return Read(FConnects); }
    int SessionStarts() const override { return Read(FSessionStarts); }
    int OpenFiles() const override { return Read(FOpenFiles); }
    int LastOpenMode() const override { return Read(FLastOpenMode); }

    TAmDevice Device() { return this; }

    int Subscribe(TDeviceNotification callback);
    int Unsubscribe();

private:
    friend class TSimulatedLibrary;

    template <typename T>
    T Read(const T& field) const {
        std::lock_guard lock(FMutex);
        return field;
    }

    static void JoinUnlessSelf(std::thread worker);
    void Run(uint64_t epoch);
    void QueueLocked(int message);
    void GoAwayLocked();
    void PlugLocked();
    // Plugs or unplugs as the followed root folder is there or not.
    void FollowRootLocked();
    bool LiveLocked(uint64_t plug) const { return FPlugged && plug == FPlug; }

    mutable std::mutex FMutex;
    TSimulatedFaults FFaults;
    bool FPlugged;
    std::string FFollowedRoot;  // empty: plugged and unplugged by the control alone
    uint64_t FPlug = 1;
    bool FConnected = false;
    bool FSession = false;
    uint64_t FBytesRead = 0;  // toward GoneAfterBytes

    int FServiceStarts = 0;
    int FConnects = 0;
    int FSessionStarts = 0;
    int FOpenFiles = 0;
    int FLastOpenMode = 0;

    std::condition_variable FWake;
    std::condition_variable FIdle;
    std::deque<int> FQueue;
    TDeviceNotification FCallback;
    bool FSubscribed = false;
    uint64_t FEpoch = 0;
    int FRunning = 0;
    std::thread FWorker;
};

}  // namespace corvane
