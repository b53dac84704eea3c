// The change report of an import that replaces data: the old rows kept before a fresh import
// deletes them, and after the import the comparison per postal code written into the report
// tables (ChangeTables.h).
//
// The kept form lives in the database, not in memory: an import that is cut short (aborted,
// killed, failed) and continued later, by this process or another, reports against the data
// as it was before its first attempt.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "changes/AppendedRows.h"
#include "changes/ChangeDiff.h"
#include "changes/ChangeTables.h"
#include "changes/KeptRowIndex.h"
#include "store/Engine.h"

namespace yubin::changes {

// The last report of a data set (a row of 変更報告).
struct ReportSummary {
    DataSet set = DataSet::National;
    std::string importedAt;   // "yyyy-mm-dd hh:mm:ss", local time
    std::string stampBefore;  // 作成日 of the replaced data ("" when none was registered)
    std::string stampAfter;   // 作成日 of the imported data
    ChangeCounts counts;
};

// What the data set's rows are when a fresh import begins: the whole data of the last import
// that finished, or what an import that was cut short left.
enum class OldRows { Whole, CutShort };

// Before a fresh import deletes the data set's rows: copies their compact form into
// 変更前データ and the registered date into 変更前作成日, in one transaction. Nothing is copied
// when a kept form of the data set still waits for its report and the rows are `CutShort`:
// the import that kept it was cut short, and what the table holds now is partly its work.
// Over `Whole` rows a waiting kept form is out of date (the import that kept it finished but
// its report was not made) and is replaced. Makes the tables when missing. Returns whether it
// copied.
//
// `beforeCommit` (when set) is called just before the transaction commits, whether it copied
// or not: what it writes commits with the kept form, and what it throws rolls the transaction
// back: nothing is kept. Begun inside a transaction of the caller's, it joins that one (see
// db::NativeTransaction's Joined): it commits with it, and a failure rolls the caller's back
// too. It is given the rowids of the rows copied, or null when none were:
// inside the transaction they are exactly the data set's rows (within `highestRowid`).
//
// `highestRowid` (when set) is asked inside the transaction, before the rows are read: the
// highest rowid the data set's rows can have then, if the caller knows one.
bool KeepOldData(db::Connection& connection, DataSet set, OldRows rows,
                 const std::function<void(const KeptRowids*)>& beforeCommit = {},
                 const std::function<std::optional<long long>()>& highestRowid = {});

// Whether the report may read the kept form on a second thread, with a connection of its own
// (Two, on a machine with more than one processor), or reads everything on the caller's.
enum class ReportThreads { One, Two };

// The digests of a data set's kept form, read on a thread and a connection of their own while
// the caller's connection appends the new rows, so that the report only has the rows now to
// read. Begun once the kept form is committed (KeepOldData). The reading goes in short pieces,
// each a read of its own: a commit or a spill of the caller's connection waits for one piece
// at most (db::OwnReaders), and the reader waits for the caller's writes, never the other way.
// Nothing is read where the machine has one processor, or no thread can be had, or while the
// caller's connection is inside a transaction (the kept form may not be committed yet).
class KeptDigestsAhead {
  public:
    KeptDigestsAhead(db::Connection& connection, DataSet set);
    // The reading stopped and its thread joined.
    ~KeptDigestsAhead();
    KeptDigestsAhead(const KeptDigestsAhead&) = delete;
    KeptDigestsAhead& operator=(const KeptDigestsAhead&) = delete;

    DataSet set() const;
    // Whether a thread was started to read.
    bool reading() const;
    // Waits for the end of the reading; whether it read the digests (take may still refuse
    // them).
    bool waitForReading();
    // Waits for the end of the reading. The digests, once: when the reading succeeded, on
    // `connection` (the one it was begun on), no other connection has written to the file
    // since it began, and this process has neither kept nor dropped a kept form of the data
    // set since; nullopt otherwise (the caller reads the kept form itself). Called inside the
    // report's transaction, after it has read, so that nothing can write in between.
    std::optional<CodeDigests> take(db::Connection& connection);
    // After take: where the rows of the kept form lie, once, when take gave its digests and
    // the kept form is packed whole (an earlier version's kept form of one row to a row is not
    // indexed); nullopt otherwise.
    std::optional<KeptRowIndex> takeRowIndex();

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// Stops every reading of KeptDigestsAhead in the process and joins its thread: the program's
// ways out, which may end it from inside an engine's event processing where no destructor
// runs (also run at exit). The reports read the kept forms themselves.
void StopReadingAhead();

// Whether the kept form of `set` holds rows: the report compares the rows now with them;
// without, it counts the codes now and compares nothing.
bool HasKeptRows(db::Connection& connection, DataSet set);

// After the engine has written every row and recorded the new date: compares the kept form
// with the data set's rows now, replaces the data set's report with the result and drops the
// kept form, in one transaction. Nothing happens (nullopt) when no kept form waits: the
// import continued one that began before reports were kept. `importedAt` empty: now.
// `appended`: the data set's rows now, as the import appended every one of them (it replaced
// the data set whole; of the same data set), taken away and cleared here: the table is read
// back only for the rows of the codes that changed, and the kept form is read on this thread
// whatever `threads` says. nullptr: the rows are read from the table. `ahead`: the kept form's
// digests as read while the rows were appended (of the same data set, on this connection),
// when they are still those of the kept form (KeptDigestsAhead::take), and where its rows lie:
// of a packed kept form only the packed rows that hold the changed codes are read back.
std::optional<ReportSummary> MakeReport(db::Connection& connection, DataSet set,
                                        std::string importedAt = {},
                                        ReportThreads threads = ReportThreads::Two,
                                        AppendedRows* appended = nullptr,
                                        KeptDigestsAhead* ahead = nullptr);

// Takes the data set's report away (when making a new one failed, so that the older one is
// not read as the last import's), in one transaction.
void ForgetReport(db::Connection& connection, DataSet set);

// The last report of the data set; nullopt when there is none.
std::optional<ReportSummary> ReadSummary(db::Connection& connection, DataSet set);

// The local time now as "yyyy-mm-dd hh:mm:ss".
std::string LocalTimestamp();

}  // namespace yubin::changes
