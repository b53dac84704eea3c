#include "import/LineReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace yubin::import {

namespace {

[[noreturn]] void failToOpen(const std::string& path, int error) {
    if (error == ENOENT || error == ENOTDIR) {
        throw YubinError(ErrorCode::FileNotFound, "ファイル " + path + " が見つかりません。");
    }
    throw YubinError(ErrorCode::PathFileAccess,
                     "ファイル " + path + " を開けません（" + std::strerror(error) + "）。");
}

int openForReading(const std::string& path) {
    if (path.empty()) failToOpen(path, ENOENT);
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) failToOpen(path, errno);
    return fd;
}

}  // namespace

LineReader::FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
}

LineReader::LineReader(std::string path, std::size_t bufferBytes)
    : path_(std::move(path)), file_(openForReading(path_)) {
    struct stat st {};
    if (::fstat(file_.get(), &st) != 0) failToOpen(path_, errno);
    if (S_ISDIR(st.st_mode)) failToOpen(path_, EISDIR);
    fileLength_ = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    buffer_.resize(std::clamp<std::size_t>(bufferBytes, 16, kMaxLineBytes + 2));
}

LineReader::~LineReader() = default;

void LineReader::fail(ErrorCode code, std::string_view what) const {
    throw YubinError(code, std::string(what), path_, static_cast<long>(lineNumber_));
}

void LineReader::count(std::size_t lineBytes) {
    ++lineNumber_;
    if (lineBytes > kMaxLineBytes) failOverlong();
    // A last line without a line end and bare LF line ends would count past the end.
    bytesConsumed_ = std::min(fileLength_, bytesConsumed_ + lineBytes + 2);
}

void LineReader::failOverlong() const {
    fail(ErrorCode::BadInputLine,
         "行が " + std::to_string(kMaxLineBytes) + " バイトを超えています。");
}

bool LineReader::next(std::string_view& line) {
    for (;;) {
        const char* base = buffer_.data();
        const char* from = base + begin_ + scanned_;
        if (const void* lf = std::memchr(from, '\n', end_ - begin_ - scanned_)) {
            const auto* stop = static_cast<const char*>(lf);
            line = std::string_view(base + begin_, static_cast<std::size_t>(stop - base) - begin_);
            begin_ += line.size() + 1;
            scanned_ = 0;
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            count(line.size());
            return true;
        }
        scanned_ = end_ - begin_;
        if (eof_) {
            if (begin_ == end_) return false;
            line = std::string_view(base + begin_, end_ - begin_);
            begin_ = end_;
            scanned_ = 0;
            if (line.back() == '\r') line.remove_suffix(1);
            count(line.size());
            return true;
        }
        fill();
    }
}

void LineReader::fill() {
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == buffer_.size()) {
        // One line fills the whole buffer: grow it, up to the longest line accepted.
        if (buffer_.size() >= kMaxLineBytes + 2) {
            ++lineNumber_;
            failOverlong();
        }
        buffer_.resize(std::min(buffer_.size() * 2, kMaxLineBytes + 2));
    }
    ssize_t n;
    do {
        n = ::read(file_.get(), buffer_.data() + end_, buffer_.size() - end_);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        const int error = errno;
        throw YubinError(ErrorCode::PathFileAccess,
                         "ファイル " + path_ + " の " + std::to_string(lineNumber_ + 1) +
                             " 行目を読み取れません（" + std::strerror(error) + "）。");
    }
    if (n == 0) {
        eof_ = true;
    } else {
        end_ += static_cast<std::size_t>(n);
    }
}

}  // namespace yubin::import
