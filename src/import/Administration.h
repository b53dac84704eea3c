// The administrator's tasks that both the windows and the command line perform.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "base/Error.h"

namespace yubin::administration {

// What the creation window's confirmation does for a folder: an existing yubinbox.mdb is
// moved aside to the first free backup name (BackupPath; no backup is ever deleted), a new
// empty database is made, and the settings file points at it with the login user as author.
// Refused (FileInUse, nothing changed) while a connection of ours holds the old database.
// Sets strMdbFile; returns the database path.
std::string MakeNewDatabase(const std::string& folder);

// The path of the backup a database is moved aside to: the stamp put before the file name's
// own extension ("/d/x.mdb/yubinbox.mdb", "20240315" -> "/d/x.mdb/yubinbox_20240315.mdb"),
// or, when that name is taken, the first free one of yubinbox_20240315_2.mdb, _3, ...
std::string BackupPath(const std::string& databasePath, const std::string& stamp);

// The ordinary user's task (`yubinbox use`, the chooser's settings mode): the settings file
// points at an existing database of ours, with an empty author. Refused, with nothing written,
// when the values cannot be stored (BadSettingsValue, PathFileAccess), when there is no such
// file (FileNotFound), or when the file is no database of ours (the store's NotOurDatabase,
// CannotOpenDatabase).
void PointSettingsAtDatabase(const std::string& databasePath);
// Whether an error of PointSettingsAtDatabase refuses the file (missing, no database of ours,
// or held by another program) rather than the settings file: the chooser then lets the person
// choose again.
bool IsDatabaseRefusal(const YubinError& error);

// The main menu's rules for the import task, from the settings file (strIniFile is set here):
// only the author may import, and only while the database can be written. A database file
// that does not exist yet is created. Sets strMdbFile. Raises YubinError when import is not
// allowed (PermissionDenied, with the menu's message), while another program holds the
// database (LockedByOtherUser, kDatabaseInUse) or when the database cannot be opened. The
// probe waits `probeWait` for another program (nullopt: the store's lock wait).
void PrepareImportFromSettings(std::optional<std::chrono::milliseconds> probeWait = std::nullopt);

// Whether the database at the path opens and takes a write (the probe updates table DUMMY).
// Busy: another program held the database for longer than the probe waited (`wait`, or the
// store's lock wait when nullopt), so whether it can be written is not known yet.
enum class DatabaseAccess { DoesNotOpen, ReadOnly, Writable, Busy };
DatabaseAccess ProbeDatabase(const std::string& databasePath,
                             std::optional<std::chrono::milliseconds> wait = std::nullopt);

// The menu's refusal text.
inline constexpr const char* kNoImportPermission =
    TrMark("あなたには、データ取り込みを実行する権限がありません。");
// What the menu says when the probe found the database held by another program.
inline constexpr const char* kDatabaseInUse = TrMark(
    "他のプログラムがデータベースを使用中です。そのプログラムが終わってから、郵便番号データを"
    "取り込んでください。");

}  // namespace yubin::administration
