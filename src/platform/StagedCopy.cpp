#include "platform/StagedCopy.h"

#include <unistd.h>

#include <utility>

namespace corvane {

TStagedCopy::TStagedCopy(TStagedCopy&& other) noexcept
    : FPath(std::move(other.FPath)), FOwned(std::exchange(other.FOwned, false)) {
    other.FPath.clear();
}

TStagedCopy& TStagedCopy::operator=(TStagedCopy&& other) noexcept {
    if (this != &other) {
        Remove();
        FPath = std::move(other.FPath);
        FOwned = std::exchange(other.FOwned, false);
        other.FPath.clear();
    }
    return *this;
}

void TStagedCopy::Remove() {
    if (FOwned && !FPath.empty()) {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            unlink((FPath + suffix).c_str());
    }
    FPath.clear();
    FOwned = false;
}

}  // namespace corvane
