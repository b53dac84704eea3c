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

#include "BenchSupport.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using yubin::bench::Median;
using yubin::bench::Run;
using yubin::bench::StartXvfb;
using yubin::bench::Time;

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const yubin::bench::PublishedFiles published = yubin::bench::Published();
    if (!published.present()) return 0;
    const std::string& ken = published.ken;
    const std::string& office = published.office;
    pid_t xvfb = -1;
    const std::string display = StartXvfb(xvfb);
    if (display.empty()) {
        std::fputs("Xvfb cannot start (tools/install-deps.sh installs it)\n", stderr);
        return 1;
    }
    const fs::path work =
        fs::temp_directory_path() / ("yubinbox-bench-window-" + std::to_string(getpid()));
    fs::create_directories(work);
    const std::string errorLog = (work / "stderr.log").string();
    const std::vector<std::string> environment = {"HOME=" + work.string(),
                                                  "XDG_CONFIG_HOME=" + (work / ".config").string(),
                                                  "DISPLAY=" + display, "QT_QPA_PLATFORM=xcb"};
    const std::string headlessDb = (work / "headless.mdb").string();

    // Three things alternating: the window import, the same window program opened and closed
    // with no files (its fixed cost: loading the module, fonts, the display), the headless
    // import. The window import also reports how long posted events waited during the run.
    std::vector<double> windowSeconds, openCloseSeconds, headlessSeconds, delays, engineDelays;
    long peak = 0;
    const std::string windowDb = (work / "window.mdb").string();
    for (int r = 0; r < runs; ++r) {
        fs::remove(windowDb);
        Time({YUBIN_EXECUTABLE, "createdb", windowDb}, environment, errorLog);
        const Run window = Time({YUBIN_EXECUTABLE, "import-window", "--db", windowDb, "--ken-all",
                                 ken, "--jigyosyo", office, "--pause", "0", "--event-delays", "1"},
                                environment, errorLog);
        windowSeconds.push_back(window.seconds);
        peak = std::max(peak, window.peakKilobytes);
        double engine = 0, whole = 0;
        if (std::FILE* log = std::fopen(errorLog.c_str(), "r")) {
            char line[512];
            long events = 0;
            while (std::fgets(line, sizeof line, log)) {
                std::sscanf(line,
                            "event delays: %ld events, longest %lf ms while an engine ran, "
                            "%lf ms in the whole run",
                            &events, &engine, &whole);
            }
            std::fclose(log);
        }
        engineDelays.push_back(engine);
        delays.push_back(whole);

        const Run openClose =
            Time({YUBIN_EXECUTABLE, "import-window", "--db", windowDb, "--pause", "0"}, environment,
                 errorLog);
        openCloseSeconds.push_back(openClose.seconds);

        fs::remove(headlessDb);
        Time({YUBIN_EXECUTABLE, "createdb", headlessDb}, environment, errorLog);
        const Run headless = Time({YUBIN_EXECUTABLE, "import", "--db", headlessDb, "--ken-all", ken,
                                   "--jigyosyo", office, "--yes", "--pause", "0"},
                                  environment, errorLog);
        headlessSeconds.push_back(headless.seconds);
        std::printf(
            "run %d: import window %.3f s, opened and closed %.3f s, yubinbox import %.3f s; "
            "longest event wait %.1f ms while an engine ran (%.1f ms in the whole run)\n",
            r + 1, window.seconds, openClose.seconds, headless.seconds, engine, whole);
    }
    const double window = Median(windowSeconds), openClose = Median(openCloseSeconds),
                 headless = Median(headlessSeconds);
    std::printf("median: import window %.3f s, opened and closed %.3f s, yubinbox import %.3f s\n",
                window, openClose, headless);
    std::printf("ratio window / headless %.2f; less the window's fixed cost %.2f (goal <= 1.1)\n",
                window / headless, (window - openClose) / headless);
    std::printf("window opened and closed %.3f s (start-up goal <= 0.15 s)\n", openClose);
    std::printf("longest wait of a posted event while an engine ran: %.1f ms (whole run %.1f ms)\n",
                *std::max_element(engineDelays.begin(), engineDelays.end()),
                *std::max_element(delays.begin(), delays.end()));
    std::printf("peak resident memory of the import window: %.1f MB\n",
                static_cast<double>(peak) / 1024.0);
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    fs::remove_all(work);
    return 0;
}
