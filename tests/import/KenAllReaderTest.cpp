#include "import/KenAllReader.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <tuple>

#include "base/Error.h"
#include "import/PublishedCounts.h"
#include "support/TestSupport.h"

namespace yubin::import {
namespace {

// A line as published, with quoted text fields; `flags` are fields 9 to 11.
std::string ken(const std::string& zip, const std::string& kana, const std::string& town,
                const std::string& f12 = "0", const std::string& flags = "0,0,1",
                const std::string& old = "060  ", const std::string& city = "01101") {
    return city + ",\"" + old + "\",\"" + zip + "\",\"ﾎｯｶｲﾄﾞｳ\",\"ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ\",\"" + kana +
           "\",\"北海道\",\"札幌市中央区\",\"" + town + "\"," + flags + "," + f12 + ",0,0";
}

struct Result {
    std::vector<ZipRecord> groups;  // copies of the groups handed over, in order
    std::optional<YubinError> error;
};

// Drives the reader as the import engine does, until the end or the first error.
Result readFile(const std::string& path) {
    Result r;
    try {
        KenAllReader reader(path);
        while (reader.readLine()) {
            if (const ZipGroup* g = reader.mergeLine()) r.groups.push_back(g->owned());
        }
        if (const ZipGroup* g = reader.finish()) r.groups.push_back(g->owned());
        EXPECT_EQ(reader.finish(), nullptr);
    } catch (const YubinError& e) {
        r.error = e;
    }
    return r;
}

Result readLines(const std::vector<std::string>& lines) {
    test::TempDir dir;
    test::writeCp932Lines(dir.file("ken_all.csv"), lines);
    return readFile(dir.file("ken_all.csv"));
}

std::vector<std::string> towns(const Result& r) {
    std::vector<std::string> t;
    for (const auto& g : r.groups) t.push_back(g.row[4]);
    return t;
}

using Towns = std::vector<std::string>;

TEST(KenAllGrouping, ContinuationLinesJoinTownNamesInOrderAndKeepTheFirstLinesValues) {
    const Result r = readLines({ken("0640820", "ｵｵﾄﾞｵﾘﾆｼ(20-", "大通西（２０～", "0", "1,0,1"),
                                ken("0640820", "28", "２８", "0", "0,1,0", "999  ", "01102"),
                                ken("0640820", "ﾁｮｳﾒ)", "丁目）"), ken("0640821", "ｱ", "甲"),
                                ken("0640820", "ｲ", "乙")});
    ASSERT_FALSE(r.error);
    ASSERT_EQ(r.groups.size(), 3u);  // equal codes that are not adjacent never merge
    const ZipRecord& g = r.groups[0];
    EXPECT_EQ(g.key, "0640820");
    EXPECT_EQ(g.row, (std::array<std::string, 11>{"01101", "060  ", "0640820",
                                                  "ｵｵﾄﾞｵﾘﾆｼ(20-28ﾁｮｳﾒ)", "大通西（２０～２８丁目）",
                                                  "1", "0", "1", "0", "0", "0"}));
    EXPECT_EQ(std::tie(g.prefCode, g.prefName, g.prefKana, g.cityCode, g.cityName, g.cityKana),
              std::tie("01", "北海道", "ﾎｯｶｲﾄﾞｳ", "01101", "札幌市中央区", "ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ"));
    EXPECT_EQ(towns(r), (Towns{"大通西（２０～２８丁目）", "甲", "乙"}));
}

TEST(KenAllGrouping, AFieldTwelveOfOneKeepsTheLineApartByTheProgramWideLineCounter) {
    const long long before = lngLineCount;
    const Result r = readLines({ken("0600001", "", "甲", "1"), ken("0600001", "", "乙", "1"),
                                ken("0600001", "", "丙"), ken("0600001", "", "丁")});
    EXPECT_EQ(towns(r), (Towns{"甲", "乙", "丙丁"}));
    ASSERT_EQ(r.groups.size(), 3u);
    EXPECT_EQ(r.groups[0].key, "0600001" + std::to_string(before + 1));
    EXPECT_EQ(r.groups[1].key, "0600001" + std::to_string(before + 2));
    EXPECT_EQ(r.groups[2].key, "0600001");
    // A later file goes on counting.
    const Result again = readLines({ken("0600001", "", "甲", "1")});
    ASSERT_EQ(again.groups.size(), 1u);
    EXPECT_EQ(again.groups[0].key, "0600001" + std::to_string(before + 5));
}

// The key of a line kept apart is its postal code and the counter as one text: a line whose
// postal code reads as that text continues the group, whichever of the two came first.
TEST(KenAllGrouping, AKeyMadeUniqueComparesAsOneText) {
    const long long before = lngLineCount;
    lngLineCount = 0;
    const Result r = readLines({ken("06000011", "ｱ", "甲", "1"), ken("060000111", "ｲ", "乙"),
                                ken("06000014", "ｳ", "丙"), ken("0600001", "ｴ", "丁", "1"),
                                ken("0600001", "ｵ", "戊", "1"), ken("0600001", "ｶ", "己")});
    lngLineCount = before + 6;
    ASSERT_FALSE(r.error);
    EXPECT_EQ(towns(r), (Towns{"甲乙", "丙丁", "戊", "己"}));
    ASSERT_EQ(r.groups.size(), 4u);
    EXPECT_EQ(r.groups[0].key, "060000111");
    EXPECT_EQ(r.groups[0].row[3], "ｱｲ");
    EXPECT_EQ(r.groups[0].row[8], "1");  // the first line's field 12
    EXPECT_EQ(r.groups[1].key, "06000014");
    EXPECT_EQ(r.groups[1].row[3], "ｳｴ");
    EXPECT_EQ(r.groups[1].row[2], "06000014");
    EXPECT_EQ(r.groups[2].key, "06000015");
    EXPECT_EQ(r.groups[3].key, "0600001");
}

TEST(KenAllFields, QuotesGoCommasAlwaysSplitSpacesStayAndExtraFieldsAreAnError) {
    Result r = readLines(
        {ken("0600001", "", "大\"通\"西", "0", "0,0,1", "06   "), ken("0600002", "", "大通西")});
    ASSERT_EQ(r.groups.size(), 2u);
    EXPECT_EQ(r.groups[0].row[1], "06   ");
    EXPECT_EQ(r.groups[0].row[4], "大通西");

    // A comma inside a name, or fields added at the end, would move or cut values unseen.
    r = readLines({ken("0600001", "", "町"), ken("0600002", "", "大通,西")});
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->code(), ErrorCode::BadInputLine);
    EXPECT_EQ(r.error->line(), 2);
    EXPECT_NE(r.error->description().find("項目が 15 個より多くあります（16 個）"),
              std::string::npos)
        << r.error->description();
    r = readLines({ken("0600003", "", "") + ",9,x"});
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->line(), 1);
    // However many there are, the count is told right.
    r = readLines({ken("0600003", "", "", "0", "0,0,1,2,3,4,5,6,7,8,9,0,1")});
    ASSERT_TRUE(r.error);
    EXPECT_NE(r.error->description().find("（25 個）"), std::string::npos)
        << r.error->description();
}

TEST(KenAllFile, AnEmptyFileGivesNoGroup) {
    const Result r = readLines({});
    EXPECT_FALSE(r.error);
    EXPECT_TRUE(r.groups.empty());
}

TEST(KenAllErrors, BadLinesStopWithFileAndLineAndLeaveWhatWasHandedOverIntact) {
    test::TempDir dir;
    const std::string path = dir.file("ken_all.csv");
    const std::string a = ken("0600001", "", "甲"), a2 = ken("0600001", "", "乙");
    test::writeCp932Lines(path, {a, a2, ken("0600002", "", "丙"), "01101,\"060  \",3,4,5,6,7,8,9"});
    Result r = readFile(path);
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->code(), ErrorCode::BadInputLine);
    EXPECT_EQ(r.error->description(),
              "ファイル " + path + " の 4 行目: 項目が 15 個に足りません（9 個）。");
    EXPECT_EQ(towns(r), (Towns{"甲乙"}));

    test::writeBytes(path, test::toCp932(a) + "\r\n\r\n");  // an empty last line
    r = readFile(path);
    ASSERT_TRUE(r.error);
    EXPECT_NE(r.error->description().find("の 2 行目: 項目が 15 個に足りません（1 個）"),
              std::string::npos);

    std::string bad = test::toCp932(a2);
    bad.insert(bad.find('\xCE'), "\x85\x40");  // an unassigned code before ﾎｯｶｲﾄﾞｳ
    test::writeBytes(path, test::toCp932(a) + "\r\n" + bad + "\r\n");
    r = readFile(path);
    ASSERT_TRUE(r.error);
    EXPECT_EQ(r.error->code(), ErrorCode::BadEncoding);
    EXPECT_NE(r.error->description().find(path + " の 2 行目: 26 バイト目 (0x85)"),
              std::string::npos)
        << r.error->description();
}

TEST(KenAllPublishedSlow, ReadsAndGroupsTheWholeFile) {
    const std::string path = test::sharedDataFile("KEN_ALL.CSV");
    if (path.empty()) GTEST_SKIP() << "KEN_ALL.CSV is not available";
    KenAllReader reader(path);
    long long groups = 0;
    std::set<std::string> prefectures, cities;
    const auto take = [&](const ZipGroup* g) {
        if (!g) return;
        ++groups;
        prefectures.emplace(g->prefCode);
        cities.emplace(g->cityCode);
    };
    while (reader.readLine()) take(reader.mergeLine());
    take(reader.finish());
    const test::PublishedCounts expected = test::countPublished(path, "");
    EXPECT_EQ(reader.lineNumber(), expected.nationalLines);
    EXPECT_EQ(groups, expected.nationalGroups);
    EXPECT_EQ(prefectures, expected.prefectures);
    EXPECT_EQ(prefectures.size(), 47u);
    EXPECT_EQ(cities, expected.municipalities);
    EXPECT_EQ(reader.bytesConsumed(), reader.fileLength());
}

}  // namespace
}  // namespace yubin::import
