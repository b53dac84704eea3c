#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "changes/ReportRows.h"

namespace yubin::changes::detail {
namespace {

std::vector<std::vector<std::string>> Unpacked(std::string_view packed) {
    std::vector<std::vector<std::string>> rows;
    UnpackRows(packed, [&](const PackedRow& row) { rows.emplace_back(row.begin(), row.end()); });
    return rows;
}

// Rows packed one after another read back as they were: empty fields, fields of the
// separator and of digits, and a field longer than any length of one or two digits.
TEST(PackedRows, ReadBackAsWritten) {
    const std::string longField(12345, 'x');
    const std::vector<std::vector<std::string>> rows = {
        {"1000001", "13101", "千代田", "ﾁﾖﾀﾞ", "", "", "", ""},
        {"", "", "", "", "", "", "", ""},
        {"12:34", "0:", "9", longField, "株式会社", "ｶﾌﾞｼｷｶﾞｲｼｬ", "１丁目", "局"},
    };
    std::string packed = "kept before";
    for (const auto& fields : rows) {
        PackedRow row{};
        for (size_t i = 0; i < row.size(); ++i) row[i] = fields[i];
        PackRow(packed, row);
    }
    ASSERT_EQ(packed.rfind("kept before", 0), 0u);
    EXPECT_EQ(Unpacked(std::string_view(packed).substr(11)), rows);
    // Each field is its length, ':' and its text: nothing else is left in the string.
    size_t expected = 11;
    for (const auto& fields : rows) {
        for (const std::string& field : fields) {
            expected += std::to_string(field.size()).size() + 1 + field.size();
        }
    }
    EXPECT_EQ(packed.size(), expected);
}

TEST(PackedRows, TextCutShortIsDamaged) {
    std::string packed;
    PackRow(packed, PackedRow{"1000001", "13101", "町", "", "", "", "", ""});
    packed.pop_back();
    EXPECT_THROW(Unpacked(packed), YubinError);
}

}  // namespace
}  // namespace yubin::changes::detail
