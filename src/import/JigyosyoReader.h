// Reading jigyosyo.csv: lines decoded from code page 932 and split into fields.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace yubin::import {

// Streams one business-office data file:
//   while (reader.readLine()) { progress(reader.bytesConsumed()); events();
//       const auto& f = reader.splitFields(); ... }
class JigyosyoReader {
  public:
    // The CSV file, or a ZIP archive holding JIGYOSYO.CSV; raises as DataFile does when it
    // cannot be opened.
    explicit JigyosyoReader(const std::string& path);
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

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace yubin::import
