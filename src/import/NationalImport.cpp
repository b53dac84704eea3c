// The national engine: ken_all.csv into ZIPALL, with the prefecture and municipality masters.
#include "base/Text.h"
#include "import/DataCompleteness.h"
#include "import/DataLineError.h"
#include "import/EngineSupport.h"
#include "import/KenAllReader.h"
#include "settings/mdFileCreate.h"
#include "store/mdlYubinBox.h"

namespace yubin::mdInport {

using db::CursorType;
using db::LockType;
using db::Recordset;
using db::Value;
using detail::connection;
using detail::Execute;
using detail::ZipallColumn;
using mdlYubinBox::strSQL;

namespace {

// Adds the master row when the lookup finds none.
template <size_t N>
void AddWhenMissing(const std::string& select, const std::array<std::string, N>& names,
                    const std::array<Value, N>& values) {
    Recordset rs;
    strSQL = select;
    rs.open(strSQL, connection(), CursorType::Keyset, LockType::Pessimistic);
    if (rs.eof()) rs.addNew(names, values);
    rs.close();
}

}  // namespace

void MasterUpdate(const import::ZipGroup& group, LastMasterCodes& last) {
    if (group.prefCode != last.prefCode) {
        static const std::array<std::string, 3> names = {"JISX0401", "都道府県名", "住所かな1"};
        AddWhenMissing("SELECT * FROM 都道府県 WHERE JISX0401= " + QuoteSqlLiteral(group.prefCode),
                       names,
                       std::array<Value, 3>{Value(group.prefCode), Value(group.prefName),
                                            Value(group.prefKana)});
        last.prefCode = group.prefCode;
    }
    if (group.cityCode != last.cityCode) {
        static const std::array<std::string, 4> names = {"JISX0402", "市町村名", "住所かな2",
                                                         "抹消FLAG"};
        AddWhenMissing("SELECT * FROM 市町村 WHERE JISX0402 = " + QuoteSqlLiteral(group.cityCode),
                       names,
                       std::array<Value, 4>{Value(group.cityCode), Value(group.cityName),
                                            Value(group.cityKana), Value(0)});
        last.cityCode = group.cityCode;
    }
}

void InportKenAll(const EngineRequest& request, ImportProgress& progress) {
    detail::EngineFrame frame(request, progress, kNational);
    const std::string& strCsvZPath = request.file;

    // The file is opened and then read to its end and checked before any deletion or row
    // commits, so a file that cannot be imported, or an abort during the check, leaves the
    // database as it was. Meanwhile the replaced data is kept for the change report, while its
    // date is still registered, and deleted, and the rows are appended. A deletion that fails
    // stops the run before any row is appended: the new rows must never stand beside the old
    // ones.
    import::KenAllReader reader(strCsvZPath);
    frame.checkAndPrepare(import::DataKind::National, [](const changes::KeptRowids* kept) {
        Execute("DELETE FROM 都道府県");
        Execute("DELETE FROM 市町村 WHERE 抹消FLAG = 0");
        static const std::string kDelete = "DELETE FROM ZIPALL WHERE データ識別 <> '1'";
        if (!detail::DeleteKeptRows(kDelete, kept)) Execute(kDelete);
    });
    detail::InOneCommit([] {
        detail::ExecuteKeyStatement("ALTER TABLE 都道府県 DROP CONSTRAINT xJISX0401");
        detail::ExecuteKeyStatement("ALTER TABLE 市町村 DROP CONSTRAINT xJISX0402");
    });
    // What is left of ZIPALL now is the business-office data: the rows appended come above it.
    if (frame.replacesWholeSet()) detail::NoteOfficeRowsBound(progress);

    LastMasterCodes last;
    detail::ZipallRowBuilder& row = frame.begin(reader.fileLength());

    long long groupStartLine = 1;
    auto writeGroup = [&](const import::ZipGroup& group, long long firstLine) {
        try {
            MasterUpdate(group, last);
            long& count = frame.count();
            ++count;
            if (count <= frame.threshold()) return;  // written by the interrupted run
            // The group's values stand in the table's leading columns, in order.
            for (size_t c = 0; c < group.row.size(); ++c) {
                row.setText(static_cast<ZipallColumn>(c), group.row[c]);
            }
            row.setNumber(ZipallColumn::RecNo, count);
            row.append();
        } catch (const YubinError& error) {
            import::RethrowForDataLine(error, strCsvZPath, firstLine);
        }
    };

    try {
        while (reader.readLine()) {
            frame.showLine(reader.bytesConsumed());
            if (const import::ZipGroup* group = reader.mergeLine()) {
                writeGroup(*group, groupStartLine);
                groupStartLine = reader.lineNumber();  // this line began the next group
            }
        }
        if (const import::ZipGroup* group = reader.finish()) writeGroup(*group, groupStartLine);
    } catch (const YubinError& error) {
        if (error.code() != ErrorCode::ImportAborted) frame.raiseCheckFaultFirst();
        throw;
    }
    frame.closeTable();

    // The masters' keys, then the creation date: one commit with the last rows.
    frame.finish("ZIPALL", import::DataKind::National,
                 TrMark("全国版郵便番号データの取込が終了しました。"), false, [] {
                     Execute("ALTER TABLE 都道府県 ADD CONSTRAINT xJISX0401 PRIMARY KEY(JISX0401)");
                     Execute("ALTER TABLE 市町村 ADD CONSTRAINT xJISX0402 PRIMARY KEY(JISX0402)");
                 });
    mdFileCreate::StoreImportPath("csvzpath", strCsvZPath);
    progress.intInportMode = 0;
}

}  // namespace yubin::mdInport
