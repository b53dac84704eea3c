// The publish of the whole published data to PostgreSQL against the yardstick: psql's \copy of
// the same rows into empty tables without keys or indexes. One private server (durable: fsync
// on), the runs alternating; prints each pair, the medians and their ratio (goal: at most 1.5).
//
//   bench_publish [RUNS]   (3 by default)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "publish/PgConnection.h"
#include "publish/TablePlan.h"
#include "store/TableScan.h"
#include "store/mdlYubinBox.h"
#include "support/PrivatePostgres.h"

namespace {

namespace fs = std::filesystem;
using yubin::test::PrivatePostgres;

// Writes each published table's rows in COPY's text form, as psql's \copy reads them; returns
// the \copy commands.
std::string ExportTables(const std::string& database, const std::string& folder,
                         const std::vector<yubin::publish::TablePlan>& plans,
                         yubin::publish::PgConnection& pg) {
    yubin::db::Connection file;
    file.open(yubin::mdlYubinBox::ConnectionString(database));
    std::string script;
    for (const auto& plan : plans) {
        std::vector<std::string> names;
        std::string columns;
        for (const auto& c : plan.columns) {
            names.push_back(c.name);
            columns += (columns.empty() ? "" : ", ") +
                       pg.quoteIdentifier(yubin::publish::serverName(c.name));
        }
        const std::string path = folder + "/" + plan.serverName + ".copy";
        std::ofstream out(path, std::ios::binary);
        yubin::db::TableScan scan(file, plan.fileName, names);
        std::string line;
        while (scan.next()) {
            line.clear();
            for (int i = 0; i < static_cast<int>(names.size()); ++i) {
                if (i > 0) line += '\t';
                if (scan.isNull(i)) {
                    line += "\\N";
                } else {
                    yubin::publish::appendCopyText(line, scan.text(i));
                }
            }
            line += '\n';
            out << line;
        }
        script += "\\copy plain." + pg.quoteIdentifier(plan.serverName) + " (" + columns +
                  ") FROM '" + path + "'\n";
    }
    return script;
}

// Empty tables without keys for the yardstick, made afresh before each of its runs.
void MakePlainTables(yubin::publish::PgConnection& pg,
                     const std::vector<yubin::publish::TablePlan>& plans) {
    pg.execute(
        "SET client_min_messages = warning; DROP SCHEMA IF EXISTS plain CASCADE; "
        "CREATE SCHEMA plain");
    for (const auto& plan : plans) pg.execute(yubin::publish::createTableSql(pg, "plain", plan));
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
    const auto published = yubin::bench::Published();
    if (!published.present()) return 0;
    if (!PrivatePostgres::available()) {
        std::puts("PostgreSQL's server is not installed; nothing measured");
        return 0;
    }
    const fs::path folder =
        fs::temp_directory_path() / ("bench_publish-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const std::string database = (folder / "yubinbox.mdb").string();
    const std::string home = "HOME=" + folder.string();
    yubin::bench::Time({YUBIN_EXECUTABLE, "createdb", database}, {home});
    yubin::bench::Time({YUBIN_EXECUTABLE, "import", "--db", database, "--ken-all", published.ken,
                        "--jigyosyo", published.office, "--yes"},
                       {home});

    PrivatePostgres server(/*durable=*/true);
    server.createDatabase("postal");
    const std::string conninfo = server.conninfo("publisher", "postal");
    setenv("PGPASSFILE", server.passwordFile().c_str(), 1);
    const std::string passfile = "PGPASSFILE=" + server.passwordFile();
    yubin::publish::PgConnection pg(conninfo);
    std::vector<yubin::publish::TablePlan> plans;
    {
        yubin::db::Connection file;
        file.open(yubin::mdlYubinBox::ConnectionString(database));
        plans = yubin::publish::planTables(file);
    }
    const std::string script = (folder / "copy.psql").string();
    std::ofstream(script) << ExportTables(database, folder.string(), plans, pg);

    const std::string psql = PrivatePostgres::binDir() + "/psql";
    std::vector<double> ours;
    std::vector<double> yardstick;
    std::printf("run  publish s  psql \\copy s\n");
    for (int i = 0; i < runs; ++i) {
        ours.push_back(
            yubin::bench::Time({YUBIN_EXECUTABLE, "publish", "--db", database, "--to", conninfo},
                               {home, passfile}, (folder / "publish.log").string())
                .seconds);
        MakePlainTables(pg, plans);
        yardstick.push_back(yubin::bench::Time({psql, "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d",
                                                conninfo, "-f", script},
                                               {passfile}, (folder / "psql.log").string())
                                .seconds);
        std::printf("%3d  %9.3f  %12.3f\n", i + 1, ours.back(), yardstick.back());
    }
    const double a = yubin::bench::Median(ours);
    const double b = yubin::bench::Median(yardstick);
    std::printf("median publish %.3f s, psql \\copy %.3f s, ratio %.2f (goal <= 1.5)\n", a, b,
                a / b);
    fs::remove_all(folder);
    return 0;
}
