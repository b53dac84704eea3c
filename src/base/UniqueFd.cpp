#include "base/UniqueFd.h"

#include <unistd.h>

#include <cerrno>

namespace yubin {

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

}  // namespace yubin
