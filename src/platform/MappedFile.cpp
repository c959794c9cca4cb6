#include "platform/MappedFile.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include "platform/LocalFiles.h"

namespace corvane {

TMappedFile::TResult TMappedFile::Map(const std::string& path, uint64_t maxSize) {
    Release();
    int error = 0;
    TUniqueFd fd = OpenRegularFile(path, error);
    struct stat info {};
    if (!fd || fstat(fd.Get(), &info) != 0 || info.st_size < 0)
        return TResult::Failed;
    const auto size = static_cast<uint64_t>(info.st_size);
    if (size > maxSize)
        return TResult::TooLarge;
    if (size == 0)
        return TResult::Done;
    // Private and read-only: nothing done here can reach the device's file.
    void* memory = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd.Get(), 0);
    if (memory == MAP_FAILED)
        return TResult::Failed;
    madvise(memory, static_cast<size_t>(size), MADV_WILLNEED);
    FData = static_cast<const uint8_t*>(memory);
    FSize = static_cast<size_t>(size);
    return TResult::Done;
}

void TMappedFile::Release() {
    if (FData != nullptr)
        munmap(const_cast<uint8_t*>(FData), FSize);
    FData = nullptr;
    FSize = 0;
}

}  // namespace corvane
