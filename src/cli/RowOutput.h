// Postal-code rows written for other programs: TSV, CSV (RFC 4180) or JSON.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "query/QueryData.h"

namespace yubin::cli {

using query::Masters;
using query::QueryRows;
using query::Row;

enum class OutputFormat { Tsv, Csv, Json };

// "tsv", "csv", "json" -> the format; nothing for any other text.
std::optional<OutputFormat> ParseOutputFormat(std::string_view text);

// TSV and CSV: one header line, then one line a row with the columns 郵便番号, 区分
// (全国 or 事業所), 都道府県名, 市町村名, 町域名, 丁目番地等, 事業所名, 取扱郵便局. CSV quotes
// as RFC 4180 says and ends its lines with CR LF.
// JSON: one object a line (JSON Lines) with stable ASCII keys (kJsonKeys), each naming the
// column it comes from: every column of the row, the masters' names and readings, and `kind`
// ("national" or "office", the 区分 of TSV and CSV). Numbers as numbers, no value as null.
// The man page lists the keys.
// The JSON key of each column of a row (ZIPALL) or of the masters.
struct JsonKey {
    const char* key;
    const char* column;
};
extern const std::vector<JsonKey> kJsonKeys;

class RowWriter {
  public:
    RowWriter(std::ostream& out, OutputFormat format, const Masters& masters);
    void write(const QueryRows& rows);

  private:
    void writeHeader();
    void writeLine(const std::vector<std::string>& fields);
    void writeJson(const std::vector<std::string>& columns, const Row& row);

    std::ostream& out_;
    OutputFormat format_;
    const Masters& masters_;
    bool headerWritten_ = false;
};

// A JSON string literal of UTF-8 text (non-ASCII written as it is).
std::string JsonString(std::string_view text);

}  // namespace yubin::cli
