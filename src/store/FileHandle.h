// An owning POSIX file descriptor.
#pragma once

#include <unistd.h>

namespace yubin::db::detail {

class FileHandle {
  public:
    explicit FileHandle(int fd = -1) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

  private:
    int fd_;
};

}  // namespace yubin::db::detail
