#include <gtest/gtest.h>

#include "base/Error.h"
#include "changes/ChangeDiff.h"

namespace yubin::changes {
namespace {

RowValues Row(const std::string& city, const std::string& town) {
    RowValues row;
    row[0] = city;
    row[5] = town;
    return row;
}

struct Seen {
    Change change;
    std::string code;
    size_t before, after;
    friend bool operator==(const Seen&, const Seen&) = default;
};

std::vector<Seen> Compare(std::vector<CodeRows> before, std::vector<CodeRows> after,
                          ChangeCounts* counts = nullptr) {
    VectorCodeSource old(std::move(before)), now(std::move(after));
    std::vector<Seen> seen;
    const ChangeCounts c =
        CompareCodes(old, now, [&](Change change, const CodeRows& b, const CodeRows& a) {
            EXPECT_EQ(b.code, a.code);
            seen.push_back({change, b.code, b.rows.size(), a.rows.size()});
        });
    if (counts) *counts = c;
    return seen;
}

TEST(ChangeDiffTest, AddedRemovedAndChangedCodesInCodeOrderWithTheirRows) {
    ChangeCounts counts;
    const auto seen = Compare({{"0600001", {Row("01101", "北一条西")}},
                               {"0600002", {Row("01101", "北二条西")}},
                               {"0600003", {Row("01101", "北三条西")}},
                               {"0640942", {Row("01101", "宮の森（一二）")}}},
                              {{"0600000", {Row("01101", "以下に掲載がない場合")}},
                               {"0600001", {Row("01101", "北一条西２")}},
                               {"0600003", {Row("01102", "北三条西")}},
                               {"0640942", {Row("01101", "宮の森（一"), Row("01101", "二）")}},
                               {"0990000", {Row("01999", "町")}}},
                              &counts);
    EXPECT_EQ(seen, (std::vector<Seen>{{Change::Added, "0600000", 0, 1},
                                       {Change::Changed, "0600001", 1, 1},
                                       {Change::Removed, "0600002", 1, 0},
                                       {Change::Changed, "0600003", 1, 1},
                                       {Change::Changed, "0640942", 1, 2},
                                       {Change::Added, "0990000", 0, 1}}));
    EXPECT_EQ(counts, (ChangeCounts{2, 1, 3}));
}

TEST(ChangeDiffTest, RowsOfACodeAreASetOrderAndRepeatsDoNotCount) {
    ChangeCounts counts;
    EXPECT_TRUE(
        Compare(
            {{"1000001", {Row("13101", "丸の内"), Row("13101", "大手町")}}},
            {{"1000001", {Row("13101", "大手町"), Row("13101", "丸の内"), Row("13101", "丸の内")}}},
            &counts)
            .empty());
    EXPECT_EQ(counts, (ChangeCounts{}));
    // One side empty: everything is added, or everything removed.
    EXPECT_EQ(Compare({}, {{"1", {Row("a", "b")}}, {"2", {Row("a", "c")}}}).size(), 2u);
    Compare({{"1", {Row("a", "b")}}}, {}, &counts);
    EXPECT_EQ(counts, (ChangeCounts{0, 1, 0}));
}

// A source that gives its codes as they come, unsorted.
class RawSource : public CodeSource {
  public:
    explicit RawSource(std::vector<std::string> codes) : codes_(std::move(codes)) {}
    bool next(CodeRows& out) override {
        if (at_ >= codes_.size()) return false;
        out.code = codes_[at_++];
        out.rows = {Row("x", "y")};
        return true;
    }

  private:
    std::vector<std::string> codes_;
    size_t at_ = 0;
};

TEST(ChangeDiffTest, CodesOutOfOrderAreRefusedNotReportedAsAddedAndRemoved) {
    for (const auto& codes : {std::vector<std::string>{"2", "1"}, {"1", "1"}}) {
        RawSource before(codes);
        RawSource after({"1", "2"});
        try {
            CompareCodes(before, after, [](Change, const CodeRows&, const CodeRows&) {});
            FAIL() << "not refused";
        } catch (const YubinError& error) {
            EXPECT_EQ(error.code(), ErrorCode::InvalidArgument);
        }
    }
}

}  // namespace
}  // namespace yubin::changes
