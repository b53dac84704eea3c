// Records derived from a table's rows that a reader keeps beside the table to read less of it
// (the search's index): numbered blobs in a table of the layer's own, listed nowhere, which
// other programs may ignore. They never stand for rows that changed after them: a change to the
// source table by any program removes them (triggers in the file), and so does an import when it
// takes the database. A reader that finds them absent reads the source table itself.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/Engine.h"

namespace yubin::db {

class DerivedRecords {
  public:
    // Replaces the records called `name` (a plain lower-case word), derived from `sourceTable`
    // as it is now, in one transaction by the records `next` gives one by one (number and
    // data, which stays valid until its next call) until it returns false.
    using Producer = std::function<bool(long long& key, std::string_view& data)>;
    static void store(Connection& connection, std::string_view name, std::string_view sourceTable,
                      const Producer& next);
    // Removes every table of derived records with its guards (an import is about to change
    // the source tables); inside a NativeTransaction, as one of its steps.
    static void removeAll(Connection& connection);

    // The records called `name` as they are now; absent when none were stored, when the source
    // table changed since, or when the file lacks the guards that would have removed them.
    DerivedRecords(Connection& connection, std::string_view name);
    ~DerivedRecords();
    DerivedRecords(const DerivedRecords&) = delete;
    DerivedRecords& operator=(const DerivedRecords&) = delete;

    bool present() const { return present_; }
    // The record of that number; nothing when there is none (or the records are absent).
    std::optional<std::string> read(long long key);
    // Every record (number and data) in the order of their numbers, in one read; none when
    // the records are absent.
    std::vector<std::pair<long long, std::string>> readAll();

  private:
    Connection::Impl& connection_;
    bool present_ = false;
    std::string table_;
    struct Statement;
    std::unique_ptr<Statement> statement_;
};

namespace detail {
// Removes every table of derived records with its guards (an import is about to change the
// source tables).
void dropDerivedRecords(sqlite3* db);
}  // namespace detail

}  // namespace yubin::db
