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
    explicit RawSqlite(const std::string& path, bool create = false) {
        const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
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

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace yubin::test {

// A child process that runs `body` and then waits to be killed. The parent must hold no
// connection (no threads) when it starts one. body gets a function that tells the parent it
// is ready.
class ChildProcess {
  public:
    explicit ChildProcess(const std::function<void(const std::function<void()>& ready)>& body) {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            close(fds[0]);
            const int out = fds[1];
            try {
                body([out] {
                    const char c = 'r';
                    (void)!write(out, &c, 1);
                });
            } catch (...) {
                _exit(3);
            }
            for (;;) pause();
        }
        close(fds[1]);
        readFd_ = fds[0];
    }
    ~ChildProcess() {
        kill();
        if (readFd_ >= 0) close(readFd_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Waits until the child said it is ready; false when it ended first.
    bool waitReady() {
        char c;
        return read(readFd_, &c, 1) == 1;
    }
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

  private:
    pid_t pid_ = -1;
    int readFd_ = -1;
};

// Another program that reads the database in a transaction it keeps open (a child process
// with SQLite's own connection), while this process waits for it only briefly.
class ForeignReader {
  public:
    explicit ForeignReader(const std::string& path)
        : child_([path](const std::function<void()>& ready) {
              static RawSqlite raw(path);
              raw.exec("BEGIN");
              raw.column("SELECT COUNT(*) FROM ZIPALL");
              ready();
          }),
          previousWait_(db::lockWait()) {
        ready_ = child_.waitReady();
        db::setLockWait(std::chrono::milliseconds(100));
    }
    ~ForeignReader() {
        child_.kill();
        db::setLockWait(previousWait_);
    }
    ForeignReader(const ForeignReader&) = delete;
    ForeignReader& operator=(const ForeignReader&) = delete;
    bool ready() const { return ready_; }

  private:
    ChildProcess child_;
    std::chrono::milliseconds previousWait_;
    bool ready_ = false;
};

}  // namespace yubin::test
