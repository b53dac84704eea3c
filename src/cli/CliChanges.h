// The change report of the imports on the command line: `changes` prints the last report, and
// the import tells the counts of the reports it made.
#pragma once

#include <CLI/CLI.hpp>
#include <array>
#include <functional>
#include <ostream>
#include <string>

namespace yubin::cli {

// The counts of each report of the database made at `since` ("yyyy-mm-dd hh:mm:ss") or
// later, one line a data set; a data set `imported` without such a report is named as one
// whose report was not made (the import stands all the same).
void PrintReportCounts(const std::string& database, const std::string& since,
                       const std::array<bool, 2>& imported, std::ostream& out);

}  // namespace yubin::cli
