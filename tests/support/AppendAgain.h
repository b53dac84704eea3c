// A data set's rows of ZIPALL appended again through the engines' row builder, which takes
// them as appended, and the old ones deleted, as an import that replaces the data set leaves
// them: the rows now of a change report made without reading the table back.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "changes/AppendedRows.h"
#include "import/EngineSupport.h"
#include "store/Engine.h"
#include "store/NativeSql.h"

namespace yubin::test {

inline changes::AppendedRows AppendAgain(
    db::Connection& connection, changes::DataSet set,
    changes::AppendedRows::Reduction reduction = changes::AppendedRows::Reduction::ForComparison) {
    const std::string where =
        set == changes::DataSet::National ? " WHERE データ識別 <> '1'" : " WHERE データ識別 = '1'";
    // The old rows moved aside, in their order, so that the new ones never meet them (the
    // record numbers are a key), and then read a chunk at a time: few are held in memory.
    const auto run = [&](const std::string& sql) { db::NativeStatement(connection, sql).run(); };
    run("DROP TABLE IF EXISTS temp.again");
    run("CREATE TEMP TABLE again AS SELECT * FROM ZIPALL" + where + " ORDER BY rowid");
    run("DELETE FROM ZIPALL" + where);
    const std::vector<db::ColumnInfo> columns = connection.columns("ZIPALL");
    changes::AppendedRows appended(set, reduction);
    {
        db::Recordset zipall;
        zipall.open("ZIPALL", connection, db::CursorType::Keyset, db::LockType::Pessimistic);
        mdInport::detail::ZipallRowBuilder builder(zipall);
        if (!builder.addAppendedTo(appended, columns)) {
            throw std::runtime_error("the rows of ZIPALL cannot be taken as appended");
        }
        db::NativeStatement chunk(
            connection,
            "SELECT rowid, * FROM temp.again WHERE rowid > ?1 ORDER BY rowid LIMIT 4096");
        std::vector<std::vector<db::Value>> rows;
        for (long long after = 0;;) {
            rows.clear();
            chunk.bind(1, after);
            while (chunk.step()) {
                after = chunk.number(0);
                rows.emplace_back();
                for (size_t c = 0; c < columns.size(); ++c) {
                    const int i = static_cast<int>(c) + 1;
                    const bool number = columns[c].kind == db::ColumnKind::Byte ||
                                        columns[c].kind == db::ColumnKind::Long;
                    rows.back().push_back(chunk.isNull(i) ? db::Value()
                                          : number        ? db::Value(chunk.number(i))
                                                          : db::Value(chunk.text(i)));
                }
            }
            if (rows.empty()) break;
            for (const auto& row : rows) {
                // The table's columns are in the builder's order.
                for (size_t c = 0; c < row.size(); ++c) {
                    const auto column = static_cast<mdInport::detail::ZipallColumn>(c);
                    if (row[c].isNumber()) {
                        builder.setNumber(column, row[c].number());
                    } else {
                        builder.setText(column, row[c].toText());
                    }
                }
                builder.append();
            }
        }
    }
    run("DROP TABLE temp.again");
    return appended;
}

}  // namespace yubin::test
