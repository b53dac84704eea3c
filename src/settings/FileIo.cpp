#include "settings/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "base/Error.h"
#include "base/UniqueFd.h"

namespace yubin::settings {

namespace fs = std::filesystem;

namespace {

// 0 when the status is that of a regular file of at most `maxBytes`, else why not.
int RegularFileOfAtMost(const struct stat& st, std::size_t maxBytes) {
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) return EFBIG;
    return 0;
}

}  // namespace

int ReadWholeFile(const std::string& path, std::string& bytes, std::size_t maxBytes) {
    bytes.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno;
    if (int why = RegularFileOfAtMost(st, maxBytes); why != 0) return why;
    // Non-blocking and checked again once open: the name may have changed in between.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) return errno;
    if (::fstat(fd.get(), &st) != 0) return errno;
    if (int why = RegularFileOfAtMost(st, maxBytes); why != 0) return why;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n == 0) return 0;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            int error = errno;
            bytes.clear();
            return error;
        }
        bytes.append(buffer, static_cast<size_t>(n));
        if (bytes.size() > maxBytes) {  // grown since it was looked at
            bytes.clear();
            return EFBIG;
        }
    }
}

void FailUnreadableSettingsFile(const std::string& path, int error) {
    switch (error) {
        case EISDIR:
            throw YubinError(
                ErrorCode::PathFileAccess,
                Message("設定ファイル {1} はフォルダです。設定ファイルには書き込みません。", path));
        case EINVAL:
            throw YubinError(ErrorCode::PathFileAccess,
                             Message("設定ファイル {1} は通常のファイルではありません（名前付きパイ"
                                     "プ、デバイスなど）。設定ファイルには書き込みません。",
                                     path));
        case EFBIG:
            throw YubinError(ErrorCode::PathFileAccess,
                             Message("設定ファイル {1} は設定ファイルとしては大きすぎます（{2} バイ"
                                     "ト超）。設定ファイルには書き込みません。",
                                     path, kMaxSettingsFileBytes));
        default:
            throw YubinError(ErrorCode::PathFileAccess,
                             Message("設定ファイル {1} を読み取れません（{2}）。設定ファイルには書"
                                     "き込みません。",
                                     path, std::strerror(error)));
    }
}

void CheckReplaceableSettingsFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return;  // a missing file (or a dangling link) is made
        FailUnreadableSettingsFile(path, errno);
    }
    if (int why = RegularFileOfAtMost(st, kMaxSettingsFileBytes); why != 0) {
        FailUnreadableSettingsFile(path, why);
    }
}

namespace {

[[noreturn]] void Fail(const std::string& path, int error) {
    throw YubinError(
        ErrorCode::PathFileAccess,
        Message("設定ファイル {1} に書き込めません（{2}）。", path, std::strerror(error)));
}

// The file a write must replace: the target of a symbolic link, else the path itself.
fs::path WriteTarget(const std::string& path) {
    std::error_code ec;
    if (fs::is_symlink(path, ec)) {
        fs::path target = fs::weakly_canonical(path, ec);
        if (!ec) return target;
    }
    return path;
}

// A temporary file beside `target`, removed on destruction unless committed.
class TempFile {
  public:
    explicit TempFile(const fs::path& target) {
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        fs::path folder = target.parent_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = "." + target.filename().string() + ".tmp" +
                               std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                               std::to_string(random());
            fs::path candidate = folder.empty() ? fs::path(name) : folder / name;
            fd_ =
                UniqueFd(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (fd_) {
                path_ = candidate;
                return;
            }
            if (errno != EEXIST) break;
        }
        Fail(target.string(), errno);
    }
    ~TempFile() {
        fd_.close();
        if (!committed_) ::unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Writes the bytes, flushes them to the disk and closes the file.
    void Finish(const std::string& bytes, const fs::path& target) {
        const char* data = bytes.data();
        size_t left = bytes.size();
        while (left > 0) {
            ssize_t n = ::write(fd_.get(), data, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                Fail(target.string(), errno);
            }
            data += n;
            left -= static_cast<size_t>(n);
        }
        if (::fsync(fd_.get()) != 0 && errno != EINVAL && errno != EROFS) {
            Fail(target.string(), errno);
        }
        if (int error = fd_.close(); error != 0) Fail(target.string(), error);
    }

    int fd() const { return fd_.get(); }
    const fs::path& path() const { return path_; }
    void Committed() { committed_ = true; }

  private:
    UniqueFd fd_;
    fs::path path_;
    bool committed_ = false;
};

// Makes the rename or link durable; a folder that cannot be synced is no failure.
void SyncFolderOf(const fs::path& target) {
    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) ::fsync(fd.get());
}

}  // namespace

void ReplaceFileAtomically(const std::string& path, const std::string& bytes) {
    CheckReplaceableSettingsFile(path);
    fs::path target = WriteTarget(path);
    TempFile temp(target);
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) ::fchmod(temp.fd(), old.st_mode & 07777);
    temp.Finish(bytes, target);
    if (::rename(temp.path().c_str(), target.c_str()) != 0) Fail(path, errno);
    temp.Committed();
    SyncFolderOf(target);
}

bool CreateFileAtomically(const std::string& path, const std::string& bytes) {
    fs::path target = WriteTarget(path);
    TempFile temp(target);
    temp.Finish(bytes, target);
    // A hard link never replaces an existing name, so a file made meanwhile is kept.
    if (::link(temp.path().c_str(), target.c_str()) != 0) {
        int error = errno;
        if (error == EEXIST) return false;
        if (error != EPERM && error != EOPNOTSUPP && error != ENOSYS) {
            Fail(path, error);
        }
        // A file system without hard links: check, then rename.
        struct stat existing {};
        if (::lstat(target.c_str(), &existing) == 0) return false;
        if (::rename(temp.path().c_str(), target.c_str()) != 0) Fail(path, errno);
        temp.Committed();
    }
    SyncFolderOf(target);
    return true;
}

}  // namespace yubin::settings
