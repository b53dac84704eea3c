#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "changes/ChangeDiff.h"

namespace yubin::changes {
namespace {

RowValues Row(const std::string& city, const std::string& town) {
    RowValues row;
    row[0] = city;
    row[5] = town;
    return row;
}

using Rows = std::vector<std::pair<std::string, RowValues>>;

CodeDigests Side(const Rows& rows) {
    CodeDigests side;
    for (const auto& [code, row] : rows) side.add(code, row);
    side.finish();
    return side;
}

std::vector<std::pair<std::string, Change>> Compare(const Rows& before, const Rows& after,
                                                    ChangeCounts* counts = nullptr) {
    ChangeCounts c;
    std::vector<std::pair<std::string, Change>> seen;
    for (const CodeChange& change : CompareDigests(Side(before), Side(after), c)) {
        // The keys of seven-digit codes are the codes' bytes.
        std::string code;
        for (int shift = 56; shift > 0; shift -= 8) {
            code += static_cast<char>((change.key >> shift) & 0xff);
        }
        seen.emplace_back(code, change.change);
    }
    if (counts) *counts = c;
    return seen;
}

TEST(ChangeDiffTest, AddedRemovedAndChangedCodesInCodeOrderWhateverTheRowOrder) {
    ChangeCounts counts;
    const auto seen = Compare({{"0640942", Row("01101", "宮の森（一二）")},
                               {"0600003", Row("01101", "北三条西")},
                               {"0600001", Row("01101", "北一条西")},
                               {"0600002", Row("01101", "北二条西")},
                               {"0600005", Row("01101", "北五条西")}},
                              {{"0990000", Row("01999", "町")},
                               {"0600000", Row("01101", "以下に掲載がない場合")},
                               {"0600001", Row("01101", "北一条西２")},
                               {"0640942", Row("01101", "宮の森（一")},
                               {"0600005", Row("01101", "北五条西")},
                               {"0600003", Row("01102", "北三条西")},
                               {"0640942", Row("01101", "二）")}},
                              &counts);
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, Change>>{{"0600000", Change::Added},
                                                                 {"0600001", Change::Changed},
                                                                 {"0600002", Change::Removed},
                                                                 {"0600003", Change::Changed},
                                                                 {"0640942", Change::Changed},
                                                                 {"0990000", Change::Added}}));
    EXPECT_EQ(counts, (ChangeCounts{2, 1, 3}));
}

TEST(ChangeDiffTest, RowsOfACodeAreASetOrderAndRepeatsDoNotCount) {
    ChangeCounts counts;
    EXPECT_TRUE(Compare({{"1000001", Row("13101", "丸の内")}, {"1000001", Row("13101", "大手町")}},
                        {{"1000001", Row("13101", "大手町")},
                         {"1000001", Row("13101", "丸の内")},
                         {"1000001", Row("13101", "丸の内")}},
                        &counts)
                    .empty());
    EXPECT_EQ(counts, (ChangeCounts{}));
    // A row that moves from one code to another changes both; one side empty: everything is
    // added, or everything removed.
    EXPECT_EQ(Compare({{"1", Row("a", "b")}, {"2", Row("a", "c")}},
                      {{"1", Row("a", "c")}, {"2", Row("a", "b")}})
                  .size(),
              2u);
    EXPECT_EQ(Compare({}, {{"1", Row("a", "b")}, {"2", Row("a", "c")}}).size(), 2u);
    Compare({{"1", Row("a", "b")}}, {}, &counts);
    EXPECT_EQ(counts, (ChangeCounts{0, 1, 0}));
}

// Repeats far apart among the rows of their code and of other codes: each code's rows count
// once each, as the distinct rows in another order do.
TEST(ChangeDiffTest, RepeatsAnywhereAmongTheRowsCountOnce) {
    EXPECT_TRUE(Compare({{"1000001", Row("13101", "a")},
                         {"1000001", Row("13101", "b")},
                         {"1000001", Row("13101", "c")},
                         {"1000001", Row("13101", "a")},
                         {"1000001", Row("13101", "b")},
                         {"1000001", Row("13101", "c")}},
                        {{"1000001", Row("13101", "c")},
                         {"1000001", Row("13101", "b")},
                         {"1000001", Row("13101", "a")}})
                    .empty());
    std::mt19937 random(3);
    Rows rows, distinct;
    for (int code = 0; code < 60; ++code) {
        const int kinds = 1 + code % 7;
        for (int kind = 0; kind < kinds; ++kind) {
            const RowValues row = Row("13101", "町" + std::to_string(kind));
            distinct.emplace_back("1" + std::to_string(100000 + code), row);
            for (int repeat = 0; repeat <= kind % 3; ++repeat) {
                rows.emplace_back("1" + std::to_string(100000 + code), row);
            }
        }
    }
    std::shuffle(rows.begin(), rows.end(), random);
    std::shuffle(distinct.begin(), distinct.end(), random);
    EXPECT_TRUE(Compare(rows, distinct).empty());
    // One row more of one code changes that code only.
    distinct.emplace_back("1100007", Row("13101", "新町"));
    EXPECT_EQ(Compare(rows, distinct),
              (std::vector<std::pair<std::string, Change>>{{"1100007", Change::Changed}}));
}

TEST(ChangeDiffTest, FieldBordersAndCodeKeysKeepDifferentTextsApart) {
    RowValues a, b;
    a[5] = "ab";
    b[5] = "a";
    b[6] = "b";
    EXPECT_NE(RowDigest(a), RowDigest(b));
    EXPECT_LT(CodeKey("0600001"), CodeKey("0600002"));
    EXPECT_LT(CodeKey("060000"), CodeKey("0600000"));
    EXPECT_NE(CodeKey("12345678"), CodeKey("1234567"));
    EXPECT_NE(CodeKey("123456789"), CodeKey("123456780"));
}

// Every byte of a field of any length counts: a field read in pieces (short ones in
// overlapping words, long ones sixteen bytes at a time and their tail) must leave none out.
// Rows that differ in one byte, or in the place of a border between fields, never share a
// digest.
TEST(ChangeDiffTest, EveryByteOfEveryFieldLengthChangesTheDigest) {
    std::vector<std::uint64_t> digests;
    for (size_t length = 0; length <= 70; ++length) {
        for (size_t field : {0u, 6u, 10u}) {
            RowValues row;
            row[field] = std::string(length, 'a');
            if (length > 0 || field == 0) digests.push_back(RowDigest(row));  // one empty row
            for (size_t at = 0; at < length; ++at) {
                RowValues changed = row;
                changed[field][at] = 'b';
                digests.push_back(RowDigest(changed));
            }
            // The same bytes with the field's last byte moved into the next field.
            if (length > 0 && field < kRowFieldCount - 1) {
                RowValues moved = row;
                moved[field].pop_back();
                moved[field + 1] = "a";
                digests.push_back(RowDigest(moved));
            }
        }
    }
    RowValues empty;
    EXPECT_EQ(RowDigest(empty), RowDigest(RowValues{}));
    const size_t count = digests.size();
    std::sort(digests.begin(), digests.end());
    EXPECT_EQ(std::unique(digests.begin(), digests.end()) - digests.begin(),
              static_cast<std::ptrdiff_t>(count));
}

// The entries sorted by SortEntries are those std::sort puts in order of key and digest.
void ExpectSortedAsByComparison(std::vector<CodeDigests::Entry> entries) {
    std::vector<CodeDigests::Entry> expected = entries;
    std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
        return a.key != b.key ? a.key < b.key : a.digest < b.digest;
    });
    SortEntries(entries.data(), entries.data() + entries.size());
    ASSERT_EQ(entries.size(), expected.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        ASSERT_EQ(entries[i].key, expected[i].key) << "at " << i << " of " << entries.size();
        ASSERT_EQ(entries[i].digest, expected[i].digest) << "at " << i << " of " << entries.size();
    }
}

std::string DigitCode(std::mt19937_64& random, size_t length) {
    std::string code;
    for (size_t i = 0; i < length; ++i) code += static_cast<char>('0' + random() % 10);
    return code;
}

TEST(ChangeDiffTest, NamesMixedOnceMakeTheRowsDigest) {
    RowValues row = Row("01101", "town");
    row[1] = "pref";
    row[3] = "city";
    RowView view;
    for (size_t i = 0; i < kRowFieldCount; ++i) view[i] = row[i];
    const std::uint64_t names = NamesDigest(row[1], row[2], row[3], row[4]);
    EXPECT_EQ(CombineMixed(OwnFieldsDigest(view), MixedNames(names)), RowDigest(row));
    EXPECT_NE(CombineMixed(OwnFieldsDigest(view), names), RowDigest(row));
}

TEST(SortEntriesTest, EmptyAndOneEntry) {
    ExpectSortedAsByComparison({});
    ExpectSortedAsByComparison({{42, 7}});
    CodeDigests::Entry one{5, 6};
    SortEntries(&one, &one);  // an empty range in place
    EXPECT_EQ(one.key, 5u);
    SortEntries(&one, &one + 1);
    EXPECT_EQ(one.digest, 6u);
}

TEST(SortEntriesTest, RandomKeysOfEverySizeAroundTheRadixPasses) {
    std::mt19937_64 random(7);
    for (size_t size : {2u, 3u, 63u, 64u, 65u, 200u, 1000u, 20000u}) {
        std::vector<CodeDigests::Entry> entries(size);
        for (auto& e : entries) e = {random(), random()};
        ExpectSortedAsByComparison(entries);
        // Keys that differ in a few bits of a few bytes only, the others shared: the bytes
        // passed over must not be taken for equal keys.
        for (std::uint64_t mask :
             {0x0100000000000001ull, 0xff000000000000ffull, 0x0000ff0000ff0000ull,
              0x0f000000000000f0ull, 0x8000000000000000ull, 0x1ull}) {
            for (auto& e : entries) e = {0x3030303030303000ull ^ (random() & mask), random() % 4};
            ExpectSortedAsByComparison(entries);
        }
    }
}

TEST(SortEntriesTest, PostalCodesAmongLongCodeHashes) {
    std::mt19937_64 random(11);
    std::vector<CodeDigests::Entry> entries;
    for (size_t i = 0; i < 30000; ++i) {
        // Mostly seven digits, some shorter, some longer (hashed): keys of every byte value.
        const size_t length = i % 10 == 0 ? 8 + random() % 5 : i % 17 == 0 ? random() % 7 : 7;
        entries.push_back({CodeKey(DigitCode(random, length)), random() % 3});
    }
    // Codes that share their leading digits, as the codes of one area do, more than a bucket
    // of the first pass sorts through a copy.
    for (size_t i = 0; i < 6000; ++i) {
        entries.push_back({CodeKey("0600" + DigitCode(random, 3)), random()});
    }
    ExpectSortedAsByComparison(entries);
    // Only codes of decimal digits, and of digits and letters.
    entries.clear();
    for (size_t i = 0; i < 30000; ++i) {
        entries.push_back({CodeKey(DigitCode(random, 1 + random() % 7)), random() % 3});
    }
    ExpectSortedAsByComparison(entries);
    for (auto& e : entries) e.key ^= (random() % 2) << (8 * (random() % 8) + 4 + random() % 4);
    ExpectSortedAsByComparison(entries);
}

TEST(SortEntriesTest, ManyEqualKeysAndRepeatedEntries) {
    std::mt19937_64 random(13);
    std::vector<CodeDigests::Entry> entries;
    for (size_t i = 0; i < 5000; ++i) entries.push_back({CodeKey("1000001"), random()});
    for (size_t i = 0; i < 5000; ++i) entries.push_back({CodeKey("1000002"), random() % 50});
    for (size_t i = 0; i < 300; ++i) entries.push_back({CodeKey("9999999"), 1});
    std::shuffle(entries.begin(), entries.end(), random);
    ExpectSortedAsByComparison(entries);
    // All of one key: nothing to sort on but the digests.
    std::vector<CodeDigests::Entry> one(1000, {CodeKey("1000001"), 0});
    for (auto& e : one) e.digest = random() % 100;
    ExpectSortedAsByComparison(one);
}

TEST(SortEntriesTest, FinishedCodesSumEachCodesDistinctRowsOnce) {
    std::mt19937_64 random(17);
    std::vector<CodeDigests::Entry> rows;
    for (size_t i = 0; i < 20000; ++i) {
        rows.push_back({CodeKey(DigitCode(random, 3)), 1 + random() % 8});
    }
    CodeDigests digests(rows);
    digests.finish();
    std::map<std::uint64_t, std::set<std::uint64_t>> codes;
    for (const auto& row : rows) codes[row.key].insert(row.digest);
    ASSERT_EQ(digests.codeCount(), codes.size());
    EXPECT_EQ(digests.rowCount(), rows.size());
    auto code = codes.begin();
    for (const auto& entry : digests.entries()) {
        EXPECT_EQ(entry.key, code->first);
        std::uint64_t sum = 0;
        for (std::uint64_t digest : code->second) sum += digest;
        EXPECT_EQ(entry.digest, sum);
        ++code;
    }
}

}  // namespace
}  // namespace yubin::changes
