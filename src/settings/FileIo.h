// Small POSIX file helpers of the settings layer: an owned descriptor, whole-file reads and
// writes that never leave a half-written file behind.
#pragma once

#include <string>

namespace yubin::settings {

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

// Reads the whole file into `bytes`. Returns 0, or the errno of the failure (ENOENT for a
// missing file); `bytes` is then empty.
int ReadWholeFile(const std::string& path, std::string& bytes);

// Replaces the file's content with `bytes`: writes a temporary file in the same folder and
// renames it over the file, so the file holds either its old or its new content, never a part.
// An existing file keeps its permission bits; a symbolic link is followed and its target
// replaced. Raises PathFileAccess when the file cannot be written.
void ReplaceFileAtomically(const std::string& path, const std::string& bytes);

// Makes the file with `bytes` only when no file of that name exists, the same all-or-nothing
// way. Returns false, and changes nothing, when it exists. Raises PathFileAccess on failure.
bool CreateFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace yubin::settings
