// Helpers shared by every test: temporary folders, code page 932 fixtures, running the
// real executable.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace yubin::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Sets an environment variable for the test's lifetime (unset when `value` is nullopt).
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// UTF-8 text to code page 932 (throws on a character it cannot hold).
std::string toCp932(const std::string& utf8);
// Writes the lines in code page 932, each ended by `lineEnd`.
void writeCp932Lines(const std::string& path, const std::vector<std::string>& utf8Lines,
                     const std::string& lineEnd = "\r\n");
void writeBytes(const std::string& path, const std::string& bytes);
std::string readBytes(const std::string& path);

// Drops a table with SQLite itself, past the engine layer: a database of ours on which every
// write to that table fails, even for root (who may write any file).
void DropTableBehindTheLayer(const std::string& databasePath, const std::string& table);

// The free pages of a database, read by SQLite itself (-1 when it cannot be read).
long long FreePages(const std::string& databasePath);
// Rows written and removed behind the layer, as another program would: more than 40 free
// pages in the file (a test failure otherwise).
void LeaveFreePages(const std::string& databasePath);

// The published data files (../shared/data beside the checkout, or the folder named by
// YUBIN_SHARED_DATA_DIR), or an empty string when they are absent (tests then skip).
std::string sharedDataFile(const std::string& name);

struct ProcessResult {
    int exitCode = -1;  // 128 + signal when killed by a signal
    std::string out;
    std::string err;
};
// Runs the yubinbox executable with the arguments and extra environment ("NAME=value").
ProcessResult runYubinbox(const std::vector<std::string>& args,
                          const std::vector<std::string>& environment = {},
                          const std::string& standardInput = "");
// The executable under test: YUBIN_TEST_EXECUTABLE when set (a copy in a folder of its own,
// so that its single-instance marker is the test's own), else the build's.
std::string yubinboxExecutable();

// A yubinbox process that runs on while the test reads its standard error line by line
// (standard output is /dev/null, or read with standard error; standard input is /dev/null, or a
// terminal the test types into). Killed when the object goes.
class YubinboxProcess {
  public:
    enum class Input { None, Terminal };
    enum class Output { None, WithError };
    YubinboxProcess(const std::vector<std::string>& args,
                    const std::vector<std::string>& environment, Input input = Input::None,
                    Output output = Output::None);
    ~YubinboxProcess();

    // Reads standard error until `text` has come, a question without its line end too; false
    // when the process ended first.
    bool waitForText(const std::string& text);
    // Types `text` on the terminal of standard input (Input::Terminal).
    void type(const std::string& text);
    YubinboxProcess(const YubinboxProcess&) = delete;
    YubinboxProcess& operator=(const YubinboxProcess&) = delete;

    // Reads lines until `count` progress lines (holding "%") are seen; false when the
    // process ended first.
    bool waitForProgressLines(int count);
    // Reads lines until one holds `text`; false when the process ended first.
    bool waitForLine(const std::string& text);
    // Whether the process still runs (not reaped yet).
    bool running() const;
    void signal(int signalNumber);
    // The exit code, 128 + the signal when a signal ended it.
    int wait();
    // The exit code when the process ends within `timeout`; nullopt (still running) otherwise.
    std::optional<int> waitFor(std::chrono::milliseconds timeout);

  private:
    int pid_ = -1;
    std::FILE* err_ = nullptr;
    int terminal_ = -1;  // the terminal's master side
};

}  // namespace yubin::test
