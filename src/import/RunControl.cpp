// The run control: one run of both engines with the index and key dropped, and the resume
// marker of an aborted import.
#include <optional>
#include <string>

#include "base/Memory.h"
#include "import/EngineSupport.h"
#include "query/SearchIndex.h"
#include "settings/mdFileCreate.h"
#include "store/DerivedRecords.h"
#include "store/NativeSql.h"
#include "store/mdlYubinBox.h"

namespace yubin::mdInport {

using db::CursorType;
using db::LockType;
using db::Recordset;
using db::Value;
using detail::connection;
using detail::ExecuteIgnoringErrors;
using detail::ExecuteKeyStatement;
using mdlYubinBox::cnMdb;
using mdlYubinBox::strSQL;

namespace {

constexpr std::array<const char*, 2> kImportPathKeys = {"csvzpath", "csvjpath"};

// Whatever ends the run, the pointer comes back and the connection (with the import lock) is
// released, so that every appended row is on disk; while another program holds the database,
// the status panel says so.
class RunScope {
  public:
    RunScope(import::ImportView& view, const ImportProgress& progress,
             const std::function<bool()>& keepWaiting)
        : view_(view),
          outerTick_(db::setWaitTick(keepWaiting)),
          // A long statement (a key made, rows deleted) lets the window's events run as a
          // wait does; it is never cut short by them.
          outerProgressTick_(db::setProgressTick([keepWaiting] {
              if (keepWaiting) keepWaiting();
          })) {
        outer_ = db::setWaitReporter([&view, &progress](bool waiting) {
            const short mode = progress.intInportMode;
            const bool running = mode == 1 || mode == 2;
            view.setStatusMessage(waiting ? kWaitingForOtherProgram
                                          : detail::kRunningMessage[running ? mode : 0]);
        });
    }
    ~RunScope() {
        db::setWaitTick(std::move(outerTick_));
        db::setProgressTick(std::move(outerProgressTick_));
        db::setWaitReporter(std::move(outer_));
        if (finished_) return;
        try {
            mdlYubinBox::CloseMdb();
        } catch (...) {
        }
        view_.setBusyPointer(false);
    }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

    void finished() { finished_ = true; }

  private:
    import::ImportView& view_;
    db::WaitTick outerTick_;
    db::ProgressTick outerProgressTick_;
    db::WaitReporter outer_;
    bool finished_ = false;
};

// The busy pointer and the connection; an error here is shown and the run goes on to the
// summary. Returns whether the database opened.
bool OpenForRun(import::ImportView& view) {
    try {
        view.setBusyPointer(true);
        mdlYubinBox::OpenMdb(mdlYubinBox::strMdbFile);
        return true;
    } catch (const std::exception& error) {
        view.messageBox(error.what(), import::msgbox::kOkOnly, "");
        return false;
    }
}

// The connection's page cache narrowed while the index and key are made: their sorts read
// the table once and hold up to 8 MB of their own, so the usual cache only added its 2 MB to
// the import's peak; the new index's pages spill into the file a little earlier instead, as
// fast. Its size changes memory and speed only: a connection that refuses it is left as is.
class NarrowPageCache {
  public:
    explicit NarrowPageCache(db::Connection& connection) : connection_(connection) {
        try {
            db::NativeStatement size(connection_, "PRAGMA cache_size");
            if (!size.step()) return;
            const long long usual = size.number(0);
            db::NativeStatement(connection_, "PRAGMA cache_size = -512").run();
            usual_ = usual;
        } catch (const YubinError&) {
        }
    }
    ~NarrowPageCache() {
        if (!usual_) return;
        try {
            db::NativeStatement(connection_, "PRAGMA cache_size = " + std::to_string(*usual_))
                .run();
        } catch (const YubinError&) {
        }
    }
    NarrowPageCache(const NarrowPageCache&) = delete;
    NarrowPageCache& operator=(const NarrowPageCache&) = delete;

  private:
    db::Connection& connection_;
    std::optional<long long> usual_;
};

// The search's index over the rows as they now are, begun before the index and the key: its
// rows are read on the other processor while this thread makes them, which changes no row, and
// the index is stored after them (finish()). From a spill of a statement's pages into the file
// to its commit the reader waits: begun between the two, it had read about half the rows when
// the key was made and left the rest to finish(); begun before both, it has read most of them.
// Its connection and bitmaps (1.7 MB for the published data) come on top of the sorts, which
// with them stay below the engines' peak of memory. Without the index a search reads every
// row, so a failure to begin it costs only time: nothing is begun, and the index is built
// after the key as a whole.
//
// Neither thread can wait for the other in turn. The reader holds the file only while it loads
// the masters and finds the table's first and last rowid at its start (while the index's sort
// reads the rows) or reads a few blocks (half a millisecond), and never waits for this thread
// but for the file; finish() counts the rows on this thread. A commit
// of the index or the key, or a spill of its pages into the file, waits for the end of such a
// read, a wait the window does not show (db::OwnReaders); after a spill this thread holds the
// file until its commit, and the reader waits for that, untold as well.
void BeginSearchIndex(std::optional<query::SearchIndexBuild>& searchIndex) {
    try {
        searchIndex.emplace(connection());
    } catch (const YubinError&) {
    }
}

// The memory freed before and by the sorts of the index and key is given back at once: the
// engines' buffers, the read-ahead worker's arena and the cache's pages before the sorts, the
// sorts' own memory before what follows, which would otherwise come on top of it. With
// `searchIndex`, the search's index is begun before the two (BeginSearchIndex).
void CreateIndexAndKey(std::optional<query::SearchIndexBuild>* searchIndex = nullptr) {
    {
        const NarrowPageCache narrow(connection());
        ReleaseFreeMemory();
        if (searchIndex != nullptr) {
            // The appended rows stored first, so that their commit reports its own failure:
            // the build would take it for its own, which costs only time.
            connection().flush();
            BeginSearchIndex(*searchIndex);
        }
        ExecuteKeyStatement("CREATE INDEX x_郵便番号 ON ZIPALL(郵便番号)");
        // The index's sort memory given back first: the key's sort comes on top of the reader's.
        if (searchIndex != nullptr) ReleaseFreeMemory();
        ExecuteKeyStatement("ALTER TABLE ZIPALL ADD CONSTRAINT xRECNO PRIMARY KEY(RECNO)");
    }
    ReleaseFreeMemory();
}

// The index and key of ZIPALL made again, and the search's index over the rows as they now
// are. The appended rows are stored first, so that their commit reports its own failure; the
// search's index is read from the file. Its build failing costs only time; where no thread or
// connection could be had, finish() reads every row itself.
//
// The free pages the run left (the kept rows and the old report deleted) go back to the file
// system in the same commit: the compaction at the exit then finds none, and has nothing to
// commit. Left free, they cost only that commit.
void MakeIndexKeyAndSearchIndex() {
    std::optional<query::SearchIndexBuild> searchIndex;
    CreateIndexAndKey(&searchIndex);
    connection().flush();  // not every connection's: see ExecuteKeyStatement
    try {
        detail::InOneCommit([&searchIndex] {
            try {
                if (searchIndex) {
                    searchIndex->finish();
                } else {
                    query::BuildSearchIndex(connection());
                }
            } catch (const YubinError&) {
            }
            db::NativeStatement(connection(), "PRAGMA incremental_vacuum").run();
        });
    } catch (const YubinError&) {
    }
}

// The engines, each when its file is chosen; the index and key re-created unless the
// business-office import was refused.
void ImportChosenFiles(const RunRequest& request, const DecisionBasis& now,
                       ImportProgress& progress, RunReport& report) {
    import::ImportView& view = *request.environment.view;
    const auto engineRequest = [&request, &now](int index) {
        return EngineRequest{request.fileToImport(index), now.resume.threshold,
                             request.environment};
    };
    if (const EngineRequest national = engineRequest(kNational); !national.file.empty()) {
        InportKenAll(national, progress);
        report.imported[kNational] = true;
    }
    if (const EngineRequest office = engineRequest(kOffice); !office.file.empty()) {
        if (PrefCount() != 47) {
            mdlYubinBox::Flush();
            view.messageBox(TrMark("全国版郵便番号データを取り込んでください。"),
                            import::msgbox::kCritical | import::msgbox::kOkOnly,
                            TrMark("郵便番号データ取込処理"));
            view.setRunEnabled(true);
            report.officeRefused = true;
            return;  // the index and key stay dropped
        }
        InportJigyosyo(office, progress);
        report.imported[kOffice] = true;
    }
    MakeIndexKeyAndSearchIndex();
}

// The run under the import lock: what was decided from read again, the index and key of
// ZIPALL dropped for the engines.
void RunEngines(const RunRequest& request, ImportProgress& progress, RunReport& report) {
    import::ImportView& view = *request.environment.view;
    // Another process importing into the same file is refused, never interleaved. The records
    // readers derived from the tables go with the drops below, before anything changes: a run
    // declined changes nothing, and they stay valid.
    const bool open = cnMdb && cnMdb->isOpen();
    if (open) cnMdb->lockImport(db::Connection::DerivedRecordsOnLock::LeaveToCaller);
    // Another import may have continued or finished this database since the caller read the
    // resume point and the dates: the run appends only from what it reads under the lock.
    const DecisionBasis now{ReadResumePoint(), ShowSakuseibiOpen(view)};
    if (now != request.decidedFrom && request.decideAgain && !request.decideAgain(now)) {
        report.declined = true;
        return;
    }

    detail::InOneCommit([open] {
        if (open) db::DerivedRecords::removeAll(connection());
        ExecuteKeyStatement("DROP INDEX x_郵便番号 ON ZIPALL");
        ExecuteKeyStatement("ALTER TABLE ZIPALL DROP CONSTRAINT xRECNO");
    });
    try {
        ImportChosenFiles(request, now, progress, report);
    } catch (const YubinError& error) {
        // Aborted while an engine checked its file: the run leaves ZIPALL as that engine found
        // it, its index and key included, and the search's index, which the import removed as
        // it took the database (when the connection is still there to make them).
        if (error.code() == ErrorCode::ImportAborted && progress.checking && cnMdb &&
            cnMdb->isOpen()) {
            try {
                MakeIndexKeyAndSearchIndex();
            } catch (const YubinError&) {
                // They stay dropped until a later run completes, as after any failed run.
            }
        }
        throw;
    }
}

}  // namespace

RunReport InportRun(const RunRequest& request, ImportProgress& progress) {
    if (request.environment.view == nullptr) {
        throw YubinError(ErrorCode::InvalidArgument, Message("取り込みの表示先がありません。"));
    }
    import::ImportView& view = *request.environment.view;
    // A path the settings file could not give back would fail the run only at its end.
    for (int index : {kNational, kOffice}) {
        const std::string file = request.fileToImport(index);
        if (!file.empty()) mdFileCreate::CheckImportPath(kImportPathKeys[index], file);
    }

    RunReport report;
    progress.officeRowsBound.reset();  // a bound holds within the run that noted it
    RunScope scope(view, progress, request.keepWaiting);
    if (OpenForRun(view)) RunEngines(request, progress, report);
    report.strSakuseibi = ShowSakuseibi(view);
    mdlYubinBox::CloseMdb();
    view.setBusyPointer(false);
    scope.finished();
    view.beep();
    return report;
}

short PrefCount() {
    Recordset rs;
    strSQL = "SELECT COUNT(*) As DCOUNT FROM 都道府県";
    rs.open(strSQL, connection(), CursorType::ForwardOnly, LockType::ReadOnly);
    const long long count = rs.field("DCOUNT").value().toNumber();
    rs.close();
    return static_cast<short>(count);
}

void SaveResumePoint(const ImportProgress& progress) {
    ExecuteIgnoringErrors("DELETE FROM 登録中");
    Recordset rs;
    strSQL = "SELECT * FROM 登録中";
    rs.open(strSQL, connection(), CursorType::Keyset, LockType::Pessimistic);
    if (rs.eof()) {
        const double marker = (static_cast<double>(progress.intInportMode) - 1.0) * 1e6 +
                              static_cast<double>(progress.lngRecCount);
        rs.addNew();
        rs.field("RECNO").setValue(Value(static_cast<long long>(marker)));
        rs.update();
    }
    rs.close();
    connection().flush();
}

namespace {

// The RECNO of the marker's row, 0 when there is none.
long ReadMarker() {
    Recordset rs;
    strSQL = "SELECT * FROM 登録中";
    rs.open(strSQL, connection(), CursorType::ForwardOnly, LockType::ReadOnly);
    long marker = 0;
    if (!rs.eof() && !rs.field("RECNO").value().isNull()) {
        marker = static_cast<long>(rs.field("RECNO").value().toNumber());
    }
    rs.close();
    return marker;
}

}  // namespace

ResumeState ReadResumePoint() {
    long threshold = ReadMarker();
    if (threshold != 0) {
        const bool office = threshold > kOfficeRecNoBase;
        Recordset rs;
        strSQL = std::string("SELECT MAX(RECNO) AS MAXNO FROM ZIPALL") +
                 (office ? " WHERE データ識別 = '1'" : " WHERE データ識別 <> '1'");
        rs.open(strSQL, connection(), CursorType::ForwardOnly, LockType::ReadOnly);
        if (!rs.eof()) {
            const Value& maximum = rs.field("MAXNO").value();
            // No row of the interrupted kind was written: nothing to continue, a fresh start.
            threshold = maximum.isNull() ? 0 : static_cast<long>(maximum.toNumber());
        }
        rs.close();
    }
    ResumeState state;
    state.threshold = threshold;
    state.nationalChoiceDisabled = threshold > kOfficeRecNoBase;
    state.continuation = threshold != 0;
    return state;
}

void ClearResumePoint() { ExecuteIgnoringErrors("DELETE FROM 登録中"); }

}  // namespace yubin::mdInport
