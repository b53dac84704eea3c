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
    char head[24];
    char* end = std::to_chars(head, head + sizeof head - 1, field.size()).ptr;
    *end++ = ':';
    packed.append(head, end).append(field);
}

KeptRowids KeepRows(db::Connection& connection, DataSet set,
                    std::optional<long long> highestRowid) {
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
    // Only the columns the set carries are read; the others pack as the empty field.
    std::string columns = "rowid, \"郵便番号\"";
    std::array<bool, kZipallColumns.size()> carried{};
    for (size_t i = 0; i < kZipallColumns.size(); ++i) {
        carried[i] = Carries(set, i);
        if (carried[i]) columns += ", " + Quote(kZipallColumns[i]);
    }
    db::NativeStatement rows(
        connection, "SELECT " + columns + " FROM \"ZIPALL\" WHERE \"データ識別\"" +
                        (set == DataSet::National ? " <> '1'" : " = '1'") +
                        (highestRowid ? " AND rowid <= " + std::to_string(*highestRowid) : "") +
                        " ORDER BY rowid");
    KeptRowids kept;
    while (rows.step()) {
        const long long rowid = rows.number(0);
        if (!kept.empty() && kept.back().last + 1 == rowid) {
            kept.back().last = rowid;
        } else {
            kept.push_back({rowid, rowid});
        }
        PackField(packed, rows.text(1));
        int column = 2;
        for (bool isCarried : carried) {
            if (isCarried) {
                PackField(packed, rows.text(column++));
            } else {
                packed += "0:";
            }
        }
        if (packed.size() >= kPackedSize) write();
    }
    if (!packed.empty()) write();
    return kept;
}

}  // namespace yubin::changes::detail
