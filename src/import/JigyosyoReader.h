// Reading jigyosyo.csv: lines decoded from code page 932 and split into fields.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "import/ReadAhead.h"

namespace yubin::import {

// Streams one business-office data file:
//   while (reader.readLine()) { progress(reader.bytesConsumed()); events();
//       const auto& f = reader.splitFields(); ... }
// The lines are read, decoded and split ahead of the consumer on a worker thread, as
// KenAllReader's are: each line's counts and fields, and each failure, come to the consumer
// as reading in one thread gives them, at the same calls. splitFields is to be called after
// each readLine; after a failure every call raises it again.
class JigyosyoReader {
  public:
    // The CSV file, or a ZIP archive holding JIGYOSYO.CSV; raises as DataFile does when it
    // cannot be opened.
    explicit JigyosyoReader(const std::string& path, const ReadAheadOptions& options = {});
    ~JigyosyoReader();
    JigyosyoReader(const JigyosyoReader&) = delete;
    JigyosyoReader& operator=(const JigyosyoReader&) = delete;

    std::uint64_t fileLength() const;
    // As KenAllReader::bytesConsumed: CR LF counted as 2, never above the file length.
    std::uint64_t bytesConsumed() const;
    long long lineNumber() const;

    // BadEncoding, naming the file and line, for bytes that are not code page 932.
    bool readLine();
    // Every double quote removed; split at every comma and every tab. BadInputLine, naming
    // the file and line, when the line has fewer than 13 fields. The views stay valid until
    // the next readLine.
    const std::vector<std::string_view>& splitFields();

    // Whether the lines are read on a worker thread (known from the first readLine on).
    bool readsAhead() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace yubin::import
