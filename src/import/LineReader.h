// The lines of a data file as raw bytes, read through one buffer, with the counts that the
// import's progress display needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/Error.h"
#include "import/DataFile.h"

namespace yubin::import {

class LineReader {
  public:
    // The longest line accepted, line end excluded; a longer one is a BadInputLine.
    static constexpr std::size_t kMaxLineBytes = 1 << 20;

    // The file is opened as a DataFile of `kind` (a CSV file, or the CSV entry of a ZIP
    // archive), which raises when it cannot be.
    explicit LineReader(std::string path, std::size_t bufferBytes = 64 * 1024,
                        DataKind kind = DataKind::Any);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next line without its line end (CR LF, or LF alone; a CR directly before the end of
    // the file counts as a line end too). A final line end does not start another line; a
    // last line without a line end is a line. The view stays valid until the next call.
    // False at the end of the file.
    bool next(std::string_view& line);

    const std::string& path() const { return path_; }
    std::uint64_t fileLength() const { return fileLength_; }
    // Each line's length + 2 for its line end, never more than the file length.
    std::uint64_t bytesConsumed() const { return bytesConsumed_; }
    // 1 for the first line, 0 before it.
    long long lineNumber() const { return lineNumber_; }

    // Raises `code` as an error of the current line: the file and the line are its fields.
    [[noreturn]] void fail(ErrorCode code, const Message& what) const;

  private:
    void fill();
    void count(std::size_t lineBytes);
    [[noreturn]] void failOverlong() const;

    std::string path_;
    DataFile file_;
    std::uint64_t fileLength_ = 0;
    std::uint64_t bytesConsumed_ = 0;
    long long lineNumber_ = 0;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;    // start of the unread bytes
    std::size_t end_ = 0;      // end of the bytes read from the file
    std::size_t scanned_ = 0;  // unread bytes already known to hold no LF
    bool eof_ = false;
};

}  // namespace yubin::import
