// Another program on a database: a child process with SQLite's own connection that runs SQL
// (a read transaction left open, a write transaction, BEGIN EXCLUSIVE) and holds what it took
// until it is ended.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include <sqlite3.h>

namespace yubin::test {

class OtherProgram {
  public:
    OtherProgram(const std::string& path, const std::string& sql) {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            sqlite3* db = nullptr;
            if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
                sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
                _exit(3);
            }
            const char ready = 'r';
            (void)!write(fds[1], &ready, 1);
            for (;;) pause();
        }
        close(fds[1]);
        char c = 0;
        ready_ = pid_ > 0 && read(fds[0], &c, 1) == 1;
        close(fds[0]);
    }
    ~OtherProgram() { end(); }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    // Whether the SQL ran and the program now holds what it took.
    bool ready() const { return ready_; }
    // Ends the program; what it held is released.
    void end() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    bool ready_ = false;
};

}  // namespace yubin::test
