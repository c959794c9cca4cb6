#include "device/DiskPaths.h"

#include <dirent.h>
#include <sys/stat.h>

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
        return exact;

    std::string resolved = root;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string next = resolved + "/" + parts[i];
        if (!Exists(next)) {
            std::string match = FindNoCase(resolved, parts[i]);
            if (match.empty()) {
                // Nothing matches: the rest stays as spelled, and the caller finds it missing.
                for (size_t j = i; j < parts.size(); ++j)
                    resolved += "/" + parts[j];
                return resolved;
            }
            next = resolved + "/" + match;
        }
        resolved = next;
    }
    return resolved;
}

}  // namespace corvane
