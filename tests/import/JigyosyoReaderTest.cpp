#include "import/JigyosyoReader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/Error.h"
#include "import/PublishedCounts.h"
#include "support/TestSupport.h"

namespace yubin::import {
namespace {

using Fields = std::vector<std::string>;

// clang-format off
const Fields kRecord = {"01101", "ｶﾌﾞｼｷｶﾞｲｼﾔ ﾎｸﾄ", "株式会社　北都", "北海道", "札幌市中央区", "北一条西",
                        "２丁目８－１", "0608621", "060  ", "札幌中央", "0", "0", "0"};
// clang-format on

// Fields 1 to 9 in quotes, as published, or none at all.
std::string join(const Fields& fields, bool quoted = true) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string q = quoted && i > 0 && i < 10 ? "\"" : "";
        line += (i > 0 ? "," : "") + q + fields[i] + q;
    }
    return line;
}

// Every record's fields, until the end or the first error (then in `error`).
std::vector<Fields> readAll(const std::string& path, std::string* error = nullptr) {
    std::vector<Fields> records;
    try {
        JigyosyoReader reader(path);
        while (reader.readLine()) {
            const auto& views = reader.splitFields();
            EXPECT_EQ(&reader.splitFields(), &views);
            records.emplace_back(views.begin(), views.end());
        }
        EXPECT_EQ(reader.bytesConsumed(), reader.fileLength());
    } catch (const YubinError& e) {
        if (error) *error = std::to_string(e.number()) + " " + e.description();
    }
    return records;
}

TEST(JigyosyoFields, QuotesGoAndTabsAndQuotedCommasSplit) {
    test::TempDir dir;
    std::string tabbed = join(kRecord);
    tabbed.replace(tabbed.find(','), 1, "\t");
    Fields comma = kRecord;
    comma[2] = "北都,本社";
    test::writeCp932Lines(dir.file("j.csv"),
                          {join(kRecord), join(kRecord, false), tabbed, join(comma)});
    std::string error;
    const auto records = readAll(dir.file("j.csv"), &error);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], kRecord);
    EXPECT_EQ(records[1], kRecord);
    EXPECT_EQ(records[2], kRecord);
    // The comma between quotes splits: a 14th field is an error, never cut off unseen.
    EXPECT_EQ(error, "20001 ファイル " + dir.file("j.csv") +
                         " の 4 行目: 項目が 13 個より多くあります（14 個）。");
}

TEST(JigyosyoErrors, AShortLineNamesFileAndLine) {
    test::TempDir dir;
    const std::string path = dir.file("jigyosyo.csv");
    test::writeCp932Lines(path, {join(kRecord), join(Fields(kRecord.begin(), kRecord.end() - 1))});
    std::string error;
    EXPECT_EQ(readAll(path, &error).size(), 1u);
    EXPECT_EQ(error, "20001 ファイル " + path + " の 2 行目: 項目が 13 個に足りません（12 個）。");

    // Commas and tabs both count, however many there are.
    test::writeCp932Lines(path, {join(kRecord) + "\t\t,a,b\tc,d,e,f\tg,h,i,j,k,l"});
    EXPECT_TRUE(readAll(path, &error).empty());
    EXPECT_EQ(error,
              "20001 ファイル " + path + " の 1 行目: 項目が 13 個より多くあります（27 個）。");
}

TEST(JigyosyoPublishedSlow, ReadsTheWholeFile) {
    const std::string path = test::sharedDataFile("JIGYOSYO.CSV");
    if (path.empty()) GTEST_SKIP() << "JIGYOSYO.CSV is not available";
    const auto records = readAll(path);
    const test::PublishedCounts expected = test::countPublished("", path);
    EXPECT_EQ(static_cast<long long>(records.size()), expected.officeRecords);
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [](const Fields& f) { return f.size() == 13 && f[7].size() == 7; }),
              expected.wellFormedOfficeRecords);
    EXPECT_EQ(expected.wellFormedOfficeRecords, expected.officeRecords);
}

}  // namespace
}  // namespace yubin::import
