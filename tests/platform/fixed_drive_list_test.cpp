#include "platform/fixed_drive_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessarine {
namespace {

// A mountinfo line: device, mount path, file system type, source.
std::string Line(const std::string& device, const std::string& path, const std::string& type,
                 const std::string& source, const std::string& optional = "shared:1") {
    return "25 1 " + device + " / " + path + " rw,relatime " + optional + " - " + type + " " +
           source + " rw\n";
}

TEST(FixedDriveListTest, FixedRootsAreLocalDisksInMountPathOrder) {
    const std::string mountInfo =
        Line("8:2", "/", "ext4", "/dev/sda2") +                        // fixed
        Line("0:5", "/proc", "proc", "proc") +                         // pseudo
        Line("0:20", "/run", "tmpfs", "tmpfs") +                       // memory
        Line("0:21", "/tmp", "tmpfs", "tmpfs") +                       // memory
        Line("8:3", "/home", "xfs", "/dev/sda3") +                     // fixed
        Line("8:17", "/media/u/USB\\040STICK", "vfat", "/dev/sdb1") +  // removable disk
        Line("7:0", "/snap/core/1", "squashfs", "/dev/loop0") +        // disc image
        Line("259:1", "/data", "btrfs", "/dev/nvme0n1p1", "") +        // fixed, no optional field
        Line("8:3", "/srv/home-bind", "xfs", "/dev/sda3") +            // the same disk again
        Line("0:40", "/mnt/nas", "cifs", "//nas/share") +              // network
        Line("8:4", "/run/media/x", "ext4", "/dev/sda4") +             // below /run
        Line("0:50", "/mnt/over", "overlay", "overlay") +              // no device of its own
        "garbage line\n";
    const DriveLayout layout = ParseMountInfo(mountInfo, [](unsigned major, unsigned minor) {
        return major == 8 && minor >= 16 && minor < 32;  // sdb
    });
    EXPECT_EQ(layout.fixedRoots, (std::vector<std::string>{"/", "/data", "/home"}));
    EXPECT_EQ(layout.mountPoints,
              (std::vector<std::string>{"/", "/data", "/home", "/media/u/USB STICK", "/mnt/nas",
                                        "/mnt/over", "/proc", "/run", "/run/media/x",
                                        "/snap/core/1", "/srv/home-bind", "/tmp"}));
}

TEST(FixedDriveListTest, EmptyOrUnreadableTextGivesNoDrives) {
    for (const std::string text :
         {"", "\n\n", "1 2 3\n", "25 1 x:y / / rw - ext4 /dev/sda1 rw\n"}) {
        const DriveLayout layout = ParseMountInfo(text, {});
        EXPECT_TRUE(layout.fixedRoots.empty()) << text;
    }
}

}  // namespace
}  // namespace tessarine
