#include <gtest/gtest.h>

#include <random>
#include <set>

#include "changes/ChangeDiff.h"
#include "changes/KeptRowIndex.h"

namespace yubin::changes {
namespace {

// Two codes of other characters whose short hashes are the same.
constexpr const char* kSameHashA = "BQV3C8R";
constexpr const char* kSameHashB = "T8O7QNW";

std::vector<CodeChange> Changes(const std::vector<std::string>& codes) {
    std::vector<CodeChange> changes;
    for (const std::string& code : codes) changes.push_back({CodeKey(code), Change::Changed});
    std::sort(changes.begin(), changes.end(),
              [](const CodeChange& a, const CodeChange& b) { return a.key < b.key; });
    return changes;
}

using Places = std::vector<std::pair<long long, std::vector<std::uint32_t>>>;

Places Wanted(const KeptRowIndex& index, const std::vector<std::string>& codes) {
    Places places;
    for (const auto& rows : index.rowsOf(Changes(codes)))
        places.emplace_back(rows.rowid, rows.places);
    return places;
}

TEST(KeptRowIndexTest, PackedRowsHoldingTheCodesWithThePlacesOfTheirRowsInOrder) {
    KeptRowIndex index;
    // Packed row 3: codes 1 2 1; row 7: 3 4; row 8: 1 5 5.
    for (const auto& [rowid, codes] : std::vector<std::pair<long long, std::vector<std::string>>>{
             {3, {"0000001", "0000002", "0000001"}},
             {7, {"0000003", "0000004"}},
             {8, {"0000001", "0000005", "0000005"}}}) {
        index.beginPackedRow(rowid);
        std::uint32_t offset = 0;
        for (const std::string& code : codes) index.add(CodeKey(code), offset += 9);
    }
    EXPECT_EQ(index.rowCount(), 8u);
    EXPECT_EQ(index.packedRowCount(), 3u);
    EXPECT_TRUE(index.whole());
    EXPECT_EQ(Wanted(index, {"0000001"}), (Places{{3, {0, 2}}, {8, {0}}}));
    EXPECT_EQ(Wanted(index, {"0000005", "0000004"}), (Places{{7, {1}}, {8, {1, 2}}}));
    EXPECT_EQ(Wanted(index, {"0000002", "0000003"}), (Places{{3, {1}}, {7, {0}}}));
    EXPECT_EQ(Wanted(index, {"0000009"}), Places{});
    EXPECT_EQ(Wanted(index, {}), Places{});
    index.addUnplaced();
    EXPECT_FALSE(index.whole());
}

// The places where the rows of every kMarkEvery-th place begin, for each packed row read back.
TEST(KeptRowIndexTest, MarksOfEachPackedRowGoWithIt) {
    constexpr std::uint32_t every = KeptRowIndex::kMarkEvery;
    KeptRowIndex index;
    index.beginPackedRow(1);
    for (std::uint32_t place = 0; place < 2 * every + 1; ++place) {
        index.add(CodeKey("0000" + std::to_string(100 + place % 3)), place * 10);
    }
    index.beginPackedRow(2);
    for (std::uint32_t place = 0; place < every; ++place) {
        index.add(CodeKey("0000200"), 7 + place * 10);
    }
    index.beginPackedRow(4);
    index.add(CodeKey("0000300"), 0);
    const std::vector<KeptRowIndex::Wanted> wanted = index.rowsOf(Changes({"0000101", "0000200"}));
    ASSERT_EQ(wanted.size(), 2u);
    EXPECT_EQ(wanted[0].rowid, 1);
    EXPECT_EQ(wanted[0].marks, (std::vector<std::uint32_t>{0, every * 10, 2 * every * 10}));
    EXPECT_EQ(wanted[0].places.size(), 22u);  // 1, 4, ... 64
    EXPECT_EQ(wanted[1].rowid, 2);
    EXPECT_EQ(wanted[1].marks, std::vector<std::uint32_t>{7});
    EXPECT_EQ(wanted[1].places.size(), every);
    EXPECT_EQ(index.rowsOf(Changes({"0000300"}))[0].marks, std::vector<std::uint32_t>{0});
}

// A code whose short hash another code shares points to that code's rows as well: the reader
// checks the codes.
TEST(KeptRowIndexTest, CodeOfTheSameShortHashIsPointedToAsWell) {
    ASSERT_NE(CodeKey(kSameHashA), CodeKey(kSameHashB));
    ASSERT_EQ(ShortKeyHash(CodeKey(kSameHashA)), ShortKeyHash(CodeKey(kSameHashB)));
    KeptRowIndex index;
    index.beginPackedRow(1);
    index.add(CodeKey("0000001"), 0);
    index.add(CodeKey(kSameHashB), 40);
    index.beginPackedRow(2);
    index.add(CodeKey(kSameHashA), 0);
    EXPECT_EQ(Wanted(index, {kSameHashA}), (Places{{1, {1}}, {2, {0}}}));
}

// The bitmap before the search turns away no hash that is there, and lets through none that
// is not, whichever bits the hashes share.
TEST(KeptRowIndexTest, ShortHashesContainExactlyTheChangedCodes) {
    std::mt19937 random(5);
    std::vector<std::string> codes;
    for (int i = 0; i < 600; ++i) codes.push_back(std::to_string(1000000 + random() % 9000000));
    const std::vector<CodeChange> changes = Changes(codes);
    const ShortKeyHashes hashes(changes);
    std::set<std::uint32_t> expected;
    for (const CodeChange& change : changes) expected.insert(ShortKeyHash(change.key));
    for (const std::uint32_t hash : expected) EXPECT_TRUE(hashes.contains(hash));
    // Neighbours in every bit: the same upper half, the same lower half, one bit away.
    for (const std::uint32_t hash : expected) {
        for (int bit = 0; bit < 32; ++bit) {
            const std::uint32_t other = hash ^ (std::uint32_t{1} << bit);
            EXPECT_EQ(hashes.contains(other), expected.count(other) == 1) << other;
        }
    }
    for (int i = 0; i < 100000; ++i) {
        const std::uint32_t other = static_cast<std::uint32_t>(random());
        ASSERT_EQ(hashes.contains(other), expected.count(other) == 1) << other;
    }
    EXPECT_TRUE(ShortKeyHashes({}).empty());
    EXPECT_FALSE(ShortKeyHashes({}).contains(ShortKeyHash(CodeKey("0000001"))));
}

}  // namespace
}  // namespace yubin::changes
