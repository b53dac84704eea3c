#include "changes/ReportRows.h"

#include <charconv>
#include <cstring>

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

void PackRow(std::string& packed, const PackedRow& row) {
    // The room for the longest lengths first, then one pass that writes; the string grows once.
    constexpr size_t kMostLengthDigits = 20;
    size_t most = 0;
    for (std::string_view field : row) most += kMostLengthDigits + 1 + field.size();
    const size_t at = packed.size();
    packed.resize(at + most);
    char* out = packed.data() + at;
    for (std::string_view field : row) {
        out = std::to_chars(out, out + kMostLengthDigits, field.size()).ptr;
        *out++ = ':';
        std::memcpy(out, field.data(), field.size());
        out += field.size();
    }
    packed.resize(static_cast<size_t>(out - packed.data()));
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
        PackedRow row{};  // the columns not carried stay empty
        row[0] = rows.text(1);
        int column = 2;
        for (size_t i = 0; i < carried.size(); ++i) {
            if (carried[i]) row[i + 1] = rows.text(column++);
        }
        PackRow(packed, row);
        if (packed.size() >= kPackedSize) write();
    }
    if (!packed.empty()) write();
    return kept;
}

}  // namespace yubin::changes::detail
