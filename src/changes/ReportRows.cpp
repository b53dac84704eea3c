#include "changes/ReportRows.h"

#include <charconv>

#include "store/NativeSql.h"

namespace yubin::changes::detail {

std::string Quote(std::string_view name) {
    std::string text = "\"";
    for (char c : name) {
        if (c == '"') text += '"';
        text += c;
    }
    return text + '"';
}

std::string ZipallRows(DataSet set, const std::string& wrap) {
    const auto wrapped = [&wrap](const std::string& column) {
        std::string text = wrap;
        return text.replace(text.find('%'), 1, column);
    };
    std::string text = "SELECT " + wrapped("\"郵便番号\"");
    for (size_t i = 0; i < kZipallColumns.size(); ++i) {
        text += ", " + (Carries(set, i) ? wrapped(Quote(kZipallColumns[i])) : std::string("NULL"));
    }
    return text + " FROM \"ZIPALL\" WHERE \"データ識別\"" +
           (set == DataSet::National ? " <> '1'" : " = '1'");
}

std::string KeptColumns() {
    std::string text;
    for (const char* column : kZipallColumns) text += ", " + Quote(column);
    return text;
}

void PackField(std::string& packed, std::string_view field) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, field.size()).ptr;
    packed.append(digits, end);
    packed += ':';
    packed.append(field);
}

void KeepRows(db::Connection& connection, DataSet set, std::optional<long long> highestRowid) {
    db::NativeStatement insert(connection, "INSERT INTO " + Quote(kKeptTable) +
                                               " (\"データ\", \"都道府県名\", \"町域名\") "
                                               "VALUES (?1, ?2, ?3)");
    insert.bind(1, DataSetName(set)).bind(2, kPackedTag);
    std::string packed;
    packed.reserve(kPackedSize + 4096);
    const auto write = [&] {
        insert.bind(3, packed).run();
        packed.clear();
    };
    db::NativeStatement rows(
        connection, ZipallRows(set, "%") +
                        (highestRowid ? " AND rowid <= " + std::to_string(*highestRowid) : ""));
    while (rows.step()) {
        for (size_t i = 0; i < kPackedFields; ++i)
            PackField(packed, rows.text(static_cast<int>(i)));
        if (packed.size() >= kPackedSize) write();
    }
    if (!packed.empty()) write();
}

}  // namespace yubin::changes::detail
