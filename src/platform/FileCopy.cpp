#include "platform/FileCopy.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/LocalFiles.h"
#include "platform/UniqueFd.h"

namespace corvane {

namespace {

// Small enough that a large file's copy reports several times a second from a slow device,
// large enough that the calls cost nothing beside the data.
constexpr size_t kKernelChunk = size_t{8} << 20;
constexpr size_t kBufferSize = size_t{1} << 20;
// ".<name>.part-XXXXXX" must still fit the 255 bytes of a file name.
constexpr size_t kMaxTempBaseName = 255 - 1 - 12;

std::string RandomSuffix() {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[6];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        auto ticks =
            static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        for (unsigned char& b : bytes) {
            ticks = ticks * 6364136223846793005ULL + 1442695040888963407ULL;
            b = static_cast<unsigned char>(ticks >> 56);
        }
    }
    std::string suffix;
    for (unsigned char b : bytes)
        suffix += kAlphabet[b % (sizeof kAlphabet - 1)];
    return suffix;
}

// Creates the hidden temporary file next to target, so that the final rename stays on one
// file system.
int CreateTempBeside(const std::string& target, std::string& tempName, TUniqueFd& fd) {
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return EISDIR;
    name = CutFileName(name, kMaxTempBaseName);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = folder + "." + name + ".part-" + RandomSuffix();
        fd.Reset(open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (fd) {
            tempName = std::move(candidate);
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

bool KernelCopyUnsupported(int error) {
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP;
}

int CopyData(int in, int out, const struct stat& source, const TCopyProgress& progress) {
    enum class TMethod { CopyRange, SendFile, ReadWrite };
    // Files of /proc and the like report a size of 0 and only a plain read sees their data.
    TMethod method = source.st_size > 0 ? TMethod::CopyRange : TMethod::ReadWrite;
    std::vector<char> buffer;
    uint64_t copied = 0;
    for (;;) {
        ssize_t count = 0;
        if (method == TMethod::CopyRange) {
            count = copy_file_range(in, nullptr, out, nullptr, kKernelChunk, 0);
            if (count < 0 && KernelCopyUnsupported(errno)) {
                method = TMethod::SendFile;
                continue;
            }
        } else if (method == TMethod::SendFile) {
            count = sendfile(out, in, nullptr, kKernelChunk);
            if (count < 0 && KernelCopyUnsupported(errno)) {
                method = TMethod::ReadWrite;
                continue;
            }
        } else {
            if (buffer.empty())
                buffer.resize(kBufferSize);
            count = read(in, buffer.data(), buffer.size());
            if (count > 0) {
                if (int error = WriteAll(out, buffer.data(), static_cast<size_t>(count))) {
                    return error;
                }
            }
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return errno;
        if (count == 0) {
            // Some file systems end a kernel copy early; a plain read has the last word.
            if (method != TMethod::ReadWrite && copied < static_cast<uint64_t>(source.st_size)) {
                method = TMethod::ReadWrite;
                continue;
            }
            return 0;
        }
        copied += static_cast<uint64_t>(count);
        if (progress)
            progress(copied, static_cast<uint64_t>(std::max<off_t>(source.st_size, 0)));
    }
}

// Some file systems (network, FUSE) report a failed or short write only at close. No fsync:
// forcing every track to disk made an export several times slower than a plain copy, and the
// temporary name already keeps a copy the program sees fail from reaching its final name.
int FinishFile(TUniqueFd& fd) {
    return fd.Close();
}

}  // namespace

int CopyFileNoReplace(const std::string& source, const std::string& target,
                      const TCopyProgress& progress) {
    int openError = 0;
    TUniqueFd in = OpenRegularFile(source, openError);
    if (!in)
        return openError;
    struct stat info;
    if (fstat(in.Get(), &info) != 0)
        return errno;
    if (PathExists(target))
        return EEXIST;

    std::string tempName;
    TUniqueFd out;
    if (int error = CreateTempBeside(target, tempName, out))
        return error;
    // The larger read-ahead of a file read front to back, as cp asks for it: a track comes from
    // a cold cache or a device's disk.
    posix_fadvise(in.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    int error = CopyData(in.Get(), out.Get(), info, progress);
    if (!error) {
        // Keep the modification time, as a copy on the original system did.
        const struct timespec times[2] = {info.st_atim, info.st_mtim};
        futimens(out.Get(), times);
        error = FinishFile(out);
    }
    if (!error)
        error = RenameNoReplace(tempName, target);
    if (error) {
        out.Reset();
        unlink(tempName.c_str());
    }
    return error;
}

TAtomicFileWriter::TAtomicFileWriter(std::string target) : FTarget(std::move(target)) {}

TAtomicFileWriter::~TAtomicFileWriter() {
    Discard();
}

int TAtomicFileWriter::Open() {
    if (FFd >= 0)
        return EBUSY;
    if (PathExists(FTarget))
        return EEXIST;
    TUniqueFd fd;
    if (int error = CreateTempBeside(FTarget, FTempName, fd))
        return error;
    FFd = fd.Release();
    return 0;
}

int TAtomicFileWriter::Write(const void* data, size_t count) {
    if (FFd < 0)
        return EBADF;
    return WriteAll(FFd, data, count);
}

int TAtomicFileWriter::Commit() {
    if (FFd < 0)
        return EBADF;
    TUniqueFd fd(std::exchange(FFd, -1));
    int error = FinishFile(fd);
    if (!error)
        error = RenameNoReplace(FTempName, FTarget);
    if (error)
        unlink(FTempName.c_str());
    FTempName.clear();
    return error;
}

void TAtomicFileWriter::Discard() {
    if (FFd >= 0)
        close(std::exchange(FFd, -1));
    if (!FTempName.empty())
        unlink(FTempName.c_str());
    FTempName.clear();
}

int RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    int error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP)
        return error;
    // The file system cannot refuse a replacing rename; a new hard link refuses by itself.
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return 0;
    }
    error = errno;
    if (error != EPERM && error != EOPNOTSUPP && error != ENOSYS)
        return error;
    // No hard links either (FAT-like file systems, folders): check, then rename. The gap
    // between the two is the best such a file system allows.
    if (PathExists(to))
        return EEXIST;
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace corvane
