#include "device/DiskPaths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <memory>
#include <vector>

#include "base/Text.h"

namespace corvane {

namespace {

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// The entry of folder whose name equals name without case; empty when there is none.
std::string FindNoCase(const std::string& folder, const std::string& name) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir)
        return {};
    while (dirent* entry = readdir(dir.get())) {
        if (SameText(entry->d_name, name))
            return entry->d_name;
    }
    return {};
}

// True when path, as far as it exists, stays below root once every link on the way is
// followed. A link that dangles or loops is refused: nothing can be read through it anyway.
bool StaysBelow(const std::string& root, const std::string& path) {
    char rootReal[PATH_MAX];
    if (!realpath(root.c_str(), rootReal))
        return false;
    std::string probe = path;
    char resolved[PATH_MAX];
    while (!realpath(probe.c_str(), resolved)) {
        struct stat info;
        if ((errno != ENOENT && errno != ENOTDIR) || lstat(probe.c_str(), &info) == 0)
            return false;
        const size_t slash = probe.rfind('/');
        if (slash == std::string::npos || slash < root.size())
            return false;
        probe.resize(slash);
    }
    const std::string inside = resolved;
    std::string top = rootReal;
    if (inside == top)
        return true;
    if (top != "/")
        top += '/';
    return inside.compare(0, top.size(), top) == 0;
}

std::optional<std::string> Checked(const std::string& root, std::string path) {
    if (!StaysBelow(root, path))
        return std::nullopt;
    return path;
}

}  // namespace

std::optional<std::string> ResolveBelow(const std::string& root, const std::string& path) {
    if (root.empty() || path.find('\0') != std::string::npos)
        return std::nullopt;
    std::vector<std::string> parts;
    std::string part;
    for (char c : path + "/") {
        if (c != '/' && c != '\\') {
            part += c;
            continue;
        }
        if (part == "..")
            return std::nullopt;
        if (!part.empty() && part != ".")
            parts.push_back(part);
        part.clear();
    }
    std::string exact = root;
    for (const std::string& p : parts)
        exact += "/" + p;
    if (parts.empty() || Exists(exact))
        return Checked(root, exact);

    std::string resolved = root;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string next = resolved + "/" + parts[i];
        if (!Exists(next)) {
            std::string match = FindNoCase(resolved, parts[i]);
            if (match.empty()) {
                // Nothing matches: the rest stays as spelled, and the caller finds it missing.
                for (size_t j = i; j < parts.size(); ++j)
                    resolved += "/" + parts[j];
                return Checked(root, resolved);
            }
            next = resolved + "/" + match;
        }
        resolved = next;
    }
    return Checked(root, resolved);
}

}  // namespace corvane
