// What the change report costs a refresh of the published data. A database holding the
// published month is refreshed from a month derived from it (tests/support/DerivedMonth.h)
// through `yubinbox import`; in this process, on a copy of the same database, the report's
// own steps are timed: the old rows kept (both data sets), then the comparison and the report
// written. Prints the report's share of the refresh's processor time (goal <= 10 %), the
// peak memory of those steps beside the refresh's peak (goal: at most 16 MB more), and the
// counts of the derived month's report.
//
//   bench_change_report [RUNS [EXECUTABLE]]   (default 3 runs; needs ../shared/data)
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "changes/ChangeReport.h"
#include "store/NativeSql.h"
#include "store/mdlYubinBox.h"
#include "support/AppendAgain.h"
#include "support/DerivedMonth.h"

namespace fs = std::filesystem;
using yubin::bench::Median;
using yubin::bench::Run;
using yubin::bench::Time;
using yubin::changes::DataSet;

namespace {

double ProcessSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The report's steps on a database that holds a whole import: both data sets kept, a town
// name in every 2000th row changed and the rows appended again as a refresh appends them
// (untimed, so that the report also reads both sides again for the rows of the codes that
// changed, as a real refresh's does), then reported.
double ReportSteps(const std::string& database) {
    yubin::db::Connection connection;
    connection.open(yubin::mdlYubinBox::ConnectionString(database));
    double total = 0;
    for (DataSet set : {DataSet::National, DataSet::Office}) {
        const double a = ProcessSeconds();
        yubin::changes::KeepOldData(connection, set, yubin::changes::OldRows::Whole);
        const double kept = ProcessSeconds() - a;
        yubin::db::NativeStatement(connection,
                                   "UPDATE \"ZIPALL\" SET \"町域名\" = \"町域名\" || '２' "
                                   "WHERE \"RECNO\" % 2000 = 0")
            .run();
        yubin::changes::AppendedRows appended = yubin::test::AppendAgain(connection, set);
        const double b = ProcessSeconds();
        yubin::changes::MakeReport(connection, set, {}, yubin::changes::ReportThreads::Two,
                                   &appended);
        const double reported = ProcessSeconds() - b;
        std::printf("  %s: keep %.3f s, report %.3f s\n",
                    std::string(yubin::changes::DataSetName(set)).c_str(), kept, reported);
        total += kept + reported;
    }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    const std::string yubinbox = argc > 2 ? argv[2] : YUBIN_EXECUTABLE;
    const yubin::bench::PublishedFiles published = yubin::bench::Published();
    if (!published.present()) return 0;
    const fs::path work =
        fs::temp_directory_path() / ("yubinbox-bench-changes-" + std::to_string(getpid()));
    fs::create_directories(work / "month2");
    // Derived in a child process: this one stays small, so the children it starts for the
    // imports report their own peak memory.
    const std::string month2 = (work / "month2").string();
    if (const pid_t child = fork(); child == 0) {
        yubin::test::DeriveMonth(published.ken, published.office, month2);
        _exit(0);
    } else {
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
    }
    const struct {
        std::string ken, office;
    } month{month2 + "/KEN_ALL.CSV", month2 + "/JIGYOSYO.CSV"};
    const std::string base = (work / "published.mdb").string();
    const auto import = [&](const std::string& database, const std::string& ken,
                            const std::string& office) {
        return Time({yubinbox, "import", "--db", database, "--ken-all", ken, "--jigyosyo", office,
                     "--yes", "--pause", "0"});
    };
    Time({yubinbox, "createdb", base});
    import(base, published.ken, published.office);

    std::vector<double> refreshCpu, refreshWall, reportCpu;
    long refreshPeak = 0;
    const long benchPeakBefore = PeakKilobytes();
    for (int r = 0; r < runs; ++r) {
        const std::string refreshed = (work / "refreshed.mdb").string();
        const std::string measured = (work / "measured.mdb").string();
        fs::copy_file(base, refreshed, fs::copy_options::overwrite_existing);
        fs::copy_file(base, measured, fs::copy_options::overwrite_existing);
        const Run refresh = import(refreshed, month.ken, month.office);
        const double report = ReportSteps(measured);
        refreshCpu.push_back(refresh.cpuSeconds);
        refreshWall.push_back(refresh.seconds);
        reportCpu.push_back(report);
        refreshPeak = std::max(refreshPeak, refresh.peakKilobytes);
        std::printf("run %d: refresh %.3f s (processor %.3f s), report steps %.3f s\n", r + 1,
                    refresh.seconds, refresh.cpuSeconds, report);
        if (r == 0) {
            yubin::db::Connection connection;
            connection.open(yubin::mdlYubinBox::ConnectionString(refreshed));
            for (DataSet set : {DataSet::National, DataSet::Office}) {
                const auto summary = yubin::changes::ReadSummary(connection, set);
                if (!summary) continue;
                std::printf("derived month, %s: added %lld, removed %lld, changed %lld\n",
                            std::string(yubin::changes::DataSetName(set)).c_str(),
                            summary->counts.added, summary->counts.removed,
                            summary->counts.changed);
            }
        }
    }
    std::printf(
        "report steps %.3f s of the refresh's processor time %.3f s: %.1f %% (goal <= 10 %%); "
        "refresh wall time %.3f s\n",
        Median(reportCpu), Median(refreshCpu), 100.0 * Median(reportCpu) / Median(refreshCpu),
        Median(refreshWall));
    std::printf(
        "peak resident memory: refresh %.1f MB; report steps in this process %.1f MB (%.1f MB "
        "before them)\n",
        static_cast<double>(refreshPeak) / 1024.0, static_cast<double>(PeakKilobytes()) / 1024.0,
        static_cast<double>(benchPeakBefore) / 1024.0);
    fs::remove_all(work);
    return 0;
}
