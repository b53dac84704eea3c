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
#include <optional>
#include <string>
#include <vector>

#include "changes/AppendedRows.h"
#include "changes/ChangeDiff.h"
#include "changes/ChangeTables.h"
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
// back: nothing is kept.
//
// `highestRowid` (when set) is asked inside the transaction, before the rows are read: the
// highest rowid the data set's rows can have then, if the caller knows one.
bool KeepOldData(db::Connection& connection, DataSet set, OldRows rows,
                 const std::function<void()>& beforeCommit = {},
                 const std::function<std::optional<long long>()>& highestRowid = {});

// Whether the report may read the kept form on a second thread, with a connection of its own
// (Two, on a machine with more than one processor), or reads everything on the caller's.
enum class ReportThreads { One, Two };

// After the engine has written every row and recorded the new date: compares the kept form
// with the data set's rows now, replaces the data set's report with the result and drops the
// kept form, in one transaction. Nothing happens (nullopt) when no kept form waits: the
// import continued one that began before reports were kept. `importedAt` empty: now.
// `appended`: the data set's rows now, as the import appended every one of them (it replaced
// the data set whole; of the same data set), taken away and cleared here: the table is read
// back only for the rows of the codes that changed, and the kept form is read on this thread
// whatever `threads` says. nullptr: the rows are read from the table.
std::optional<ReportSummary> MakeReport(db::Connection& connection, DataSet set,
                                        std::string importedAt = {},
                                        ReportThreads threads = ReportThreads::Two,
                                        AppendedRows* appended = nullptr);

// Takes the data set's report away (when making a new one failed, so that the older one is
// not read as the last import's), in one transaction.
void ForgetReport(db::Connection& connection, DataSet set);

// The last report of the data set; nullopt when there is none.
std::optional<ReportSummary> ReadSummary(db::Connection& connection, DataSet set);

// The local time now as "yyyy-mm-dd hh:mm:ss".
std::string LocalTimestamp();

}  // namespace yubin::changes
