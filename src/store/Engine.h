// The database engine layer: Jet SQL text and row sets over an SQLite file.
//
// The postal database is an ordinary SQLite file whose tables and columns carry the names the
// other programs expect. This layer accepts the statements the system sends as text, enforces
// the column rules (size, range, zero length, primary keys) and keeps its own bookkeeping
// (column properties, hidden marks, key names) in tables whose names cannot clash with ours.
//
// Every failure raises yubin::YubinError with a number from Error.h.
#pragma once

#include <atomic>
#include <cassert>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/Error.h"

namespace yubin::db {

// A field value: Null, a whole number, or text (UTF-8).
class Value {
  public:
    Value() = default;
    Value(std::nullopt_t) {}
    Value(long long number) : v_(number) {}
    Value(int number) : v_(static_cast<long long>(number)) {}
    Value(std::string text) : v_(std::move(text)) {}
    Value(std::string_view text) : v_(std::string(text)) {}
    Value(const char* text) : v_(std::string(text)) {}

    bool isNull() const { return std::holds_alternative<std::monostate>(v_); }
    bool isNumber() const { return std::holds_alternative<long long>(v_); }
    bool isText() const { return std::holds_alternative<std::string>(v_); }

    // The text held; only when isText().
    const std::string& text() const { return std::get<std::string>(v_); }
    // The number held; only when isNumber().
    long long number() const { return std::get<long long>(v_); }

    // Null reads as the empty text; a number as its decimal text.
    std::string toText() const;
    // A number, or text that is a whole number; anything else raises TypeMismatch.
    long long toNumber() const;

    // Assigns text reusing this value's buffer (the per-row path of the imports).
    void assignText(std::string_view text);

    friend bool operator==(const Value&, const Value&) = default;

  private:
    std::variant<std::monostate, long long, std::string> v_;
};

// The parts of a connection string
// "Provider=...;Data Source=<path>;Jet OLEDB:Database Password=;".
struct ConnectionInfo {
    std::string provider;
    std::string dataSource;
    std::string password;
};
// Raises InvalidArgument when there is no Data Source. A value between double (or single)
// quotes may hold ";"; a doubled quote inside stands for one.
ConnectionInfo parseConnectionString(std::string_view connectionString);
// A value as it stands in a connection string: quoted when it holds ";" or a quote or begins
// or ends with a blank, so that parseConnectionString gives it back unchanged.
std::string quoteConnectionValue(std::string_view value);

// Waiting for another program: a statement that finds the database held by another program
// (its transaction, a lock of SQLite's) waits up to the lock wait, then fails with
// LockedByOtherUser. The reporter (when set) is told when a wait of the thread that set it
// begins (true) and, at the next flushDue, flush or close of that thread after it, that it has
// ended (false); the waits of other threads (readers of their own) are told to nobody.
void setLockWait(std::chrono::milliseconds wait);
std::chrono::milliseconds lockWait();
using WaitReporter = std::function<void(bool waiting)>;
// Returns the reporter it replaces.
WaitReporter setWaitReporter(WaitReporter reporter);
// Told at every step of a wait of the thread that set it (a few to 100 ms apart; the waits of
// other threads go on untold up to the lock wait): false gives the wait up, and the statement fails
// with LockedByOtherUser at once. It runs inside SQLite: it must not use the database, and an
// exception it throws is taken as giving up. Returns the tick it replaces.
using WaitTick = std::function<bool()>;
WaitTick setWaitTick(WaitTick tick);
// Called during a long statement of the thread that set it, every few thousand steps of
// SQLite's machine (tens of microseconds), so that a window can handle its events while a key
// is made or rows are deleted. Like the wait tick it runs inside SQLite: it must not use the
// database; an exception it throws is ignored, and the statement always goes on. Returns the
// tick it replaces.
using ProgressTick = std::function<void()>;
ProgressTick setProgressTick(ProgressTick tick);

// Readers of this process, on connections of their own, that read the file while another of
// its connections writes (the search's index read while an import makes the keys), for the life
// of the object. They read in short pieces and leave the file between two, so the writer's
// commit waits for them a piece at most: while one lives, a wait of any thread steps finely and
// is told to no reporter and no tick for its first kOwnReadersGrace. A wait that lasts longer
// is another program's, and is told and ticked as any other from then on.
inline constexpr std::chrono::milliseconds kOwnReadersGrace{200};
class OwnReaders {
  public:
    OwnReaders();
    ~OwnReaders();
    OwnReaders(const OwnReaders&) = delete;
    OwnReaders& operator=(const OwnReaders&) = delete;
};

// The waits of the calling thread give up once `stop` is set, for the life of the object: a
// reader of its own that is asked to stop (the program ends, say) fails at once with
// LockedByOtherUser instead of waiting out the lock wait. Objects of one thread nest.
class WaitsStopWhen {
  public:
    explicit WaitsStopWhen(const std::atomic<bool>& stop);
    ~WaitsStopWhen();
    WaitsStopWhen(const WaitsStopWhen&) = delete;
    WaitsStopWhen& operator=(const WaitsStopWhen&) = delete;

  private:
    const std::atomic<bool>* outer_;
};

enum class CursorType { ForwardOnly, Keyset, Static };
enum class LockType { ReadOnly, Pessimistic, Optimistic };

struct TableInfo {
    std::string name;
    bool hidden = false;
};

// What a column holds, as the catalogue declares it: text of at most `size` characters, long
// text, or a whole number (Byte 0..255, Long signed 32-bit).
enum class ColumnKind { Text, Memo, Byte, Long };

struct ColumnInfo {
    std::string name;
    ColumnKind kind = ColumnKind::Text;
    int size = 0;  // characters, for Text
};

struct KeyInfo {
    std::string name;
    std::string table;
    std::string column;
    bool primaryKey = false;
};

class Recordset;

// One shared read-write connection to a database file of ours.
class Connection {
  public:
    Connection();
    ~Connection();  // closes; pending rows are stored
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // DatabaseNotFound for a missing file, NotOurDatabase for a file that is no database of
    // ours, CannotOpenDatabase when it cannot be opened, LockedByOtherUser when another program
    // held it for longer than the lock wait. After a failed open every use of the
    // connection raises the cause of that failure. Lookup indexes that a process which died
    // while importing left in the file are removed.
    void open(std::string_view connectionString);
    void close();
    bool isOpen() const;
    // Whether a transaction the program opened (db::NativeTransaction) is open: what it wrote
    // is not in the file yet, and other connections do not see it.
    bool inTransaction() const;
    const std::string& path() const;

    // One SQL statement; returns the number of rows it changed (0 for schema statements).
    // The grammar is that of store/JetSql.h. A SELECT is refused (InvalidArgument): rows are
    // read through a Recordset. Appended rows still waiting in the batch are stored first.
    long long execute(std::string_view sql);

    // Stores every appended row on disk now. Appends are also stored by the append that comes
    // when the batch is older than a short delay, by flushDue, before any statement other than
    // an append, and on close. A failed commit is raised by the call that made it.
    void flush();
    // Stores the appended rows when the batch is older than the delay; costs a clock reading
    // otherwise. Called at every event processing, so that rows reach the disk within about
    // the delay while the program waits for the user.
    void flushDue();

    // Catalog: the column property "Jet OLEDB:Allow Zero Length".
    void setAllowZeroLength(std::string_view table, std::string_view column, bool allow);
    bool allowZeroLength(std::string_view table, std::string_view column) const;
    // Catalog: table attributes (1 = hidden from our own table listing).
    void setTableAttributes(std::string_view table, int attributes);
    int tableAttributes(std::string_view table) const;

    std::vector<TableInfo> tables(bool includeHidden) const;
    // Column names in table order; TableNotFound when there is no such table.
    std::vector<std::string> columnNames(std::string_view table) const;
    // The columns with their declared kinds, in table order; TableNotFound as above.
    std::vector<ColumnInfo> columns(std::string_view table) const;
    std::vector<KeyInfo> keys() const;

    // Holds the database for one import: LockedByOtherUser while another connection (in this
    // or another process) holds it. Released by unlockImport or close, which also remove the
    // lookup indexes made while it was held. The records readers derived from the tables the
    // import will change (DerivedRecords) are removed at once, in a commit of their own, or
    // (LeaveToCaller) by the caller before it changes anything, as a step of its first commit
    // (DerivedRecords::removeAll).
    enum class DerivedRecordsOnLock { Remove, LeaveToCaller };
    void lockImport(DerivedRecordsOnLock derived = DerivedRecordsOnLock::Remove);
    void unlockImport();

    struct Impl;
    Impl& impl() { return *impl_; }

  private:
    std::unique_ptr<Impl> impl_;
};

// Makes an empty database file of ours; DatabaseExists when the file exists.
void createDatabase(std::string_view connectionString);

// Writes a compacted copy of the source to the destination. FileAlreadyExists when the
// destination exists, FileInUse when the source is open on any connection.
void compactDatabase(std::string_view sourceConnectionString,
                     std::string_view destinationConnectionString);

// Compacts a database in place through the temporary file: the compacted copy, on disk, takes
// the database's place in one rename, with the database's mode, owner and group, so that the
// path always names a whole database. Refused (FileInUse) while any connection of ours holds
// the database, and (PermissionDenied) when the user may not write it; nothing is changed
// then. A temporary file that a compaction which no longer runs left behind is removed first;
// any other file of that name is refused (FileAlreadyExists).
//
// With OnlyToReclaimSpace, a database in incremental auto-vacuum (every one made or compacted
// here) first gives its free pages back in place, and the copy is written only when it would
// still give back space: a database with next to no free pages is left as it is, after the
// same checks and refusals. Returns whether the copy replaced the database.
enum class CompactionNeed { Always, OnlyToReclaimSpace };
bool compactDatabaseInPlace(std::string_view connectionString,
                            std::string_view temporaryConnectionString,
                            CompactionNeed need = CompactionNeed::Always);

// Deletes a database file (and a journal SQLite left beside it). FileInUse while a connection
// holds the file; FileNotFound when it is missing.
void deleteDatabaseFile(std::string_view path);

// Renames a database file to a name that is free: FileInUse while a connection holds it,
// FileAlreadyExists when the new name is taken (never replaced).
void moveDatabaseFile(std::string_view from, std::string_view to);

// Stores the appended rows of every open connection of this process: at every exit and before
// a message box (flush), at every event processing (due: only batches older than the delay).
// flushAllConnections reports nothing (the exit paths); flushConnections raises the first
// failure after trying every connection.
void flushAllConnections();
void flushConnections(bool onlyDue);

struct FieldAccess;

class Field {
  public:
    // The name is known without reading a row (also at the end of the rows).
    const std::string& Name() const { return name_; }
    // The value in the current (or new) row; NoCurrentRecord at the end of the rows.
    const Value& value() const;
    // Sets the value of the current (or new) row; stored by Recordset::update.
    void setValue(Value value);

  private:
    friend class Recordset;
    friend struct FieldAccess;
    std::string name_;
    Value value_;
    bool changed_ = false;
    Recordset* owner_ = nullptr;
};

// The values of the rows a row set appends with one column list, by position in the list,
// kept from row to row (Recordset::keepAppendValues). Setting a value equal to the one held
// changes nothing; any other is checked and bound again by the next append.
class AppendValues {
  public:
    size_t size() const { return values_.size(); }
    const Value& operator[](size_t position) const { return values_[position]; }
    void setText(size_t position, std::string_view text) {
        assert(position < values_.size());
        Value& value = values_[position];
        if (value.isText() && value.text() == text) return;
        value.assignText(text);
        markChanged(position);
    }
    void setNumber(size_t position, long long number) {
        assert(position < values_.size());
        Value& value = values_[position];
        if (value.isNumber() && value.number() == number) return;
        value = Value(number);
        markChanged(position);
    }

  private:
    friend struct AppendValuesAccess;
    void markChanged(size_t position) {
        changed_[position / 64] |= std::uint64_t{1} << (position % 64);
    }
    std::vector<Value> values_;
    // One bit a value: to be checked and bound before the next append.
    std::vector<std::uint64_t> changed_;
};

// Rows of a SELECT text or of a table opened by name.
//
// Rows are read lazily: opening prepares the statement and reads nothing, so a big table opened
// by name for appending costs nothing. Every cursor kind reads the live table; a read-only lock
// refuses changes (ReadOnly), as do aggregate SELECTs. After addNew the new row is the current
// one and comes after every other row (moveNext from it reaches the end). Moving on with
// unsaved changes saves them first; closing discards them.
class Recordset {
  public:
    Recordset();
    ~Recordset();  // closes
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    // source: a SELECT text or a table name.
    void open(std::string_view source, Connection& connection, CursorType cursor, LockType lock);
    void close();
    bool isOpen() const;

    bool eof();
    void moveNext();

    int fieldCount() const;
    Field& field(int index);
    Field& field(std::string_view name);  // ItemNotFound when there is no such field

    // Appends one row with the given columns (others Null) and stores it at once. The name
    // list may be reused from call to call; it is resolved once.
    void addNew(std::span<const std::string> names, std::span<const Value> values);
    // The same with a name list that never changes (an import's row builder gives the same one
    // for every row): compared by identity, not name by name.
    using ColumnList = std::shared_ptr<const std::vector<std::string>>;
    void addNew(const ColumnList& names, std::span<const Value> values);
    // Rows appended with values kept from one row to the next (an import's rows repeat most
    // columns): keepAppendValues prepares the columns of `names` and gives their values, each
    // Null, to be changed for the rows that follow; appendKept appends a row of the values as
    // they stand. Only the values changed since the row before are checked (as addNew checks
    // them, in the order of the list) and bound again; a value refused is checked again at the
    // next append. The values are used for the list until an addNew with another list or
    // close, after which appendKept raises InvalidArgument until they are prepared again
    // (and the values given before must not be used: their positions may be no more).
    // appendKept does not store a batch that has fallen due (it reads no clock): its caller
    // calls flushDue between rows, as the imports do at the event processing of every line.
    AppendValues& keepAppendValues(const ColumnList& names);
    void appendKept();
    // Starts a new row whose fields are set one by one and then stored by update().
    void addNew();
    // Stores the new row, or the changes to the current row.
    void update();
    // The current row's rowid: its place in storage order, by which native statements
    // (NativeSql.h) find it; after an append, that of the row appended. NoCurrentRecord
    // without a stored current row (a new row not yet stored, the end of the rows, a row set
    // of an aggregate).
    long long rowid();

    struct Impl;

  private:
    friend class Field;
    void append(std::span<const std::string> names, std::span<const Value> values,
                const ColumnList& list);
    std::unique_ptr<Impl> impl_;
};

}  // namespace yubin::db
