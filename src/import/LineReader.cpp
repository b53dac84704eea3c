#include "import/LineReader.h"

#include <algorithm>
#include <cstring>

namespace yubin::import {

LineReader::LineReader(std::string path, std::size_t bufferBytes, DataKind kind)
    : path_(std::move(path)), file_(path_, kind) {
    fileLength_ = file_.length();
    buffer_.resize(std::clamp<std::size_t>(bufferBytes, 16, kMaxLineBytes + 2));
}

LineReader::~LineReader() = default;

void LineReader::fail(ErrorCode code, const Message& what) const {
    throw YubinError(code, what, path_, static_cast<long>(lineNumber_));
}

void LineReader::count(std::size_t lineBytes) {
    ++lineNumber_;
    if (lineBytes > kMaxLineBytes) failOverlong();
    // A last line without a line end and bare LF line ends would count past the end.
    bytesConsumed_ = std::min(fileLength_, bytesConsumed_ + lineBytes + 2);
}

void LineReader::failOverlong() const {
    fail(ErrorCode::BadInputLine, Message("行が {1} バイトを超えています。", kMaxLineBytes));
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
    const std::size_t n = file_.read(buffer_.data() + end_, buffer_.size() - end_);
    if (n == 0) {
        eof_ = true;
    } else {
        end_ += n;
    }
}

}  // namespace yubin::import
