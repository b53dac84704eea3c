// The check that precedes every import (import/DataFileCheck): the published files read to
// their end and every value held against the column rules, on a fresh database; also the
// published KEN_ALL.CSV as its ZIP archive (one full decompression and the CRC). Prints the
// median and the best of the runs in milliseconds.
#include <time.h>
#include <unistd.h>

#include <zip.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "import/DataFileCheck.h"
#include "store/mdlYubinBox.h"

namespace {

namespace fs = std::filesystem;
using yubin::import::DataKind;

std::string dataFile(const char* name) {
    const fs::path p = fs::path(yubin::bench::PublishedFolder()) / name;
    return fs::exists(p) ? p.string() : std::string();
}

// A deflated archive of the file, as the postal operator publishes it.
bool packZip(const std::string& file, const std::string& entry, const std::string& zipPath) {
    int code = 0;
    zip_t* archive = zip_open(zipPath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (archive == nullptr) return false;
    zip_source_t* source = zip_source_file(archive, file.c_str(), 0, -1);
    if (source == nullptr || zip_file_add(archive, entry.c_str(), source, 0) < 0) {
        zip_discard(archive);
        return false;
    }
    return zip_close(archive) == 0;
}

double processorMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Wall time and processor time: on a shared machine the wall time also counts the waits for
// a processor.
void measure(const char* label, const std::string& path, DataKind kind,
             yubin::db::Connection& connection) {
    constexpr int kRuns = 11;
    std::vector<double> wall, cpu;
    for (int i = 0; i < kRuns; ++i) {
        const double cpuStart = processorMs();
        const auto start = std::chrono::steady_clock::now();
        yubin::import::CheckDataFileForImport(path, kind, connection, false);
        wall.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        cpu.push_back(processorMs() - cpuStart);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf(
        "%-14s processor: median %6.1f ms, best %6.1f ms; wall: median %6.1f ms, best "
        "%6.1f ms (%d runs, %.1f MB)\n",
        label, cpu[cpu.size() / 2], cpu.front(), wall[wall.size() / 2], wall.front(), kRuns,
        static_cast<double>(fs::file_size(path)) / 1e6);
}

}  // namespace

int main() {
    const std::string ken = dataFile("KEN_ALL.CSV");
    const std::string office = dataFile("JIGYOSYO.CSV");
    if (ken.empty() || office.empty()) {
        std::printf("the published data is not available\n");
        return 0;
    }
    const fs::path dir = fs::temp_directory_path() / ("bench_check." + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string database = (dir / "yubinbox.mdb").string();
    yubin::mdlYubinBox::strMdbFile = database;
    yubin::mdlYubinBox::CreateMdb();
    {
        yubin::db::Connection connection;
        connection.open(yubin::mdlYubinBox::ConnectionString(database));
        measure("KEN_ALL.CSV", ken, DataKind::National, connection);
        measure("JIGYOSYO.CSV", office, DataKind::Office, connection);
        const std::string zip = (dir / "ken_all.zip").string();
        if (packZip(ken, "KEN_ALL.CSV", zip))
            measure("ken_all.zip", zip, DataKind::National, connection);
    }
    fs::remove_all(dir);
    return 0;
}
