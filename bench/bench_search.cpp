// The search over the whole published data: how long one `yubinbox search` takes, measured in
// the process (with the import's index, and the pass over every row) and end to end (the
// command as a script runs it), and one `yubinbox lookup`. The goals: 20 ms for a search,
// 10 ms for a lookup, whole commands. A plain timing program: it builds its database once with the
// real executable's import, then times each query several times and prints the best and the
// median.
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "query/Normalize.h"
#include "query/QueryData.h"
#include "store/Engine.h"
#include "store/TableScan.h"
#include "store/mdlYubinBox.h"

namespace {

namespace fs = std::filesystem;

double cpuMs(const timeval& user, const timeval& system) {
    return (user.tv_sec + system.tv_sec) * 1e3 + (user.tv_usec + system.tv_usec) / 1e3;
}

// The processor time of the last child run (user + system).
double g_childCpuMs = 0;

// Runs the executable with the arguments, standard output and error to /dev/null, and keeps
// its processor time; a search that finds nothing ends with 1, which is no failure here.
int run(const std::vector<std::string>& args) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        std::string exe = YUBIN_EXECUTABLE;
        argv.push_back(exe.data());
        std::vector<std::string> copy = args;
        for (std::string& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr)) {
            _exit(126);
        }
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    g_childCpuMs = cpuMs(usage.ru_utime, usage.ru_stime);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double processCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Elapsed and processor time, each the best and the median of the runs. On a busy machine the
// elapsed time includes the waits for a processor; the processor time does not.
struct Timing {
    double best = 0, median = 0, cpuBest = 0, cpuMedian = 0;
};

// `childCpu`: the processor time is that of the child the body ran, not of this process.
Timing measure(int runs, const std::function<void()>& body, bool childCpu = false) {
    std::vector<double> ms, cpu;
    for (int i = 0; i < runs; ++i) {
        const double cpuStart = processCpuMs();
        const auto start = std::chrono::steady_clock::now();
        body();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        cpu.push_back(childCpu ? g_childCpuMs : processCpuMs() - cpuStart);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());
    return {ms.front(), ms[ms.size() / 2], cpu.front(), cpu[cpu.size() / 2]};
}

void print(const std::string& label, const std::string& rows, const Timing& t) {
    std::printf("%-24s %6s  elapsed %7.1f ms (median %7.1f)  cpu %7.1f ms (median %7.1f)\n",
                label.c_str(), rows.c_str(), t.best, t.median, t.cpuBest, t.cpuMedian);
}

}  // namespace

int main() {
    const yubin::bench::PublishedFiles files = yubin::bench::Published();
    if (!files.present()) return 0;
    const fs::path dir =
        fs::temp_directory_path() / ("yubin-bench-search-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string db = (dir / "yubinbox.mdb").string();
    yubin::bench::Time({YUBIN_EXECUTABLE, "createdb", db});
    yubin::bench::Time({YUBIN_EXECUTABLE, "import", "--db", db, "--ken-all", files.ken,
                        "--jigyosyo", files.office, "--yes"});

    const std::vector<std::vector<std::string>> queries = {
        {"千代田"}, {"ちよだ"}, {"ﾁﾖﾀﾞ"}, {"東京都", "千代田区"}, {"郵便局"}, {"存在しない地名"}};
    constexpr int kRuns = 15;
    std::printf(
        "Best and median of %d runs. In the process: the search with the import's index, and\n"
        "the pass over every row (the search without an index); command: `yubinbox search\n"
        "--limit 0 WORDS` end to end, output to /dev/null.\n",
        kRuns);
    {
        yubin::db::Connection connection;
        connection.open(yubin::mdlYubinBox::ConnectionString(db));
        yubin::query::Masters masters(connection);
        for (const auto& words : queries) {
            std::vector<std::string> folded;
            std::string label;
            for (const std::string& w : words) {
                folded.push_back(yubin::query::Folded(w));
                label += (label.empty() ? "" : " ") + w;
            }
            size_t rows = 0;
            const Timing indexed = measure(kRuns, [&] {
                rows = yubin::query::SearchRows(connection, masters, folded, 0).rows.size();
            });
            const Timing whole = measure(
                kRuns, [&] { yubin::query::SearchRows(connection, masters, folded, 0, true); });
            std::vector<std::string> args = {"search", "--db", db, "--limit", "0"};
            args.insert(args.end(), words.begin(), words.end());
            const Timing command = measure(
                kRuns, [&] { run(args); }, true);
            print(label, std::to_string(rows), indexed);
            print("  every row", "", whole);
            print("  command", "", command);
        }
    }

    // The whole commands as a person types them, alternating in one loop so that the machine's
    // load weighs on each alike; the process with nothing to do is the floor.
    const std::vector<std::pair<std::string, std::vector<std::string>>> commands = {
        {"search 千代田 (goal 20 ms)", {"search", "--db", db, "千代田"}},
        {"search ちよだ (goal 20 ms)", {"search", "--db", db, "ちよだ"}},
        {"lookup 1000001 (goal 10 ms)", {"lookup", "--db", db, "1000001"}},
        {"--version (the floor)", {"--version"}}};
    std::vector<std::vector<double>> elapsed(commands.size()), cpu(commands.size());
    for (int i = 0; i < kRuns; ++i) {
        for (size_t c = 0; c < commands.size(); ++c) {
            const auto start = std::chrono::steady_clock::now();
            run(commands[c].second);
            elapsed[c].push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
            cpu[c].push_back(g_childCpuMs);
        }
    }
    std::printf("\nWhole commands, alternating, median of %d runs:\n", kRuns);
    for (size_t c = 0; c < commands.size(); ++c) {
        std::printf("%-30s elapsed %6.1f ms  cpu %6.1f ms\n", commands[c].first.c_str(),
                    yubin::bench::Median(elapsed[c]), yubin::bench::Median(cpu[c]));
    }
    fs::remove_all(dir);
    return 0;
}
