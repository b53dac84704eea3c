// Reading ken_all.csv: lines decoded from code page 932, split into fields and merged into
// ZipGroups.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "import/ReadAhead.h"

namespace yubin::import {

// The program-wide count of lines read by the national import; never reset.
extern long long lngLineCount;

// One national postal-code record, formed from one or more consecutive lines: with texts of
// its own (`Text` std::string) or as the reader hands it over, viewing the reader's buffer
// (`Text` std::string_view).
template <class Text>
struct BasicZipGroup {
    Text key;
    // Row values in ZIPALL order: fields 0, 1, 2, 5, 8, 9, 10, 11, 12, 13, 14
    // (団体コード, 旧郵便番号, 郵便番号, 住所かな3, 町域名, flag1, flag2, flag3, ダブり, flag4,
    // flag5).
    std::array<Text, 11> row;
    // Master values from the first line.
    Text prefCode;  // first 2 characters of field 0
    Text prefName;  // field 6
    Text prefKana;  // field 3
    Text cityCode;  // field 0
    Text cityName;  // field 7
    Text cityKana;  // field 4
};
using ZipRecord = BasicZipGroup<std::string>;

// A record as handed over: valid until the reader reads on.
struct ZipGroup : BasicZipGroup<std::string_view> {
    // A copy with texts of its own.
    ZipRecord owned() const;
};

// Streams one national data file. Usage per line, in this order:
//   while (reader.readLine()) { progress(reader.bytesConsumed()); events();
//       if (const ZipGroup* g = reader.mergeLine()) write(*g); }
//   if (const ZipGroup* g = reader.finish()) write(*g);
// A returned group views the reader's buffer and stays valid until the next call of readLine,
// mergeLine or finish (ZipGroup::owned copies it).
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
