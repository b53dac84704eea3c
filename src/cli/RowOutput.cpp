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

// In the order of the output; 区分 (kind) and the masters' four are filled apart.
const std::vector<JsonKey> kJsonKeys = {{"postal_code", "郵便番号"},
                                        {"kind", "区分"},
                                        {"prefecture", "都道府県名"},
                                        {"prefecture_kana", "住所かな1"},
                                        {"municipality", "市町村名"},
                                        {"municipality_kana", "住所かな2"},
                                        {"town", "町域名"},
                                        {"town_kana", "住所かな3"},
                                        {"street_address", "丁目番地等"},
                                        {"office_name", "事業所名"},
                                        {"office_name_kana", "事業所名かな"},
                                        {"post_office", "取扱郵便局"},
                                        {"office_number_kind", "種別"},
                                        {"municipality_code", "団体コード"},
                                        {"old_postal_code", "旧郵便番号"},
                                        {"flag1", "flag1"},
                                        {"flag2", "flag2"},
                                        {"flag3", "flag3"},
                                        {"duplicate", "ダブり"},
                                        {"flag4", "flag4"},
                                        {"flag5", "flag5"},
                                        {"data_id", "データ識別"},
                                        {"record_number", "RECNO"}};

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
    const auto valueOf = [&](const char* column) -> const db::Value* {
        const auto at = std::find(columns.begin(), columns.end(), column);
        return at == columns.end() ? nullptr : &row[static_cast<size_t>(at - columns.begin())];
    };
    const db::Value none;
    const db::Value* city = valueOf("団体コード");
    const std::string code = city ? city->toText() : std::string();
    const Masters::Names* prefecture = masters_.prefecture(code);
    const Masters::Names* municipality = masters_.municipality(code);
    const db::Value* kind = valueOf("データ識別");
    const std::string kindName = kind && kind->toText() == "1" ? "office" : "national";

    std::string line = "{";
    for (const JsonKey& key : kJsonKeys) {
        const std::string_view column = key.column;
        std::string value;
        if (column == "区分") {
            value = JsonString(kindName);
        } else if (column == "都道府県名" || column == "住所かな1") {
            value = JsonValue(!prefecture              ? none
                              : column == "都道府県名" ? prefecture->name
                                                       : prefecture->kana);
        } else if (column == "市町村名" || column == "住所かな2") {
            value = JsonValue(!municipality          ? none
                              : column == "市町村名" ? municipality->name
                                                     : municipality->kana);
        } else {
            const db::Value* cell = valueOf(key.column);
            value = JsonValue(cell ? *cell : none);
        }
        line += std::string(line.size() > 1 ? "," : "") + '"' + key.key + "\":" + value;
    }
    out_ << line << "}\n";
}

}  // namespace yubin::cli
