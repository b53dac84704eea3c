// An owned POSIX file descriptor.
#pragma once

namespace yubin {

// An open file descriptor, closed when the object goes.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() noexcept;
    // Closes now; returns the errno of a failed close, 0 otherwise.
    int close() noexcept;

  private:
    int fd_ = -1;
};

}  // namespace yubin
