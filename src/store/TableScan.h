// One read-only pass over every row of a table, for readers that look at each row once (a
// search over the whole table): a few columns are read in place, without building values, and
// the whole row is read only for the rows the reader keeps.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/Engine.h"

namespace yubin::db {

class TableScan {
  public:
    enum class Order { Storage, Reversed };

    // The rows of `table` in storage order (or the reverse of it), reading the named columns
    // (names match without regard to ASCII letter case). TableNotFound, or ItemNotFound for a
    // column it lacks.
    TableScan(Connection& connection, std::string_view table, std::vector<std::string> columns,
              Order order = Order::Storage);
    ~TableScan();
    TableScan(const TableScan&) = delete;
    TableScan& operator=(const TableScan&) = delete;

    // Moves to the next row (the first one at the first call); false at the end.
    bool next();
    // From here on only the rows whose rowid lies in [first, last], in the scan's order: the
    // next call of next() moves to the first of them.
    void restrict(long long first, long long last);
    // The current row's rowid (its place in storage order).
    long long rowid() const;
    // The current row's value of the i-th named column as text ("" for Null); valid until
    // the next call of next().
    std::string_view text(int column) const;
    // Whether the current row's value of the i-th named column is Null; asked before text()
    // of the same column (which converts the value).
    bool isNull(int column) const;
    // The current row's value of the i-th named column as a whole number (0 for Null).
    long long number(int column) const;

    // The table's columns in table order, and the current row's values of all of them.
    const std::vector<std::string>& tableColumns() const { return tableColumns_; }
    std::vector<Value> wholeRow();

  private:
    Connection::Impl& connection_;
    std::vector<std::string> tableColumns_;
    struct Statements;
    std::unique_ptr<Statements> statements_;
};

}  // namespace yubin::db
