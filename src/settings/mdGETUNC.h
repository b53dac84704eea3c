// Drives, network paths and the documents folder.
//
// On this platform a "drive" is a mount point of the mount table (/proc/self/mounts), in the
// table's order; a mount point mounted over more than once counts once, at its first place,
// with the type of its last (visible) mount. Drive types by file system:
// - fixed (3): local disk file systems (ext2/3/4, xfs, btrfs, f2fs, zfs, jfs, reiserfs, vfat,
//   exfat, ntfs, ...) on a device that is not removable; overlay file systems (a container's
//   root); host folders shared into a virtual machine (9p, virtiofs), which have no server
//   name. A mount point that is no folder (a single bind-mounted file) has no root (1).
// - remote (4): network file systems (nfs, nfs4, cifs, smb3, smbfs, sshfs, glusterfs, ceph,
//   afs, davfs, ...).
// - removable (2): a local disk file system on a device that sysfs marks removable.
// - CD-ROM (5): read-only media: disc file systems (iso9660, udf) and read-only images
//   (squashfs, erofs, cramfs).
// - RAM disk (6): tmpfs, ramfs.
// - no root folder (1): the kernel's virtual file systems (proc, sysfs, devtmpfs, cgroup, ...).
// - unknown (0): anything else.
// The universal name of a network mount is its source as the server names it, in the form
// "//server/share/": "//srv/share" (cifs) gives "//srv/share/", "srv:/export/x" (nfs) gives
// "//srv/export/x/", "user@host:/data" (sshfs) gives "//host/data/".
#pragma once

#include <string>
#include <vector>

namespace yubin::mdGETUNC {

// Drive-type codes.
enum DriveType : int {
    kDriveUnknown = 0,
    kDriveNoRootDir = 1,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdRom = 5,
    kDriveRamDisk = 6,
};

// The four platform questions the drive list rests on; tests answer them with substitutes.
class DrivePlatform {
  public:
    virtual ~DrivePlatform() = default;
    virtual std::vector<std::string> driveRoots() = 0;
    virtual int driveType(const std::string& root) = 0;
    // Whether a new file could be made in the root folder (the write test).
    virtual bool canWrite(const std::string& root) = 0;
    // The universal name of a network root, or "".
    virtual std::string universalName(const std::string& root) = 0;
    // Whether the folders of the root can be listed (a share the user may read).
    virtual bool canRead(const std::string& root);
};

// The platform's answers: the mount table's mount points, in its order.
DrivePlatform& SystemDrivePlatform();

std::vector<std::string> GetDriveList(DrivePlatform& platform);
std::vector<std::string> GetDriveList();

// An entry of a drive list with the folder it stands for on this machine: a network share is
// listed by its universal name ("//server/share/") and opens where it is mounted.
struct DriveEntry {
    std::string name;
    std::string folder;
};
// GetDriveList's entries, each with its folder.
std::vector<DriveEntry> GetDriveEntries(DrivePlatform& platform);

// True when a file could be created in the root folder. Never empties or deletes a file that
// was there before: the test file yubinboxtext.txt is made only when no file of that name
// exists, and removed again; when one exists, a uniquely named file of our own is used.
// Never raises.
bool CanWriteDrive(const std::string& root);
// The universal name of a path on a network mount ("//server/share/"), "" otherwise.
std::string GetUNCPath(const std::string& path);
// The user's documents folder (XDG documents folder, else $HOME/Documents), made when missing.
// The XDG folder is XDG_DOCUMENTS_DIR of $XDG_CONFIG_HOME/user-dirs.dirs (else of
// $HOME/.config/user-dirs.dirs), "$HOME" expanded. No "/" at the end. PathNotFound when there
// is no home folder, PathFileAccess when the folder cannot be made.
std::string GetMyDocumentsPath();
// The same folder, as it is named, without making it: what reading the settings needs.
std::string DocumentsFolderPath();

// The mount table, as the system platform reads it.

struct MountEntry {
    std::string source;      // device, or the server's name of a network file system
    std::string mountPoint;  // octal escapes (\040 for a space, ...) decoded
    std::string fsType;
};

// Parses text of the form of /proc/self/mounts; lines of fewer than three fields are skipped.
std::vector<MountEntry> ParseMountTable(const std::string& text);
// The mount points of the table, each once, in the order of their first mount.
std::vector<std::string> MountRoots(const std::vector<MountEntry>& table);
// Whether the file system type lies on a block device that may be removable media.
bool IsDiskFileSystem(const std::string& fsType);
// The drive type of a mount, `removableDevice` telling whether its device is removable.
int DriveTypeOfMount(const MountEntry& entry, bool removableDevice);
// The universal name of a network mount's source ("//server/share/"); "" when the source
// names no server or the mount is no network mount.
std::string UniversalNameOfMount(const MountEntry& entry);
// The universal name of an absolute, normalised path among the mounts of the table: that of
// the mount holding it, then the rest of the path; "" for a path on a local mount.
std::string UncPathInTable(const std::vector<MountEntry>& table, const std::string& path);
// Whether the device of a mount source ("/dev/sdb1") is removable media, as the sysfs tree
// under `sysRoot` tells.
bool IsRemovableDevice(const std::string& source, const std::string& sysRoot = "/sys");

}  // namespace yubin::mdGETUNC
