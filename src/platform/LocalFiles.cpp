#include "platform/LocalFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <set>
#include <utility>

#include "platform/UniqueFd.h"

namespace corvane {

namespace {

struct TDirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using TDirHandle = std::unique_ptr<DIR, TDirCloser>;

struct TDirEntry {
    std::string Name;
    unsigned char Type;
};

// One folder of the walk: its entries are read at once so that no descriptor stays open
// while the walk goes deeper.
struct TDirFrame {
    std::string Path;
    std::vector<TDirEntry> Entries;
    size_t Next = 0;
};

bool ReadFolder(const std::string& path, std::set<std::pair<dev_t, ino_t>>& visited,
                TDirFrame& frame) {
    TUniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat info;
    if (!fd || fstat(fd.Get(), &info) != 0)
        return false;
    // Bind mounts can show a folder inside itself; each folder is walked once.
    if (!visited.insert({info.st_dev, info.st_ino}).second)
        return false;
    TDirHandle dir(fdopendir(fd.Get()));
    if (!dir)
        return false;
    fd.Release();
    frame.Path = path;
    while (dirent* entry = readdir(dir.get())) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        frame.Entries.push_back({std::string(name), entry->d_type});
    }
    return true;
}

unsigned char EntryType(const std::string& path, unsigned char type) {
    if (type != DT_UNKNOWN)
        return type;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return DT_UNKNOWN;
    if (S_ISDIR(info.st_mode))
        return DT_DIR;
    if (S_ISREG(info.st_mode))
        return DT_REG;
    return DT_UNKNOWN;
}

bool IsDotsOnly(std::string_view component) {
    return component.find_first_not_of('.') == std::string_view::npos;
}

}  // namespace

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

std::optional<uint64_t> FileSize(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return static_cast<uint64_t>(info.st_size);
}

bool MakeRealFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool ForceDirectories(const std::string& path) {
    if (path.empty())
        return false;
    size_t position = 0;
    while (position != std::string::npos) {
        position = path.find('/', position + 1);
        std::string prefix = path.substr(0, position);
        if (prefix.empty() || prefix.back() == '/')
            continue;
        if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return DirectoryExists(path);
}

size_t ListLocalTree(const std::string& dir, std::vector<std::string>& files) {
    size_t before = files.size();
    std::set<std::pair<dev_t, ino_t>> visited;
    std::vector<TDirFrame> stack(1);
    if (!ReadFolder(dir, visited, stack.back()))
        return 0;
    while (!stack.empty()) {
        TDirFrame& frame = stack.back();
        if (frame.Next == frame.Entries.size()) {
            stack.pop_back();
            continue;
        }
        const TDirEntry& entry = frame.Entries[frame.Next++];
        std::string path = frame.Path + "/" + entry.Name;
        // Symlinks are skipped, whatever they point at: a link may lead out of the tree.
        switch (EntryType(path, entry.Type)) {
            case DT_REG:
                files.push_back(std::move(path));
                break;
            case DT_DIR: {
                TDirFrame child;
                if (ReadFolder(path, visited, child))
                    stack.push_back(std::move(child));
                break;
            }
            default:
                break;
        }
    }
    return files.size() - before;
}

std::optional<std::string> JoinInside(const std::string& base, const std::string& relative) {
    if (base.empty() || relative.empty() || relative[0] == '/')
        return std::nullopt;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos)
            end = relative.size();
        std::string_view component(relative.data() + start, end - start);
        if (component.empty() || IsDotsOnly(component))
            return std::nullopt;
        for (unsigned char c : component) {
            if (c < 0x20 || c == 0x7F)
                return std::nullopt;
        }
        start = end + 1;
    }
    std::string joined = base;
    if (joined.back() != '/')
        joined += '/';
    return joined + relative;
}

std::string CutFileName(const std::string& name, size_t limit) {
    if (name.size() <= limit)
        return name;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    return name.substr(0, end);
}

bool SetLocalFileTime(const std::string& path, int64_t nanoseconds) {
    constexpr int64_t kNano = 1000000000;
    int64_t seconds = nanoseconds / kNano;
    int64_t rest = nanoseconds % kNano;
    if (rest < 0) {
        rest += kNano;
        --seconds;
    }
    struct timespec time {};
    time.tv_sec = static_cast<time_t>(seconds);
    time.tv_nsec = static_cast<long>(rest);
    const struct timespec times[2] = {time, time};
    return utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

TUniqueFd OpenRegularFile(const std::string& path, int& error) {
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    TUniqueFd fd(open(path.c_str(), flags | O_NOATIME));
    if (!fd && errno == EPERM)  // O_NOATIME is only for the file's owner
        fd.Reset(open(path.c_str(), flags));
    if (!fd) {
        error = errno;
        return {};
    }
    struct stat info;
    if (fstat(fd.Get(), &info) != 0) {
        error = errno;
        return {};
    }
    if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        return {};
    }
    const int status = fcntl(fd.Get(), F_GETFL);
    if (status < 0 || fcntl(fd.Get(), F_SETFL, status & ~O_NONBLOCK) != 0) {
        error = errno;
        return {};
    }
    error = 0;
    return fd;
}

std::optional<std::string> ReadLocalFile(const std::string& path, size_t maxBytes) {
    int error = 0;
    TUniqueFd fd = OpenRegularFile(path, error);
    struct stat info;
    if (!fd || fstat(fd.Get(), &info) != 0 || static_cast<uint64_t>(info.st_size) > maxBytes)
        return std::nullopt;
    std::string text;
    // Files of /proc report a size of 0, so read until the end instead of trusting st_size.
    if (info.st_size > 0)
        text.reserve(static_cast<size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t count = read(fd.Get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::nullopt;
        if (count == 0)
            break;
        if (static_cast<size_t>(count) > maxBytes - text.size())
            return std::nullopt;
        text.append(buffer, static_cast<size_t>(count));
    }
    return text;
}

}  // namespace corvane
