// The readers with a worker thread give what reading in one thread gives: every line's counts,
// every group or field list, every failure at the same call, and the program-wide line count.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/Error.h"
#include "base/VectorState.h"
#include "import/JigyosyoReader.h"
#include "import/KenAllReader.h"
#include "import/ReadAhead.h"
#include "support/TestSupport.h"
#include "support/VectorStateMark.h"

namespace yubin::import {
namespace {

using Thread = ReadAheadOptions::Thread;

ReadAheadOptions oneThread() { return {Thread::Never, 128, 6}; }
// Small batches in a small ring, so that a short fixture crosses many batch boundaries and
// the worker often finds the ring full.
ReadAheadOptions worker(std::size_t linesPerBatch, std::size_t batches = 3) {
    return {Thread::Always, linesPerBatch, batches};
}

std::string ken(int zip, const std::string& town, const std::string& f12 = "0") {
    const std::string code = std::to_string(600000 + zip);
    return "01101,\"060  \",\"0" + code +
           "\",\"ﾎｯｶｲﾄﾞｳ\",\"ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ\",\"ｶﾅ\",\"北海道\",\"札幌市中央区\",\"" + town +
           "\",0,0,1," + f12 + ",0,0";
}

// 300 lines: groups of one to nine lines (some crossing every batch boundary of the batch
// sizes used here), and lines whose field 12 keeps them apart by the line counter.
std::vector<std::string> nationalLines() {
    std::vector<std::string> lines;
    int zip = 0;
    while (lines.size() < 300) {
        ++zip;
        const int span = 1 + zip % 9;
        for (int i = 0; i < span && lines.size() < 300; ++i) {
            lines.push_back(ken(zip, "町" + std::to_string(i), zip % 5 == 0 ? "1" : "0"));
        }
    }
    return lines;
}

std::string cp932File(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& line : lines) bytes += test::toCp932(line) + "\r\n";
    return bytes;
}

// An unassigned double-byte code in the line's town name.
std::string badlyEncoded(const std::string& line) {
    std::string bytes = test::toCp932(line);
    bytes.insert(bytes.rfind(",0,0,1"), "\x85\x40");
    return bytes;
}

std::string describe(const YubinError& e) {
    return "error " + std::to_string(e.number()) + " line " + std::to_string(e.line()) + ": " +
           e.description();
}

// What the consumer sees, call by call, as the engines drive the reader; the line count
// starts at `lineCount` so that the keys of two readings compare.
std::vector<std::string> traceNational(const std::string& path, const ReadAheadOptions& options,
                                       long long stopAfterLines = -1) {
    constexpr long long kLineCount = 1000;
    lngLineCount = kLineCount;
    std::vector<std::string> trace;
    const auto group = [&](const ZipGroup* handed) {
        if (handed == nullptr) return;
        const ZipRecord g = handed->owned();
        std::string text = "group " + g.key;
        for (const std::string& value : g.row) text += "|" + value;
        text += "|" + g.prefCode + g.prefName + g.prefKana + g.cityCode + g.cityName + g.cityKana;
        trace.push_back(text);
    };
    KenAllReader reader(path, options);
    const auto counts = [&] {
        return std::to_string(reader.lineNumber()) + " " + std::to_string(reader.bytesConsumed()) +
               " " + std::to_string(lngLineCount - kLineCount);
    };
    try {
        while (reader.readLine()) {
            trace.push_back("line " + counts());
            if (reader.lineNumber() == stopAfterLines) return trace;
            group(reader.mergeLine());
        }
        group(reader.finish());
        trace.push_back("end " + counts());
    } catch (const YubinError& e) {
        trace.push_back(describe(e) + " at " + counts());
        // The failure stays: the next call raises it again.
        try {
            reader.readLine();
            trace.push_back("no second error");
        } catch (const YubinError& again) {
            trace.push_back("again " + describe(again));
        }
    }
    return trace;
}

std::vector<std::string> traceOffice(const std::string& path, const ReadAheadOptions& options) {
    std::vector<std::string> trace;
    JigyosyoReader reader(path, options);
    const auto counts = [&] {
        return std::to_string(reader.lineNumber()) + " " + std::to_string(reader.bytesConsumed());
    };
    try {
        while (reader.readLine()) {
            trace.push_back("line " + counts());
            std::string fields;
            for (std::string_view f : reader.splitFields()) fields += std::string(f) + "|";
            trace.push_back(fields);
        }
        trace.push_back("end " + counts());
    } catch (const YubinError& e) {
        trace.push_back(describe(e) + " at " + counts());
    }
    return trace;
}

class ReadAheadNational : public ::testing::Test {
  protected:
    // Each batch size against reading in one thread.
    void expectSameAsOneThread(const std::string& bytes) {
        test::writeBytes(path, bytes);
        const std::vector<std::string> expected = traceNational(path, oneThread());
        for (std::size_t lines : {1, 2, 7, 64, 299, 300, 301}) {
            SCOPED_TRACE("lines per batch " + std::to_string(lines));
            EXPECT_EQ(traceNational(path, worker(lines)), expected);
        }
        // Rings in which a side that waits sleeps until several batches are ready for it.
        for (std::size_t batches : {2, 4, 6, 9}) {
            SCOPED_TRACE("batches " + std::to_string(batches));
            EXPECT_EQ(traceNational(path, worker(3, batches)), expected);
        }
    }

    test::TempDir dir;
    const std::string path = dir.file("ken_all.csv");
    const long long savedLineCount = lngLineCount;
    ~ReadAheadNational() override { lngLineCount = savedLineCount; }
};

TEST_F(ReadAheadNational, GroupsCountsAndKeysAcrossBatchBoundariesAreThoseOfOneThread) {
    const std::vector<std::string> lines = nationalLines();
    test::writeBytes(path, cp932File(lines));
    const std::vector<std::string> expected = traceNational(path, oneThread());
    ASSERT_EQ(expected.back(), "end 300 " + std::to_string(cp932File(lines).size()) + " 300");
    expectSameAsOneThread(cp932File(lines));
    // A last line without a line end, and an empty file.
    std::string unended = cp932File(lines);
    unended.resize(unended.size() - 2);
    expectSameAsOneThread(unended);
    expectSameAsOneThread("");
}

// Town names of thousands of characters, joined over up to five lines: the texts of a group
// that goes on from batch to batch, and that grows while the batch's buffer moves, come out
// whole and in order.
TEST_F(ReadAheadNational, LongTownNamesJoinOverBatchesWhole) {
    std::vector<std::string> lines;
    std::vector<std::string> expected;  // each group's town name
    for (int zip = 1; lines.size() < 60; ++zip) {
        std::string town;
        for (int i = 0; i < 1 + zip % 5; ++i) {
            std::string part = std::to_string(lines.size()) + "丁";
            for (int k = 0; k < 300 * (1 + (zip + i) % 7); ++k) part += "町";
            lines.push_back(ken(zip, part));
            town += part;
        }
        expected.push_back(town);
    }
    test::writeBytes(path, cp932File(lines));
    for (const ReadAheadOptions& options :
         {oneThread(), worker(1), worker(2), worker(3, 2), worker(7), worker(64)}) {
        SCOPED_TRACE("lines per batch " + std::to_string(options.linesPerBatch));
        KenAllReader reader(path, options);
        std::vector<std::string> towns, kana;
        const auto take = [&](const ZipGroup* g) {
            if (g == nullptr) return;
            towns.emplace_back(g->row[4]);
            kana.emplace_back(g->row[3]);
        };
        while (reader.readLine()) take(reader.mergeLine());
        take(reader.finish());
        EXPECT_TRUE(towns == expected);
        ASSERT_EQ(kana.size(), expected.size());
        for (std::size_t g = 0; g < kana.size(); ++g) {
            std::string joined;
            for (int i = 0; i < 1 + static_cast<int>(g + 1) % 5; ++i) joined += "ｶﾅ";
            EXPECT_EQ(kana[g], joined) << "group " << g;
        }
    }
}

TEST_F(ReadAheadNational, AFailureComesAtTheLineWhereOneThreadMeetsIt) {
    const std::vector<std::string> lines = nationalLines();
    const auto upTo = [&](std::size_t end) {
        return cp932File(std::vector<std::string>(lines.begin(), lines.begin() + end));
    };
    for (std::size_t at : {0, 63, 64, 150, 299}) {
        SCOPED_TRACE("bad line " + std::to_string(at + 1));
        const std::string n = std::to_string(at + 1);
        // Too few fields: raised by mergeLine, after the line's own counts were seen; the
        // groups completed before it were handed over.
        std::vector<std::string> shortLine = lines;
        shortLine[at] = "01101,\"060  \",3,4";
        const std::string countsThere =
            n + " " + std::to_string(upTo(at).size() + shortLine[at].size() + 2) + " " + n;
        test::writeBytes(path, cp932File(shortLine));
        const std::vector<std::string> expected = traceNational(path, oneThread());
        ASSERT_GE(expected.size(), 3u);
        EXPECT_EQ(expected.end()[-3], "line " + countsThere);
        EXPECT_EQ(expected.end()[-2].substr(0, 18 + n.size()), "error 20001 line " + n + ":");
        EXPECT_EQ(expected.end()[-2].substr(expected.end()[-2].rfind(" at ")),
                  " at " + countsThere);
        EXPECT_EQ(expected.back().rfind("again error 20001 line " + n + ":", 0), 0u);
        expectSameAsOneThread(cp932File(shortLine));

        // Bytes that are not code page 932: raised by readLine, with the line counted.
        const std::string bad = badlyEncoded(lines[at]);
        const std::string bytes =
            upTo(at) + bad + "\r\n" +
            cp932File(std::vector<std::string>(lines.begin() + at + 1, lines.end()));
        test::writeBytes(path, bytes);
        const std::vector<std::string> encoding = traceNational(path, oneThread());
        ASSERT_GE(encoding.size(), 2u);
        EXPECT_EQ(encoding.end()[-2].substr(encoding.end()[-2].rfind(" at ")),
                  " at " + n + " " + std::to_string(upTo(at).size() + bad.size() + 2) + " " + n);
        expectSameAsOneThread(bytes);
    }
}

TEST_F(ReadAheadNational, AFileCutShortWhileItIsReadFailsAfterTheLinesBeforeTheCut) {
    const std::string bytes = cp932File(nationalLines());
    const auto cutAfterOpening = [&](const ReadAheadOptions& options) {
        test::writeBytes(path, bytes);
        lngLineCount = 1000;
        KenAllReader reader(path, options);
        std::filesystem::resize_file(path, bytes.size() / 2);
        std::vector<std::string> trace;
        try {
            while (reader.readLine()) {
                trace.push_back(std::to_string(reader.lineNumber()));
                if (const ZipGroup* g = reader.mergeLine()) trace.emplace_back(g->key);
            }
        } catch (const YubinError& e) {
            trace.push_back(describe(e));
        }
        return trace;
    };
    const std::vector<std::string> expected = cutAfterOpening(oneThread());
    ASSERT_NE(expected.back().find("error " +
                                   std::to_string(static_cast<int>(ErrorCode::DataFileChanged))),
              std::string::npos)
        << expected.back();
    EXPECT_EQ(cutAfterOpening(worker(16)), expected);
}

TEST_F(ReadAheadNational, AConsumerThatStopsEarlyStopsTheWorker) {
    test::writeBytes(path, cp932File(nationalLines()));
    const auto start = std::chrono::steady_clock::now();
    for (long long stop : {1, 5, 40, 299}) {
        const std::vector<std::string> trace = traceNational(path, worker(4, 3), stop);
        EXPECT_EQ(trace.back().rfind("line " + std::to_string(stop) + " ", 0), 0u) << trace.back();
    }
    {
        KenAllReader unread(path, worker(4, 3));  // never read: no worker started
    }
    {
        KenAllReader reader(path, worker(4, 3));
        ASSERT_TRUE(reader.readLine());
        EXPECT_TRUE(reader.readsAhead());
        // The worker fills the ring and waits for a free slot until the reader goes.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(ReadAheadNational, OnlyAFileOfSomeSizeIsReadOnASecondThread) {
    std::vector<std::string> lines = nationalLines();
    test::writeBytes(path, cp932File(lines));
    KenAllReader small(path);
    ASSERT_TRUE(small.readLine());
    EXPECT_FALSE(small.readsAhead());

    const std::vector<std::string> once = lines;
    while (cp932File(lines).size() < ReadAheadOptions::kThreadFromBytes) {
        lines.insert(lines.end(), once.begin(), once.end());
    }
    test::writeBytes(path, cp932File(lines));
    KenAllReader large(path);
    ASSERT_TRUE(large.readLine());
    EXPECT_TRUE(large.readsAhead());
    EXPECT_EQ(traceNational(path, {}), traceNational(path, oneThread()));
}

// clang-format off
const std::vector<std::string> kRecord = {"01101", "ｶﾌﾞｼｷｶﾞｲｼﾔ ﾎｸﾄ", "株式会社　北都", "北海道",
    "札幌市中央区", "北一条西", "２丁目８－１", "0608621", "060  ", "札幌中央", "0", "0", "0"};
// clang-format on

std::string office(int n, std::size_t fieldCount = 13) {
    std::string line;
    for (std::size_t i = 0; i < fieldCount; ++i) {
        line += (i > 0 ? "," : "") + (i < kRecord.size() ? kRecord[i] : "x") +
                (i == 2 ? std::to_string(n) : "");
    }
    return line;
}

TEST(ReadAheadOffice, FieldsCountsAndFailuresAreThoseOfOneThread) {
    test::TempDir dir;
    const std::string path = dir.file("jigyosyo.csv");
    std::vector<std::string> lines;
    for (int n = 0; n < 200; ++n) lines.push_back(office(n));
    std::vector<std::string> files = {cp932File(lines), ""};
    for (std::size_t at : {0, 99, 100, 199}) {
        std::vector<std::string> bad = lines;
        bad[at] = office(static_cast<int>(at), at % 2 == 0 ? 12 : 14);
        files.push_back(cp932File(bad));
        std::string encoded =
            cp932File(std::vector<std::string>(lines.begin(), lines.begin() + at));
        std::string line = test::toCp932(lines[at]);
        line.insert(line.find(','), "\x85\x40");
        encoded += line + "\r\n" +
                   cp932File(std::vector<std::string>(lines.begin() + at + 1, lines.end()));
        files.push_back(encoded);
    }
    for (std::size_t f = 0; f < files.size(); ++f) {
        SCOPED_TRACE("file " + std::to_string(f));
        test::writeBytes(path, files[f]);
        const std::vector<std::string> expected = traceOffice(path, oneThread());
        if (f >= 2) {
            ASSERT_NE(expected.back().find("error"), std::string::npos) << expected.back();
        }
        for (std::size_t batch : {1, 3, 100, 201}) {
            EXPECT_EQ(traceOffice(path, worker(batch)), expected) << "lines per batch " << batch;
        }
    }
}

// A worker started from a thread that the toolkit's painting left with the AVX mark set (the
// window's thread during a run) reads without it: marked, the SSE code of the reading (the
// packing of each group) runs several times slower.
TEST(ReadAheadWorker, ReadsWithoutTheVectorMarkOfTheThreadThatStartedIt) {
    if (!test::ThreadsStartWithTheMarkOfTheirStarter()) {
        GTEST_SKIP() << "the processor does not tell the mark, or threads do not inherit it";
    }
    struct Batch {
        bool markedWhileFilled = true;
    };
    int filled = 0;
    std::vector<bool> marked;
    {
        ReadAhead<Batch> ahead(3, true, [&](Batch& batch) {
            batch.markedWhileFilled = UpperVectorStateInUse().value_or(true);
            return ++filled < 10;
        });
        ASSERT_TRUE(ahead.threaded());
        for (int i = 0; i < 10; ++i) marked.push_back(ahead.take().markedWhileFilled);
    }
    ClearUpperVectorState();
    EXPECT_EQ(marked, std::vector<bool>(10, false));
}

}  // namespace
}  // namespace yubin::import
