#include "settings/mdGETUNC.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string_view>

#include "base/Error.h"
#include "base/UniqueFd.h"
#include "settings/FileIo.h"

namespace yubin::mdGETUNC {

namespace fs = std::filesystem;

namespace {

constexpr const char* kTestFileName = "yubinboxtext.txt";
constexpr const char* kMountTable = "/proc/self/mounts";

const std::set<std::string, std::less<>> kNetworkFileSystems = {
    "nfs",       "nfs4",        "cifs",      "smb3",         "smbfs",
    "ncpfs",     "afs",         "coda",      "ceph",         "glusterfs",
    "lustre",    "davfs",       "sshfs",     "fuse.sshfs",   "fuse.glusterfs",
    "fuse.ceph", "fuse.rclone", "fuse.s3fs", "fuse.gcsfuse", "fuse.ceph-fuse",
};

const std::set<std::string, std::less<>> kDiskFileSystems = {
    "ext2",     "ext3",    "ext4",   "xfs",      "btrfs", "f2fs",    "jfs",
    "reiserfs", "reiser4", "nilfs2", "bcachefs", "hfs",   "hfsplus", "ufs",
    "minix",    "vfat",    "msdos",  "exfat",    "ntfs",  "ntfs3",   "fuseblk",
};

// Fixed without a device of their own.
const std::set<std::string, std::less<>> kOtherFixedFileSystems = {
    "zfs", "overlay", "fuse.fuse-overlayfs", "9p", "virtiofs",
};

const std::set<std::string, std::less<>> kReadOnlyMediaFileSystems = {
    "iso9660", "udf", "squashfs", "erofs", "cramfs",
};

const std::set<std::string, std::less<>> kRamFileSystems = {"tmpfs", "ramfs"};

const std::set<std::string, std::less<>> kKernelFileSystems = {
    "proc",       "sysfs",      "devtmpfs", "devpts",      "cgroup", "cgroup2",
    "securityfs", "debugfs",    "tracefs",  "configfs",    "pstore", "bpf",
    "mqueue",     "hugetlbfs",  "fusectl",  "binfmt_misc", "autofs", "efivarfs",
    "selinuxfs",  "rpc_pipefs", "nsfs",     "nfsd",        "sockfs", "pipefs",
};

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// A field of the mount table: "\ooo" stands for the byte of octal value ooo.
std::string DecodeField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) &&
            IsOctal(field[i + 2]) && IsOctal(field[i + 3])) {
            int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            out += static_cast<char>(value & 0xFF);
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::string ReadMountTableText() {
    std::string text;
    settings::ReadWholeFile(kMountTable, text, std::size_t{64} << 20);
    return text;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// "server/share/path" (no leading slashes) as "//server/share/path/".
std::string AsUniversalName(std::string_view host, std::string_view path) {
    if (host.empty() || host.find('/') != std::string_view::npos ||
        host.find(',') != std::string_view::npos) {
        return "";
    }
    while (!path.empty() && path.front() == '/') path.remove_prefix(1);
    std::string name = "//" + std::string(host) + "/" + std::string(path);
    if (name.back() != '/') name += '/';
    return name;
}

// A host without the user name in front ("user@host").
std::string_view WithoutUser(std::string_view host) {
    size_t at = host.rfind('@');
    return at == std::string_view::npos ? host : host.substr(at + 1);
}

// The mount the path lies on: the longest mount point that holds it, the last of equals.
const MountEntry* MountHolding(const std::vector<MountEntry>& table, std::string_view path) {
    const MountEntry* best = nullptr;
    for (const MountEntry& entry : table) {
        std::string_view point = entry.mountPoint;
        bool holds = point == "/" ? StartsWith(path, "/")
                                  : (path == point ||
                                     (StartsWith(path, point) && path.size() > point.size() &&
                                      path[point.size()] == '/'));
        if (holds && (best == nullptr || point.size() >= best->mountPoint.size())) best = &entry;
    }
    return best;
}

// The last (visible) mount of a mount point.
const MountEntry* VisibleMount(const std::vector<MountEntry>& table, const std::string& root) {
    const MountEntry* found = nullptr;
    for (const MountEntry& entry : table) {
        if (entry.mountPoint == root) found = &entry;
    }
    return found;
}

bool ReadsOne(const fs::path& file) {
    std::string text;
    return settings::ReadWholeFile(file.string(), text) == 0 && !text.empty() && text[0] == '1';
}

// Makes the file only when no file of that name exists, then removes it again.
// Returns 0, or the errno of the failed creation.
int CreateAndRemove(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) return errno;
    fd.close();
    ::unlink(path.c_str());
    return 0;
}

class SystemPlatform : public DrivePlatform {
  public:
    std::vector<std::string> driveRoots() override {
        table_ = ParseMountTable(ReadMountTableText());
        return MountRoots(table_);
    }

    int driveType(const std::string& root) override {
        const MountEntry* entry = VisibleMount(table_, root);
        if (entry == nullptr) {
            table_ = ParseMountTable(ReadMountTableText());
            entry = VisibleMount(table_, root);
        }
        if (entry == nullptr) return kDriveNoRootDir;
        bool removable = IsDiskFileSystem(entry->fsType) && IsRemovableDevice(entry->source);
        int type = DriveTypeOfMount(*entry, removable);
        if (type == kDriveFixed) {
            // Network mounts are not touched here: a dead server would stall the list twice.
            struct stat info {};
            if (::stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return kDriveNoRootDir;
        }
        return type;
    }

    bool canWrite(const std::string& root) override { return CanWriteDrive(root); }

    std::string universalName(const std::string& root) override { return GetUNCPath(root); }

  private:
    std::vector<MountEntry> table_;
};

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (passwd* entry = ::getpwuid(::geteuid());
        entry != nullptr && entry->pw_dir != nullptr && *entry->pw_dir != '\0') {
        return entry->pw_dir;
    }
    throw YubinError(
        ErrorCode::PathNotFound,
        Message("利用者のホームフォルダがわかりません（HOME が設定されていません）。"));
}

// The value of XDG_DOCUMENTS_DIR in a user-dirs.dirs text, "$HOME" expanded; "" when the
// file does not set it to an absolute or home-relative path. The last assignment counts.
std::string XdgDocumentsDir(const std::string& text, const std::string& home) {
    std::string result;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        constexpr std::string_view kName = "XDG_DOCUMENTS_DIR=";
        if (!StartsWith(line, kName)) continue;
        line.remove_prefix(kName.size());
        std::string value;
        if (!line.empty() && line.front() == '"') {
            for (size_t i = 1; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && i + 1 < line.size()) ++i;
                value += line[i];
            }
        } else {
            size_t stop = line.find_first_of(" \t\r#");
            value = std::string(line.substr(0, stop));
        }
        for (std::string_view var : {"$HOME", "${HOME}"}) {
            if (StartsWith(value, var) &&
                (value.size() == var.size() || value[var.size()] == '/')) {
                value = home + value.substr(var.size());
                break;
            }
        }
        if (StartsWith(value, "/")) result = value;
    }
    return result;
}

}  // namespace

std::vector<MountEntry> ParseMountTable(const std::string& text) {
    std::vector<MountEntry> table;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        std::vector<std::string_view> fields;
        size_t i = 0;
        while (i < line.size() && fields.size() < 3) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
            size_t start = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
            if (i > start) fields.push_back(line.substr(start, i - start));
        }
        if (fields.size() < 3) continue;
        table.push_back({DecodeField(fields[0]), DecodeField(fields[1]), DecodeField(fields[2])});
    }
    return table;
}

std::vector<std::string> MountRoots(const std::vector<MountEntry>& table) {
    std::vector<std::string> roots;
    std::set<std::string, std::less<>> seen;
    for (const MountEntry& entry : table) {
        if (seen.insert(entry.mountPoint).second) roots.push_back(entry.mountPoint);
    }
    return roots;
}

bool IsDiskFileSystem(const std::string& fsType) { return kDiskFileSystems.contains(fsType); }

int DriveTypeOfMount(const MountEntry& entry, bool removableDevice) {
    const std::string& type = entry.fsType;
    if (kDiskFileSystems.contains(type)) return removableDevice ? kDriveRemovable : kDriveFixed;
    if (kOtherFixedFileSystems.contains(type)) return kDriveFixed;
    if (kNetworkFileSystems.contains(type)) return kDriveRemote;
    if (kReadOnlyMediaFileSystems.contains(type)) return kDriveCdRom;
    if (kRamFileSystems.contains(type)) return kDriveRamDisk;
    if (kKernelFileSystems.contains(type)) return kDriveNoRootDir;
    return kDriveUnknown;
}

std::string UniversalNameOfMount(const MountEntry& entry) {
    if (!kNetworkFileSystems.contains(entry.fsType)) return "";
    std::string source = entry.source;
    const std::string& type = entry.fsType;
    if (type == "cifs" || type == "smb3" || type == "smbfs") {
        for (char& c : source) {
            if (c == '\\') c = '/';
        }
    }
    std::string_view s = source;
    if (StartsWith(s, "//")) {  // //server/share[/path]
        s.remove_prefix(2);
        size_t slash = s.find('/');
        if (slash == std::string_view::npos) return AsUniversalName(s, "");
        return AsUniversalName(s.substr(0, slash), s.substr(slash + 1));
    }
    if (size_t scheme = s.find("://"); scheme != std::string_view::npos) {  // https://host/path
        s.remove_prefix(scheme + 3);
        size_t slash = s.find('/');
        std::string_view host = WithoutUser(s.substr(0, slash));
        return AsUniversalName(host, slash == std::string_view::npos ? "" : s.substr(slash));
    }
    // server:/export/path, [v6::addr]:/export, user@host:path
    size_t colon;
    if (StartsWith(s, "[")) {
        size_t close = s.find(']');
        if (close == std::string_view::npos || close + 1 >= s.size() || s[close + 1] != ':') {
            return "";
        }
        colon = close + 1;
    } else {
        colon = s.find(":/");
        if (colon == std::string_view::npos) colon = s.find(':');
    }
    if (colon == std::string_view::npos) return "";
    return AsUniversalName(WithoutUser(s.substr(0, colon)), s.substr(colon + 1));
}

std::string UncPathInTable(const std::vector<MountEntry>& table, const std::string& path) {
    const MountEntry* mount = MountHolding(table, path);
    if (mount == nullptr) return "";
    std::string name = UniversalNameOfMount(*mount);
    if (name.empty()) return "";
    std::string_view rest = std::string_view(path).substr(mount->mountPoint.size());
    while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
    return name + std::string(rest);
}

bool IsRemovableDevice(const std::string& source, const std::string& sysRoot) {
    if (!StartsWith(source, "/dev/")) return false;
    std::error_code ec;
    fs::path device = fs::canonical(source, ec);  // /dev/disk/by-uuid/... and the like
    if (ec) device = source;
    fs::path node = fs::canonical(fs::path(sysRoot) / "class" / "block" / device.filename(), ec);
    if (ec) return false;
    // A partition's removable flag is that of the disk that holds it.
    if (fs::exists(node / "partition", ec)) node = node.parent_path();
    return ReadsOne(node / "removable");
}

DrivePlatform& SystemDrivePlatform() {
    static SystemPlatform platform;
    return platform;
}

bool DrivePlatform::canRead(const std::string& root) {
    return !root.empty() && ::access(root.c_str(), R_OK | X_OK) == 0;
}

std::vector<DriveEntry> GetDriveEntries(DrivePlatform& platform) {
    std::vector<DriveEntry> list;
    for (const std::string& root : platform.driveRoots()) {
        switch (platform.driveType(root)) {
            case kDriveFixed:
                list.push_back({root, root});
                break;
            case kDriveRemote:
                if (platform.canWrite(root)) list.push_back({platform.universalName(root), root});
                break;
            default:
                break;
        }
    }
    return list;
}

std::vector<std::string> GetDriveList(DrivePlatform& platform) {
    std::vector<std::string> list;
    for (DriveEntry& entry : GetDriveEntries(platform)) list.push_back(std::move(entry.name));
    return list;
}

std::vector<std::string> GetDriveList() { return GetDriveList(SystemDrivePlatform()); }

bool CanWriteDrive(const std::string& root) {
    try {
        if (root.empty()) return false;  // no root at all, not the file system's root
        std::string folder = root;
        if (folder.back() != '/') folder += '/';
        int error = CreateAndRemove(folder + kTestFileName);
        if (error == 0) return true;
        if (error != EEXIST) return false;
        // A file of the test file's name is someone's: leave it and test with one of our own.
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        for (int attempt = 0; attempt < 10; ++attempt) {
            std::string name = "yubinboxtext-" + std::to_string(::getpid()) + "-" +
                               std::to_string(counter++) + "-" + std::to_string(random()) + ".txt";
            error = CreateAndRemove(folder + name);
            if (error == 0) return true;
            if (error != EEXIST) return false;
        }
        return false;
    } catch (...) {
        return false;
    }
}

std::string GetUNCPath(const std::string& path) {
    try {
        if (path.empty()) return "";
        std::error_code ec;
        fs::path absolute = fs::absolute(path, ec);
        if (ec) return "";
        fs::path resolved = fs::weakly_canonical(absolute, ec);
        if (ec) resolved = absolute.lexically_normal();
        std::string normal = resolved.string();
        while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
        return UncPathInTable(ParseMountTable(ReadMountTableText()), normal);
    } catch (...) {
        return "";
    }
}

std::string DocumentsFolderPath() {
    const std::string home = HomeFolder();
    std::string configHome;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        configHome = xdg;
    } else {
        configHome = home + "/.config";
    }
    std::string text;
    std::string folder;
    if (settings::ReadWholeFile(configHome + "/user-dirs.dirs", text) == 0) {
        folder = XdgDocumentsDir(text, home);
    }
    if (folder.empty()) folder = home + "/Documents";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string GetMyDocumentsPath() {
    const std::string folder = DocumentsFolderPath();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec)) {
        throw YubinError(ErrorCode::PathFileAccess,
                         Message("ドキュメントフォルダ {1} を作成できません。", folder));
    }
    return folder;
}

}  // namespace yubin::mdGETUNC
