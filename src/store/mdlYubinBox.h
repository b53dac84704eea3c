// The postal database file and the process's one connection to it.
#pragma once

#include <memory>
#include <string>

#include "store/Engine.h"

namespace yubin::mdlYubinBox {

// "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" — the prefix of every connection string.
extern const char* const kConnectionPrefix;
// The full connection string for a database file.
std::string ConnectionString(const std::string& path);

// The process's one connection (empty when there is none), the text of the statement last
// executed on it, and the database file in use.
extern std::unique_ptr<db::Connection> cnMdb;
extern std::string strSQL;
extern std::string strMdbFile;

// Replaces the file at strMdbFile by a new, empty database; leaves cnMdb empty.
void CreateMdb();
// Opens cnMdb on the file; false (no message) when it cannot be opened: the first use of
// cnMdb then raises the cause. A connection cnMdb held is closed first (its failure raised).
bool OpenMdb(const std::string& path);
// The file's last-modified local date as "yyyymmdd"; FileNotFound when it is missing.
std::string GetFileDate(const std::string& path);
// Compacts the file in place through yubinboxJRO.mdb beside it. cnMdb must be closed first.
// The import's compaction asks for OnlyToReclaimSpace: free pages are given back in place
// where the database allows it, and one with next to no free pages is not copied
// (db::compactDatabaseInPlace).
void CompactMdb(const std::string& path, db::CompactionNeed need = db::CompactionNeed::Always);

// Closes and releases cnMdb (nothing when it is empty); raises a failure to store its rows.
void CloseMdb();

// The promise that appended rows reach the disk within about a short delay, kept on the one
// thread: FlushDue at every event processing (it costs a clock reading when nothing is due),
// Flush before a message box and before the program waits for anything else. Both raise a
// failed commit, which the operation that the user started reports.
void FlushDue();
void Flush();

// The path with `infix` put before the file name's own ".mdb" extension, matched in any
// letter case and kept as written; the folders are never touched. A name without that
// extension gets `infix` at its end. ("/x.mdb/yubinbox.MDB", "JRO") -> "/x.mdb/yubinboxJRO.MDB"
std::string InsertBeforeMdbExtension(const std::string& path, const std::string& infix);

}  // namespace yubin::mdlYubinBox
