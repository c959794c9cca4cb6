// The program's side of the phone copy benchmark: one file copied by the file service over
// the bound platform library, as an export copies a track.
// usage: corvane_mobile_copy DEVICE_PATH LOCAL_FILE
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "device/IosHelper.h"

int main(int argc, char** argv) {
    using namespace corvane;
    if (argc != 3) {
        std::fprintf(stderr, "usage: corvane_mobile_copy DEVICE_PATH LOCAL_FILE\n");
        return 2;
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool attached = false;
    TIosHelper service(
        [&](TIosHelper&, bool now) {
            std::lock_guard lock(mutex);
            attached = now;
            changed.notify_all();
        },
        LoadMobileDevice());
    if (!service.StartNotify()) {
        std::fprintf(stderr, "no mobile-device library\n");
        return 1;
    }
    {
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, std::chrono::seconds(20), [&] { return attached; })) {
            std::fprintf(stderr, "no device\n");
            return 1;
        }
    }
    if (!service.CopyToFile(argv[1], argv[2])) {
        std::fprintf(stderr, "copy failed: %d\n", service.LastError());
        return 1;
    }
    return 0;
}
