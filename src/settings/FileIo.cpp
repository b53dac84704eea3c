#include "settings/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "store/Error.h"

namespace yubin::settings {

namespace fs = std::filesystem;

UniqueFd::~UniqueFd() { close(); }

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

int UniqueFd::release() noexcept {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

int UniqueFd::close() noexcept {
    if (fd_ < 0) return 0;
    int rc = ::close(release());
    return rc == 0 ? 0 : errno;
}

int ReadWholeFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return errno;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n == 0) return 0;
        if (n < 0) {
            if (errno == EINTR) continue;
            int error = errno;
            bytes.clear();
            return error;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
    throw YubinError(ErrorCode::PathFileAccess,
                     "cannot " + what + " " + path + ": " + std::strerror(error));
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
        Fail("write", target.string(), errno);
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
                Fail("write", target.string(), errno);
            }
            data += n;
            left -= static_cast<size_t>(n);
        }
        if (::fsync(fd_.get()) != 0 && errno != EINVAL && errno != EROFS) {
            Fail("write", target.string(), errno);
        }
        if (int error = fd_.close(); error != 0) Fail("write", target.string(), error);
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
    fs::path target = WriteTarget(path);
    TempFile temp(target);
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode)) Fail("write", path, EISDIR);
        ::fchmod(temp.fd(), old.st_mode & 07777);
    }
    temp.Finish(bytes, target);
    if (::rename(temp.path().c_str(), target.c_str()) != 0) Fail("write", path, errno);
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
            Fail("create", path, error);
        }
        // A file system without hard links: check, then rename.
        struct stat existing {};
        if (::lstat(target.c_str(), &existing) == 0) return false;
        if (::rename(temp.path().c_str(), target.c_str()) != 0) Fail("create", path, errno);
        temp.Committed();
    }
    SyncFolderOf(target);
    return true;
}

}  // namespace yubin::settings
