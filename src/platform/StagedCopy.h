// A local copy of a device file, staged for a reader. It is ours: the copy and the companions
// SQLite keeps beside a database (-wal, -shm, -journal) are removed when the owner goes, however
// the read ended. A path that is the device's own file (a disk-mode device is read in place) is
// held without being owned and never touched.
#pragma once

#include <string>
#include <utility>

namespace corvane {

class TStagedCopy {
public:
    TStagedCopy() = default;
    // `owned`: the path is our staged copy (empty paths own nothing).
    TStagedCopy(std::string path, bool owned) : FPath(std::move(path)), FOwned(owned) {}
    TStagedCopy(TStagedCopy&& other) noexcept;
    TStagedCopy& operator=(TStagedCopy&& other) noexcept;
    TStagedCopy(const TStagedCopy&) = delete;
    TStagedCopy& operator=(const TStagedCopy&) = delete;
    ~TStagedCopy() { Remove(); }

    const std::string& Path() const { return FPath; }
    bool Empty() const { return FPath.empty(); }
    // Removes the copy now, before another one is staged under the same name.
    void Remove();

private:
    std::string FPath;
    bool FOwned = false;
};

}  // namespace corvane
