// Reading ken_all.csv: lines decoded from code page 932, split into fields and merged into
// ZipGroups.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "import/ReadAhead.h"

namespace yubin::import {

// The program-wide count of lines read by the national import; never reset.
extern long long lngLineCount;

// One national postal-code record, formed from one or more consecutive lines.
struct ZipGroup {
    std::string key;
    // Row values in ZIPALL order: fields 0, 1, 2, 5, 8, 9, 10, 11, 12, 13, 14
    // (団体コード, 旧郵便番号, 郵便番号, 住所かな3, 町域名, flag1, flag2, flag3, ダブり, flag4,
    // flag5).
    std::array<std::string, 11> row;
    // Master values from the first line.
    std::string prefCode;  // first 2 characters of field 0
    std::string prefName;  // field 6
    std::string prefKana;  // field 3
    std::string cityCode;  // field 0
    std::string cityName;  // field 7
    std::string cityKana;  // field 4
};

// Streams one national data file. Usage per line, in this order:
//   while (reader.readLine()) { progress(reader.bytesConsumed()); events();
//       if (const ZipGroup* g = reader.mergeLine()) write(*g); }
//   if (const ZipGroup* g = reader.finish()) write(*g);
// A returned group stays valid until the next call of mergeLine or finish.
//
// The reading, decoding, splitting and merging run ahead of the consumer on a worker thread
// (ReadAheadOptions), from the first readLine on; what the consumer sees is what reading in
// one thread gives, in the same order: the counts of each line, each group at the line that
// completes it, each failure at the call that meets it. Every line is merged, so mergeLine is
// to be called after each readLine; after a failure every call raises it again. The
// destructor stops the worker, wherever the consumer stopped.
class KenAllReader {
  public:
    // The CSV file, or a ZIP archive holding KEN_ALL.CSV; raises as DataFile does when it
    // cannot be opened.
    explicit KenAllReader(const std::string& path, const ReadAheadOptions& options = {});
    ~KenAllReader();
    KenAllReader(const KenAllReader&) = delete;
    KenAllReader& operator=(const KenAllReader&) = delete;

    std::uint64_t fileLength() const;
    // Bytes of the lines read so far, each counted with 2 for its line end, and never more
    // than the file length (a last line without a line end, bare LF line ends).
    std::uint64_t bytesConsumed() const;
    // The file line number of the line last read (1 for the first line).
    long long lineNumber() const;

    // Reads and decodes the next line and counts it (lngLineCount, bytes); false at the end.
    // BadEncoding, naming the file and line, for bytes that are not code page 932.
    bool readLine();
    // Splits the line just read and merges it; returns the group it completed, if any.
    // BadInputLine, naming the file and line, for a line of fewer than fifteen fields.
    const ZipGroup* mergeLine();
    // At the end of the file: the group being built, or nullptr when the file had no line.
    const ZipGroup* finish();

    // Whether the lines are read on a worker thread (known from the first readLine on).
    bool readsAhead() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace yubin::import
