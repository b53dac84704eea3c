#include "publish/Publisher.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>

#include "base/Text.h"
#include "publish/LibPq.h"
#include "publish/PgConnection.h"
#include "publish/TablePlan.h"

namespace yubin::publish {

namespace {

using Clock = std::chrono::steady_clock;

// The advisory lock of a publish: this class and a hash of the schema's name.
constexpr const char* kLockClass = "1498759753";  // "YUBI"
// PostgreSQL's longest name, in bytes; the staging name adds its suffix to the schema's.
constexpr size_t kMaxNameBytes = 63;
constexpr const char* kStagingSuffix = "_staging";
constexpr const char* kOldSuffix = "_old";

struct Names {
    std::string live;     // quoted
    std::string staging;  // quoted
    std::string old;      // quoted
    std::string liveText;
    std::string stagingText;
    std::string oldText;
};

Names MakeNames(const PgConnection& pg, const std::string& schema) {
    if (schema.empty() || schema.size() + std::string_view(kStagingSuffix).size() > kMaxNameBytes ||
        schema.find('\0') != std::string::npos) {
        throw YubinError(ErrorCode::InvalidArgument,
                         Message("スキーマ名 \"{1}\" は使えません（1 から {2} バイト）。", schema,
                                 kMaxNameBytes - 8));
    }
    Names n;
    n.liveText = schema;
    n.stagingText = schema + kStagingSuffix;
    n.oldText = schema + kOldSuffix;
    n.live = pg.quoteIdentifier(n.liveText);
    n.staging = pg.quoteIdentifier(n.stagingText);
    n.old = pg.quoteIdentifier(n.oldText);
    return n;
}

bool SchemaExists(PgConnection& pg, const std::string& name) {
    return Pq().PQntuples(pg.query("SELECT 1 FROM pg_namespace WHERE nspname = $1", {name}).get()) >
           0;
}

void RequireUtf8(PgConnection& pg) {
    PgResult result = pg.query("SELECT current_setting('server_encoding')");
    const std::string encoding = Pq().PQgetvalue(result.get(), 0, 0);
    if (encoding != "UTF8") {
        throw YubinError(ErrorCode::PublishServerFault,
                         Message("データベースの文字コードが {1} です。日本語の名前をすべて保つに"
                                 "は UTF8 のデータベースが必要です。",
                                 encoding));
    }
}

// Waits for another publish of the same schema (or for the server to notice that a killed one
// is gone) up to the lock wait.
void TakePublishLock(PgConnection& pg, const PublishOptions& options, const StepObserver& observe) {
    const auto deadline = Clock::now() + options.lockWait;
    bool told = false;
    for (;;) {
        PgResult got =
            pg.query("SELECT pg_try_advisory_lock(" + std::string(kLockClass) + ", hashtext($1))",
                     {options.schema});
        if (std::string_view(Pq().PQgetvalue(got.get(), 0, 0)) == "t") return;
        if (Clock::now() >= deadline) {
            throw YubinError(ErrorCode::PublishBusy,
                             Message("スキーマ {1} には別の公開が実行中です。", options.schema));
        }
        if (!told && observe) observe(PublishStep::Waiting, {});
        told = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

// Every schema a publish makes carries this comment; a schema without it is never replaced or
// dropped, whatever its name (`--schema public` must not take the tables of public away).
constexpr const char* kSchemaMark =
    "yubinbox: published postal data, replaced whole by each publish";

// A live or leftover staging schema must be ours to rename or drop: found before anything is
// copied. False when there is no such schema.
bool RequireOurSchema(PgConnection& pg, const std::string& name) {
    PgResult found = pg.query(
        "SELECT pg_has_role(nspowner, 'USAGE'), obj_description(oid, 'pg_namespace') IS NOT "
        "DISTINCT FROM $2 FROM pg_namespace WHERE nspname = $1",
        {name, kSchemaMark});
    if (Pq().PQntuples(found.get()) == 0) return false;
    if (std::string_view(Pq().PQgetvalue(found.get(), 0, 0)) != "t") {
        throw YubinError(ErrorCode::PublishNoRights,
                         Message("スキーマ {1} の所有者ではないため置き換えられません。所有者の"
                                 "ロールで公開してください。",
                                 name));
    }
    if (std::string_view(Pq().PQgetvalue(found.get(), 0, 1)) != "t") {
        throw YubinError(ErrorCode::PublishForeignSchema,
                         Message("スキーマ {1} は yubinbox が公開したものではないため、置き換えも"
                                 "削除もしません。別のスキーマ名を --schema で指定してください。",
                                 name));
    }
    return true;
}

// The staging schema with its empty tables, committed: from here a failure leaves it for
// DropStagingQuietly or the next publish.
void CreateStaging(PgConnection& pg, const Names& names, const std::vector<TablePlan>& plans) {
    pg.execute("BEGIN");
    pg.execute("CREATE SCHEMA " + names.staging,
               "スキーマ " + names.stagingText +
                   " を作成できません（データベースに対する CREATE 権限が必要です）。");
    pg.execute("COMMENT ON SCHEMA " + names.staging + " IS " + QuoteSqlLiteral(kSchemaMark));
    for (const TablePlan& plan : plans) pg.execute(createTableSql(pg, names.staging, plan));
    pg.execute("COMMIT");
}

// Builds every index, one per connection at a time, the largest tables' first; then the
// primary keys take their indexes over.
void BuildIndexes(const std::vector<PgConnection*>& connections, const Names& names,
                  std::vector<TablePlan> plans, const std::vector<PublishedTable>& published) {
    const auto rowsOf = [&](const TablePlan& plan) {
        for (const PublishedTable& table : published) {
            if (table.name == plan.serverName) return table.rows;
        }
        return 0LL;
    };
    std::stable_sort(plans.begin(), plans.end(),
                     [&](const TablePlan& a, const TablePlan& b) { return rowsOf(a) > rowsOf(b); });
    std::vector<IndexStatements> statements;
    for (const TablePlan& plan : plans) {
        for (IndexStatements& s : indexSql(*connections.front(), names.staging, plan)) {
            statements.push_back(std::move(s));
        }
    }
    const std::string what = "キーと索引を作成できません。";
    // The connections already build side by side; workers of their own would only wait.
    for (PgConnection* pg : connections) {
        pg->execute("SET maintenance_work_mem = '256MB'; SET max_parallel_maintenance_workers = 0");
    }
    for (size_t done = 0; done < statements.size();) {
        size_t sent = 0;
        for (; sent < connections.size() && done + sent < statements.size(); ++sent) {
            connections[sent]->send(statements[done + sent].build, what);
        }
        // Every connection's results are read, so that none is left busy by a failure.
        std::optional<YubinError> failure;
        for (size_t i = 0; i < sent; ++i) {
            try {
                connections[i]->awaitResults(what);
            } catch (const YubinError& error) {
                if (!failure) failure = error;
            }
        }
        if (failure) throw *failure;
        done += sent;
    }
    for (const IndexStatements& s : statements) {
        if (!s.constraint.empty()) connections.front()->execute(s.constraint, what);
    }
}

std::vector<PublishedTable> BuildStaging(db::Connection& file, PgConnection& pg, const Names& names,
                                         const std::vector<TablePlan>& plans,
                                         const PublishOptions& options,
                                         const StepObserver& observe) {
    // The staging schema need not survive a crash of the server: the swap's commit waits for
    // the disk, and with it for everything written before it.
    pg.execute("SET synchronous_commit = off");
    CreateStaging(pg, names, plans);
    if (observe) observe(PublishStep::StagingCreated, {});

    // More connections of the same role: their server processes load and index at once.
    std::vector<std::unique_ptr<PgConnection>> helpers;
    std::vector<PgConnection*> connections = {&pg};
    for (int i = 1; i < options.connections; ++i) {
        helpers.push_back(std::make_unique<PgConnection>(options.conninfo));
        helpers.back()->execute("SET synchronous_commit = off");
        connections.push_back(helpers.back().get());
    }
    std::vector<PublishedTable> published;
    for (const TablePlan& plan : plans) {
        const long long rows = copyTable(file, connections, names.staging, plan, [&] {
            if (observe) observe(PublishStep::Copying, plan.fileName);
        });
        if (observe) observe(PublishStep::TableCopied, plan.fileName);
        published.push_back({plan.serverName, rows});
    }
    BuildIndexes(connections, names, plans, published);
    for (const std::string& role : options.readerRoles) {
        const std::string quoted = pg.quoteIdentifier(role);
        pg.execute("GRANT USAGE ON SCHEMA " + names.staging + " TO " + quoted +
                       "; GRANT SELECT ON ALL TABLES IN SCHEMA " + names.staging + " TO " + quoted,
                   "ロール " + role + " に読み取り権限を与えられません。");
    }
    pg.execute("RESET synchronous_commit");
    if (observe) observe(PublishStep::Indexed, {});
    return published;
}

// How long one attempt of the swap waits for a table: below the server's deadlock_timeout, so
// that when a reader and the swap wait for each other the swap gives up first and the reader
// goes on without an error.
std::chrono::milliseconds SwapLockTimeout(PgConnection& pg) {
    PgResult found =
        pg.query("SELECT setting::bigint FROM pg_settings WHERE name = 'deadlock_timeout'");
    long long deadlockMs = 1000;  // the server's default
    if (Pq().PQntuples(found.get()) == 1)
        deadlockMs = std::atoll(Pq().PQgetvalue(found.get(), 0, 0));
    return std::chrono::milliseconds(std::clamp(deadlockMs / 2, 10LL, 2000LL));
}

// The tables of a schema in the one order every swap locks them in (their names' bytes).
std::vector<std::string> TablesInLockOrder(PgConnection& pg, const std::string& schema) {
    PgResult found = pg.query(
        "SELECT tablename FROM pg_tables WHERE schemaname = $1 ORDER BY tablename COLLATE \"C\"",
        {schema});
    std::vector<std::string> names;
    for (int row = 0; row < Pq().PQntuples(found.get()); ++row) {
        names.push_back(Pq().PQgetvalue(found.get(), row, 0));
    }
    return names;
}

std::string QualifiedList(const PgConnection& pg, const std::string& quotedSchema,
                          const std::vector<std::string>& tables) {
    std::string list;
    for (const std::string& table : tables) {
        if (!list.empty()) list += ", ";
        list += quotedSchema + "." + pg.quoteIdentifier(table);
    }
    return list;
}

// One attempt of the swap; false when a reader's lock stood in the way (lock timeout or
// deadlock), with everything rolled back and the reader left to go on.
bool TrySwap(PgConnection& pg, const Names& names, std::chrono::milliseconds lockTimeout,
             const StepObserver& observe) {
    pg.execute("BEGIN; SET LOCAL lock_timeout = '" + std::to_string(lockTimeout.count()) + "ms'");
    try {
        const bool hadLive = SchemaExists(pg, names.liveText);
        const std::vector<std::string> liveTables = TablesInLockOrder(pg, names.liveText);
        // Every lock the swap needs on tables that readers use, taken first and in one order:
        // nothing is renamed or dropped while a reader can still hold part of the old month.
        if (!liveTables.empty()) {
            pg.execute("LOCK TABLE " + QualifiedList(pg, names.live, liveTables) +
                           " IN ACCESS EXCLUSIVE MODE",
                       "スキーマ " + names.liveText + " のテーブルをロックできません。");
        }
        if (hadLive) pg.execute("ALTER SCHEMA " + names.live + " RENAME TO " + names.old);
        pg.execute("ALTER SCHEMA " + names.staging + " RENAME TO " + names.live);
        if (observe) observe(PublishStep::Swapping, {});
        if (hadLive) {
            // The old tables go one by one without CASCADE: a view that someone built on
            // them elsewhere stops the swap with the server's explanation instead of
            // vanishing silently.
            if (!liveTables.empty()) {
                pg.execute("DROP TABLE " + QualifiedList(pg, names.old, liveTables),
                           "前の版のテーブルを削除できません。");
            }
            pg.execute("DROP SCHEMA " + names.old, "前の版のスキーマを削除できません。");
        }
        pg.execute("COMMIT");
        return true;
    } catch (const YubinError& error) {
        if (Pq().PQstatus(pg.handle()) == CONNECTION_OK) {
            try {
                pg.execute("ROLLBACK");
            } catch (const YubinError&) {
                // The first fault is the one to report.
            }
        }
        if (error.code() == ErrorCode::PublishBusy) return false;
        throw;
    }
}

// The sessions that hold locks on the live tables (pid, role, program), for the message of a
// swap that could not wait any longer.
std::string LockHolders(PgConnection& pg, const Names& names) {
    try {
        PgResult found = pg.query(
            "SELECT string_agg(DISTINCT format('%s（PID %s、ロール %s、プログラム %s）', "
            "l.relation::regclass, l.pid, a.usename, "
            "coalesce(nullif(a.application_name, ''), '-')), '、') "
            "FROM pg_locks l JOIN pg_class c ON c.oid = l.relation "
            "JOIN pg_namespace n ON n.oid = c.relnamespace "
            "LEFT JOIN pg_stat_activity a ON a.pid = l.pid "
            "WHERE l.granted AND n.nspname = $1 AND c.relkind IN ('r', 'p') "
            "AND l.pid <> pg_backend_pid()",
            {names.liveText});
        if (Pq().PQgetisnull(found.get(), 0, 0)) return "";
        return " 使用中: " + std::string(Pq().PQgetvalue(found.get(), 0, 0));
    } catch (const YubinError&) {
        return "";  // the refusal itself is what must be reported
    }
}

void Swap(PgConnection& pg, const Names& names, const PublishOptions& options,
          const StepObserver& observe) {
    const auto deadline = Clock::now() + options.lockWait;
    const std::chrono::milliseconds lockTimeout = SwapLockTimeout(pg);
    // Between attempts the readers that queued behind the swap's locks get their turn.
    std::chrono::milliseconds backOff{20};
    while (!TrySwap(pg, names, lockTimeout, observe)) {
        if (Clock::now() + backOff >= deadline) {
            throw YubinError(ErrorCode::PublishBusy,
                             Message("読み取り中のプログラムがスキーマ {1} のテーブルを使い続けて"
                                     "いるため、置き換えられません。{2}",
                                     names.liveText, LockHolders(pg, names)));
        }
        std::this_thread::sleep_for(backOff);
        backOff = std::min(backOff * 2, std::chrono::milliseconds(500));
    }
    if (observe) observe(PublishStep::Swapped, {});
}

// After a failure: the staging schema goes now if the connection still works, else at the
// start of the next publish.
void DropStagingQuietly(PgConnection& pg, const Names& names) {
    if (Pq().PQstatus(pg.handle()) != CONNECTION_OK) return;
    try {
        if (Pq().PQtransactionStatus(pg.handle()) != PQTRANS_IDLE) pg.execute("ROLLBACK");
        if (RequireOurSchema(pg, names.stagingText)) {
            pg.execute("DROP SCHEMA " + names.staging + " CASCADE");
        }
    } catch (const YubinError&) {
        // The failure being reported matters more; the next publish drops it.
    }
}

}  // namespace

const char* stepName(PublishStep step) {
    switch (step) {
        case PublishStep::Waiting:
            return "waiting";
        case PublishStep::Connected:
            return "connected";
        case PublishStep::StagingCreated:
            return "staging";
        case PublishStep::Copying:
            return "copying";
        case PublishStep::TableCopied:
            return "copied";
        case PublishStep::Indexed:
            return "indexed";
        case PublishStep::Swapping:
            return "swapping";
        case PublishStep::Swapped:
            return "swapped";
    }
    return "";
}

PublishReport publishDatabase(db::Connection& file, const PublishOptions& options,
                              const StepObserver& observe) {
    // Held against imports, so that every table is read from one state of the file.
    file.lockImport();
    struct Unlock {
        db::Connection& file;
        ~Unlock() {
            try {
                file.unlockImport();
            } catch (const YubinError&) {
                // Nothing was written through this connection; the lock goes with it.
            }
        }
    } unlock{file};
    requireFinishedImport(file);
    const std::vector<TablePlan> plans = planTables(file);

    PgConnection pg(options.conninfo);
    const Names names = MakeNames(pg, options.schema);
    pg.execute("SET client_min_messages = warning");
    RequireUtf8(pg);
    TakePublishLock(pg, options, observe);
    if (observe) observe(PublishStep::Connected, {});
    RequireOurSchema(pg, names.liveText);
    if (RequireOurSchema(pg, names.stagingText)) {
        pg.execute("DROP SCHEMA " + names.staging + " CASCADE",
                   "前回の公開が残したスキーマ " + names.stagingText + " を削除できません。");
    }

    PublishReport report{options.schema, {}};
    try {
        report.tables = BuildStaging(file, pg, names, plans, options, observe);
        Swap(pg, names, options, observe);
    } catch (const YubinError&) {
        DropStagingQuietly(pg, names);
        throw;
    }
    return report;
}

}  // namespace yubin::publish
