#include "platform/Mounts.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <set>

#include "platform/LocalFiles.h"

namespace corvane {

namespace {

// The kernel escapes space, tab, newline and backslash as a backslash and three octal digits.
// Any other backslash is kept as it stands; a NUL can never be part of a path.
std::optional<std::string> Unescape(std::string_view field) {
    std::string result;
    result.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\\' && field.size() - i > 3) {
            int value = 0;
            bool octal = true;
            for (size_t k = 1; k <= 3; ++k) {
                char digit = field[i + k];
                if (digit < '0' || digit > '7') {
                    octal = false;
                    break;
                }
                value = value * 8 + (digit - '0');
            }
            if (octal) {
                if (value == 0 || value > 0xFF)
                    return std::nullopt;
                result += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        result += c;
    }
    return result;
}

std::optional<int> ParseMountId(std::string_view text) {
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue"
std::optional<TMountEntry> ParseLine(std::string_view line) {
    // The kernel escapes what paths may hold; a raw NUL means the text is not its output.
    if (line.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (start <= line.size()) {
        size_t end = line.find(' ', start);
        if (end == std::string_view::npos)
            end = line.size();
        fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    for (std::string_view field : fields) {
        if (field.empty())
            return std::nullopt;
    }
    // Six fixed fields, any number of optional ones, the separator, then three more.
    size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-")
        ++separator;
    if (separator >= fields.size() || fields.size() - separator != 4)
        return std::nullopt;

    auto id = ParseMountId(fields[0]);
    auto mountPoint = Unescape(fields[4]);
    auto fsType = Unescape(fields[separator + 1]);
    auto source = Unescape(fields[separator + 2]);
    if (!id || !mountPoint || !fsType || !source)
        return std::nullopt;
    if (mountPoint->empty() || (*mountPoint)[0] != '/')
        return std::nullopt;
    return TMountEntry{*id, std::move(*mountPoint), std::move(*fsType), std::move(*source)};
}

bool IsPseudoFileSystem(std::string_view fsType) {
    static const std::set<std::string_view> kPseudo = {
        "autofs",   "binfmt_misc", "bpf",      "cgroup",  "cgroup2",    "configfs",   "debugfs",
        "devpts",   "devtmpfs",    "efivarfs", "fusectl", "hugetlbfs",  "mqueue",     "nsfs",
        "overlay",  "proc",        "pstore",   "ramfs",   "rpc_pipefs", "securityfs", "selinuxfs",
        "squashfs", "sysfs",       "tmpfs",    "tracefs", "zram"};
    return kPseudo.count(fsType) > 0;
}

std::string FirstLine(const std::string& path) {
    auto text = ReadLocalFile(path);
    if (!text)
        return {};
    return text->substr(0, text->find('\n'));
}

}  // namespace

std::vector<TMountEntry> ParseMountInfo(std::string_view text) {
    std::vector<TMountEntry> entries;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        if (auto entry = ParseLine(text.substr(start, end - start))) {
            entries.push_back(std::move(*entry));
        }
        start = end + 1;
    }
    return entries;
}

std::vector<TMountEntry> ReadMountTable() {
    auto text = ReadLocalFile("/proc/self/mountinfo");
    if (!text)
        return {};
    return ParseMountInfo(*text);
}

bool IsRemovableBlockDevice(const std::string& sysClassBlock, const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        return false;
    }
    char resolved[PATH_MAX];
    if (!realpath((sysClassBlock + "/" + name).c_str(), resolved))
        return false;
    std::string device = resolved;
    // A partition carries no removable flag of its own; its disk is the folder above it.
    std::string disk = device;
    if (PathExists(device + "/partition"))
        disk = device.substr(0, device.rfind('/'));
    if (FirstLine(disk + "/removable") == "1")
        return true;
    return device.find("/usb") != std::string::npos;
}

bool IsRemovableMount(const TMountEntry& entry) {
    if (entry.MountPoint == "/" || IsPseudoFileSystem(entry.FsType))
        return false;
    if (entry.Source.rfind("/dev/", 0) != 0)
        return false;
    // /dev/disk/by-label/... and /dev/mapper/... are links to the kernel's own node name.
    char resolved[PATH_MAX];
    if (!realpath(entry.Source.c_str(), resolved))
        return false;
    struct stat info;
    if (stat(resolved, &info) != 0 || !S_ISBLK(info.st_mode))
        return false;
    std::string node = resolved;
    return IsRemovableBlockDevice("/sys/class/block", node.substr(node.rfind('/') + 1));
}

std::vector<std::string> RemovableVolumes(const TVolumeRule& rule) {
    std::vector<std::string> volumes;
    std::set<std::string> seen;
    for (const TMountEntry& entry : ReadMountTable()) {
        bool accepted = rule ? rule(entry) : IsRemovableMount(entry);
        // A folder mounted over twice is still one volume.
        if (accepted && seen.insert(entry.MountPoint).second)
            volumes.push_back(entry.MountPoint);
    }
    return volumes;
}

}  // namespace corvane
