// Checking rows against a table's column rules without writing them, and the small values the
// import keeps about the state of the data (kept in the layer's own bookkeeping, listed nowhere).
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/Engine.h"

namespace yubin::db {

// The rules an append applies to the named columns of one table (size, whole numbers and their
// range, zero length, Null in a primary key), as the database defines them now. A name the
// table lacks is left out, as the imports' appends leave it out.
class RowRules {
  public:
    // TableNotFound when the table is missing.
    RowRules(Connection& connection, std::string_view table, std::span<const std::string> names);
    ~RowRules();
    RowRules(const RowRules&) = delete;
    RowRules& operator=(const RowRules&) = delete;

    // Raises the error that storing `value` in the column at `position` of the names would
    // raise (FieldTooSmall, ZeroLengthNotAllowed, TypeMismatch, NumericOverflow,
    // IndexNullValue), naming table and column.
    void check(std::size_t position, const Value& value) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A value of the layer's bookkeeping under `key` ("" when there is none).
std::string bookkeepingValue(Connection& connection, std::string_view key);
// Sets it; the empty value removes the key. Appended rows still waiting are stored first.
void setBookkeepingValue(Connection& connection, std::string_view key, std::string_view value);

}  // namespace yubin::db
