// Another program on a database: a child process with SQLite's own connection that runs SQL
// (a read transaction left open, a write transaction, BEGIN EXCLUSIVE) and holds what it took
// until it is ended; told to, it runs more SQL on that connection (a commit, a write after the
// file was replaced) and answers with SQLite's result code.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include <sqlite3.h>

namespace yubin::test {

class OtherProgram {
  public:
    OtherProgram(const std::string& path, const std::string& sql) {
        int fds[2];
        int commands[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe");
        if (pipe(commands) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            close(commands[1]);
            sqlite3* db = nullptr;
            if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
                sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
                _exit(3);
            }
            sqlite3_extended_result_codes(db, 1);
            const char ready = 'r';
            (void)!write(fds[1], &ready, 1);
            serve(db, commands[0], fds[1]);
            for (;;) pause();
        }
        close(fds[1]);
        close(commands[0]);
        char c = 0;
        ready_ = pid_ > 0 && read(fds[0], &c, 1) == 1;
        answers_ = fds[0];
        commands_ = commands[1];
    }
    ~OtherProgram() { end(); }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    // Whether the SQL ran and the program now holds what it took.
    bool ready() const { return ready_; }
    // Runs SQL in the program, which waits up to `busyMilliseconds` for a lock another holds;
    // SQLite's extended result code (SQLITE_OK when it ran), -1 when the program is gone.
    int run(const std::string& sql, int busyMilliseconds = 0) {
        if (!ready_ || pid_ <= 0) return -1;
        const std::uint32_t size = static_cast<std::uint32_t>(sql.size());
        const std::int32_t busy = busyMilliseconds;
        if (!writeAll(commands_, &size, sizeof size) || !writeAll(commands_, sql.data(), size) ||
            !writeAll(commands_, &busy, sizeof busy)) {
            return -1;
        }
        std::int32_t rc = -1;
        return readAll(answers_, &rc, sizeof rc) ? rc : -1;
    }
    // Ends the program; what it held is released.
    void end() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        for (int* fd : {&commands_, &answers_}) {
            if (*fd >= 0) close(*fd);
            *fd = -1;
        }
    }

  private:
    static bool writeAll(int fd, const void* data, size_t size) {
        const char* p = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t n = write(fd, p, size);
            if (n <= 0) return false;
            p += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    static bool readAll(int fd, void* data, size_t size) {
        char* p = static_cast<char*>(data);
        while (size > 0) {
            const ssize_t n = read(fd, p, size);
            if (n <= 0) return false;
            p += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    // The child's side of run(): one statement text after another until the test goes.
    static void serve(sqlite3* db, int commands, int answers) {
        for (;;) {
            std::uint32_t size = 0;
            std::int32_t busy = 0;
            if (!readAll(commands, &size, sizeof size)) return;
            std::string sql(size, '\0');
            if (!readAll(commands, sql.data(), size) || !readAll(commands, &busy, sizeof busy)) {
                return;
            }
            sqlite3_busy_timeout(db, busy);
            const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
            const std::int32_t code = rc == SQLITE_OK ? SQLITE_OK : sqlite3_extended_errcode(db);
            if (!writeAll(answers, &code, sizeof code)) return;
        }
    }

    pid_t pid_ = -1;
    bool ready_ = false;
    int commands_ = -1;
    int answers_ = -1;
};

}  // namespace yubin::test
