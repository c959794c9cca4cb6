// Helpers for the platform tests: a real tmpfs mount (root only), environment overrides and
// folder listings.
#pragma once

#include <dirent.h>
#include <sys/mount.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>

namespace corvane::testing {

// Mounts a small tmpfs on an existing folder for the life of the object; Mounted() is false
// when this process may not mount (not root, no CAP_SYS_ADMIN, a locked-down container).
class TTmpfsMount {
public:
    TTmpfsMount(const std::string& folder, const std::string& options) : FFolder(folder) {
        FMounted =
            geteuid() == 0 && mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~TTmpfsMount() { Unmount(); }
    TTmpfsMount(const TTmpfsMount&) = delete;
    TTmpfsMount& operator=(const TTmpfsMount&) = delete;

    bool Mounted() const { return FMounted; }
    bool Unmount() {
        if (!FMounted)
            return true;
        FMounted = umount2(FFolder.c_str(), MNT_DETACH) != 0;
        return !FMounted;
    }

private:
    std::string FFolder;
    bool FMounted = false;
};

// Shows source also at target (an existing folder) for the life of the object; Mounted() is
// false when this process may not mount.
class TBindMount {
public:
    TBindMount(const std::string& source, const std::string& target) : FTarget(target) {
        FMounted =
            geteuid() == 0 && mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0;
    }
    ~TBindMount() {
        if (FMounted)
            umount2(FTarget.c_str(), MNT_DETACH);
    }
    TBindMount(const TBindMount&) = delete;
    TBindMount& operator=(const TBindMount&) = delete;

    bool Mounted() const { return FMounted; }

private:
    std::string FTarget;
    bool FMounted = false;
};

// Sets or clears an environment variable and restores the old value at the end of scope.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const char* value) : FName(name) {
        if (const char* old = getenv(name))
            FOld = old;
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~TScopedEnv() {
        if (FOld) {
            setenv(FName.c_str(), FOld->c_str(), 1);
        } else {
            unsetenv(FName.c_str());
        }
    }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    std::string FName;
    std::optional<std::string> FOld;
};

// Mount points and kernel paths are canonical, while a temporary folder may sit behind a link.
inline std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// The names in a folder, without "." and "..".
inline std::set<std::string> FolderNames(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.insert(name);
        }
        closedir(dir);
    }
    return names;
}

}  // namespace corvane::testing
