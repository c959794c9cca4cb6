#include "platform/SystemFolders.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <vector>

#include "platform/FileCopy.h"
#include "platform/LocalFiles.h"
#include "platform/StagingCleanup.h"
#include "platform/UniqueFd.h"

namespace corvane {

namespace {

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// An environment folder counts only when it is absolute, as the XDG rules ask.
std::string AbsoluteEnv(const char* name) {
    const char* value = getenv(name);
    if (!value || value[0] != '/')
        return {};
    return StripTrailingSlashes(value);
}

std::string HomeFolder() {
    std::string home = AbsoluteEnv("HOME");
    if (!home.empty())
        return home;
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir || found->pw_dir[0] != '/') {
        return {};
    }
    return StripTrailingSlashes(found->pw_dir);
}

std::string JoinPath(const std::string& folder, std::string_view name) {
    std::string joined = folder;
    if (joined.empty() || joined.back() != '/')
        joined += '/';
    return joined.append(name);
}

// The folder above path, by its text; nothing above "/" or ".".
std::optional<std::string> ParentOf(const std::string& path) {
    std::string current = StripTrailingSlashes(path);
    if (current == "/" || current == ".")
        return std::nullopt;
    size_t slash = current.rfind('/');
    if (slash == std::string::npos)
        return std::string(".");
    if (slash == 0)
        return std::string("/");
    return StripTrailingSlashes(current.substr(0, slash));
}

std::optional<std::string> NearestExistingFolder(const std::string& path) {
    std::optional<std::string> current = path.empty() ? "." : path;
    while (current && !DirectoryExists(*current))
        current = ParentOf(*current);
    return current;
}

std::optional<std::string> ParseUserDirValue(std::string_view value, const std::string& home) {
    if (value.empty() || value[0] != '"')
        return std::nullopt;
    std::string raw;
    size_t i = 1;
    for (; i < value.size() && value[i] != '"'; ++i) {
        if (value[i] == '\\' && i + 1 < value.size())
            ++i;
        if (value[i] == '\0')
            return std::nullopt;
        raw += value[i];
    }
    if (i >= value.size())
        return std::nullopt;  // no closing quote
    if (value.find_first_not_of(" \t\r", i + 1) != std::string_view::npos)
        return std::nullopt;
    if (raw.rfind("$HOME", 0) == 0) {
        std::string rest = raw.substr(5);
        if (home.empty() || (!rest.empty() && rest[0] != '/'))
            return std::nullopt;
        std::string base = StripTrailingSlashes(home);
        if (base == "/")
            base.clear();
        std::string result = base + rest;
        return result.empty() ? "/" : result;
    }
    if (raw.empty() || raw[0] != '/')
        return std::nullopt;
    return raw;
}

// The configured folder when it exists; otherwise the default below home, which the export
// creates when it first writes there. A folder set to home itself means "none configured".
std::string UserFolder(std::string_view key, std::string_view defaultName) {
    std::string home = HomeFolder();
    if (home.empty())
        return {};
    std::string config = AbsoluteEnv("XDG_CONFIG_HOME");
    if (config.empty())
        config = home + "/.config";
    std::string folder;
    if (auto text = ReadLocalFile(config + "/user-dirs.dirs")) {
        auto value = ParseUserDirs(*text, key, home);
        if (value && StripTrailingSlashes(*value) != home && DirectoryExists(*value)) {
            folder = *value;
        }
    }
    if (folder.empty())
        folder = JoinPath(home, defaultName);
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

std::string PercentEncode(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : path) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 15];
        }
    }
    return encoded;
}

std::string DeletionDate() {
    time_t now = time(nullptr);
    struct tm local;
    char text[32] = {};
    if (localtime_r(&now, &local))
        strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

int MakePrivateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return errno;
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return errno;
    // Someone else's folder or a link planted in its place must not receive our files.
    if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid())
        return EACCES;
    return 0;
}

// Moves absolute into trash/files under a free name, its info file claiming the name first.
int MoveIntoTrash(const std::string& trash, const std::string& absolute, const std::string& name,
                  const std::string& recordedPath) {
    for (const char* sub : {"", "/files", "/info"}) {
        if (int error = MakePrivateFolder(trash + sub))
            return error;
    }
    std::string info = "[Trash Info]\nPath=" + PercentEncode(recordedPath) +
                       "\nDeletionDate=" + DeletionDate() + "\n";
    // Room for ".trashinfo" and a counter within the 255 bytes of a file name.
    std::string base = CutFileName(name, 255 - 10 - 11);
    for (int number = 1; number < 100000; ++number) {
        std::string candidate = number == 1 ? base : base + "." + std::to_string(number);
        std::string infoPath = trash + "/info/" + candidate + ".trashinfo";
        TUniqueFd fd(open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (!fd && errno == EEXIST)
            continue;
        if (!fd)
            return errno;
        int error = WriteAll(fd.Get(), info.data(), info.size());
        if (!error)
            error = fd.Close();
        std::string filesPath = trash + "/files/" + candidate;
        if (!error)
            error = PathExists(filesPath) ? EEXIST : RenameNoReplace(absolute, filesPath);
        if (!error)
            return 0;
        unlink(infoPath.c_str());
        if (error != EEXIST)
            return error;
    }
    return EEXIST;
}

}  // namespace

std::string MakeWorkFile() {
    std::string folders[] = {AbsoluteEnv("TMPDIR"), "/tmp"};
    for (const std::string& folder : folders) {
        if (folder.empty())
            continue;
        std::string pattern = JoinPath(folder, "~ipXXXXXX");
        if (mkdtemp(pattern.data())) {
            RegisterStagingFolder(pattern);
            return pattern + "/" + pattern.substr(pattern.rfind('/') + 1);
        }
    }
    return {};
}

void RemoveWorkFile(const std::string& workFile) {
    size_t slash = workFile.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return;
    std::string folder = workFile.substr(0, slash);
    UnregisterStagingFolder(folder);
    std::string folderName = folder.substr(folder.rfind('/') + 1);
    // Only the shape MakeWorkFile hands out: ".../~ipXXXXXX/~ipXXXXXX" in our own real folder.
    if (folderName.rfind("~ip", 0) != 0 || workFile.substr(slash + 1) != folderName)
        return;
    struct stat info;
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) {
        return;
    }
    std::error_code error;
    std::filesystem::remove_all(folder, error);
}

std::optional<std::string> ParseUserDirs(std::string_view text, std::string_view key,
                                         const std::string& home) {
    std::optional<std::string> result;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#')
            continue;
        line.remove_prefix(first);
        size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        std::string_view name = line.substr(0, equals);
        name = name.substr(0, name.find_last_not_of(" \t") + 1);
        if (name != key)
            continue;
        std::string_view value = line.substr(equals + 1);
        size_t valueStart = value.find_first_not_of(" \t");
        if (valueStart == std::string_view::npos)
            continue;
        // As in the shell that may source this file, the last good assignment wins.
        if (auto parsed = ParseUserDirValue(value.substr(valueStart), home))
            result = parsed;
    }
    return result;
}

std::string UserMusicFolder() {
    return UserFolder("XDG_MUSIC_DIR", "Music");
}

std::string UserPicturesFolder() {
    return UserFolder("XDG_PICTURES_DIR", "Pictures");
}

std::optional<uint64_t> FreeDiskSpace(const std::string& path) {
    auto folder = NearestExistingFolder(path);
    struct statvfs info;
    if (!folder || statvfs(folder->c_str(), &info) != 0)
        return std::nullopt;
    return static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
}

std::string MountPointOf(const std::string& path) {
    auto folder = NearestExistingFolder(path);
    char resolved[PATH_MAX];
    if (!folder || !realpath(folder->c_str(), resolved))
        return {};
    std::string current = resolved;
    struct stat here;
    if (stat(current.c_str(), &here) != 0)
        return {};
    while (auto parent = ParentOf(current)) {
        struct stat above;
        if (stat(parent->c_str(), &above) != 0 || above.st_dev != here.st_dev)
            break;
        current = *parent;
    }
    return current;
}

bool IsInsideFolder(const std::string& path, const std::string& folder) {
    struct stat top;
    if (folder.empty() || stat(folder.c_str(), &top) != 0 || !S_ISDIR(top.st_mode))
        return false;
    struct stat aboveTop;
    const std::string topParent = StripTrailingSlashes(folder) + "/..";
    const bool ownFileSystem = stat(topParent.c_str(), &aboveTop) == 0 &&
                               (aboveTop.st_dev != top.st_dev || aboveTop.st_ino == top.st_ino);
    auto existing = NearestExistingFolder(path);
    char resolved[PATH_MAX];
    if (!existing || !realpath(existing->c_str(), resolved))
        return false;
    std::optional<std::string> current = std::string(resolved);
    while (current) {
        struct stat here;
        if (stat(current->c_str(), &here) != 0)
            return false;
        if (here.st_dev == top.st_dev && (ownFileSystem || here.st_ino == top.st_ino))
            return true;
        current = ParentOf(*current);
    }
    return false;
}

int MoveToTrash(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return errno;
    // The item itself is trashed, never what a final symlink points at.
    std::string trimmed = StripTrailingSlashes(path);
    size_t slash = trimmed.rfind('/');
    std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    std::string parent = slash == std::string::npos ? "." : trimmed.substr(0, slash);
    if (parent.empty())
        parent = '/';  // a char: GCC 12 misreads the literal copy (-Wrestrict)
    if (name.empty() || name == "." || name == ".." || name == "/")
        return EINVAL;
    char resolved[PATH_MAX];
    if (!realpath(parent.c_str(), resolved))
        return errno;
    std::string absolute = JoinPath(resolved, name);

    std::string dataHome = AbsoluteEnv("XDG_DATA_HOME");
    if (dataHome.empty()) {
        std::string home = HomeFolder();
        if (home.empty())
            return ENOENT;
        dataHome = home + "/.local/share";
    }
    errno = 0;
    if (!ForceDirectories(dataHome))
        return errno ? errno : ENOTDIR;
    int error = MoveIntoTrash(dataHome + "/Trash", absolute, name, absolute);
    if (error != EXDEV)
        return error;

    // Another file system: its own trash at the top folder, with the path recorded relative
    // to that folder so it still holds when the volume is mounted elsewhere.
    std::string top = MountPointOf(resolved);
    if (top.empty())
        return EXDEV;
    std::string trash = JoinPath(top, ".Trash-" + std::to_string(geteuid()));
    std::string relative = top == "/" ? absolute.substr(1) : absolute.substr(top.size() + 1);
    return MoveIntoTrash(trash, absolute, name, relative);
}

}  // namespace corvane
