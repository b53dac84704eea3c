// Times the window program from its start to its first window painted (the menu, as a user
// starts it) under a real X server (Xvfb), and, for comparison, the command line's shortest
// run (`yubinbox --version`). The program reports its first paint itself when
// YUBIN_FIRST_PAINT_PROBE is set, and then ends.
//
//   bench_startup [RUNS]     (default 11; needs Xvfb)
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"

namespace fs = std::filesystem;
using yubin::bench::Median;
using yubin::bench::StartXvfb;
using yubin::bench::Time;

namespace {

long long MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

// Milliseconds from just before the program is started to its reported first paint; a
// negative number when it reported none.
double FirstPaint(const std::vector<std::string>& environment, const std::string& errorLog) {
    const long long start = MonotonicNanoseconds();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen("/dev/null", "w", stdout) ||
            !std::freopen(errorLog.c_str(), "w", stderr)) {
            _exit(126);
        }
        for (const auto& e : environment) putenv(const_cast<char*>(e.c_str()));
        execl(YUBIN_EXECUTABLE, YUBIN_EXECUTABLE, static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    long long painted = -1;
    if (std::FILE* log = std::fopen(errorLog.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, log)) std::sscanf(line, "first paint: %lld", &painted);
        std::fclose(log);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || painted < 0) return -1;
    return static_cast<double>(painted - start) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 11;
    pid_t xvfb = -1;
    const std::string display = StartXvfb(xvfb);
    if (display.empty()) {
        std::fputs("Xvfb cannot start (tools/install-deps.sh installs it)\n", stderr);
        return 1;
    }
    const fs::path work =
        fs::temp_directory_path() / ("yubinbox-bench-startup-" + std::to_string(getpid()));
    fs::create_directories(work / "runtime");
    fs::permissions(work / "runtime", fs::perms::owner_all);
    const std::string errorLog = (work / "stderr.log").string();
    const std::vector<std::string> environment = {"HOME=" + work.string(),
                                                  "XDG_CONFIG_HOME=" + (work / ".config").string(),
                                                  "XDG_RUNTIME_DIR=" + (work / "runtime").string(),
                                                  "DISPLAY=" + display,
                                                  "QT_QPA_PLATFORM=xcb",
                                                  "YUBIN_FIRST_PAINT_PROBE=1"};

    std::vector<double> painted, version;
    int failed = 0;
    for (int r = 0; r < runs; ++r) {
        const double ms = FirstPaint(environment, errorLog);
        if (ms < 0) {
            ++failed;
        } else {
            painted.push_back(ms);
        }
        version.push_back(Time({YUBIN_EXECUTABLE, "--version"}, environment).seconds * 1000);
    }
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    fs::remove_all(work);
    if (painted.empty()) {
        std::fprintf(stderr, "the program reported no first paint in %d runs\n", runs);
        return 1;
    }
    std::printf(
        "start to the menu painted: median %.1f ms, best %.1f ms (%zu runs; goal <= 150 ms)\n",
        Median(painted), *std::min_element(painted.begin(), painted.end()), painted.size());
    std::printf("yubinbox --version, whole process: median %.1f ms\n", Median(version));
    if (failed > 0) std::printf("%d runs reported no paint\n", failed);
    return 0;
}
