#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "fixtures/TempDir.h"
#include "platform/LocalFiles.h"
#include "platform/Mounts.h"
#include "platform/PlatformTestSupport.h"

namespace corvane {
namespace {

using testing::RealPath;
using testing::TTempDir;
using testing::TTmpfsMount;

TEST(MountInfo, ParsesFieldsAroundOptionalFieldsAndUnescapes) {
    struct {
        const char* line;
        int id;
        const char* mountPoint;
        const char* fsType;
        const char* source;
    } cases[] = {
        {"36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue", 36,
         "/mnt2", "ext3", "/dev/root"},
        {"26 1 254:0 / / rw,relatime - ext4 /dev/vda rw", 26, "/", "ext4", "/dev/vda"},
        {"410 26 8:17 / /media/u/IPOD rw shared:5 master:2 propagate_from:1 unbindable - vfat "
         "/dev/sdb1 rw,uid=1000",
         410, "/media/u/IPOD", "vfat", "/dev/sdb1"},
        {"7 1 8:1 / /media/My\\040iPod\\011x\\012y\\134z rw - vfat /dev/disk\\040a rw", 7,
         "/media/My iPod\tx\ny\\z", "vfat", "/dev/disk a"},
        // A backslash without three octal digits is not an escape.
        {"8 1 8:1 / /a\\9b\\04 rw - fuse.sshfs u@h:/ rw", 8, "/a\\9b\\04", "fuse.sshfs", "u@h:/"},
        // The separator is looked for only after the six fixed fields.
        {"9 1 0:5 / /x - shared:1 - tmpfs tmpfs rw", 9, "/x", "tmpfs", "tmpfs"},
    };
    for (const auto& c : cases) {
        auto entries = ParseMountInfo(c.line);
        ASSERT_EQ(entries.size(), 1u) << c.line;
        EXPECT_EQ(entries[0].MountId, c.id) << c.line;
        EXPECT_EQ(entries[0].MountPoint, c.mountPoint) << c.line;
        EXPECT_EQ(entries[0].FsType, c.fsType) << c.line;
        EXPECT_EQ(entries[0].Source, c.source) << c.line;
    }
}

TEST(MountInfo, SkipsMalformedLinesAndKeepsTheRest) {
    const std::string good1 = "21 26 0:20 / /proc rw,relatime - proc proc rw";
    const std::string good2 = "44 26 8:17 / /media/x rw shared:1 - vfat /dev/sdb1 rw";
    const char* junk[] = {
        "",
        "garbage",
        "12 3 0:1 / /x rw shared:1",                   // no separator
        "12 3 0:1 / /x rw - ext4 /dev/a",              // super options missing
        "12 3 0:1 / /x rw - ext4 /dev/a rw extra",     // one field too many
        "x 3 0:1 / /x rw - ext4 /dev/a rw",            // mount id not a number
        "-1 3 0:1 / /x rw - ext4 /dev/a rw",           // negative mount id
        "99999999999 3 0:1 / /x rw - ext4 /dev/a rw",  // mount id overflows
        "12 3 0:1 / /x\\000y rw - ext4 /dev/a rw",     // escaped NUL
        "12 3 0:1 / relative rw - ext4 /dev/a rw",     // mount point not absolute
        "12 3 0:1 / /x  rw - ext4 /dev/a rw",          // empty field
        "12 3 0:1 / /x rw - ext4 /dev/a rw ",          // trailing space
        "12 3 - ext4 /dev/a rw",                       // separator among the fixed fields
        "\n",
    };
    std::string text = good1 + "\n";
    for (const char* line : junk)
        text += std::string(line) + "\n";
    // Found by fuzzing: a raw NUL in the mount point came out as a path that stops early.
    text += std::string("40 30 0:5 / /a\0b rw - cgroup cgroup rw\n", 39);
    text += good2;  // the last line may lack its newline
    auto entries = ParseMountInfo(text);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].MountPoint, "/proc");
    EXPECT_EQ(entries[1].MountPoint, "/media/x");

    // Every cut of the text parses without reading past it (the sanitizers watch this).
    for (size_t length = 0; length <= text.size(); ++length) {
        EXPECT_LE(ParseMountInfo(std::string_view(text).substr(0, length)).size(), 2u);
    }
}

// A sysfs tree in miniature: /sys/class/block/<name> links into /sys/devices, partitions are
// folders of their disk and carry a "partition" file but no "removable" flag.
class MountSysfs : public ::testing::Test {
protected:
    void AddDisk(const std::string& devicePath, const std::string& disk, const char* removable,
                 const std::string& partition) {
        std::string diskDir = Dir / ("devices/" + devicePath + "/block/" + disk);
        testing::WriteFile(diskDir + "/removable", std::string(removable) + "\n");
        Link(diskDir, disk);
        if (!partition.empty()) {
            testing::WriteFile(diskDir + "/" + partition + "/partition", "1\n");
            Link(diskDir + "/" + partition, partition);
        }
    }
    void Link(const std::string& target, const std::string& name) {
        ForceDirectories(Dir / "class/block");
        ASSERT_EQ(symlink(target.c_str(), (Dir / ("class/block/" + name)).c_str()), 0);
    }
    TTempDir Dir;
};

TEST_F(MountSysfs, RemovableByDiskFlagOrUsbPath) {
    AddDisk("pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0", "sdb", "0",
            "sdb1");
    AddDisk("pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", "sda", "0", "sda1");
    AddDisk("pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0", "sdc", "1", "sdc1");
    AddDisk("virtual", "loop0", "0", "");
    struct {
        const char* name;
        bool removable;
    } cases[] = {
        {"sdb1", true},    // on USB, though the disk says "not removable"
        {"sdb", true},     //
        {"sda1", false},   // internal disk
        {"sda", false},    //
        {"sdc1", true},    // the flag lives on the disk, not the partition
        {"sdc", true},     //
        {"loop0", false},  //
        {"sdz9", false},   // unknown
        {"", false},       //
        {"..", false},     // names never leave the folder
        {"../block/sdc", false},
    };
    std::string root = Dir / "class/block";
    for (const auto& c : cases) {
        EXPECT_EQ(IsRemovableBlockDevice(root, c.name), c.removable) << c.name;
    }
}

TEST(MountRemovable, NeverTheRootOrPseudoFileSystems) {
    auto table = ReadMountTable();
    ASSERT_FALSE(table.empty());
    bool sawRoot = false;
    for (const TMountEntry& entry : table) {
        if (entry.MountPoint == "/")
            sawRoot = true;
        if (entry.MountPoint == "/" || entry.FsType == "proc" || entry.FsType == "sysfs" ||
            entry.FsType == "tmpfs" || entry.FsType == "devtmpfs" || entry.FsType == "cgroup" ||
            entry.FsType == "overlay") {
            EXPECT_FALSE(IsRemovableMount(entry)) << entry.MountPoint;
        }
    }
    EXPECT_TRUE(sawRoot);
    EXPECT_FALSE(IsRemovableMount({1, "/media/x", "vfat", "sdb1"}));       // not a /dev path
    EXPECT_FALSE(IsRemovableMount({1, "/media/x", "vfat", "/dev/null"}));  // not a block device
}

TEST(MountRemovable, VolumesFollowTheRuleInTableOrder) {
    auto table = ReadMountTable();
    std::vector<std::string> expected;
    for (const TMountEntry& entry : table) {
        if (entry.FsType == "proc" || entry.FsType == "sysfs")
            expected.push_back(entry.MountPoint);
    }
    ASSERT_FALSE(expected.empty());
    auto volumes = RemovableVolumes(
        [](const TMountEntry& entry) { return entry.FsType == "proc" || entry.FsType == "sysfs"; });
    EXPECT_EQ(volumes, expected);
    EXPECT_TRUE(RemovableVolumes([](const TMountEntry&) { return false; }).empty());
}

TEST(MountRemovable, AMountedIpodFolderCountsUnderTheTestRule) {
    TTempDir dir;
    std::string mountPoint = RealPath(dir.Path()) + "/IPOD";
    ASSERT_TRUE(ForceDirectories(mountPoint));
    TTmpfsMount tmpfs(mountPoint, "size=1m");
    if (!tmpfs.Mounted())
        GTEST_SKIP() << "needs root to mount a tmpfs";
    ASSERT_TRUE(ForceDirectories(mountPoint + "/iPod_Control/iTunes"));

    auto isIpod = [](const TMountEntry& entry) {
        return DirectoryExists(entry.MountPoint + "/iPod_Control/iTunes");
    };
    auto volumes = RemovableVolumes(isIpod);
    EXPECT_NE(std::find(volumes.begin(), volumes.end(), mountPoint), volumes.end());
    // The default rule still refuses it: a tmpfs is no removable disk.
    auto defaults = RemovableVolumes(nullptr);
    EXPECT_EQ(std::find(defaults.begin(), defaults.end(), mountPoint), defaults.end());
}

}  // namespace
}  // namespace corvane
