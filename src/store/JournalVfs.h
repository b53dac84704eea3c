// The SQLite VFS that the layer opens its databases through: SQLite's "unix" VFS with the
// writes to rollback journals gathered (JournalVfs.cpp). Other programs, and SQLite
// connections of this process that name no VFS, use SQLite's default as before.
#pragma once

namespace yubin::db::detail {

inline constexpr const char* kJournalVfsName = "yubinbox-unix";

// Registers the VFS (not as the default); false when SQLite has no "unix" VFS to build on.
// Called once, by initializeSqlite.
bool registerJournalVfs();

}  // namespace yubin::db::detail
