// Times the import of the published files through the real import window under a real X
// server (Xvfb, closing pause 0) against `yubinbox import` of the same files, alternating, and
// prints the ratio of the medians and the window's peak resident memory.
//
//   bench_window_import [RUNS]     (default 5; needs ../shared/data and Xvfb)
//
// The window is driven by the hidden `yubinbox import-window` entry: the files are chosen as
// the chooser would choose them, 実行 runs, 終了 clears the marker and compacts.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Run {
    double seconds;
    long peakKilobytes;
};

// Where the programs' standard error goes; shown when one fails.
std::string errorLog = "/dev/null";

// Runs the program with the environment added; its wall time and peak resident memory.
Run Time(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen(errorLog.c_str(), "w", stderr);
        for (const auto& e : environment) putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "failed: %s %s (status %d)\n", args[0].c_str(),
                     args.size() > 1 ? args[1].c_str() : "", status);
        std::system(("cat '" + errorLog + "' >&2").c_str());
        std::exit(1);
    }
    return {seconds, usage.ru_maxrss};
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// An X server of its own on a free display; the display's name, "" when it cannot start.
std::string StartXvfb(pid_t& pid) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return "";
    pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        const std::string fd = std::to_string(pipeFds[1]);
        std::freopen("/dev/null", "w", stderr);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
               "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    char buffer[32] = {};
    const ssize_t n = read(pipeFds[0], buffer, sizeof buffer - 1);
    close(pipeFds[0]);
    if (n <= 0) return "";
    std::string display = ":" + std::string(buffer, static_cast<size_t>(n));
    while (!display.empty() && (display.back() == '\n' || display.back() == ' ')) {
        display.pop_back();
    }
    return display;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const fs::path data = YUBIN_SHARED_DATA_DIR;
    const std::string ken = (data / "KEN_ALL.CSV").string();
    const std::string office = (data / "JIGYOSYO.CSV").string();
    if (!fs::exists(ken) || !fs::exists(office)) {
        std::puts("published data files are absent; nothing measured");
        return 0;
    }
    pid_t xvfb = -1;
    const std::string display = StartXvfb(xvfb);
    if (display.empty()) {
        std::fputs("Xvfb cannot start (tools/install-deps.sh installs it)\n", stderr);
        return 1;
    }
    const fs::path work =
        fs::temp_directory_path() / ("yubinbox-bench-window-" + std::to_string(getpid()));
    fs::create_directories(work);
    errorLog = (work / "stderr.log").string();
    const std::vector<std::string> environment = {
        "HOME=" + work.string(), "XDG_CONFIG_HOME=" + (work / ".config").string(),
        "DISPLAY=" + display, "QT_QPA_PLATFORM=xcb"};
    const std::string windowDb = (work / "window.mdb").string();
    const std::string headlessDb = (work / "headless.mdb").string();

    std::vector<double> windowSeconds, headlessSeconds;
    long peak = 0;
    for (int r = 0; r < runs; ++r) {
        fs::remove(windowDb);
        Time({YUBIN_EXECUTABLE, "createdb", windowDb}, environment);
        const Run window = Time({YUBIN_EXECUTABLE, "import-window", "--db", windowDb, "--ken-all",
                                 ken, "--jigyosyo", office, "--pause", "0"},
                                environment);
        windowSeconds.push_back(window.seconds);
        peak = std::max(peak, window.peakKilobytes);

        fs::remove(headlessDb);
        Time({YUBIN_EXECUTABLE, "createdb", headlessDb}, environment);
        const Run headless = Time({YUBIN_EXECUTABLE, "import", "--db", headlessDb, "--ken-all", ken,
                                   "--jigyosyo", office, "--yes", "--pause", "0"},
                                  environment);
        headlessSeconds.push_back(headless.seconds);
        std::printf("run %d: import window %.3f s, yubinbox import %.3f s\n", r + 1,
                    window.seconds, headless.seconds);
    }
    const double ratio = Median(windowSeconds) / Median(headlessSeconds);
    std::printf("median: import window %.3f s, yubinbox import %.3f s, ratio %.2f (goal <= 1.3)\n",
                Median(windowSeconds), Median(headlessSeconds), ratio);
    std::printf("peak resident memory of the import window: %.1f MB\n",
                static_cast<double>(peak) / 1024.0);
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    fs::remove_all(work);
    return 0;
}
