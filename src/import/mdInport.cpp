#include "import/mdInport.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <unordered_set>

#include "base/Text.h"
#include "import/DataCompleteness.h"
#include "import/DataFile.h"
#include "import/DataLineError.h"
#include "import/JigyosyoReader.h"
#include "import/KenAllReader.h"
#include "query/SearchIndex.h"
#include "settings/mdFileCreate.h"
#include "store/mdlYubinBox.h"

namespace yubin::mdInport {

using db::CursorType;
using db::LockType;
using db::Recordset;
using db::Value;
using mdlYubinBox::cnMdb;
using mdlYubinBox::strSQL;

bool blnCompact = false;
short intInportMode = 0;
long lngResumeRecNo = 0;
long lngRecCount = 0;
std::string strCsvZPath;
std::string strCsvJPath;
std::array<std::string, 2> strSakuseibi;
std::array<std::string, 2> strCsvDate;
std::string strSelFile;
std::string strSelFileDate;
std::string strStartDir;

namespace {

constexpr int kNational = 0;
constexpr int kOffice = 1;

// The status panel while each engine runs (by intInportMode; 0: none).
const char* const kRunningMessage[] = {"", "全国版郵便番号データを取り込んでいます。",
                                       "事業所個別郵便番号データを取り込んでいます。"};

// ZIPALL's columns, in the order of the data files' records (the table's own order when it is
// the one this program creates).
enum class ZipallColumn : size_t {
    GroupCode,      // 団体コード
    OldCode,        // 旧郵便番号
    Code,           // 郵便番号
    TownKana,       // 住所かな3
    TownName,       // 町域名
    Flag1,          // flag1
    Flag2,          // flag2
    Flag3,          // flag3
    Duplicate,      // ダブり
    Flag4,          // flag4
    Flag5,          // flag5
    OfficeKana,     // 事業所名かな
    OfficeName,     // 事業所名
    PostOffice,     // 取扱郵便局
    Kind,           // 種別
    StreetAddress,  // 丁目番地等
    DataKind,       // データ識別
    RecNo,          // RECNO
};
constexpr std::array<const char*, 18> kZipallColumnNames = {
    "団体コード", "旧郵便番号", "郵便番号", "住所かな3",  "町域名",     "flag1",
    "flag2",      "flag3",      "ダブり",   "flag4",      "flag5",      "事業所名かな",
    "事業所名",   "取扱郵便局", "種別",     "丁目番地等", "データ識別", "RECNO"};

db::Connection& connection() {
    if (!cnMdb) {
        throw YubinError(ErrorCode::CannotOpenDatabase, "データベースに接続されていません。");
    }
    return *cnMdb;
}

// Executes one statement on cnMdb through strSQL.
void Execute(const std::string& sql) {
    strSQL = sql;
    connection().execute(strSQL);
}

// The statements that run with errors ignored (the resume marker). Appended rows still
// waiting are stored first, outside the trap: their loss is never ignored.
void ExecuteIgnoringErrors(const std::string& sql) {
    mdlYubinBox::Flush();
    try {
        Execute(sql);
    } catch (const YubinError&) {
    }
}

// The drops and re-creations of the keys and the index: only "already there" and "not there"
// are ignored. Any other failure (the database busy, the disk full, duplicate record numbers)
// is raised, so that a run never reports success over a table left without its key.
void ExecuteKeyStatement(const std::string& sql) {
    mdlYubinBox::Flush();
    try {
        Execute(sql);
    } catch (const YubinError& error) {
        switch (error.code()) {
            case ErrorCode::ConstraintNotFound:
            case ErrorCode::IndexExists:
            case ErrorCode::PrimaryKeyExists:
                return;
            default:
                throw;
        }
    }
}

// One ZIPALL row at a time, its values set by column name and appended in the order of the
// table's own column list; a column the table lacks is left out. The values are reused from
// row to row, so appending costs no allocation once the texts have grown.
class ZipallRowBuilder {
  public:
    explicit ZipallRowBuilder(Recordset& table) : table_(table) {
        names_.reserve(static_cast<size_t>(table.fieldCount()));
        for (int i = 0; i < table.fieldCount(); ++i) names_.push_back(table.field(i).Name());
        values_.assign(names_.size(), Value(""));
        for (size_t c = 0; c < kZipallColumnNames.size(); ++c) {
            position_[c] = kAbsent;
            for (size_t i = 0; i < names_.size(); ++i) {
                if (EqualsIgnoringAsciiCase(names_[i], kZipallColumnNames[c])) {
                    position_[c] = i;
                    break;
                }
            }
        }
    }

    void setText(ZipallColumn column, std::string_view text) {
        if (Value* value = slot(column)) value->assignText(text);
    }
    void setNumber(ZipallColumn column, long long number) {
        if (Value* value = slot(column)) *value = Value(number);
    }
    void append() { table_.addNew(names_, values_); }

  private:
    static constexpr size_t kAbsent = static_cast<size_t>(-1);

    Value* slot(ZipallColumn column) {
        const size_t position = position_[static_cast<size_t>(column)];
        return position == kAbsent ? nullptr : &values_[position];
    }

    Recordset& table_;
    std::vector<std::string> names_;
    std::vector<Value> values_;
    std::array<size_t, kZipallColumnNames.size()> position_{};
};

// Records the file's stamp in the one row of 作成日 (added when the table is empty).
void RecordCreationDate(const char* column, const std::string& csvPath, import::DataKind kind) {
    const std::string stamp = import::DataFileStamp(csvPath, kind);
    Recordset rs;
    strSQL = "SELECT * FROM 作成日";
    rs.open(strSQL, connection(), CursorType::Static, LockType::Optimistic);
    if (rs.eof()) rs.addNew();
    rs.field(column).setValue(Value(stamp));
    rs.update();
    rs.close();
}

// Event processing of the engines: the appended rows that have waited long enough are stored
// first, so they reach the disk whatever the event handlers do (a message box, an abort).
void DoEvents(import::ImportView& view) {
    mdlYubinBox::FlushDue();
    view.doEvents();
}

// The closing pause: events keep running; the monotonic clock also ends it across midnight.
void Pause() {
    Environment& env = environment();
    const double begin = env.monotonicSeconds();
    while (env.monotonicSeconds() - begin < env.pauseSeconds) {
        DoEvents(*env.view);
        if (env.idle) env.idle();
    }
}

// The engine's message, its progress bar and count label shown, the bar over the file.
void ShowProgressStart(import::ImportView& view, int index, const char* message,
                       std::uint64_t fileLength) {
    view.setStatusMessage(message);
    view.setProgressVisible(index, true);
    view.setCountVisible(index, true);
    view.setProgressRange(index, 0, fileLength);
    view.setCountBorderStyle(index, 1);
}

std::string ResultCaption(double elapsedSeconds) {
    return "処理時間：" + FormatElapsed(elapsedSeconds) + "  " + FormatCount(lngRecCount) + " 件";
}

// "( 12.34% )" from hundredths of a percent.
std::string FormatPercentHundredths(std::uint64_t hundredths) {
    char buffer[64] = "( ";
    char* end = std::to_chars(buffer + 2, buffer + 40, hundredths / 100).ptr;
    *end++ = '.';
    *end++ = static_cast<char>('0' + hundredths / 10 % 10);
    *end++ = static_cast<char>('0' + hundredths % 10);
    std::memcpy(end, "% )", 4);
    return buffer;
}

// Lets a set of texts be searched with a string_view.
struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// The last codes handed to the masters during one national import.
std::string lastPrefCode;
std::string lastCityCode;

}  // namespace

Environment& environment() {
    static Environment env{nullptr, 5.0, &SteadySeconds,
                           [] { std::this_thread::sleep_for(std::chrono::milliseconds(10)); }};
    return env;
}

double SteadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void ResetState() {
    blnCompact = false;
    intInportMode = 0;
    lngResumeRecNo = 0;
    lngRecCount = 0;
    strCsvZPath.clear();
    strCsvJPath.clear();
    strSakuseibi = {};
    strCsvDate = {};
    strSelFile.clear();
    strSelFileDate.clear();
    strStartDir.clear();
    lastPrefCode.clear();
    lastCityCode.clear();
}

std::string FormatPercent(std::uint64_t consumed, std::uint64_t length) {
    if (length == 0) return FormatPercentHundredths(0);
    // The pattern "0.00" rounds the decimal value half away from zero; the exact quotient in
    // integers does that where the binary double would round 2.675 down.
    const unsigned __int128 twice = static_cast<unsigned __int128>(consumed) * 20000u + length;
    return FormatPercentHundredths(static_cast<std::uint64_t>(twice / (2u * length)));
}

std::string FormatElapsed(double seconds) {
    long long total = seconds <= 0 ? 0 : static_cast<long long>(seconds + 0.5);
    const long long hours = total / 3600;
    char buffer[64];
    // "hh:" with every "00:" removed: only a zero hours field goes, however many digits the
    // hours take.
    if (hours == 0) {
        std::snprintf(buffer, sizeof buffer, "%02lld分%02lld秒", total / 60 % 60, total % 60);
    } else {
        std::snprintf(buffer, sizeof buffer, "%02lld:%02lld分%02lld秒", hours, total / 60 % 60,
                      total % 60);
    }
    return buffer;
}

std::string FormatCount(long count) {
    std::string digits = std::to_string(count < 0 ? -static_cast<long long>(count) : count);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return count < 0 ? "-" + text : text;
}

std::string FormatStamp(const std::string& stamp) {
    if (stamp.size() != 8) return stamp;
    for (char c : stamp) {
        if (c < '0' || c > '9') return stamp;
    }
    const int month = std::stoi(stamp.substr(4, 2));
    const int day = std::stoi(stamp.substr(6, 2));
    if (month < 1 || month > 12 || day < 1 || day > 31) return stamp;
    return stamp.substr(0, 4) + "年" + stamp.substr(4, 2) + "月" + stamp.substr(6, 2) + "日";
}

void MasterUpdate(const import::ZipGroup& group) {
    if (group.prefCode != lastPrefCode) {
        Recordset rs;
        strSQL = "SELECT * FROM 都道府県 WHERE JISX0401= " + QuoteSqlLiteral(group.prefCode);
        rs.open(strSQL, connection(), CursorType::Keyset, LockType::Pessimistic);
        if (rs.eof()) {
            static const std::array<std::string, 3> names = {"JISX0401", "都道府県名", "住所かな1"};
            const std::array<Value, 3> values = {Value(group.prefCode), Value(group.prefName),
                                                 Value(group.prefKana)};
            rs.addNew(names, values);
        }
        rs.close();
        lastPrefCode = group.prefCode;
    }
    if (group.cityCode != lastCityCode) {
        Recordset rs;
        strSQL = "SELECT * FROM 市町村 WHERE JISX0402 = " + QuoteSqlLiteral(group.cityCode);
        rs.open(strSQL, connection(), CursorType::Keyset, LockType::Pessimistic);
        if (rs.eof()) {
            static const std::array<std::string, 4> names = {"JISX0402", "市町村名", "住所かな2",
                                                             "抹消FLAG"};
            const std::array<Value, 4> values = {Value(group.cityCode), Value(group.cityName),
                                                 Value(group.cityKana), Value(0)};
            rs.addNew(names, values);
        }
        rs.close();
        lastCityCode = group.cityCode;
    }
}

void InportKenAll() {
    Environment& env = environment();
    import::ImportView& view = *env.view;
    const double startTime = env.monotonicSeconds();
    lngRecCount = 0;
    intInportMode = 1;
    strCsvZPath = view.csvFileText(kNational);

    // The file is opened and then read to its end and checked (PrepareToReplace) before
    // anything is deleted, so a file that cannot be imported leaves the data as it was.
    import::KenAllReader reader(strCsvZPath);

    // A deletion that fails stops the run before any row is appended: the new rows must never
    // stand beside the old ones.
    import::PrepareToReplace(connection(), import::DataKind::National, strCsvZPath,
                             lngResumeRecNo != 0);
    if (lngResumeRecNo == 0) {
        Execute("DELETE FROM 都道府県");
        Execute("DELETE FROM 市町村 WHERE 抹消FLAG = 0");
        Execute("DELETE FROM ZIPALL WHERE データ識別 <> '1'");
    }
    ExecuteKeyStatement("ALTER TABLE 都道府県 DROP CONSTRAINT xJISX0401");
    ExecuteKeyStatement("ALTER TABLE 市町村 DROP CONSTRAINT xJISX0402");

    const std::uint64_t fileLength = reader.fileLength();
    lastPrefCode.clear();
    lastCityCode.clear();

    ShowProgressStart(view, kNational, kRunningMessage[1], fileLength);

    Recordset zipall;
    zipall.open("ZIPALL", connection(), CursorType::Keyset, LockType::Pessimistic);
    ZipallRowBuilder row(zipall);

    long long groupStartLine = 1;
    auto writeGroup = [&](const import::ZipGroup& group, long long firstLine) {
        try {
            MasterUpdate(group);
            ++lngRecCount;
            if (lngRecCount <= lngResumeRecNo) return;  // written by the interrupted run
            // The group's values stand in the table's leading columns, in order.
            for (size_t c = 0; c < group.row.size(); ++c) {
                row.setText(static_cast<ZipallColumn>(c), group.row[c]);
            }
            row.setNumber(ZipallColumn::RecNo, lngRecCount);
            row.append();
        } catch (const YubinError& error) {
            import::RethrowForDataLine(error, strCsvZPath, firstLine);
        }
    };

    while (reader.readLine()) {
        const std::uint64_t consumed = reader.bytesConsumed();
        view.setCountCaption(kNational, FormatPercent(consumed, fileLength));
        view.setProgressValue(kNational, consumed);
        DoEvents(view);
        if (const import::ZipGroup* group = reader.mergeLine()) {
            writeGroup(*group, groupStartLine);
            groupStartLine = reader.lineNumber();  // this line began the next group
        }
    }
    if (const import::ZipGroup* group = reader.finish()) writeGroup(*group, groupStartLine);
    zipall.close();

    Execute("ALTER TABLE 都道府県 ADD CONSTRAINT xJISX0401 PRIMARY KEY(JISX0401)");
    Execute("ALTER TABLE 市町村 ADD CONSTRAINT xJISX0402 PRIMARY KEY(JISX0402)");

    RecordCreationDate("ZIPALL", strCsvZPath, import::DataKind::National);
    import::MarkComplete(connection(), import::DataKind::National);
    view.setStatusMessage("全国版郵便番号データの取込が終了しました。");
    Pause();
    view.setCountCaption(kNational, ResultCaption(env.monotonicSeconds() - startTime));
    view.importFinished(kNational);
    mdFileCreate::StoreImportPath("csvzpath", strCsvZPath);
    intInportMode = 0;
}

void InportJigyosyo() {
    Environment& env = environment();
    import::ImportView& view = *env.view;
    const double startTime = env.monotonicSeconds();
    lngRecCount = 0;
    intInportMode = 2;
    strCsvJPath = view.csvFileText(kOffice);
    view.setStatusMessage("");

    import::JigyosyoReader reader(strCsvJPath);

    const bool resuming = lngResumeRecNo > kOfficeRecNoBase;
    import::PrepareToReplace(connection(), import::DataKind::Office, strCsvJPath, resuming);
    if (!resuming) {
        Execute("DELETE FROM 市町村 WHERE 抹消FLAG = 1");
        Execute("DELETE FROM ZIPALL WHERE データ識別 = '1'");
    }
    const std::uint64_t fileLength = reader.fileLength();

    ShowProgressStart(view, kOffice, kRunningMessage[2], fileLength);

    Recordset zipall;
    zipall.open("ZIPALL", connection(), CursorType::Keyset, LockType::Pessimistic);
    ZipallRowBuilder row(zipall);
    using Column = ZipallColumn;

    static const std::array<std::string, 3> placeholderNames = {"JISX0402", "市町村名", "抹消FLAG"};
    std::string lookup;
    // The codes that 市町村 is known to hold: found or added by this run, which holds the
    // database for itself. The lookup of every other record would find them again.
    std::unordered_set<std::string, TextHash, std::equal_to<>> knownCities;
    while (reader.readLine()) {
        const std::uint64_t consumed = reader.bytesConsumed();
        view.setProgressValue(kOffice, consumed);
        view.setCountCaption(kOffice, FormatPercent(consumed, fileLength));
        DoEvents(view);
        try {
            const std::vector<std::string_view>& f = reader.splitFields();
            std::string_view oldCode = f[8];
            while (!oldCode.empty() && oldCode.front() == ' ') oldCode.remove_prefix(1);
            while (!oldCode.empty() && oldCode.back() == ' ') oldCode.remove_suffix(1);
            row.setText(Column::GroupCode, f[0]);
            row.setText(Column::OldCode, oldCode);
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
            ++lngRecCount;
            row.setNumber(Column::RecNo, kOfficeRecNoBase + lngRecCount);
            const bool written = resuming && lngRecCount <= lngResumeRecNo - kOfficeRecNoBase;
            if (!written) row.append();

            if (knownCities.find(f[0]) == knownCities.end()) {
                Recordset city;
                lookup = "SELECT * FROM 市町村 WHERE JISX0402 = " + QuoteSqlLiteral(f[0]);
                strSQL = lookup;
                city.open(strSQL, connection(), CursorType::Keyset, LockType::Pessimistic);
                if (city.eof()) {
                    const std::array<Value, 3> placeholder = {Value(f[0]), Value(f[4]), Value(1)};
                    city.addNew(placeholderNames, placeholder);
                }
                city.close();
                knownCities.emplace(f[0]);
            }
        } catch (const YubinError& error) {
            import::RethrowForDataLine(error, strCsvJPath, reader.lineNumber());
        }
    }
    zipall.close();

    RecordCreationDate("JIGYOSYO", strCsvJPath, import::DataKind::Office);
    import::MarkComplete(connection(), import::DataKind::Office);
    view.setStatusMessage("事業所対応個別郵便番号データの取込が終了しました。");
    view.beep();
    Pause();
    view.setCountCaption(kOffice, ResultCaption(env.monotonicSeconds() - startTime));
    view.importFinished(kOffice);
    intInportMode = 0;
    mdFileCreate::StoreImportPath("csvjpath", strCsvJPath);
}

short PrefCount() {
    Recordset rs;
    strSQL = "SELECT COUNT(*) As DCOUNT FROM 都道府県";
    rs.open(strSQL, connection(), CursorType::ForwardOnly, LockType::ReadOnly);
    const long long count = rs.field("DCOUNT").value().toNumber();
    rs.close();
    return static_cast<short>(count);
}

void SaveResumePoint() {
    ExecuteIgnoringErrors("DELETE FROM 登録中");
    Recordset rs;
    strSQL = "SELECT * FROM 登録中";
    rs.open(strSQL, connection(), CursorType::Keyset, LockType::Pessimistic);
    if (rs.eof()) {
        const double marker =
            (static_cast<double>(intInportMode) - 1.0) * 1e6 + static_cast<double>(lngRecCount);
        rs.addNew();
        rs.field("RECNO").setValue(Value(static_cast<long long>(marker)));
        rs.update();
    }
    rs.close();
    connection().flush();
}

ResumeState ReadResumePoint() {
    ResumeState state;
    {
        Recordset rs;
        strSQL = "SELECT * FROM 登録中";
        rs.open(strSQL, connection(), CursorType::ForwardOnly, LockType::ReadOnly);
        long threshold = 0;
        if (!rs.eof() && !rs.field("RECNO").value().isNull()) {
            threshold = static_cast<long>(rs.field("RECNO").value().toNumber());
        }
        rs.close();
        lngResumeRecNo = threshold;
    }
    if (lngResumeRecNo != 0) {
        const bool office = lngResumeRecNo > kOfficeRecNoBase;
        Recordset rs;
        strSQL = std::string("SELECT MAX(RECNO) AS MAXNO FROM ZIPALL") +
                 (office ? " WHERE データ識別 = '1'" : " WHERE データ識別 <> '1'");
        rs.open(strSQL, connection(), CursorType::ForwardOnly, LockType::ReadOnly);
        if (!rs.eof()) {
            const Value& maximum = rs.field("MAXNO").value();
            // No row of the interrupted kind was written: nothing to continue, a fresh start.
            lngResumeRecNo = maximum.isNull() ? 0 : static_cast<long>(maximum.toNumber());
        }
        rs.close();
    }
    state.threshold = lngResumeRecNo;
    state.nationalChoiceDisabled = lngResumeRecNo > kOfficeRecNoBase;
    state.continuation = lngResumeRecNo != 0;
    return state;
}

void ClearResumePoint() { ExecuteIgnoringErrors("DELETE FROM 登録中"); }

std::string SummaryText(const std::string& nationalStamp, const std::string& officeStamp) {
    if (nationalStamp.empty() && officeStamp.empty()) return "";
    std::string text = "【現在、登録されている郵便番号データの作成日】";
    if (!nationalStamp.empty()) {
        text += "\r\n　全国版郵便番号データ　　　： " + FormatStamp(nationalStamp);
    }
    if (!officeStamp.empty()) {
        text += "\r\n　事業所個別郵便番号データ　： " + FormatStamp(officeStamp);
    }
    return text;
}

void ShowSakuseibi(std::array<std::string, 2>& sakuseibi) {
    mdlYubinBox::OpenMdb(mdlYubinBox::strMdbFile);
    Recordset rs;
    strSQL = "SELECT * FROM 作成日";
    rs.open(strSQL, connection(), CursorType::ForwardOnly, LockType::ReadOnly);
    const bool registered = !rs.eof();
    std::string national, office;
    if (registered) {
        national = rs.field("ZIPALL").value().toText();
        office = rs.field("JIGYOSYO").value().toText();
        if (!national.empty()) sakuseibi[0] = national;
        if (!office.empty()) sakuseibi[1] = office;
    }
    rs.close();
    // Data that is not all there is said to be so, with how to finish it, never dated.
    const import::Completeness completeness = import::ReadCompleteness(connection());
    if (completeness.nationalIncomplete) sakuseibi[0].clear();  // nothing to be older than
    if (completeness.officeIncomplete) sakuseibi[1].clear();
    if (registered || completeness.nationalIncomplete || completeness.officeIncomplete) {
        import::ImportView& view = *environment().view;
        view.setSummaryCaption(import::CompletenessSummary(national, office, completeness));
        view.setSummaryVisible(true);
    }
}

RunReport InportRun() {
    RunReport report;
    Environment& env = environment();
    import::ImportView& view = *env.view;

    // A path the settings file could not give back would fail the run only at its end.
    for (const auto& [index, key] : {std::pair{kNational, "csvzpath"}, {kOffice, "csvjpath"}}) {
        const std::string file = view.csvFileText(index);
        if (!file.empty() && view.countCaption(index).empty()) {
            mdFileCreate::CheckImportPath(key, file);
        }
    }

    // Whatever ends the run, the pointer comes back and the connection (with the import
    // lock) is released, so that every appended row is on disk.
    struct RunScope {
        import::ImportView& view;
        bool finished = false;
        db::WaitReporter outer;
        ~RunScope() {
            db::setWaitReporter(std::move(outer));
            if (finished) return;
            try {
                mdlYubinBox::CloseMdb();
            } catch (...) {
            }
            view.setBusyPointer(false);
        }
    } scope{view, false, {}};
    // While another program holds the database, the status panel says so.
    scope.outer = db::setWaitReporter([&view](bool waiting) {
        const bool running = intInportMode == 1 || intInportMode == 2;
        view.setStatusMessage(waiting ? kWaitingForOtherProgram
                                      : kRunningMessage[running ? intInportMode : 0]);
    });

    bool opened = false;
    try {
        view.setBusyPointer(true);
        mdlYubinBox::OpenMdb(mdlYubinBox::strMdbFile);
        opened = true;
    } catch (const std::exception& error) {
        view.messageBox(error.what(), import::msgbox::kOkOnly, "");
    }
    if (opened) {
        // Another process importing into the same file is refused, never interleaved.
        if (cnMdb && cnMdb->isOpen()) cnMdb->lockImport();

        ExecuteKeyStatement("DROP INDEX x_郵便番号 ON ZIPALL");
        ExecuteKeyStatement("ALTER TABLE ZIPALL DROP CONSTRAINT xRECNO");

        bool recreateKeys = true;
        if (!view.csvFileText(kNational).empty() && view.countCaption(kNational).empty()) {
            InportKenAll();
            report.imported[kNational] = true;
        }
        if (!view.csvFileText(kOffice).empty() && view.countCaption(kOffice).empty()) {
            if (PrefCount() != 47) {
                mdlYubinBox::Flush();
                view.messageBox("全国版郵便番号データを取り込んでください。",
                                import::msgbox::kCritical | import::msgbox::kOkOnly,
                                "郵便番号データ取込処理");
                view.setRunEnabled(true);
                report.officeRefused = true;
                recreateKeys = false;
            } else {
                InportJigyosyo();
                report.imported[kOffice] = true;
            }
        }
        if (recreateKeys) {
            ExecuteKeyStatement("CREATE INDEX x_郵便番号 ON ZIPALL(郵便番号)");
            ExecuteKeyStatement("ALTER TABLE ZIPALL ADD CONSTRAINT xRECNO PRIMARY KEY(RECNO)");
            // The search's index over the rows as they now are. The rows are on disk first, so
            // that their commit reports its own failure; without the index a search reads
            // every row, so a failure to make it costs only time.
            mdlYubinBox::Flush();
            try {
                query::BuildSearchIndex(connection());
            } catch (const YubinError&) {
            }
        }
    }
    ShowSakuseibi(strSakuseibi);
    mdlYubinBox::CloseMdb();
    view.setBusyPointer(false);
    scope.finished = true;
    view.beep();
    return report;
}

}  // namespace yubin::mdInport
