// The business-office engine: jigyosyo.csv into ZIPALL, with placeholder municipalities.
#include <unordered_set>

#include "base/Text.h"
#include "import/DataCompleteness.h"
#include "import/DataLineError.h"
#include "import/EngineSupport.h"
#include "import/JigyosyoReader.h"
#include "settings/mdFileCreate.h"
#include "store/NativeSql.h"
#include "store/mdlYubinBox.h"

namespace yubin::mdInport {

using db::CursorType;
using db::LockType;
using db::Recordset;
using db::Value;
using detail::ZipallColumn;

namespace {

// Lets a set of texts be searched with a string_view.
struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

std::string_view TrimAsciiSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// The ZIPALL row of one record, by the positions of its fields.
void FillOfficeRow(detail::ZipallRowBuilder& row, const std::vector<std::string_view>& f) {
    using Column = ZipallColumn;
    row.setText(Column::GroupCode, f[0]);
    row.setText(Column::OldCode, TrimAsciiSpaces(f[8]));
    row.setText(Column::Code, f[7]);
    row.setText(Column::TownKana, "");
    row.setText(Column::TownName, f[5]);
    row.setNumber(Column::Flag1, 0);
    row.setNumber(Column::Flag2, 0);
    row.setNumber(Column::Flag3, 0);
    row.setText(Column::Duplicate, f[11]);
    row.setText(Column::Flag4, f[12]);
    row.setNumber(Column::Flag5, 0);
    row.setText(Column::OfficeKana, f[1]);
    row.setText(Column::OfficeName, f[2]);
    row.setText(Column::PostOffice, f[9]);
    row.setText(Column::Kind, f[10]);
    row.setText(Column::StreetAddress, f[6]);
    row.setText(Column::DataKind, "1");
}

// The municipalities that 市町村 is known to hold: found or added by this run, which holds the
// database for itself. The lookup of every other record would find them again.
class PlaceholderCities {
  public:
    // Adds the placeholder municipality for the record's code when 市町村 has none.
    void ensure(std::string_view code, std::string_view name) {
        if (known_.find(code) != known_.end()) return;
        static const std::array<std::string, 3> names = {"JISX0402", "市町村名", "抹消FLAG"};
        Recordset city;
        mdlYubinBox::strSQL = "SELECT * FROM 市町村 WHERE JISX0402 = " + QuoteSqlLiteral(code);
        city.open(mdlYubinBox::strSQL, detail::connection(), CursorType::Keyset,
                  LockType::Pessimistic);
        if (city.eof()) {
            city.addNew(names, std::array<Value, 3>{Value(code), Value(name), Value(1)});
        }
        city.close();
        known_.emplace(code);
    }

  private:
    std::unordered_set<std::string, TextHash, std::equal_to<>> known_;
};

// "DELETE FROM ZIPALL WHERE データ識別 = '1'": by the rowids kept, or reading only the rows
// at or below `highestRowid` when one is known.
void DeleteOfficeRows(const changes::KeptRowids* kept, std::optional<long long> highestRowid) {
    static const std::string kDelete = "DELETE FROM ZIPALL WHERE データ識別 = '1'";
    if (detail::DeleteKeptRows(kDelete, kept)) return;
    if (!highestRowid) {
        detail::Execute(kDelete);
        return;
    }
    mdlYubinBox::strSQL = kDelete;
    db::NativeStatement(detail::connection(),
                        "DELETE FROM \"ZIPALL\" WHERE rowid <= ?1 AND \"データ識別\" = '1'")
        .bind(1, *highestRowid)
        .run();
}

}  // namespace

void InportJigyosyo(const EngineRequest& request, ImportProgress& progress) {
    detail::EngineFrame frame(request, progress, kOffice);
    const std::string& strCsvJPath = request.file;
    frame.view().setStatusMessage("");

    import::JigyosyoReader reader(strCsvJPath);

    // As the national engine: the check, and meanwhile the replaced data kept and deleted.
    // After a national engine of this run, the rows to keep and delete lie at or below the
    // bound it left: only that part of the table is read.
    const auto bound = [&progress] { return detail::OfficeRowsBound(progress); };
    frame.checkAndPrepare(
        import::DataKind::Office,
        [&](const changes::KeptRowids* kept) {
            detail::Execute("DELETE FROM 市町村 WHERE 抹消FLAG = 1");
            DeleteOfficeRows(kept, bound());
        },
        bound);
    progress.officeRowsBound.reset();
    const bool resuming = !frame.replacesWholeSet();
    detail::ZipallRowBuilder& row = frame.begin(reader.fileLength());
    PlaceholderCities cities;
    try {
        while (reader.readLine()) {
            frame.showLine(reader.bytesConsumed());
            try {
                const std::vector<std::string_view>& f = reader.splitFields();
                FillOfficeRow(row, f);
                long& count = frame.count();
                ++count;
                row.setNumber(ZipallColumn::RecNo, kOfficeRecNoBase + count);
                const bool written = resuming && count <= frame.threshold() - kOfficeRecNoBase;
                if (!written) row.append();
                cities.ensure(f[0], f[4]);
            } catch (const YubinError& error) {
                import::RethrowForDataLine(error, strCsvJPath, reader.lineNumber());
            }
        }
    } catch (const YubinError& error) {
        if (error.code() != ErrorCode::ImportAborted) frame.raiseCheckFaultFirst();
        throw;
    }
    frame.finish("JIGYOSYO", import::DataKind::Office,
                 TrMark("事業所対応個別郵便番号データの取込が終了しました。"), true);
    progress.intInportMode = 0;
    mdFileCreate::StoreImportPath("csvjpath", strCsvJPath);
}

}  // namespace yubin::mdInport
