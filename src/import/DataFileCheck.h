// The check that comes before an import changes anything: the whole data file read once, as
// its engine will read it, and every value held against the rules of the column it will be
// stored in. A file that passes imports to its end; one that does not is refused with the
// line at fault before a single row is deleted or appended.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "import/DataFile.h"
#include "store/Engine.h"

namespace yubin::import {

struct CheckedFile {
    std::uint64_t length = 0;  // the bytes read (an archive's entry: uncompressed)
    long long lines = 0;
    long long records = 0;  // the rows the engine will form (national: groups)
};

// Reads the national (`kind` National) or business-office (Office) file to its end through the
// engine's own reader: every byte decoded from code page 932, every line with exactly the
// fields of its kind, (national) the lines merged into groups; an archive's entry decompressed
// once in full, so that its CRC is checked. Every value is checked against the rules of its
// column in ZIPALL and, where the engine would add a master row, in 都道府県 or 市町村, as the
// database defines them. `resuming`: the engine will continue an interrupted import and delete
// nothing, so the master rows the database holds now are found, not added.
//
// `tick` (when set) is called after every line read, as the engine's loop processes events
// after every line: the check of a long file leaves the window live. What it throws ends the
// check as it stands (an abort); the check neither catches nor rewrites it.
//
// Raises the first fault as the import would meet it: BadEncoding, BadInputLine or a column
// rule's error with the file and line as fields; BadArchive, DataFileChanged or PathFileAccess
// for a file that cannot be read to its end. Changes nothing.
using CheckTick = std::function<void()>;

// The same check in two steps: what it holds the file against (the master codes, the column
// rules) read from the database on the caller's thread when it is made; the reading of the
// file, which touches no connection, then on any one thread, once.
class DataFileCheck {
  public:
    DataFileCheck(std::string path, DataKind kind, db::Connection& connection, bool resuming);
    DataFileCheck(DataFileCheck&&) noexcept;
    ~DataFileCheck();

    CheckedFile run(const CheckTick& tick = {});

  private:
    struct Rules;
    std::string path_;
    std::unique_ptr<Rules> rules_;
};

CheckedFile CheckDataFileForImport(const std::string& path, DataKind kind,
                                   db::Connection& connection, bool resuming,
                                   const CheckTick& tick = {});

}  // namespace yubin::import
