// The command line when paths, data files or the settings file are not what they should be:
// every refusal comes before anything is moved, created or written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/CliFixtures.h"
#include "support/TestSupport.h"
#include "support/ZipSupport.h"

namespace yubin::test {
namespace {

namespace fs = std::filesystem;

class CliDataSafetyTest : public CliFixture {
  public:
    std::string ini() const { return dir.file("Documents/yubinbox.ini"); }
    std::string count(const std::string& table) {
        return yubinbox({"sql", db(), "SELECT COUNT(*) AS N FROM " + table}).out;
    }
};

TEST_F(CliDataSafetyTest, PathsTheSettingsFileCannotGiveBackAreRefusedBeforeAnythingHappens) {
    // newdb: a folder whose database path is longer than the 255 bytes a value keeps.
    fs::path deep = dir.path();
    while (deep.string().size() < 260) deep /= std::string(40, 'f');
    fs::create_directories(deep);
    test::writeBytes((deep / "yubinbox.mdb").string(), "the old database");
    ProcessResult newdb = yubinbox({"newdb", deep.string()});
    EXPECT_EQ(newdb.exitCode, 1);
    EXPECT_NE(newdb.err.find("255 バイト"), std::string::npos) << newdb.err;
    EXPECT_EQ(readBytes((deep / "yubinbox.mdb").string()), "the old database");  // not moved
    EXPECT_EQ(std::distance(fs::directory_iterator(deep), fs::directory_iterator()), 1);
    EXPECT_FALSE(fs::exists(ini()));

    // use: a database whose name ends in a blank.
    const std::string blank = dir.file("yubinbox.mdb ");
    ASSERT_EQ(yubinbox({"createdb", blank}).exitCode, 0);
    ProcessResult use = yubinbox({"use", blank});
    EXPECT_EQ(use.exitCode, 1);
    EXPECT_NE(use.err.find("空白"), std::string::npos) << use.err;
    EXPECT_FALSE(fs::exists(ini()));
    EXPECT_FALSE(fs::exists(dir.file("yubinbox.ldb ")));

    // import: a data file whose path holds a line break; the run does not start.
    ASSERT_EQ(yubinbox({"newdb", dir.path().string()}).exitCode, 0);
    fs::create_directory(dir.file("a\nb"));
    writeCp932Lines(dir.file("a\nb/ken_all.csv"), KenLines(1));
    const std::string indexes = "SELECT name FROM sqlite_master WHERE type = 'index'";
    const std::string before = yubinbox({"sql", db(), indexes}).out;
    ProcessResult run = yubinbox({"import", "--ken-all", dir.file("a\nb/ken_all.csv")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("改行"), std::string::npos) << run.err;
    EXPECT_EQ(count("ZIPALL"), "N\n0\n");
    EXPECT_EQ(yubinbox({"sql", db(), indexes}).out, before);  // index and key not dropped
}

TEST_F(CliDataSafetyTest, SettingsFileThatIsNoRegularFileIsRefusedByWritersAndMissingToReaders) {
    fs::create_directories(dir.file("Documents"));
    ASSERT_EQ(::mkfifo(ini().c_str(), 0600), 0);
    ProcessResult settings = yubinbox({"settings"});
    EXPECT_EQ(settings.exitCode, 0);
    EXPECT_NE(settings.out.find("path=\n"), std::string::npos) << settings.out;

    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    ProcessResult use = yubinbox({"use", db()});
    EXPECT_EQ(use.exitCode, 1);
    EXPECT_NE(use.err.find("通常のファイルではありません"), std::string::npos) << use.err;

    // newdb moves nothing aside when it could not write the settings afterwards.
    ProcessResult newdb = yubinbox({"newdb", dir.path().string()});
    EXPECT_EQ(newdb.exitCode, 1);
    int files = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) {
        files += e.path().filename().string().rfind("yubinbox_", 0) == 0;
    }
    EXPECT_EQ(files, 0);
}

// In a forked child: the environment added, standard input and output on /dev/null, standard
// error on `errFd`, then the executable; never returns.
[[noreturn]] void ExecWithStderr(const std::vector<std::string>& args,
                                 const std::vector<std::string>& environment, int errFd) {
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    ::dup2(errFd, 2);
    for (const auto& e : environment) ::putenv(const_cast<char*>(e.c_str()));
    std::string exe = yubinboxExecutable();
    std::vector<char*> argv{exe.data()};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
}

int ExitCode(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// An import whose standard error is a full pipe: it stops, deterministically, at its first
// progress line (after the first 256 lines), blocked in write(2) until the test drains it.
class ImportStoppedAtFirstProgress {
  public:
    ImportStoppedAtFirstProgress(const std::vector<std::string>& args,
                                 const std::vector<std::string>& environment) {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe");
        ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
        const int flags = ::fcntl(fds[1], F_GETFL);
        ::fcntl(fds[1], F_SETFL, flags | O_NONBLOCK);
        const std::string filler(512, '.');
        while (::write(fds[1], filler.data(), filler.size()) > 0) {
        }
        while (::write(fds[1], filler.data(), 1) > 0) {
        }
        ::fcntl(fds[1], F_SETFL, flags);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            ExecWithStderr(args, environment, fds[1]);
        }
        ::close(fds[1]);
        err_ = fds[0];
    }
    ~ImportStoppedAtFirstProgress() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ExitCode(pid_);
        }
        ::close(err_);
    }

    // Whether the process is blocked writing to its standard error, as the kernel tells.
    bool waitUntilBlocked() {
        const std::string prefix = std::to_string(SYS_write) + " 0x2 ";
        for (int i = 0; i < 20000; ++i) {
            std::ifstream in("/proc/" + std::to_string(pid_) + "/syscall");
            std::string text;
            if (!std::getline(in, text)) return false;
            if (text.rfind(prefix, 0) == 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }

    // Lets it go on; its standard error (without the filler) and exit code.
    std::pair<std::string, int> finish() {
        std::string err;
        char buffer[4096];
        for (ssize_t n; (n = ::read(err_, buffer, sizeof buffer)) > 0;) err.append(buffer, n);
        const int code = ExitCode(pid_);
        pid_ = -1;
        return {err.substr(err.find_first_not_of('.')), code};
    }

  private:
    pid_t pid_ = -1;
    int err_ = -1;
};

TEST_F(CliDataSafetyTest, DataFileCutOrGrownWhileTheImportRunsStopsItNamingTheFile) {
    if (!std::ifstream("/proc/self/syscall")) GTEST_SKIP() << "no /proc/PID/syscall";
    const std::vector<std::string> lines = KenLines(100);  // far more than one buffer
    const std::string ken = dir.file("ken_all.csv");
    for (bool grow : {false, true}) {
        SCOPED_TRACE(grow ? "grown" : "cut");
        writeCp932Lines(ken, lines);
        ASSERT_EQ(yubinbox({"createdb", db(), "--force"}).exitCode, 0);
        ImportStoppedAtFirstProgress run({"import", "--db", db(), "--ken-all", ken}, env());
        ASSERT_TRUE(run.waitUntilBlocked());
        if (grow) {
            std::ofstream(ken, std::ios::app) << toCp932(lines.back()) << "\r\n";
        } else {  // cut at a line boundary, as a copy in progress would leave it
            writeCp932Lines(ken, std::vector<std::string>(lines.begin(), lines.begin() + 2000));
        }
        const auto [err, code] = run.finish();
        EXPECT_EQ(code, 1) << err;
        EXPECT_NE(err.find(ken), std::string::npos) << err;
        EXPECT_NE(err.find(grow ? "長くなりました" : "短くなりました"), std::string::npos) << err;
        EXPECT_NE(err.find("エラー 20005"), std::string::npos) << err;
    }
}

TEST_F(CliDataSafetyTest, DatabaseFaultDuringTheImportIsNotBlamedOnADataLine) {
    // Long enough that rows are committed while lines are still read.
    writeCp932Lines(dir.file("ken_all.csv"), KenLines(3000));
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    // A nearly full disk: the process may make no file larger than the database is now plus a
    // little, so that the database fills up during the import.
    const rlim_t limit = static_cast<rlim_t>(fs::file_size(db()) + 64 * 1024);
    const std::string errFile = dir.file("err.txt");
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlimit size{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &size);
        ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
        ExecWithStderr({"import", "--db", db(), "--ken-all", dir.file("ken_all.csv")}, env(),
                       ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    }
    const int code = ExitCode(pid);
    const std::string err = readBytes(errFile);
    EXPECT_EQ(code, 1) << err;
    EXPECT_NE(err.find("エラー"), std::string::npos) << err;
    EXPECT_EQ(err.find("行目"), std::string::npos) << err;
}

TEST_F(CliDataSafetyTest, FolderFifoOrDeviceAsDataFileIsNamedForWhatItIs) {
    ASSERT_EQ(yubinbox({"createdb", db()}).exitCode, 0);
    ASSERT_EQ(::mkfifo(dir.file("fifo.csv").c_str(), 0600), 0);
    const std::pair<std::string, const char*> cases[] = {
        {dir.path().string(), "フォルダです"},
        {dir.file("fifo.csv"), "名前付きパイプ（FIFO）です"},
        {"/dev/zero", "デバイスです"},
    };
    for (const auto& [path, what] : cases) {
        ProcessResult run = yubinbox({"import", "--db", db(), "--ken-all", path});
        EXPECT_EQ(run.exitCode, 1) << path;
        EXPECT_NE(run.err.find(what), std::string::npos) << run.err;
    }
}

// Every table, as the command line prints it.
std::string Dump(CliDataSafetyTest& t, const std::string& database) {
    std::string all;
    for (const char* table : {"ZIPALL", "都道府県", "市町村", "作成日", "登録中"}) {
        ProcessResult r =
            runYubinbox({"sql", database, std::string("SELECT * FROM ") + table}, t.env());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        all += r.out;
    }
    return all;
}

void SetModified(const std::string& path, std::time_t time) {
    const utimbuf times{time, time};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

TEST_F(CliDataSafetyTest, PublishedZipArchivesImportAsTheirCsvFilesDo) {
    const std::time_t national = localNoon(2024, 2, 28), office = localNoon(2024, 3, 29);
    writeCp932Lines(dir.file("KEN_ALL.CSV"), KenLines(2));
    writeCp932Lines(dir.file("JIGYOSYO.CSV"), OfficeLines(5));
    SetModified(dir.file("KEN_ALL.CSV"), national);
    SetModified(dir.file("JIGYOSYO.CSV"), office);
    writeZip(dir.file("ken_all.zip"),
             {{"KEN_ALL.CSV", readBytes(dir.file("KEN_ALL.CSV")), national}});
    writeZip(dir.file("jigyosyo.zip"),
             {{"JIGYOSYO.CSV", readBytes(dir.file("JIGYOSYO.CSV")), office}});

    const std::string fromCsv = dir.file("csv.mdb"), fromZip = dir.file("zip.mdb");
    for (const std::string& database : {fromCsv, fromZip}) {
        ASSERT_EQ(yubinbox({"createdb", database}).exitCode, 0);
    }
    ProcessResult csv = yubinbox({"import", "--db", fromCsv, "--ken-all", dir.file("KEN_ALL.CSV"),
                                  "--jigyosyo", dir.file("JIGYOSYO.CSV")});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    ProcessResult zip = yubinbox({"import", "--db", fromZip, "--ken-all", dir.file("ken_all.zip"),
                                  "--jigyosyo", dir.file("jigyosyo.zip")});
    ASSERT_EQ(zip.exitCode, 0) << zip.err;
    EXPECT_EQ(Dump(*this, fromZip), Dump(*this, fromCsv));
    ProcessResult summary = yubinbox({"summary", "--db", fromZip});
    EXPECT_NE(summary.out.find("2024年02月28日"), std::string::npos) << summary.out;
    EXPECT_NE(summary.out.find("2024年03月29日"), std::string::npos) << summary.out;

    // The same archive again is not newer; the archives given the other way round are refused.
    EXPECT_EQ(yubinbox({"import", "--db", fromZip, "--ken-all", dir.file("ken_all.zip")}).exitCode,
              3);
    ProcessResult swapped =
        yubinbox({"import", "--db", fromZip, "--ken-all", dir.file("jigyosyo.zip"), "--yes"});
    EXPECT_EQ(swapped.exitCode, 1);
    EXPECT_NE(swapped.err.find("KEN_ALL.CSV（全国版郵便番号データ） がありません"),
              std::string::npos)
        << swapped.err;
    EXPECT_EQ(Dump(*this, fromZip), Dump(*this, fromCsv));
}

TEST_F(CliDataSafetyTest, PublishedFilesSlowImportFromTheirArchivesAsFromTheCsvFiles) {
    const std::string ken = sharedDataFile("KEN_ALL.CSV"), office = sharedDataFile("JIGYOSYO.CSV");
    if (ken.empty() || office.empty()) GTEST_SKIP() << "the published data files are absent";
    const auto modified = [](const std::string& path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mtime;
    };
    writeZip(dir.file("ken_all.zip"), {{"KEN_ALL.CSV", ken, modified(ken), true}});
    writeZip(dir.file("jigyosyo.zip"), {{"JIGYOSYO.CSV", office, modified(office), true}});
    const std::string fromCsv = dir.file("csv.mdb"), fromZip = dir.file("zip.mdb");
    for (const std::string& database : {fromCsv, fromZip}) {
        ASSERT_EQ(yubinbox({"createdb", database}).exitCode, 0);
    }
    ProcessResult csv =
        yubinbox({"import", "--db", fromCsv, "--ken-all", ken, "--jigyosyo", office});
    ASSERT_EQ(csv.exitCode, 0) << csv.err;
    ProcessResult zip = yubinbox({"import", "--db", fromZip, "--ken-all", dir.file("ken_all.zip"),
                                  "--jigyosyo", dir.file("jigyosyo.zip")});
    ASSERT_EQ(zip.exitCode, 0) << zip.err;
    EXPECT_EQ(Dump(*this, fromZip), Dump(*this, fromCsv));
}

}  // namespace
}  // namespace yubin::test
