// What the benchmarks share: timing a program in a child process, and the median.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace yubin::bench {

struct Run {
    double seconds;
    long peakKilobytes;
    double cpuSeconds;  // user and system
};

// Runs the program (argv, found on PATH) with the environment added ("NAME=value"), its
// standard output discarded and its standard error in errorLog; returns its wall time and peak
// resident memory (and processor time). A failing program ends the benchmark, showing errorLog.
inline Run Time(const std::vector<std::string>& args,
                const std::vector<std::string>& environment = {},
                const std::string& errorLog = "/dev/null") {
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen("/dev/null", "w", stdout) ||
            !std::freopen(errorLog.c_str(), "w", stderr)) {
            _exit(126);
        }
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
        if (errorLog != "/dev/null") {
            std::ifstream log(errorLog);
            std::cerr << log.rdbuf();
        }
        std::exit(1);
    }
    const auto toSeconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {seconds, usage.ru_maxrss, toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime)};
}

// An X server of its own on a free display; the display's name, "" when it cannot start.
inline std::string StartXvfb(pid_t& pid) {
    for (int number = 100 + getpid() % 400; number < 1000; ++number) {
        const std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        if (std::filesystem::exists(lock) || std::filesystem::exists(socket)) continue;
        const std::string display = ":" + std::to_string(number);
        pid = fork();
        if (pid == 0) {
            if (!std::freopen("/dev/null", "w", stderr)) _exit(126);
            execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1280x1024x24", "-nolisten",
                   "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int wait = 0; wait < 100; ++wait) {
            if (std::filesystem::exists(socket)) return display;
            if (waitpid(pid, nullptr, WNOHANG) == pid) break;  // it could not take the display
            usleep(50'000);
        }
    }
    return "";
}

// The published data files beside the checkout.
struct PublishedFiles {
    std::string ken;
    std::string office;
    // Says so on standard output when a file is absent: nothing is measured then.
    bool present() const {
        if (std::FILE* a = std::fopen(ken.c_str(), "rb")) {
            std::fclose(a);
            if (std::FILE* b = std::fopen(office.c_str(), "rb")) {
                std::fclose(b);
                return true;
            }
        }
        std::puts("published data files are absent; nothing measured");
        return false;
    }
};

// The folder of the published files: YUBIN_SHARED_DATA_DIR when set (a worktree or a clone
// elsewhere), else ../shared/data beside the sources.
inline std::string PublishedFolder() {
    const char* folder = std::getenv("YUBIN_SHARED_DATA_DIR");
    return folder != nullptr && folder[0] != '\0' ? folder : YUBIN_SHARED_DATA_DIR;
}

inline PublishedFiles Published() {
    const std::string folder = PublishedFolder();
    return {folder + "/KEN_ALL.CSV", folder + "/JIGYOSYO.CSV"};
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace yubin::bench
