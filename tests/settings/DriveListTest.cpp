#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "settings/mdGETUNC.h"
#include "support/TestSupport.h"

namespace yubin::mdGETUNC {
namespace {

namespace fs = std::filesystem;
using test::readBytes;
using test::TempDir;
using test::writeBytes;
using Texts = std::vector<std::string>;

// A machine whose drives are given by the test.
class FakePlatform : public DrivePlatform {
  public:
    struct Drive {
        Drive(std::string r, int t, bool w = false, std::string u = "")
            : root(std::move(r)), type(t), writable(w), universal(std::move(u)) {}
        std::string root;
        int type;
        bool writable;
        std::string universal;
    };
    explicit FakePlatform(std::vector<Drive> drives) : drives_(std::move(drives)) {}

    std::vector<std::string> driveRoots() override {
        std::vector<std::string> roots;
        for (const Drive& d : drives_) roots.push_back(d.root);
        return roots;
    }
    int driveType(const std::string& root) override { return find(root).type; }
    bool canWrite(const std::string& root) override {
        writeTests.push_back(root);
        return find(root).writable;
    }
    std::string universalName(const std::string& root) override { return find(root).universal; }

    std::vector<std::string> writeTests;

  private:
    const Drive& find(const std::string& root) const {
        for (const Drive& d : drives_) {
            if (d.root == root) return d;
        }
        throw std::logic_error("unknown root " + root);
    }
    std::vector<Drive> drives_;
};

TEST(DriveList, FixedDrivesOnlyInTheirOrder) {
    FakePlatform machine({{"C:\\", kDriveFixed},
                          {"D:\\", kDriveFixed},
                          {"E:\\", kDriveCdRom},
                          {"F:\\", kDriveRemovable},
                          {"G:\\", kDriveRamDisk},
                          {"H:\\", kDriveUnknown},
                          {"I:\\", kDriveNoRootDir}});
    EXPECT_EQ(GetDriveList(machine), (Texts{"C:\\", "D:\\"}));
    EXPECT_TRUE(machine.writeTests.empty());  // only network drives are write-tested
}

TEST(DriveList, NetworkDrivesByUniversalNameWhenWritable) {
    FakePlatform machine({{"C:\\", kDriveFixed},
                          {"X:\\", kDriveRemote, false, "\\\\srv\\readonly\\"},
                          {"Y:\\", kDriveRemote, true, ""},
                          {"Z:\\", kDriveRemote, true, "\\\\server\\share\\"},
                          {"D:\\", kDriveFixed}});
    EXPECT_EQ(GetDriveList(machine), (Texts{"C:\\", "", "\\\\server\\share\\", "D:\\"}));
    EXPECT_EQ(machine.writeTests, (Texts{"X:\\", "Y:\\", "Z:\\"}));
}

const char* const kSampleMounts =
    "sysfs /sys sysfs rw,nosuid,nodev,noexec,relatime 0 0\n"
    "proc /proc proc rw,nosuid,nodev,noexec,relatime 0 0\n"
    "udev /dev devtmpfs rw,nosuid,relatime,size=8000000k 0 0\n"
    "/dev/nvme0n1p2 / ext4 rw,relatime,errors=remount-ro 0 0\n"
    "tmpfs /run tmpfs rw,nosuid,nodev,noexec,relatime 0 0\n"
    "cgroup2 /sys/fs/cgroup cgroup2 rw,nosuid,nodev,noexec,relatime 0 0\n"
    "/dev/nvme0n1p1 /boot/efi vfat rw,relatime,fmask=0077 0 0\n"
    "//fileserver/share /mnt/share cifs rw,relatime,vers=3.1.1 0 0\n"
    "fileserver:/export/yubin /mnt/nfs nfs4 rw,relatime,vers=4.2 0 0\n"
    "/dev/sr0 /media/taro/CDROM iso9660 ro,nosuid,nodev 0 0\n"
    "/dev/sdb1 /media/taro/USB\\040STICK vfat rw,nosuid,nodev 0 0\n"
    "taro@backup:/data /home/taro/backup fuse.sshfs rw,nosuid,nodev 0 0\n"
    "overlay /var/lib/docker/overlay2/x/merged overlay rw,relatime 0 0\n"
    "\n"
    "broken-line-with-two fields\n"
    "/dev/loop3 /snap/core/1 squashfs ro,nodev,relatime 0 0\n"
    "tmpfs /mnt/share tmpfs rw 0 0\n";

TEST(MountTable, ParsesFieldsAndDecodesEscapes) {
    std::vector<MountEntry> table = ParseMountTable(kSampleMounts);
    ASSERT_EQ(table.size(), 15u);  // the blank and the two-field lines are skipped
    EXPECT_EQ(table[3].source, "/dev/nvme0n1p2");
    EXPECT_EQ(table[3].mountPoint, "/");
    EXPECT_EQ(table[3].fsType, "ext4");
    EXPECT_EQ(table[10].mountPoint, "/media/taro/USB STICK");

    std::vector<MountEntry> escapes =
        ParseMountTable("a\\134b /mnt/tab\\011x\\040y ext4 rw 0 0\r\nshort /x\n");
    ASSERT_EQ(escapes.size(), 1u);
    EXPECT_EQ(escapes[0].source, "a\\b");
    EXPECT_EQ(escapes[0].mountPoint, "/mnt/tab\tx y");
    EXPECT_EQ(ParseMountTable("x \\04 ext4")[0].mountPoint, "\\04");  // too short to be one
}

TEST(MountTable, RootsOnceEachInTableOrder) {
    std::vector<std::string> roots = MountRoots(ParseMountTable(kSampleMounts));
    EXPECT_EQ(roots,
              (Texts{"/sys", "/proc", "/dev", "/", "/run", "/sys/fs/cgroup", "/boot/efi",
                     "/mnt/share", "/mnt/nfs", "/media/taro/CDROM", "/media/taro/USB STICK",
                     "/home/taro/backup", "/var/lib/docker/overlay2/x/merged", "/snap/core/1"}));
}

TEST(MountTable, DriveTypesByFileSystem) {
    std::map<std::string, int> expected = {
        {"sysfs", kDriveNoRootDir}, {"proc", kDriveNoRootDir},    {"devtmpfs", kDriveNoRootDir},
        {"ext4", kDriveFixed},      {"tmpfs", kDriveRamDisk},     {"cgroup2", kDriveNoRootDir},
        {"vfat", kDriveFixed},      {"cifs", kDriveRemote},       {"nfs4", kDriveRemote},
        {"iso9660", kDriveCdRom},   {"fuse.sshfs", kDriveRemote}, {"overlay", kDriveFixed},
        {"squashfs", kDriveCdRom},  {"nfs", kDriveRemote},        {"smb3", kDriveRemote},
        {"xfs", kDriveFixed},       {"btrfs", kDriveFixed},       {"zfs", kDriveFixed},
        {"udf", kDriveCdRom},       {"ramfs", kDriveRamDisk},     {"fuse.unknown", kDriveUnknown},
        {"ntfs3", kDriveFixed},     {"exfat", kDriveFixed},       {"9p", kDriveFixed},
    };
    for (const auto& [type, code] : expected) {
        SCOPED_TRACE(type);
        EXPECT_EQ(DriveTypeOfMount({"/dev/x", "/x", type}, false), code);
    }
    // A disk file system on a removable device is removable; the others do not care.
    EXPECT_EQ(DriveTypeOfMount({"/dev/sdb1", "/m", "vfat"}, true), kDriveRemovable);
    EXPECT_EQ(DriveTypeOfMount({"/dev/sdb1", "/m", "ext4"}, true), kDriveRemovable);
    EXPECT_EQ(DriveTypeOfMount({"/dev/sr0", "/m", "iso9660"}, true), kDriveCdRom);
    EXPECT_EQ(DriveTypeOfMount({"//s/x", "/m", "cifs"}, true), kDriveRemote);
    EXPECT_TRUE(IsDiskFileSystem("vfat"));
    EXPECT_FALSE(IsDiskFileSystem("nfs"));
}

TEST(MountTable, UniversalNamesOfNetworkSources) {
    struct Case {
        const char* type;
        const char* source;
        const char* name;
    };
    const Case cases[] = {
        {"cifs", "//srv/share", "//srv/share/"},
        {"cifs", "//srv/share/sub/dir", "//srv/share/sub/dir/"},
        {"cifs", "\\\\srv\\share", "//srv/share/"},
        {"smb3", "//srv/share/", "//srv/share/"},
        {"nfs", "srv:/export/x", "//srv/export/x/"},
        {"nfs4", "srv:/", "//srv/"},
        {"nfs4", "[fd00::1]:/export", "//[fd00::1]/export/"},
        {"fuse.sshfs", "taro@backup:/data", "//backup/data/"},
        {"fuse.sshfs", "backup:projects", "//backup/projects/"},
        {"davfs", "https://dav.example.jp/remote.php/dav", "//dav.example.jp/remote.php/dav/"},
        {"ceph", "10.0.0.1:6789,10.0.0.2:6789:/", ""},
        {"nfs", "nocolon", ""},
        {"ext4", "//srv/share", ""},  // a local file system has no universal name
        {"9p", "hostshare", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.source);
        EXPECT_EQ(UniversalNameOfMount({c.source, "/mnt/x", c.type}), c.name);
    }
}

TEST(MountTable, UncPathOfTheMountHoldingThePath) {
    std::vector<MountEntry> table = ParseMountTable(
        "/dev/sda1 / ext4 rw 0 0\n"
        "//srv/share /mnt/srv cifs rw 0 0\n"
        "/dev/sdb1 /mnt/srv/local ext4 rw 0 0\n"
        "nas:/vol /mnt/nas nfs rw 0 0\n"
        "/dev/sdc1 /mnt/nas ext4 rw 0 0\n");  // mounted over the share: now local
    EXPECT_EQ(UncPathInTable(table, "/mnt/srv"), "//srv/share/");
    EXPECT_EQ(UncPathInTable(table, "/mnt/srv/db/yubinbox.mdb"), "//srv/share/db/yubinbox.mdb");
    EXPECT_EQ(UncPathInTable(table, "/mnt/srv/local/x"), "");
    EXPECT_EQ(UncPathInTable(table, "/mnt/srv2/x"), "");
    EXPECT_EQ(UncPathInTable(table, "/mnt/nas/x"), "");
    EXPECT_EQ(UncPathInTable(table, "/home/taro"), "");
    EXPECT_EQ(UncPathInTable({}, "/home/taro"), "");
}

TEST(MountTable, LocalPathHasNoUncPath) {
    TempDir dir;
    EXPECT_EQ(GetUNCPath(dir.path().string()), "");
    EXPECT_EQ(GetUNCPath(""), "");
}

TEST(MountTable, RemovableFlagOfTheDiskHoldingAPartition) {
    TempDir sys;
    fs::create_directories(sys.path() / "devices/usb/block/sdb/sdb1");
    fs::create_directories(sys.path() / "devices/sata/block/sda/sda1");
    fs::create_directories(sys.path() / "class/block");
    writeBytes((sys.path() / "devices/usb/block/sdb/removable").string(), "1\n");
    writeBytes((sys.path() / "devices/usb/block/sdb/sdb1/partition").string(), "1\n");
    writeBytes((sys.path() / "devices/sata/block/sda/removable").string(), "0\n");
    writeBytes((sys.path() / "devices/sata/block/sda/sda1/partition").string(), "1\n");
    fs::create_symlink("../../devices/usb/block/sdb", sys.path() / "class/block/sdb");
    fs::create_symlink("../../devices/sata/block/sda", sys.path() / "class/block/sda");
    fs::create_symlink("../../devices/usb/block/sdb/sdb1", sys.path() / "class/block/sdb1");
    fs::create_symlink("../../devices/sata/block/sda/sda1", sys.path() / "class/block/sda1");

    const std::string root = sys.path().string();
    EXPECT_TRUE(IsRemovableDevice("/dev/sdb1", root));
    EXPECT_TRUE(IsRemovableDevice("/dev/sdb", root));
    EXPECT_FALSE(IsRemovableDevice("/dev/sda1", root));
    EXPECT_FALSE(IsRemovableDevice("/dev/sdz9", root));
    EXPECT_FALSE(IsRemovableDevice("//srv/share", root));
}

TEST(SystemDrives, ListHoldsFolderRootsAndNetworkNames) {
    for (const std::string& entry : GetDriveList()) {
        SCOPED_TRACE(entry);
        if (entry.empty() || entry.starts_with("//")) continue;
        EXPECT_TRUE(fs::is_directory(entry));
    }
}

bool FolderIsEmpty(const fs::path& folder) {
    return fs::directory_iterator(folder) == fs::directory_iterator();
}

TEST(CanWriteDrive, WritableFolderIsTrueAndLeftAsItWas) {
    TempDir dir;
    EXPECT_TRUE(CanWriteDrive(dir.path().string()));
    EXPECT_TRUE(CanWriteDrive(dir.path().string() + "/"));
    EXPECT_TRUE(FolderIsEmpty(dir.path()));
}

TEST(CanWriteDrive, ExistingTestFileIsKeptByteForByte) {
    TempDir dir;
    const std::string existing = dir.file("yubinboxtext.txt");
    writeBytes(existing, "somebody's notes\r\n");
    EXPECT_TRUE(CanWriteDrive(dir.path().string()));
    EXPECT_EQ(readBytes(existing), "somebody's notes\r\n");
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(CanWriteDrive, MissingFolderIsFalse) {
    TempDir dir;
    EXPECT_FALSE(CanWriteDrive(dir.file("no/such/folder")));
    EXPECT_FALSE(CanWriteDrive(""));  // never raises, even on nonsense
}

TEST(CanWriteDrive, ReadOnlyFolderIsFalse) {
    if (::geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root";
    TempDir dir;
    writeBytes(dir.file("yubinboxtext.txt"), "kept");
    ::chmod(dir.path().c_str(), 0555);
    EXPECT_FALSE(CanWriteDrive(dir.path().string()));
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(readBytes(dir.file("yubinboxtext.txt")), "kept");
}

}  // namespace
}  // namespace yubin::mdGETUNC
