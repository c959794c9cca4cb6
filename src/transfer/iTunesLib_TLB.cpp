#include "transfer/iTunesLib_TLB.h"

#include <chrono>
#include <thread>

namespace corvane::itunes {

const char* const kNoAutomationBackend =
    "No media-library automation backend is available on this system";

std::shared_ptr<IiTunes> CreateITunesApp() {
    throw EITunesError(kNoAutomationBackend);
}

void WaitMs(int milliseconds) {
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace corvane::itunes
