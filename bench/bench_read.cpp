// Reading the published data files end to end: lines decoded, split and (national data)
// merged into groups, with no database work. Runs under Google Benchmark when it is
// available, otherwise as a plain timing program.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "BenchSupport.h"
#include "import/JigyosyoReader.h"
#include "import/KenAllReader.h"

namespace {

std::string dataFile(const char* name) {
    const std::filesystem::path p = std::filesystem::path(yubin::bench::PublishedFolder()) / name;
    return std::filesystem::exists(p) ? p.string() : std::string();
}

long long readKenAll(const std::string& path) {
    yubin::import::KenAllReader reader(path);
    long long groups = 0;
    while (reader.readLine()) {
        if (reader.mergeLine()) ++groups;
    }
    if (reader.finish()) ++groups;
    return groups;
}

long long readJigyosyo(const std::string& path) {
    yubin::import::JigyosyoReader reader(path);
    long long fields = 0;
    while (reader.readLine()) fields += static_cast<long long>(reader.splitFields().size());
    return fields;
}

}  // namespace

#if __has_include(<benchmark/benchmark.h>)
#include <benchmark/benchmark.h>

namespace {

void run(benchmark::State& state, const char* name, long long (*read)(const std::string&)) {
    const std::string path = dataFile(name);
    if (path.empty()) {
        state.SkipWithError("the published data file is not available");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(read(path));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
}

void BM_ReadKenAll(benchmark::State& state) { run(state, "KEN_ALL.CSV", readKenAll); }
void BM_ReadJigyosyo(benchmark::State& state) { run(state, "JIGYOSYO.CSV", readJigyosyo); }

}  // namespace

BENCHMARK(BM_ReadKenAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadJigyosyo)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();

#else

int main() {
    const struct {
        const char* name;
        long long (*read)(const std::string&);
    } files[] = {{"KEN_ALL.CSV", readKenAll}, {"JIGYOSYO.CSV", readJigyosyo}};
    for (const auto& f : files) {
        const std::string path = dataFile(f.name);
        if (path.empty()) {
            std::printf("%s: not available\n", f.name);
            continue;
        }
        constexpr int kRuns = 10;
        double best = 1e9;
        for (int i = 0; i < kRuns; ++i) {
            const auto start = std::chrono::steady_clock::now();
            const long long n = f.read(path);
            const std::chrono::duration<double, std::milli> ms =
                std::chrono::steady_clock::now() - start;
            if (ms.count() < best) best = ms.count();
            if (n < 0) return 1;
        }
        std::printf("%s: best of %d runs %.1f ms\n", f.name, kRuns, best);
    }
    return 0;
}

#endif
