#include "changes/ChangeReport.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <ctime>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>

#include "base/VectorState.h"
#include "changes/KeptRowIndex.h"
#include "changes/ReportRows.h"
#include "changes/ReportSide.h"
#include "store/NativeSql.h"
#include "store/mdlYubinBox.h"

namespace yubin::changes {

using namespace detail;

namespace {

// Writes the rows of the codes the comparison names into 変更明細.
class DetailWriter {
  public:
    DetailWriter(db::Connection& connection, DataSet set)
        : insert_(connection, "INSERT INTO " + Quote(kDetailTable) + " VALUES (?1, ?2, ?3, ?4" +
                                  Parameters() + ")"),
          set_(DataSetName(set)) {}

    void write(Change change, const char* side, std::string_view code, const RowView& row) {
        insert_.bind(1, set_).bind(2, code).bind(3, ChangeWord(change)).bind(4, side);
        for (size_t i = 0; i < kRowFieldCount; ++i) insert_.bind(static_cast<int>(i) + 5, row[i]);
        insert_.run();
    }

  private:
    static std::string Parameters() {
        std::string text;
        for (size_t i = 0; i < kRowFieldCount; ++i) {
            text += ", nullif(?" + std::to_string(i + 5) + ", '')";
        }
        return text;
    }

    db::NativeStatement insert_;
    std::string_view set_;
};

bool KeptFormWaits(db::Connection& connection, DataSet set) {
    db::NativeStatement waiting(connection, "SELECT 1 FROM " + Quote(kKeptStampTable) + kWhereSet);
    waiting.bind(1, DataSetName(set));
    return waiting.step();
}

void Run(db::Connection& connection, const std::string& sql, DataSet set) {
    db::NativeStatement(connection, sql).bind(1, DataSetName(set)).run();
}

void DropKeptForm(db::Connection& connection, DataSet set) {
    ++KeptFormChanges(set);
    for (const char* table : {kKeptTable, kKeptMastersTable, kKeptStampTable}) {
        Run(connection, "DELETE FROM " + Quote(table) + kWhereSet, set);
    }
}

CodeDigests Digests(db::Connection& connection, const Side& side) {
    CodeDigests digests;
    digests.reserve(kExpectedRows);
    side.addDigests(connection, digests);
    digests.finish();
    return digests;
}

// The digests of the kept form and of the rows now (`digestsNow()`, on this thread). Reading
// and digesting the two sides is most of a report's work, and they share nothing: the kept
// form is read on a connection of its own on another thread while this one makes the rows
// now. The caller's transaction has written nothing yet that either reads, and the kept form
// was committed when it was kept.
template <class DigestsNow>
std::pair<CodeDigests, CodeDigests> BothDigests(db::Connection& connection, DataSet set,
                                                ReportThreads threads, DigestsNow digestsNow) {
    const auto keptDigests = [set](db::Connection& on) { return Digests(on, Side(on, set, true)); };
    if (threads == ReportThreads::One || std::thread::hardware_concurrency() < 2) {
        CodeDigests before = keptDigests(connection);
        return {std::move(before), digestsNow()};
    }
    CodeDigests before, after;
    bool otherFailed = false;
    bool bothRead = false;
    {
        const std::string connectionString = mdlYubinBox::ConnectionString(connection.path());
        std::jthread reader;
        try {
            reader = std::jthread([&] {
                // Started from a thread the toolkit may have left in the slow vector state.
                ClearUpperVectorState();
                try {
                    db::Connection own;
                    own.open(connectionString);
                    before = keptDigests(own);
                } catch (...) {
                    otherFailed = true;
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: both sides are read below.
        }
        if (reader.joinable()) {
            after = digestsNow();
            bothRead = true;
        }
    }  // joined here, and when this thread's reading fails
    if (!bothRead) return BothDigests(connection, set, ReportThreads::One, digestsNow);
    // What the other thread could not read (its connection refused, say) is read here: a fault
    // of the kept form itself is met again, and reported from this thread.
    if (otherFailed) before = keptDigests(connection);
    return {std::move(before), std::move(after)};
}

// The number of distinct postal codes of the data set's rows now: what the comparison with an
// empty kept form counts as added.
long long CountCodesNow(db::Connection& connection, DataSet set) {
    std::string sql = ZipallRows(set, "%");
    sql.replace(0, sql.find(" FROM "), "SELECT \"郵便番号\"");
    db::NativeStatement rows(connection, sql);
    std::vector<std::uint64_t> keys;
    while (rows.step()) keys.push_back(CodeKey(rows.text(0)));
    std::sort(keys.begin(), keys.end());
    return std::unique(keys.begin(), keys.end()) - keys.begin();
}

}  // namespace

namespace detail {

std::atomic<std::uint64_t>& KeptFormChanges(DataSet set) {
    static std::array<std::atomic<std::uint64_t>, 2> changes{};
    return changes[set == DataSet::Office];
}

long long DataVersion(db::Connection& connection) {
    db::NativeStatement version(connection, "PRAGMA data_version");
    return version.step() ? version.number(0) : -1;
}

}  // namespace detail

bool HasKeptRows(db::Connection& connection, DataSet set) {
    db::NativeStatement row(connection,
                            "SELECT 1 FROM " + Quote(kKeptTable) + kWhereSet + " LIMIT 1");
    row.bind(1, DataSetName(set));
    return row.step();
}

std::string LocalTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

bool KeepOldData(db::Connection& connection, DataSet set, OldRows rows,
                 const std::function<void(const KeptRowids*)>& beforeCommit,
                 const std::function<std::optional<long long>()>& highestRowid) {
    // Joined, not a savepoint: the deletion in `beforeCommit` frees most pages of ZIPALL, and
    // inside a savepoint SQLite would write every one of them to the file (14 MB for a refresh
    // of the published data), only for the appended rows to write them again.
    db::NativeTransaction transaction(connection, db::NativeTransaction::Nesting::Joined);
    // Made in the kept form's transaction: the first import of a database creates the tables
    // with one commit instead of one per table.
    EnsureTables(connection);
    if (KeptFormWaits(connection, set)) {
        if (rows == OldRows::CutShort) {
            // Nothing kept; what the hook wrote commits.
            if (beforeCommit) beforeCommit(nullptr);
            transaction.commit();
            return false;
        }
        DropKeptForm(connection, set);
    }
    ++KeptFormChanges(set);
    const KeptRowids kept = KeepRows(connection, set, highestRowid ? highestRowid() : std::nullopt);
    if (set == DataSet::National) {
        Run(connection,
            "INSERT INTO " + Quote(kKeptMastersTable) +
                " SELECT ?1, t, c, nullif(n, ''), nullif(k, '') FROM (" + std::string(kMastersNow) +
                ")",
            set);
    }
    Run(connection,
        "INSERT INTO " + Quote(kKeptStampTable) + " VALUES (?1, (SELECT nullif(" +
            Quote(DataSetName(set)) + ", '') FROM \"作成日\" LIMIT 1))",
        set);
    if (beforeCommit) beforeCommit(&kept);
    transaction.commit();
    return true;
}

std::optional<ReportSummary> MakeReport(db::Connection& connection, DataSet set,
                                        std::string importedAt, ReportThreads threads,
                                        AppendedRows* appended, KeptDigestsAhead* ahead) {
    // The appended rows' memory goes back as soon as the report is made, or fails.
    struct Clear {
        AppendedRows* rows;
        ~Clear() {
            if (rows) rows->clear();
        }
    } clear{appended};
    assert(appended == nullptr || appended->set() == set);
    assert(ahead == nullptr || ahead->set() == set);
    if (!HasReportTables(connection)) return std::nullopt;
    EnsureTables(connection);
    db::NativeTransaction transaction(connection);
    if (!KeptFormWaits(connection, set)) return std::nullopt;
    const std::string_view name = DataSetName(set);

    ReportSummary summary;
    summary.set = set;
    summary.importedAt = importedAt.empty() ? LocalTimestamp() : std::move(importedAt);
    {
        db::NativeStatement before(
            connection, "SELECT ifnull(\"作成日\", '') FROM " + Quote(kKeptStampTable) + kWhereSet);
        if (before.bind(1, name).step()) summary.stampBefore = before.text(0);
        db::NativeStatement after(connection,
                                  "SELECT ifnull(" + Quote(name) + ", '') FROM \"作成日\" LIMIT 1");
        if (after.step()) summary.stampAfter = after.text(0);
    }

    const auto dropOlderDetails = [&] {
        Run(connection, "DELETE FROM " + Quote(kDetailTable) + kWhereSet, set);
    };
    if (!HasKeptRows(connection, set)) {
        dropOlderDetails();
        // An import into an empty table replaced nothing: its codes are all added, and they
        // are not listed.
        summary.counts.added =
            appended ? appended->takeCodeCount() : CountCodesNow(connection, set);
    } else {
        // Rows reduced to their codes, as the import found nothing kept, cannot be compared:
        // they are read back.
        if (appended != nullptr && !appended->comparable()) appended = nullptr;
        const Side now(connection, set, false);
        // The rows now as they were appended, or read back.
        const auto digestsNow = [&] {
            if (!appended) return Digests(connection, now);
            return appended->takeDigests(
                [&now](std::string_view municipality) { return now.namesDigest(municipality); });
        };
        CodeDigests before, after;
        // Where the kept rows lie, when they were read ahead.
        std::optional<KeptRowIndex> keptRows;
        if (ahead != nullptr && ahead->reading()) {
            // The rows now first: meanwhile the reading ahead ends, if it has not yet.
            after = digestsNow();
            std::optional<CodeDigests> read = ahead->take(connection);
            before = read ? std::move(*read) : Digests(connection, Side(connection, set, true));
            keptRows = ahead->takeRowIndex();
        } else {
            // Rows taken as appended cost this thread little: the kept form is read here too,
            // as a second connection and its page cache would cost more memory than the time
            // it saves at this point.
            std::tie(before, after) =
                BothDigests(connection, set, appended ? ReportThreads::One : threads, digestsNow);
        }
        // Only after the second thread has read: an older report of many rows, deleted, fills
        // the page cache, which then spills into the file under an exclusive lock that keeps
        // the other connection from reading (until the lock wait fails it).
        dropOlderDetails();
        const std::vector<CodeChange> changes = CompareDigests(before, after, summary.counts);
        // The rows of the codes that changed.
        if (!changes.empty()) {
            const Side old(connection, set, true);
            DetailWriter details(connection, set);
            const CodeChange* change = nullptr;
            const auto changed = [&](std::string_view code) {
                change = FindChange(changes, CodeKey(code));
                return change != nullptr;
            };
            // The kept rows of those codes: only the packed rows that hold them, when the
            // reading ahead noted where they lie.
            const auto writeOld = [&](std::string_view code, const RowView& row) {
                details.write(change->change, kBeforeWord, code, row);
            };
            if (keptRows) {
                const std::vector<KeptRowIndex::Wanted> at = keptRows->rowsOf(changes);
                keptRows.reset();
                old.forEachKeptRowAt(connection, at, changed, writeOld);
            } else {
                old.forEachRow(connection, changed, writeOld);
            }
            // The rows now of those codes: the appended ones read back by their rowids.
            std::optional<std::vector<long long>> rowidsNow;
            if (appended) rowidsNow = appended->rowidsOf(changes);
            now.forEachRow(
                connection, changed,
                [&](std::string_view code, const RowView& row) {
                    details.write(change->change, kAfterWord, code, row);
                },
                rowidsNow ? &*rowidsNow : nullptr);
        }
    }

    Run(connection, "DELETE FROM " + Quote(kReportTable) + kWhereSet, set);
    db::NativeStatement report(connection, "INSERT INTO " + Quote(kReportTable) +
                                               " VALUES (?1, ?2, nullif(?3, ''), nullif(?4, ''), "
                                               "?5, ?6, ?7)");
    report.bind(1, name)
        .bind(2, summary.importedAt)
        .bind(3, summary.stampBefore)
        .bind(4, summary.stampAfter)
        .bind(5, summary.counts.added)
        .bind(6, summary.counts.removed)
        .bind(7, summary.counts.changed)
        .run();
    DropKeptForm(connection, set);
    transaction.commit();
    return summary;
}

void ForgetReport(db::Connection& connection, DataSet set) {
    if (!HasReportTables(connection)) return;
    db::NativeTransaction transaction(connection);
    for (const char* table : {kReportTable, kDetailTable}) {
        Run(connection, "DELETE FROM " + Quote(table) + kWhereSet, set);
    }
    transaction.commit();
}

std::optional<ReportSummary> ReadSummary(db::Connection& connection, DataSet set) {
    if (!HasReportTables(connection)) return std::nullopt;
    db::NativeStatement row(connection,
                            "SELECT ifnull(\"取込日時\", ''), ifnull(\"旧作成日\", ''), "
                            "ifnull(\"新作成日\", ''), \"追加\", \"削除\", \"変更\" FROM " +
                                Quote(kReportTable) + kWhereSet);
    row.bind(1, DataSetName(set));
    if (!row.step()) return std::nullopt;
    ReportSummary summary;
    summary.set = set;
    summary.importedAt = row.text(0);
    summary.stampBefore = row.text(1);
    summary.stampAfter = row.text(2);
    summary.counts = {row.number(3), row.number(4), row.number(5)};
    return summary;
}

}  // namespace yubin::changes
