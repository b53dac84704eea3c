#include "store/LockFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "base/Error.h"
#include "store/TextRules.h"

namespace yubin::db::detail {

namespace {

constexpr short kInUseByte = 0;
constexpr short kImportByte = 1;
// A closing connection holds byte 0 exclusively for a moment; openers wait that long.
constexpr auto kLockPatience = std::chrono::milliseconds(500);

bool setLock(int fd, short type, short byte) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = byte;
    lock.l_len = 1;
    while (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

bool sameFile(int fd, const std::string& path) {
    struct stat opened {};
    struct stat named {};
    if (fstat(fd, &opened) != 0 || stat(path.c_str(), &named) != 0) return false;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

}  // namespace

std::string resolvedDatabasePath(const std::string& databasePath) {
    struct stat st {};
    if (lstat(databasePath.c_str(), &st) != 0) return databasePath;
    char* real = realpath(databasePath.c_str(), nullptr);
    if (real == nullptr) return databasePath;  // a dangling link: refused where it is opened
    std::string resolved(real);
    free(real);
    return resolved;
}

std::string lockFilePath(const std::string& givenPath) {
    const std::string databasePath = resolvedDatabasePath(givenPath);
    const size_t slash = databasePath.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string_view name = std::string_view(databasePath).substr(nameStart);
    if (name.size() > 4 && namesEqual(name.substr(name.size() - 4), ".mdb")) {
        return databasePath.substr(0, databasePath.size() - 4) + ".ldb";
    }
    return databasePath + ".ldb";
}

LockFile::LockFile(const std::string& databasePath, Mode mode) : path_(lockFilePath(databasePath)) {
    struct stat database {};
    const mode_t fileMode =
        stat(databasePath.c_str(), &database) == 0 ? (database.st_mode & 0666) : 0644;
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    for (;;) {
        bool writable = true;
        int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            // Everyone who may write the database may lock it.
            (void)fchmod(fd, fileMode | 0600);
        } else if (errno == EEXIST) {
            fd = open(path_.c_str(), O_RDWR | O_CLOEXEC);
            if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
                fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
                writable = false;
            }
            if (fd < 0 && errno == ENOENT) continue;  // removed between the two opens
        } else if (errno == EACCES || errno == EPERM || errno == EROFS) {
            fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
            writable = false;
        }
        if (fd < 0) return;  // a folder without lock file: nothing to lock against
        const short type = mode == Mode::InUse ? F_RDLCK : F_WRLCK;
        if (!writable && type == F_WRLCK) {
            // Exclusive use needs a writable lock file; without one we cannot tell who is in.
            close(fd);
            return;
        }
        if (!setLock(fd, type, kInUseByte)) {
            close(fd);
            if (std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            throw YubinError(
                ErrorCode::FileInUse,
                mode == Mode::InUse
                    ? Message("データベース {1} は他の処理が排他的に使用中です（最適化中など）。",
                              databasePath)
                    : Message("データベース {1} は使用中です。すべての接続を閉じてください。",
                              databasePath));
        }
        if (!sameFile(fd, path_)) {
            // The last user removed the lock file while we opened it: start again.
            close(fd);
            continue;
        }
        fd_ = fd;
        writable_ = writable;
        return;
    }
}

LockFile::~LockFile() { release(); }

LockFile::LockFile(LockFile&& other) noexcept
    : fd_(other.fd_), writable_(other.writable_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

LockFile& LockFile::operator=(LockFile&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = other.fd_;
        writable_ = other.writable_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

bool LockFile::tryLockImport() {
    if (fd_ < 0 || !writable_) {
        throw YubinError(
            ErrorCode::PermissionDenied,
            Message("ロック ファイル {1} に書き込めないため、取込用のロックを取れません。", path_));
    }
    return setLock(fd_, F_WRLCK, kImportByte);
}

void LockFile::unlockImport() {
    if (fd_ >= 0) setLock(fd_, F_UNLCK, kImportByte);
}

void LockFile::writeTag(const std::string& tag) {
    if (fd_ < 0 || !writable_) return;
    if (ftruncate(fd_, 0) != 0 ||
        pwrite(fd_, tag.data(), tag.size(), 0) != static_cast<ssize_t>(tag.size())) {
        throw YubinError(ErrorCode::PathFileAccess,
                         Message("ロック ファイル {1} に書き込めません。", path_));
    }
}

std::string LockFile::readTag() const {
    if (fd_ < 0) return {};
    char buffer[256];
    const ssize_t n = pread(fd_, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

void LockFile::release() noexcept {
    if (fd_ < 0) return;
    if (writable_ && setLock(fd_, F_WRLCK, kInUseByte) && sameFile(fd_, path_)) {
        unlink(path_.c_str());
    }
    close(fd_);
    fd_ = -1;
}

}  // namespace yubin::db::detail
