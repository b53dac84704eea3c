// The search's index built over the whole published data, as an import builds it at its end:
// the elapsed and processor time of BuildSearchIndex in the process (the processor time of all
// its threads), on one thread and on the machine's, and a digest of the records it stores, which
// must not change when the build becomes faster. A plain timing program: it imports the files once
// with the real executable, then builds the index again and again: `bench_search_index [runs]`
// (default 9).
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "query/SearchIndex.h"
#include "store/DerivedRecords.h"
#include "store/Engine.h"
#include "store/mdlYubinBox.h"

namespace {

namespace fs = std::filesystem;

double ProcessCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// FNV-1a over every stored record of the index (its number and its bytes), and their count.
std::pair<std::uint64_t, int> IndexDigest(yubin::db::Connection& connection) {
    yubin::db::DerivedRecords index(connection, "search");
    std::uint64_t hash = 14695981039346656037ULL;
    const auto mix = [&hash](unsigned char byte) {
        hash ^= byte;
        hash *= 1099511628211ULL;
    };
    int records = 0;
    for (const auto& [key, data] : index.readAll()) {
        ++records;
        for (int i = 0; i < 8; ++i) mix(static_cast<unsigned char>(key >> (8 * i)));
        for (char c : data) mix(static_cast<unsigned char>(c));
    }
    return {hash, records};
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const yubin::bench::PublishedFiles files = yubin::bench::Published();
    if (!files.present()) return 0;
    const fs::path dir =
        fs::temp_directory_path() / ("yubin-bench-search-index-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string db = (dir / "yubinbox.mdb").string();
    yubin::bench::Time({YUBIN_EXECUTABLE, "createdb", db});
    yubin::bench::Time({YUBIN_EXECUTABLE, "import", "--db", db, "--ken-all", files.ken,
                        "--jigyosyo", files.office, "--yes", "--pause", "0"});

    yubin::db::Connection connection;
    connection.open(yubin::mdlYubinBox::ConnectionString(db));
    const std::pair<std::uint64_t, int> imported = IndexDigest(connection);
    // One thread, and as many as the build takes on this machine, alternating; the records of
    // each compared with the import's after its first run.
    constexpr unsigned kThreads[] = {1, 0};
    std::vector<double> elapsed[2], cpu[2];
    bool same = true;
    for (int i = 0; i < runs; ++i) {
        for (int t = 0; t < 2; ++t) {
            const double cpuStart = ProcessCpuMs();
            const auto start = std::chrono::steady_clock::now();
            yubin::query::BuildSearchIndex(connection, kThreads[t]);
            elapsed[t].push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
            cpu[t].push_back(ProcessCpuMs() - cpuStart);
            if (i == 0) same = same && IndexDigest(connection) == imported;
        }
    }
    std::printf("BuildSearchIndex, median (best) of %d runs:\n", runs);
    for (int t = 0; t < 2; ++t) {
        std::printf("  %-26s elapsed %6.1f ms (%6.1f)  cpu %6.1f ms (%6.1f)\n",
                    t == 0 ? "one thread" : "the machine's threads",
                    yubin::bench::Median(elapsed[t]),
                    *std::min_element(elapsed[t].begin(), elapsed[t].end()),
                    yubin::bench::Median(cpu[t]), *std::min_element(cpu[t].begin(), cpu[t].end()));
    }
    std::printf("index: %d records, digest %016llx, %s the import's\n", imported.second,
                static_cast<unsigned long long>(imported.first),
                same ? "each build's is" : "DIFFERS from");
    connection.close();
    fs::remove_all(dir);
    return same ? 0 : 1;
}
