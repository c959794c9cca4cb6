// The mount table in place of drive letters: which mounted file systems may carry a device.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

struct TMountEntry {
    int MountId = 0;
    std::string MountPoint;  // unescaped ("\040" -> " ")
    std::string FsType;
    std::string Source;  // e.g. "/dev/sdb1"
};

// Parses the text of /proc/self/mountinfo; malformed lines are skipped.
std::vector<TMountEntry> ParseMountInfo(std::string_view text);
// The current mount table of this process, in table order (empty when unreadable).
std::vector<TMountEntry> ReadMountTable();

// The default rule: a block device that sysfs marks removable or that sits on a USB bus;
// never "/", pseudo or system file systems.
bool IsRemovableMount(const TMountEntry& entry);
// The sysfs half of that rule for a kernel block device name ("sdb1") below sysClassBlock
// (normally "/sys/class/block"): the disk is marked removable or its device path runs over USB.
bool IsRemovableBlockDevice(const std::string& sysClassBlock, const std::string& name);

// Decides whether a mounted file system counts as a removable volume. Tests override it.
using TVolumeRule = std::function<bool(const TMountEntry&)>;

// Mount points of the volumes the rule accepts, in table order.
std::vector<std::string> RemovableVolumes(const TVolumeRule& rule);

}  // namespace corvane
