// Which errors of an import belong to a data line, and how they name it.
#pragma once

#include <string>

#include "base/Error.h"

namespace yubin::import {

// Whether the values of a data line caused the error: a text too long for its column, a
// number out of range or of the wrong kind, an empty text or Null where none is allowed, a
// duplicate key, a line that cannot be read or decoded. A fault of the database itself (a
// read-only file, a full disk, a lost connection) is not.
bool IsCausedByLineValues(ErrorCode code);

// Rethrows `error` of storing the line `line` of `file`: as an error of that line, with the
// file and the line as its fields, when the line's values caused it; unchanged otherwise,
// and unchanged when it already names its line.
[[noreturn]] void RethrowForDataLine(const YubinError& error, const std::string& file,
                                     long long line);

}  // namespace yubin::import
