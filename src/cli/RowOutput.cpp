#include "cli/RowOutput.h"

#include "cli/SafeText.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace yubin::cli {

namespace {

constexpr std::array<const char*, 8> kTableHeader = {
    "郵便番号", "区分", "都道府県名", "市町村名", "町域名", "丁目番地等", "事業所名", "取扱郵便局"};

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

// A TSV field cannot hold its own separators; they become blanks.
std::string TsvField(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
    return text;
}

std::string JsonValue(const db::Value& value) {
    if (value.isNull()) return "null";
    if (value.isNumber()) return std::to_string(value.number());
    return JsonString(value.text());
}

}  // namespace

std::optional<OutputFormat> ParseOutputFormat(std::string_view text) {
    if (text == "tsv") return OutputFormat::Tsv;
    if (text == "csv") return OutputFormat::Csv;
    if (text == "json") return OutputFormat::Json;
    return std::nullopt;
}

std::string JsonString(std::string_view raw) {
    // Text another program wrote into the database may be no valid UTF-8: JSON always is.
    const std::string text = ValidUtf8(raw);
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + '"';
}

RowWriter::RowWriter(std::ostream& out, OutputFormat format, const Masters& masters)
    : out_(out), format_(format), masters_(masters) {}

void RowWriter::writeHeader() {
    if (headerWritten_ || format_ == OutputFormat::Json) return;
    headerWritten_ = true;
    writeLine({kTableHeader.begin(), kTableHeader.end()});
}

void RowWriter::writeLine(const std::vector<std::string>& fields) {
    const bool csv = format_ == OutputFormat::Csv;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out_ << (csv ? ',' : '\t');
        out_ << (csv ? CsvField(fields[i]) : TsvField(fields[i]));
    }
    out_ << (csv ? "\r\n" : "\n");
}

void RowWriter::write(const QueryRows& rows) {
    writeHeader();
    const auto column = [&](const char* name) {
        const auto at = std::find(rows.columns.begin(), rows.columns.end(), name);
        return at == rows.columns.end() ? -1 : static_cast<int>(at - rows.columns.begin());
    };
    const int city = column("団体コード"), kind = column("データ識別"), zip = column("郵便番号"),
              town = column("町域名"), street = column("丁目番地等"), office = column("事業所名"),
              postOffice = column("取扱郵便局");
    const auto text = [](const Row& row, int index) {
        return index < 0 ? std::string() : row[static_cast<size_t>(index)].toText();
    };
    for (const Row& row : rows.rows) {
        if (format_ == OutputFormat::Json) {
            writeJson(rows.columns, row);
            continue;
        }
        const std::string code = text(row, city);
        const Masters::Names* prefecture = masters_.prefecture(code);
        const Masters::Names* municipality = masters_.municipality(code);
        writeLine({text(row, zip), text(row, kind) == "1" ? "事業所" : "全国",
                   prefecture ? prefecture->name.toText() : "",
                   municipality ? municipality->name.toText() : "", text(row, town),
                   text(row, street), text(row, office), text(row, postOffice)});
    }
}

void RowWriter::writeJson(const std::vector<std::string>& columns, const Row& row) {
    std::string line = "{";
    for (size_t i = 0; i < columns.size(); ++i) {
        if (i > 0) line += ',';
        line += JsonString(columns[i]) + ':' + JsonValue(row[i]);
    }
    const auto cityAt = std::find(columns.begin(), columns.end(), "団体コード");
    const std::string code =
        cityAt == columns.end() ? std::string() : row[cityAt - columns.begin()].toText();
    const Masters::Names* prefecture = masters_.prefecture(code);
    const Masters::Names* municipality = masters_.municipality(code);
    const db::Value none;
    line += ",\"都道府県名\":" + JsonValue(prefecture ? prefecture->name : none);
    line += ",\"住所かな1\":" + JsonValue(prefecture ? prefecture->kana : none);
    line += ",\"市町村名\":" + JsonValue(municipality ? municipality->name : none);
    line += ",\"住所かな2\":" + JsonValue(municipality ? municipality->kana : none);
    out_ << line << "}\n";
}

}  // namespace yubin::cli
