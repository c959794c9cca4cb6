// Reading one piece of a device file: an album-art record inside a large .ithmb file, which is
// never read whole.
#include <unistd.h>

#include <cerrno>

#include "device/iPodDev.h"
#include "platform/LocalFiles.h"

namespace corvane {
namespace {

// An album-art record is at most a few hundred kilobytes; a larger count is a damaged index.
constexpr uint32_t kMaxFilePart = 16u << 20;

}  // namespace

bool TIpodDevice::ReadFilePart(const std::string& path, uint64_t offset, uint32_t count,
                               std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (count == 0 || count > kMaxFilePart || offset > static_cast<uint64_t>(INT64_MAX))
        return false;
    if (MobileSession()) {
        if (Busy || !FFileService || !FFileService->OpenFile(path))
            return false;
        bytes.resize(count);
        const bool read = FFileService->ReadAt(count, bytes.data(), offset);
        FFileService->CloseFile();
        if (!read)
            bytes.clear();
        return read;
    }
    auto local = DiskPath(path);
    int error = 0;
    TUniqueFd fd = local ? OpenRegularFile(*local, error) : TUniqueFd();
    if (!fd)
        return false;
    // Measured before anything is allocated: the count comes from the device's index.
    const off_t end = lseek(fd.Get(), 0, SEEK_END);
    if (end < 0 || offset > static_cast<uint64_t>(end) ||
        count > static_cast<uint64_t>(end) - offset)
        return false;
    bytes.resize(count);
    size_t done = 0;
    while (done < count) {
        const ssize_t got =
            pread(fd.Get(), bytes.data() + done, count - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            bytes.clear();
            return false;
        }
        done += static_cast<size_t>(got);
    }
    return true;
}

}  // namespace corvane
