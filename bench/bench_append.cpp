// Appending ZIPALL rows through one row set, as the national import does, with the rows made
// durable (flush and close are timed too). Also the per-record municipality lookup of the
// business-office import, and the national import's master lookups while the key is dropped.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "store/Engine.h"
#include "store/mdlYubinBox.h"

namespace {

namespace fs = std::filesystem;
using yubin::db::Connection;
using yubin::db::CursorType;
using yubin::db::LockType;
using yubin::db::Recordset;
using yubin::db::Value;

constexpr int kRows = 150000;

// A folder of its own, removed at the end.
struct Scratch {
    Scratch() {
        std::random_device rd;
        path = fs::temp_directory_path() / ("yubinbox-bench-" + std::to_string(rd()));
        fs::create_directories(path);
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string file(const std::string& name) const { return (path / name).string(); }
    fs::path path;
};

std::string freshDatabase(const Scratch& scratch) {
    const std::string file = scratch.file("yubinbox.mdb");
    yubin::mdlYubinBox::strMdbFile = file;
    yubin::mdlYubinBox::CreateMdb();
    return file;
}

// One national row with the published data's typical lengths.
std::vector<Value> nationalRow(long long recno) {
    return {Value("01101"),
            Value("060  "),
            Value("0600000"),
            Value("ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲｻｯﾎﾟﾛｼﾁｭｳｵｳｸ"),
            Value("以下に掲載がない場合"),
            Value(0),
            Value(0),
            Value(1),
            Value(0),
            Value(0),
            Value(0),
            Value(""),
            Value(""),
            Value(""),
            Value(""),
            Value(""),
            Value(""),
            Value(recno)};
}

void BM_AppendZipall(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        Scratch scratch;
        const std::string file = freshDatabase(scratch);
        {
            Connection cn;
            cn.open(yubin::mdlYubinBox::ConnectionString(file));
            Recordset rs;
            rs.open("ZIPALL", cn, CursorType::Keyset, LockType::Pessimistic);
            std::vector<std::string> names;
            for (int i = 0; i < rs.fieldCount(); ++i) names.push_back(rs.field(i).Name());
            std::vector<Value> row = nationalRow(0);
            state.ResumeTiming();

            for (int i = 1; i <= kRows; ++i) {
                // As the import does: the row's texts are reassigned, the number replaced.
                row[3].assignText(i % 2 == 0 ? "ｲｶﾆｹｲｻｲｶﾞﾅｲﾊﾞｱｲｻｯﾎﾟﾛｼﾁｭｳｵｳｸ" : "ｷﾀ1ｼﾞｮｳﾆｼ");
                row[17] = Value(static_cast<long long>(i));
                rs.addNew(names, row);
            }
            rs.close();
            cn.flush();
            cn.close();
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kRows);
    state.counters["rows_per_second"] = benchmark::Counter(
        static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_AppendZipall)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_MunicipalityLookup(benchmark::State& state) {
    Scratch scratch;
    const std::string file = freshDatabase(scratch);
    Connection cn;
    cn.open(yubin::mdlYubinBox::ConnectionString(file));
    for (int code = 1000; code < 3000; ++code) {
        cn.execute("INSERT INTO 市町村 VALUES('0" + std::to_string(code) + "', '市', 'ｼ', 0)");
    }
    cn.execute("ALTER TABLE 市町村 ADD CONSTRAINT xJISX0402 PRIMARY KEY(JISX0402)");
    int code = 1000;
    for (auto _ : state) {
        Recordset rs;
        rs.open("SELECT * FROM 市町村 WHERE JISX0402 = '0" + std::to_string(code) + "'", cn,
                CursorType::Keyset, LockType::Pessimistic);
        benchmark::DoNotOptimize(rs.eof());
        rs.close();
        code = code == 2999 ? 1000 : code + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MunicipalityLookup)->Unit(benchmark::kMicrosecond);

// The national import's pattern: 1,900 municipality codes in file order, each looked up once
// while the master's key is dropped, found missing and added. Argument 1: the connection holds
// the database for an import (as the import does), 0: it does not.
void BM_MasterLookupsWithoutKey(benchmark::State& state) {
    static const std::vector<std::string> names = {"JISX0402", "市町村名", "住所かな2", "抹消FLAG"};
    for (auto _ : state) {
        state.PauseTiming();
        Scratch scratch;
        const std::string file = freshDatabase(scratch);
        Connection cn;
        cn.open(yubin::mdlYubinBox::ConnectionString(file));
        if (state.range(0) != 0) cn.lockImport();
        state.ResumeTiming();
        for (int code = 1000; code < 2900; ++code) {
            Recordset rs;
            const std::string text = "0" + std::to_string(code);
            rs.open("SELECT * FROM 市町村 WHERE JISX0402 = '" + text + "'", cn, CursorType::Keyset,
                    LockType::Pessimistic);
            if (rs.eof()) {
                const std::vector<Value> values = {Value(text), Value("札幌市中央区"),
                                                   Value("ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ"), Value(0)};
                rs.addNew(names, values);
            }
            rs.close();
        }
        state.PauseTiming();
        cn.close();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 1900);
}
BENCHMARK(BM_MasterLookupsWithoutKey)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
