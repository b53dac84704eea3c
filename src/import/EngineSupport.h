// What the two engines and the run control share: statements on cnMdb, the ZIPALL row
// builder, and the frame every engine runs in (its start, its progress per line, its end).
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "changes/AppendedRows.h"
#include "changes/ChangeReport.h"
#include "import/BackgroundCheck.h"
#include "import/DataFile.h"
#include "import/mdInport.h"
#include "store/Engine.h"
#include "store/NativeSql.h"

namespace yubin::mdInport::detail {

// The status panel while each engine runs (by intInportMode; 0: none).
extern const std::array<const char*, 3> kRunningMessage;

db::Connection& connection();
// Executes one statement on cnMdb through strSQL.
void Execute(const std::string& sql);
// The statements that run with errors ignored (the resume marker). Appended rows still
// waiting are stored first, outside the trap: their loss is never ignored.
void ExecuteIgnoringErrors(const std::string& sql);
// A data set's deletion from ZIPALL, `statement`, done by the rowids its keeping found for
// exactly those rows (`kept`, inside the same transaction): the rows are not read again to
// test their data identifier. Returns false, having done nothing, where that does not pay or
// nothing was kept: the caller runs the statement itself.
bool DeleteKeptRows(const std::string& statement, const changes::KeptRowids* kept);
// The drops and re-creations of the keys and the index: only "already there" and "not there"
// are ignored. Any other failure (the database busy, the disk full, duplicate record numbers)
// is raised, so that a run never reports success over a table left without its key.
void ExecuteKeyStatement(const std::string& sql);
// Runs steps that nobody needs to see one by one in one transaction of cnMdb, committed once
// (one set of syncs instead of one per step), with the appended rows that wait in the batch;
// each step that fails is undone alone, as it would have been, and the rows wait on (see
// db::NativeTransaction). With cnMdb not open, the steps run as they are and raise what they
// raise. No events may be processed inside.
void InOneCommit(const std::function<void()>& steps);

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
inline constexpr size_t kZipallColumnCount = 18;

// One ZIPALL row at a time, its values set by column name and appended in the order of the
// table's own column list; a column the table lacks is left out. The values are kept in the
// row set from row to row (db::Recordset::keepAppendValues): appending costs no allocation
// once the texts have grown, and only the values that changed are checked and bound again.
class ZipallRowBuilder {
  public:
    explicit ZipallRowBuilder(db::Recordset& table);

    // From here on every row appended is also added to `rows`, with its values as the table
    // stores them. Only where each column the report reads, and データ識別, is one of text
    // (`columns`: the table's, in table order), whose texts are stored as given; returns
    // whether the rows are added.
    bool addAppendedTo(changes::AppendedRows& rows, const std::vector<db::ColumnInfo>& columns);

    void setText(ZipallColumn column, std::string_view text) {
        const size_t position = position_[static_cast<size_t>(column)];
        if (position != kAbsent) values_->setText(position, text);
    }
    void setNumber(ZipallColumn column, long long number) {
        const size_t position = position_[static_cast<size_t>(column)];
        if (position != kAbsent) values_->setNumber(position, number);
    }
    void append() {
        table_.appendKept();
        if (appended_ != nullptr) addAppended();
    }

  private:
    static constexpr size_t kAbsent = static_cast<size_t>(-1);

    void addAppended();

    db::Recordset& table_;
    // The table's column names, fixed: the values are kept for this list.
    db::Recordset::ColumnList names_;
    db::AppendValues* values_ = nullptr;  // the row set's, for names_
    std::array<size_t, kZipallColumnCount> position_{};
    changes::AppendedRows* appended_ = nullptr;
    // The positions of the columns of changes::AppendedRows::Columns() in the values.
    std::array<size_t, changes::AppendedRows::kColumnCount> appendedPosition_{};
    std::array<std::string, changes::AppendedRows::kColumnCount> numberTexts_;
};

// The national engine, once its old rows are deleted and before it appends: the highest rowid
// of ZIPALL now, under which every business-office row lies (the rows it appends come above).
void NoteOfficeRowsBound(ImportProgress& progress);
// The business-office engine, inside its transaction: that bound, when the same connection has
// seen no other connection's commit since it was noted.
std::optional<long long> OfficeRowsBound(const ImportProgress& progress);
// The change report of an engine that replaced the data of `kind`, made after the engine has
// marked the new data complete (its old rows were kept by EngineFrame::checkAndPrepare).
// `appended`: the data set's rows, when the run appended every one of them (see
// changes::MakeReport); nullptr otherwise.
// `ahead`: the kept form's digests read while the engine appended (see changes::MakeReport).
void ReportChanges(import::DataKind kind, changes::AppendedRows* appended = nullptr,
                   changes::KeptDigestsAhead* ahead = nullptr);

// Event processing of the engines: the appended rows that have waited long enough are stored
// first, so they reach the disk whatever the event handlers do (a message box, an abort).
void DoEvents(import::ImportView& view);

// The frame both engines run in: the start time, the count and the mode set, the progress
// display prepared, ZIPALL opened for appending; per line the percentage, the bar and the
// event processing; at the end the creation date, the closing pause and the result caption.
class EngineFrame {
  public:
    // index: kNational or kOffice (the mode becomes index + 1).
    EngineFrame(const EngineRequest& request, ImportProgress& progress, int index);
    ~EngineFrame();
    EngineFrame(const EngineFrame&) = delete;
    EngineFrame& operator=(const EngineFrame&) = delete;

    // (Qualified in full: a line that begins with "import" reads to the formatter as C++20's
    // module import.)
    yubin::import::ImportView& view() const { return view_; }
    long& count() { return progress_.lngRecCount; }
    long threshold() const { return request_.lngResumeRecNo; }
    // Whether this run replaces the engine's data set whole: it continues no interrupted import
    // of it, so the old rows are deleted and every row of the set is one this run appends.
    bool replacesWholeSet() const;
    const std::string& file() const { return request_.file; }

    // The whole file read through and checked (CheckDataFileForImport) before anything that
    // changes reaches the file, on a worker thread where one can be had, and the data set made
    // ready to be replaced (import::PrepareToReplace).
    //
    // When the run replaces the set whole from a long file (one the readers read ahead on a
    // worker; a shorter one is checked first), this thread does not wait for the check: it opens
    // one transaction, keeps the old rows for the report (`highestRowid`: see
    // changes::KeepOldData), makes the set ready, runs `deleteOld` (given the rowids kept, see
    // DeleteKeptRows), and goes on to append inside that transaction, processing events per line as
    // ever. Nothing of it reaches the file before the check has passed: at the first line after the
    // check ended, the transaction commits; a fault of the file undoes all of it and is raised as
    // the run's error. Until then the progress says `checking`: an exit meanwhile settles the check
    // first (SettleFileCheck), so that it never finds the connection inside that transaction.
    //
    // When the run continues an interrupted import, nothing is deleted: the check is waited
    // for, with events every few milliseconds, and the set is made ready after it.
    void checkAndPrepare(import::DataKind kind,
                         const std::function<void(const changes::KeptRowids*)>& deleteOld,
                         const std::function<std::optional<long long>()>& highestRowid = {});
    // The engine met an error while the check may still be reading: what it did is undone,
    // and the check's own fault, when it finds one, is raised in its place (a bad file is
    // reported as the check meets it first). Returns when the check passes.
    void raiseCheckFaultFirst();
    // The engine's message, its progress bar and count label shown over the file's length;
    // ZIPALL opened for appending.
    ZipallRowBuilder& begin(std::uint64_t fileLength);
    // After each line: the percentage and the bar, then pending events.
    void showLine(std::uint64_t consumed);
    // After the last line: ZIPALL closed.
    void closeTable();
    // The table closed, `stepsBefore` (the engine's own last statements, when given), the
    // creation date recorded in `column` of 作成日 and the data set marked whole (all in one
    // commit, with the rows appended last), the finished message shown, the pause and the
    // result caption; the engine counts as finished.
    void finish(const char* column, import::DataKind kind, const char* finishedMessage, bool beep,
                const std::function<void()>& stepsBefore = {});

    // Ends the check's wait for an exit (see SettleFileCheck) when work is held beside it: the
    // check read to its end without event processing, then the work committed, or undone on a
    // fault (which the engine then raises at its next line).
    void settleForExit();

  private:
    enum class CheckState { None, Running, Settled };
    void startCheck(import::DataKind kind, bool resuming);
    // Waits for the check's end (calling `tick` meanwhile) and concludes it; raises the fault
    // it ended with.
    void settleCheck(const yubin::import::CheckTick& tick);
    void conclude(std::exception_ptr fault);
    // The kept form's digests begin to be read (changes::KeptDigestsAhead); nothing is held.
    void beginReadingAhead();
    void pause();

    const EngineRequest& request_;
    ImportProgress& progress_;
    yubin::import::ImportView& view_;
    const int index_;
    const double startTime_;
    std::uint64_t fileLength_ = 0;
    // The percentage the count label shows (none yet: the first line always sets it).
    std::uint64_t shownHundredths_ = ~std::uint64_t{0};
    // The check and, beside it, the work it must pass before it commits (declared before the
    // table, so that the table closes first and the work is undone after it).
    std::optional<yubin::import::BackgroundCheck> check_;
    CheckState checkState_ = CheckState::None;
    std::optional<db::NativeTransaction> held_;
    bool heldUndone_ = false;
    std::exception_ptr checkFault_;
    std::optional<db::Recordset> zipall_;
    std::optional<ZipallRowBuilder> row_;
    // The rows the builder appended, when they are the data set's every row.
    std::optional<changes::AppendedRows> appended_;
    // The kept form's digests, read on the other processor while the rows are appended; due
    // from the begin on, begun once nothing is held beside the check.
    std::optional<changes::KeptDigestsAhead> keptAhead_;
    bool readAheadDue_ = false;
};

}  // namespace yubin::mdInport::detail
