// The last change reports printed: the counts first (added, removed, changed, then per
// prefecture), then every code the report names with its rows before and after.
//
//   text  for people: one block a data set
//   tsv   two tables, separated by one empty line: the counts (a line of totals with an empty
//   csv   prefecture, then one line a prefecture), then the rows (one line a row before or
//         after). CSV quotes as RFC 4180 says and ends its lines with CR LF.
//   json  one object with a member a data set ("national", "office"; null when it has no
//         report): dates, counts, prefectures, then codes with their rows before and after
#pragma once

#include <optional>
#include <ostream>
#include <span>
#include <string_view>

#include "changes/ChangeTables.h"
#include "store/Engine.h"

namespace yubin::changes {

enum class ReportFormat { Text, Tsv, Csv, Json };

// "text", "tsv", "csv", "json" -> the format; nothing for any other text.
std::optional<ReportFormat> ParseReportFormat(std::string_view text);

// Writes the last report of each data set, in the order given. Returns how many of them had a
// report.
int PrintReports(db::Connection& connection, std::span<const DataSet> sets, ReportFormat format,
                 std::ostream& out);

}  // namespace yubin::changes
