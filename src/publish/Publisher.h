// Publishing the database file to a PostgreSQL schema, replaced whole.
//
// The tables of the file are copied (COPY, over two connections at once) into a staging schema,
// which gets the file's keys and indexes and the readers' rights; then one short transaction
// locks every live table (in one fixed order, before anything else), renames the live schema
// away, renames the staging schema to the live name and drops the old tables. A reader therefore
// sees the whole old data or the whole new data, never a mixture. A reader holding a table is
// waited for only half the server's deadlock_timeout, so that when the two wait for each other the
// swap, never the reader, gives up; it rolls back, lets the readers through and tries again, up
// to the lock wait. A publish that fails or is killed at any point leaves
// the live schema as it was; the staging schema it may leave is dropped by the next publish.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "store/Engine.h"

namespace yubin::publish {

inline constexpr const char* kDefaultSchema = "yubinbox";

struct PublishOptions {
    std::string conninfo;  // libpq's: a URI or key=value pairs
    std::string schema = kDefaultSchema;
    std::vector<std::string> readerRoles;  // get USAGE on the schema and SELECT on its tables
    // How long to wait for another publish of the same schema, and for readers that hold the
    // live tables when the schemas are swapped.
    std::chrono::milliseconds lockWait{30000};
    // Connections that load and index at once (the server uses a processor for each).
    int connections = 2;
};

// The points a publish passes, in order (Copying and TableCopied once per table).
enum class PublishStep {
    Waiting,         // another publish of the schema runs; this one waits for it
    Connected,       // logged in and holding the publish lock of the schema
    StagingCreated,  // a leftover staging schema dropped, the new one made with empty tables
    Copying,         // a table's first rows sent, its COPY still open
    TableCopied,     // a table's COPY ended
    Indexed,         // keys, indexes and rights made in the staging schema
    Swapping,        // inside the swap: the live schema renamed away, nothing committed
    Swapped,         // committed: readers see the new data
};
// The step's name as the command line's pause hook names it ("copying", "swapping", ...).
const char* stepName(PublishStep step);

// Told of every step; `table` is the file's table name for Copying and TableCopied.
using StepObserver = std::function<void(PublishStep step, std::string_view table)>;

struct PublishedTable {
    std::string name;  // on the server
    long long rows = 0;
};

struct PublishReport {
    std::string schema;
    std::vector<PublishedTable> tables;
};

// Publishes every data table of the open database file. The file is held against imports while
// it is read. Raises PublishUnfinishedImport for a file whose import was interrupted or failed
// (nothing is sent), InvalidArgument for a schema name the server cannot take, and the
// PgConnection errors; the live schema is unchanged whenever it raises.
PublishReport publishDatabase(db::Connection& file, const PublishOptions& options,
                              const StepObserver& observe = {});

}  // namespace yubin::publish
