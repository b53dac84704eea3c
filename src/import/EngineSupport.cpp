#include "import/EngineSupport.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "base/Memory.h"
#include "base/Message.h"
#include "changes/ChangeReport.h"
#include "import/BackgroundCheck.h"
#include "import/DataCompleteness.h"
#include "import/DataFileCheck.h"
#include "import/ReadAhead.h"
#include "store/NativeSql.h"
#include "store/mdlYubinBox.h"

namespace yubin::mdInport {

double SteadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void Environment::IdleBriefly() { std::this_thread::sleep_for(std::chrono::milliseconds(10)); }

namespace detail {

namespace {

// The engine's frame whose check may still be running (engines run one at a time, on the
// thread that processes events).
EngineFrame* g_checkingFrame = nullptr;

// The size of a data file from which the engine appends beside its check (as the readers read
// ahead on a worker from it).
constexpr std::uintmax_t kAppendBesideCheckFrom = yubin::import::ReadAheadOptions::kThreadFromBytes;

}  // namespace

using db::CursorType;
using db::LockType;
using db::Recordset;
using db::Value;
using mdlYubinBox::cnMdb;
using mdlYubinBox::strSQL;

const std::array<const char*, 3> kRunningMessage = {
    "", TrMark("全国版郵便番号データを取り込んでいます。"),
    TrMark("事業所個別郵便番号データを取り込んでいます。")};

namespace {

yubin::import::ImportView& ViewOf(const EngineRequest& request) {
    if (request.environment.view == nullptr) {
        throw YubinError(ErrorCode::InvalidArgument, Message("取り込みの表示先がありません。"));
    }
    return *request.environment.view;
}

// The result caption, "処理時間：03分27秒  123,456 件", in the view's language.
std::string ResultCaption(double elapsedSeconds, long count, Translator translate) {
    return FormatPlaces(translate(TrMark("処理時間：{1}  {2} 件")),
                        {FormatElapsed(elapsedSeconds, translate), FormatCount(count)});
}

}  // namespace

db::Connection& connection() {
    if (!cnMdb) {
        throw YubinError(ErrorCode::CannotOpenDatabase,
                         Message("データベースに接続されていません。"));
    }
    return *cnMdb;
}

void Execute(const std::string& sql) {
    strSQL = sql;
    connection().execute(strSQL);
}

bool DeleteKeptRows(const std::string& statement, const changes::KeptRowids* kept) {
    // The rows of a set lie in one run after an import; a table whose sets are interleaved
    // (rows written by other programs) is better read once by the statement.
    constexpr size_t kMostRuns = 16;
    if (kept == nullptr || kept->size() > kMostRuns) return false;
    strSQL = statement;
    db::NativeStatement deletion(connection(),
                                 "DELETE FROM \"ZIPALL\" WHERE rowid BETWEEN ?1 AND ?2");
    for (const changes::RowidRun& run : *kept) deletion.bind(1, run.first).bind(2, run.last).run();
    return true;
}

void ExecuteIgnoringErrors(const std::string& sql) {
    mdlYubinBox::Flush();
    try {
        Execute(sql);
    } catch (const YubinError&) {
    }
}

void ExecuteKeyStatement(const std::string& sql) {
    // The run's own connection only: a reader of the search index may be reading beside it on a
    // connection of its own, which a flush of every connection would wait for while another
    // program holds the file (untold, as the reader's wait is).
    connection().flush();
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

void InOneCommit(const std::function<void()>& steps) {
    if (!cnMdb || !cnMdb->isOpen()) {
        steps();
        return;
    }
    db::NativeTransaction together(*cnMdb);
    steps();
    together.commit();
}

namespace {

changes::DataSet ReportedSet(import::DataKind kind) {
    return kind == import::DataKind::National ? changes::DataSet::National
                                              : changes::DataSet::Office;
}

// The old rows of `kind` kept for the change report before the engine deletes them;
// `beforeCommit` and `highestRowid`: see changes::KeepOldData.
void KeepForReport(import::DataKind kind,
                   const std::function<void(const changes::KeptRowids*)>& beforeCommit,
                   const std::function<std::optional<long long>()>& highestRowid) {
    // Rows an import left incomplete are partly its work: the kept form of its first attempt
    // stays the one to report against.
    const import::Completeness completeness = import::ReadCompleteness(connection());
    const bool cutShort = kind == import::DataKind::National ? completeness.nationalIncomplete
                                                             : completeness.officeIncomplete;
    changes::KeepOldData(connection(), ReportedSet(kind),
                         cutShort ? changes::OldRows::CutShort : changes::OldRows::Whole,
                         beforeCommit, highestRowid);
}

long long DataVersion() {
    db::NativeStatement version(connection(), "PRAGMA data_version");
    return version.step() ? version.number(0) : -1;
}

}  // namespace

void NoteOfficeRowsBound(ImportProgress& progress) {
    // The version first: a commit of another connection after it is seen by the comparison,
    // one before it by the maximum.
    const long long version = DataVersion();
    db::NativeStatement highest(connection(), "SELECT ifnull(max(rowid), 0) FROM \"ZIPALL\"");
    if (!highest.step()) return;
    progress.officeRowsBound = ImportProgress::OfficeRowsBound{highest.number(0), version};
}

std::optional<long long> OfficeRowsBound(const ImportProgress& progress) {
    if (!progress.officeRowsBound || DataVersion() != progress.officeRowsBound->dataVersion) {
        return std::nullopt;
    }
    return progress.officeRowsBound->rowid;
}

void ReportChanges(import::DataKind kind, changes::AppendedRows* appended,
                   changes::KeptDigestsAhead* ahead) {
    // The report comes after the data is whole and must not undo that: a failure to make it (a
    // full disk, damaged report tables) leaves the import finished, its keys and index made
    // again by the run control. The data set's older report is taken away so that nobody reads
    // it as this import's; the kept rows, now out of date, are replaced by the next import.
    try {
        changes::MakeReport(connection(), ReportedSet(kind), {}, changes::ReportThreads::Two,
                            appended, ahead);
        // The comparison's arrays, freed, go back to the system now: the sorts of the index
        // builds that follow take memory of their own.
        ReleaseFreeMemory();
    } catch (const YubinError&) {
        try {
            changes::ForgetReport(connection(), ReportedSet(kind));
        } catch (const YubinError&) {
            // The older report stays; its dates tell which data it compared.
        }
    }
}

void DoEvents(import::ImportView& view) {
    mdlYubinBox::FlushDue();
    view.doEvents();
}

EngineFrame::EngineFrame(const EngineRequest& request, ImportProgress& progress, int index)
    : request_(request),
      progress_(progress),
      view_(ViewOf(request)),
      index_(index),
      startTime_(request.environment.monotonicSeconds()) {
    progress_.lngRecCount = 0;
    progress_.checking = false;
    progress_.intInportMode = static_cast<short>(index + 1);
}

EngineFrame::~EngineFrame() {
    if (g_checkingFrame == this) g_checkingFrame = nullptr;
}

void EngineFrame::startCheck(import::DataKind kind, bool resuming) {
    progress_.checking = true;
    // Events once before anything, however short the check: a click that came before is
    // handled while nothing has changed.
    DoEvents(view_);
    check_.emplace(yubin::import::DataFileCheck(request_.file, kind, connection(), resuming));
    checkState_ = CheckState::Running;
    g_checkingFrame = this;
}

void EngineFrame::settleCheck(const yubin::import::CheckTick& tick) {
    if (checkState_ == CheckState::Running) {
        std::exception_ptr fault;
        try {
            check_->wait(tick);
        } catch (...) {
            fault = std::current_exception();
            if (!check_->isFault(fault)) throw;  // the tick's: an abort
        }
        // An exit inside the tick may have settled it already.
        if (checkState_ == CheckState::Running) conclude(fault);
    }
    if (checkFault_) std::rethrow_exception(checkFault_);
}

void EngineFrame::conclude(std::exception_ptr fault) {
    assert(checkState_ == CheckState::Running);
    checkState_ = CheckState::Settled;
    g_checkingFrame = nullptr;
    if (!fault && held_) {
        try {
            held_->commit();
        } catch (...) {
            fault = std::current_exception();
        }
    }
    held_.reset();  // undone unless committed
    if (fault) {
        checkFault_ = fault;
        return;  // still `checking`: nothing was changed
    }
    if (heldUndone_) return;  // the work beside the check was undone: nothing was changed
    progress_.checking = false;
    // What the check's threads held goes back to the system.
    ReleaseFreeMemory();
}

void EngineFrame::settleForExit() {
    // Only work held beside the check needs it: a check that is merely waited for (a short
    // file, a continued import) has changed nothing, and the exit treats it so.
    if (checkState_ != CheckState::Running || !held_) return;
    try {
        settleCheck({});
    } catch (const YubinError&) {
        // Kept in checkFault_: the engine raises it at its next line.
    }
}

void EngineFrame::raiseCheckFaultFirst() {
    if (checkState_ != CheckState::Running) return;
    // The run fails either way: the work beside the check is undone before the wait, which
    // processes events.
    held_.reset();
    heldUndone_ = true;
    settleCheck([this] { DoEvents(view_); });
}

void EngineFrame::checkAndPrepare(import::DataKind kind,
                                  const std::function<void(const changes::KeptRowids*)>& deleteOld,
                                  const std::function<std::optional<long long>()>& highestRowid) {
    const auto prepare = [&] { import::PrepareToReplace(connection(), kind, request_.file); };
    const auto events = [this] { DoEvents(view_); };
    if (!replacesWholeSet()) {
        startCheck(kind, true);
        settleCheck(events);
        prepare();
        return;
    }
    startCheck(kind, false);
    // Inside the work no event is processed: it is one step, as each statement is.
    const auto work = [&] {
        KeepForReport(
            kind,
            [&](const changes::KeptRowids* kept) {
                prepare();
                deleteOld(kept);
            },
            highestRowid);
    };
    // Without a worker the check reads here, first, with its events. A small file's check
    // takes less than a millisecond: it is waited for, and the work commits on its own.
    std::error_code noSize;
    const std::uintmax_t size = std::filesystem::file_size(request_.file, noSize);
    if (!check_->threaded() || noSize || size < kAppendBesideCheckFrom) {
        settleCheck(events);
        work();
        return;
    }
    held_.emplace(connection());
    work();
    // Settled at the first line (showLine), also when the check has ended by now: the engine's
    // steps before it (the masters' keys dropped, the first lookups) join the held work and
    // its one commit. Whatever is held is settled before an exit closes the connection
    // (SettleFileCheck).
    assert(!held_ || checkState_ == CheckState::Running);
}

ZipallRowBuilder& EngineFrame::begin(std::uint64_t fileLength) {
    fileLength_ = fileLength;
    shownHundredths_ = ~std::uint64_t{0};
    view_.setStatusMessage(kRunningMessage[static_cast<size_t>(index_ + 1)]);
    view_.setProgressVisible(index_, true);
    view_.setCountVisible(index_, true);
    view_.setProgressRange(index_, 0, fileLength);
    view_.setCountBorderStyle(index_, 1);
    zipall_.emplace();
    zipall_->open("ZIPALL", connection(), CursorType::Keyset, LockType::Pessimistic);
    ZipallRowBuilder& row = row_.emplace(*zipall_);
    // The rows this run appends are the data set's every row when it replaces the set whole:
    // the report takes them as appended instead of reading the table back.
    // Where nothing was kept (a first import) the report only counts their codes.
    if (replacesWholeSet()) {
        const changes::DataSet set = ReportedSet(index_ == kNational ? import::DataKind::National
                                                                     : import::DataKind::Office);
        bool kept = true;
        try {
            kept = changes::HasKeptRows(connection(), set);
        } catch (const YubinError&) {
            // No report tables to read: the report is not made either.
        }
        appended_.emplace(set, kept ? changes::AppendedRows::Reduction::ForComparison
                                    : changes::AppendedRows::Reduction::CodesOnly);
        if (!row.addAppendedTo(*appended_, connection().columns("ZIPALL"))) appended_.reset();
    }
    // The kept form's digests are read beside the appending, which leaves the other processor
    // mostly idle, once the kept form is committed: at once, or when the work held beside the
    // check commits.
    readAheadDue_ = true;
    if (checkState_ != CheckState::Running) beginReadingAhead();
    return row;
}

void EngineFrame::beginReadingAhead() {
    assert(checkState_ != CheckState::Running && !held_);
    readAheadDue_ = false;
    keptAhead_.emplace(connection(), ReportedSet(index_ == kNational ? import::DataKind::National
                                                                     : import::DataKind::Office));
}

void EngineFrame::showLine(std::uint64_t consumed) {
    // The caption changes every few dozen lines: set again only then (a window copies it).
    const std::uint64_t hundredths = PercentHundredths(consumed, fileLength_);
    if (hundredths != shownHundredths_) {
        shownHundredths_ = hundredths;
        view_.setCountCaption(index_, FormatPercentHundredths(hundredths));
    }
    view_.setProgressValue(index_, consumed);
    DoEvents(view_);
    if (checkState_ == CheckState::Running ? check_->ended() : checkFault_ != nullptr) {
        settleCheck({});
    }
    if (readAheadDue_ && checkState_ != CheckState::Running) beginReadingAhead();
}

bool EngineFrame::replacesWholeSet() const {
    return index_ == kNational ? threshold() == 0 : threshold() <= kOfficeRecNoBase;
}

void EngineFrame::closeTable() {
    // The appended rows wait for the check, if it still reads, before the table closes.
    settleCheck([this] { DoEvents(view_); });
    if (readAheadDue_) beginReadingAhead();
    row_.reset();
    if (zipall_) zipall_->close();
    zipall_.reset();
}

void EngineFrame::finish(const char* column, import::DataKind kind, const char* finishedMessage,
                         bool beep, const std::function<void()>& stepsBefore) {
    closeTable();
    // The engine's last steps, the stamp and the mark of a whole data set reach other programs
    // together, with the last rows appended.
    InOneCommit([&] {
        if (stepsBefore) stepsBefore();
        // The one row of 作成日 (added when the table is empty) gets the file's stamp.
        const std::string stamp = import::DataFileStamp(request_.file, kind);
        Recordset rs;
        strSQL = "SELECT * FROM 作成日";
        rs.open(strSQL, connection(), CursorType::Static, LockType::Optimistic);
        if (rs.eof()) rs.addNew();
        rs.field(column).setValue(Value(stamp));
        rs.update();
        rs.close();
        import::MarkComplete(connection(), kind);
    });
    ReportChanges(kind, appended_ ? &*appended_ : nullptr, keptAhead_ ? &*keptAhead_ : nullptr);
    keptAhead_.reset();
    appended_.reset();
    view_.setStatusMessage(finishedMessage);
    if (beep) view_.beep();
    pause();
    const double elapsed = request_.environment.monotonicSeconds() - startTime_;
    view_.setCountCaption(index_, ResultCaption(elapsed, progress_.lngRecCount, view_.language()));
    progress_.finished[static_cast<size_t>(index_)] = true;
    view_.importFinished(index_);
}

// The closing pause: events keep running; the monotonic clock also ends it across midnight.
void EngineFrame::pause() {
    const Environment& env = request_.environment;
    const double begin = env.monotonicSeconds();
    while (env.monotonicSeconds() - begin < env.pauseSeconds) {
        DoEvents(view_);
        if (env.idle) env.idle();
    }
}

}  // namespace detail

void SettleFileCheck() {
    if (detail::g_checkingFrame != nullptr) detail::g_checkingFrame->settleForExit();
}

}  // namespace yubin::mdInport
