// Helpers for the store's tests: a fresh database made by CreateMdb, and raw SQLite access for
// looking at the file as other programs see it.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "store/Engine.h"
#include "store/mdlYubinBox.h"
#include "support/TestSupport.h"

namespace yubin::test {

// The error number raised by `action`, or 0 when it raises none.
inline int errorNumber(const std::function<void()>& action) {
    try {
        action();
    } catch (const YubinError& error) {
        return error.number();
    }
    return 0;
}
inline int errorOf(ErrorCode code) { return static_cast<int>(code); }

// A database made by CreateMdb in a temporary folder.
class FreshDatabase {
  public:
    FreshDatabase() : path_(dir_.file("yubinbox.mdb")) {
        mdlYubinBox::strMdbFile = path_;
        mdlYubinBox::CreateMdb();
    }
    const std::string& path() const { return path_; }
    const TempDir& dir() const { return dir_; }
    std::string connectionString() const { return mdlYubinBox::ConnectionString(path_); }

  private:
    TempDir dir_;
    std::string path_;
};

// A plain SQLite connection on the file, bypassing the layer.
class RawSqlite {
  public:
    explicit RawSqlite(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << "cannot open " << path;
        }
        sqlite3_busy_timeout(db_, 5000);
    }
    ~RawSqlite() { sqlite3_close_v2(db_); }
    RawSqlite(const RawSqlite&) = delete;
    RawSqlite& operator=(const RawSqlite&) = delete;

    // The result code of one statement.
    int exec(const std::string& sql) {
        return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    }
    // The first column of every row, as text ("NULL" for Null).
    std::vector<std::string> column(const std::string& sql) {
        std::vector<std::string> out;
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db_) << " in " << sql;
            return out;
        }
        while (sqlite3_step(s) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
            out.push_back(text != nullptr ? text : "NULL");
        }
        sqlite3_finalize(s);
        return out;
    }
    std::string scalar(const std::string& sql) {
        auto values = column(sql);
        return values.empty() ? std::string("<none>") : values[0];
    }
    sqlite3* get() const { return db_; }

  private:
    sqlite3* db_ = nullptr;
};

}  // namespace yubin::test
