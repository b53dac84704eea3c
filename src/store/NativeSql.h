// SQLite's own statements on a connection of ours, for the side tables of features that need
// what the Jet grammar does not offer: rows copied from table to table in one statement, joins,
// ordered reads. The tables are made through the layer (so its catalog knows them); their
// SQLite names are the names given there, the columns' as well.
//
// Each call holds the connection for itself and stores the appended rows still waiting first,
// so that a native statement sees them and never runs inside the layer's own batch.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "store/Engine.h"

namespace yubin::db {

// One prepared statement, stepped row by row; bound parameters are numbered from 1.
class NativeStatement {
  public:
    NativeStatement(Connection& connection, std::string_view sql);
    ~NativeStatement();
    NativeStatement(const NativeStatement&) = delete;
    NativeStatement& operator=(const NativeStatement&) = delete;

    // The text is copied by SQLite.
    NativeStatement& bind(int index, std::string_view text);
    NativeStatement& bind(int index, long long number);

    // Moves to the next row: true while there is one. After the last row the statement is
    // reset, so the next step runs it again (with the same bindings).
    bool step();
    // Runs a statement that gives no rows; returns the rows it changed.
    long long run();

    int columnCount() const;
    // The current row's value as text ("" for Null); valid until the next step.
    std::string_view text(int column) const;
    long long number(int column) const;
    bool isNull(int column) const;

  private:
    Connection::Impl& connection_;
    struct Handle;
    std::unique_ptr<Handle> handle_;
    std::string sql_;
};

// A transaction: rolled back unless committed. Begun inside another one, it is a savepoint
// of that one. Schema changes, statements and appended rows of the connection made while it
// is open become part of it (each schema change a savepoint of its own), so that several
// steps reach the file, and other programs, in one commit.
//
// Begun while appended rows wait in the batch, it takes the batch over instead of committing
// it first: the rows and the steps reach the file in its one commit. Rolled back, it undoes
// only its own steps (a savepoint in the batch), and the rows wait on in the batch. A commit
// that fails and leaves no transaction open lost the rows too, and says so.
//
// Joined (begun inside another transaction, not one that took the batch over): no savepoint.
// Its steps join the open transaction, its commit leaves them to that one's commit, and rolled
// back it rolls back the whole transaction, so that the outer commit fails instead of storing
// half of its steps. Inside a savepoint SQLite must write every page that a deletion frees
// (the savepoint could give them back); joined, it writes none of them.
class NativeTransaction {
  public:
    enum class Nesting { Savepoint, Joined };
    explicit NativeTransaction(Connection& connection, Nesting nesting = Nesting::Savepoint);
    ~NativeTransaction();
    NativeTransaction(const NativeTransaction&) = delete;
    NativeTransaction& operator=(const NativeTransaction&) = delete;
    void commit();

  private:
    Connection::Impl& connection_;
    bool nested_ = false;
    bool joined_ = false;  // nested without a savepoint of its own
    // The batch of appended rows was open when it began: it is a savepoint in the batch.
    bool tookBatch_ = false;
    bool done_ = false;
};

}  // namespace yubin::db
