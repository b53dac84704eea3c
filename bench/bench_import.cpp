// Times `yubinbox import` of the published files against the sqlite3 tool's `.import` of the
// same files (converted to UTF-8) into a fresh file, alternating, in two cases: a fresh import
// (a new database) and the monthly refresh (a database that already holds a full import of the
// same files). Both include the compaction at the end of the import. Prints the ratio of the
// medians of each case and our peak resident memory; the ratio of the processor times as well,
// which another load on the machine disturbs less than the wall time.
//
//   bench_import [RUNS [EXECUTABLE]]   (default 5 runs of the yubinbox built beside it; needs
//                                     ../shared/data and the sqlite3 tool)
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"

namespace fs = std::filesystem;
using yubin::bench::Median;
using yubin::bench::Run;
using yubin::bench::Time;

namespace {

int Shell(const std::string& command) { return std::system(command.c_str()); }

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const std::string yubinbox = argc > 2 ? argv[2] : YUBIN_EXECUTABLE;
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
    const std::string fresh = (work / "fresh.mdb").string();
    const std::string refreshed = (work / "refresh.mdb").string();
    const std::string theirs = (work / "sqlite.db").string();
    std::string schema = "CREATE TABLE ken(";
    for (int i = 0; i < 15; ++i) schema += (i ? ",c" : "c") + std::to_string(i);
    schema += "); CREATE TABLE jig(";
    for (int i = 0; i < 13; ++i) schema += (i ? ",c" : "c") + std::to_string(i);
    schema += ");";
    const auto import = [&](const std::string& database) {
        return Time({yubinbox, "import", "--db", database, "--ken-all", ken, "--jigyosyo", office,
                     "--yes", "--pause", "0"});
    };
    const auto sqlite = [&] {
        fs::remove(theirs);
        return Time({"sqlite3", theirs, schema, ".mode csv", ".import " + kenUtf8 + " ken",
                     ".import " + officeUtf8 + " jig"});
    };

    // The database of the refresh holds a full import before the first run.
    Time({yubinbox, "createdb", refreshed});
    import(refreshed);

    // Wall and processor seconds of each case, ours and sqlite3's.
    struct Case {
        const char* name;
        double goal;
        std::vector<double> ours, theirs, oursCpu, theirsCpu;
        void add(const Run& a, const Run& b) {
            ours.push_back(a.seconds);
            theirs.push_back(b.seconds);
            oursCpu.push_back(a.cpuSeconds);
            theirsCpu.push_back(b.cpuSeconds);
        }
        void print() const {
            std::printf(
                "%-8s yubinbox %.3f s, sqlite3 %.3f s, ratio %.2f (goal <= %.1f); "
                "processor time ratio %.2f\n",
                name, Median(ours), Median(theirs), Median(ours) / Median(theirs), goal,
                Median(oursCpu) / Median(theirsCpu));
        }
    };
    Case freshCase{"fresh:", 0.9, {}, {}, {}, {}};
    Case refreshCase{"refresh:", 1.1, {}, {}, {}, {}};
    long peak = 0;
    for (int r = 0; r < runs; ++r) {
        fs::remove(fresh);
        Time({yubinbox, "createdb", fresh});
        const Run a = import(fresh);
        const Run b = sqlite();
        const Run c = import(refreshed);
        const Run d = sqlite();
        freshCase.add(a, b);
        refreshCase.add(c, d);
        peak = std::max({peak, a.peakKilobytes, c.peakKilobytes});
        std::printf("run %d: fresh %.3f s / sqlite3 %.3f s, refresh %.3f s / sqlite3 %.3f s\n",
                    r + 1, a.seconds, b.seconds, c.seconds, d.seconds);
    }
    freshCase.print();
    refreshCase.print();
    std::printf("peak resident memory of yubinbox import: %.1f MB (goal <= 16 MB)\n",
                static_cast<double>(peak) / 1024.0);
    fs::remove_all(work);
    return 0;
}
