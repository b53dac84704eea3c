// Times `yubinbox import` of the published files into a fresh database against the sqlite3
// tool's `.import` of the same files (converted to UTF-8) into a fresh file, alternating, and
// prints the ratio of the medians and our peak resident memory.
//
//   bench_import [RUNS]        (default 5; needs ../shared/data and the sqlite3 tool)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "BenchSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using yubin::bench::Median;
using yubin::bench::Run;
using yubin::bench::Time;

namespace {

int Shell(const std::string& command) { return std::system(command.c_str()); }

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const yubin::bench::PublishedFiles published = yubin::bench::Published();
    if (!published.present()) return 0;
    const std::string& ken = published.ken;
    const std::string& office = published.office;
    const fs::path work =
        fs::temp_directory_path() / ("yubinbox-bench-" + std::to_string(getpid()));
    fs::create_directories(work);
    const std::string kenUtf8 = (work / "ken_all.csv").string();
    const std::string officeUtf8 = (work / "jigyosyo.csv").string();
    if (Shell("iconv -f CP932 -t UTF-8 '" + ken + "' > '" + kenUtf8 + "'") != 0 ||
        Shell("iconv -f CP932 -t UTF-8 '" + office + "' > '" + officeUtf8 + "'") != 0) {
        std::fputs("iconv failed\n", stderr);
        return 1;
    }
    const std::string ours = (work / "yubinbox.mdb").string();
    const std::string theirs = (work / "sqlite.db").string();
    std::string schema = "CREATE TABLE ken(";
    for (int i = 0; i < 15; ++i) schema += (i ? ",c" : "c") + std::to_string(i);
    schema += "); CREATE TABLE jig(";
    for (int i = 0; i < 13; ++i) schema += (i ? ",c" : "c") + std::to_string(i);
    schema += ");";

    std::vector<double> oursSeconds, theirSeconds;
    long peak = 0;
    for (int r = 0; r < runs; ++r) {
        fs::remove(ours);
        Time({YUBIN_EXECUTABLE, "createdb", ours});
        const Run a = Time({YUBIN_EXECUTABLE, "import", "--db", ours, "--ken-all", ken,
                            "--jigyosyo", office, "--yes", "--pause", "0"});
        oursSeconds.push_back(a.seconds);
        peak = std::max(peak, a.peakKilobytes);

        fs::remove(theirs);
        const Run b = Time({"sqlite3", theirs, schema, ".mode csv", ".import " + kenUtf8 + " ken",
                            ".import " + officeUtf8 + " jig"});
        theirSeconds.push_back(b.seconds);
        std::printf("run %d: yubinbox import %.3f s, sqlite3 .import %.3f s\n", r + 1, a.seconds,
                    b.seconds);
    }
    const double ratio = Median(oursSeconds) / Median(theirSeconds);
    std::printf("median: yubinbox %.3f s, sqlite3 %.3f s, ratio %.2f (goal <= 1.5)\n",
                Median(oursSeconds), Median(theirSeconds), ratio);
    std::printf("peak resident memory of yubinbox import: %.1f MB (goal <= 64 MB)\n",
                static_cast<double>(peak) / 1024.0);
    fs::remove_all(work);
    return 0;
}
