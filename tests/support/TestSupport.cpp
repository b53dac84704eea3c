#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace yubin::test {

void DropTableBehindTheLayer(const std::string& databasePath, const std::string& table) {
    sqlite3* handle = nullptr;
    if (sqlite3_open_v2(databasePath.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(handle);
        throw std::runtime_error("cannot open " + databasePath);
    }
    const std::string sql = "DROP TABLE \"" + table + "\"";
    const int rc = sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(handle);
    if (rc != SQLITE_OK) throw std::runtime_error("cannot drop " + table);
}

long long FreePages(const std::string& databasePath) {
    sqlite3* handle = nullptr;
    long long pages = -1;
    if (sqlite3_open_v2(databasePath.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(handle, "PRAGMA freelist_count", -1, &statement, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            pages = sqlite3_column_int64(statement, 0);
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(handle);
    return pages;
}

void LeaveFreePages(const std::string& databasePath) {
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open_v2(databasePath.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr),
              SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(handle,
                           "CREATE TABLE scratch(x); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                           "SELECT i + 1 FROM n WHERE i < 400) INSERT INTO scratch SELECT "
                           "randomblob(1000) FROM n; DROP TABLE scratch;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(handle);
    ASSERT_GT(FreePages(databasePath), 40);
}

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = fs::temp_directory_path() / ("yubinbox-test-" + std::to_string(rd()));
        if (fs::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string toCp932(const std::string& utf8) {
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv CP932");
    std::string out(utf8.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* o = out.data();
    size_t outLeft = out.size();
    size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) throw std::runtime_error("not representable: " + utf8);
    out.resize(out.size() - outLeft);
    return out;
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes;
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::string readBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void writeCp932Lines(const std::string& path, const std::vector<std::string>& utf8Lines,
                     const std::string& lineEnd) {
    std::string bytes;
    for (const auto& line : utf8Lines) bytes += toCp932(line) + lineEnd;
    writeBytes(path, bytes);
}

std::string sharedDataFile(const std::string& name) {
    // YUBIN_SHARED_DATA_DIR in the environment wins over the folder beside the checkout.
    const char* dir = std::getenv("YUBIN_SHARED_DATA_DIR");
    fs::path p = fs::path(dir && *dir ? dir : YUBIN_SHARED_DATA_DIR) / name;
    return fs::exists(p) ? p.string() : std::string();
}

std::string yubinboxExecutable() {
    const char* copy = std::getenv("YUBIN_TEST_EXECUTABLE");
    return copy != nullptr && copy[0] != '\0' ? copy : YUBIN_EXECUTABLE;
}

namespace {

// In a forked child: the environment added, then the executable; never returns.
[[noreturn]] void ExecYubinbox(const std::vector<std::string>& args,
                               const std::vector<std::string>& environment) {
    // The messages' language is the test's choice, not the one of whoever runs the tests.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"}) unsetenv(name);
    for (const auto& e : environment) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv;
    std::string exe = yubinboxExecutable();
    argv.push_back(exe.data());
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
}

int ExitCodeOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

YubinboxProcess::YubinboxProcess(const std::vector<std::string>& args,
                                 const std::vector<std::string>& environment, Input input,
                                 Output output) {
    int errPipe[2];
    if (pipe(errPipe) != 0) throw std::runtime_error("pipe");
    std::string terminalName;
    if (input == Input::Terminal) {
        terminal_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminal_ < 0 || grantpt(terminal_) != 0 || unlockpt(terminal_) != 0) {
            throw std::runtime_error("posix_openpt");
        }
        terminalName = ptsname(terminal_);
    }
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        if (!terminalName.empty()) {
            setsid();
            const int terminal = open(terminalName.c_str(), O_RDWR);
            if (terminal >= 0) dup2(terminal, 0);
        }
        dup2(output == Output::WithError ? errPipe[1] : devnull, 1);
        dup2(errPipe[1], 2);
        close(errPipe[0]);
        close(errPipe[1]);
        ExecYubinbox(args, environment);
    }
    close(errPipe[1]);
    err_ = fdopen(errPipe[0], "r");
}

YubinboxProcess::~YubinboxProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        wait();
    }
    if (err_) std::fclose(err_);
    if (terminal_ >= 0) close(terminal_);
}

bool YubinboxProcess::waitForText(const std::string& text) {
    std::string seen;
    for (int c; (c = std::fgetc(err_)) != EOF;) {
        seen += static_cast<char>(c);
        if (seen.size() >= text.size() &&
            seen.compare(seen.size() - text.size(), text.size(), text) == 0) {
            return true;
        }
    }
    return false;
}

void YubinboxProcess::type(const std::string& text) {
    if (terminal_ < 0 ||
        write(terminal_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        throw std::runtime_error("cannot type on the process's terminal");
    }
}

bool YubinboxProcess::waitForProgressLines(int count) {
    char line[4096];
    int seen = 0;
    while (seen < count && std::fgets(line, sizeof line, err_)) {
        if (std::string(line).find('%') != std::string::npos) ++seen;
    }
    return seen == count;
}

bool YubinboxProcess::waitForLine(const std::string& text) {
    char line[4096];
    while (std::fgets(line, sizeof line, err_)) {
        if (std::string(line).find(text) != std::string::npos) return true;
    }
    return false;
}

bool YubinboxProcess::running() const {
    if (pid_ <= 0) return false;
    int status = 0;
    return waitpid(pid_, &status, WNOHANG) == 0;
}

void YubinboxProcess::signal(int signalNumber) { kill(pid_, signalNumber); }

int YubinboxProcess::wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return ExitCodeOf(status);
}

std::optional<int> YubinboxProcess::waitFor(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (pid_ > 0) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return ExitCodeOf(status);
        }
        if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
}

ProcessResult runYubinbox(const std::vector<std::string>& args,
                          const std::vector<std::string>& environment,
                          const std::string& standardInput) {
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) || pipe(outPipe) || pipe(errPipe)) throw std::runtime_error("pipe");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            close(fd);
        ExecYubinbox(args, environment);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    if (!standardInput.empty()) {
        ssize_t ignored = write(inPipe[1], standardInput.data(), standardInput.size());
        (void)ignored;
    }
    close(inPipe[1]);
    ProcessResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buf[65536];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = ExitCodeOf(status);
    return result;
}

}  // namespace yubin::test
