// The rows an import appended, reduced for the change report: the count of their distinct
// codes, which a first import reports as added.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>
#include <string>

#include "changes/AppendedRows.h"

namespace yubin {
namespace {

using changes::AppendedRows;
using changes::DataSet;

std::string Code(unsigned number) {
    char text[8];
    std::snprintf(text, sizeof text, "%07u", number);
    return text;
}

// Codes repeated and out of order, as the national data lists them (by municipality, with a
// code on several lines), in both reductions and in sizes on either side of the sort's switch
// from a comparison sort to the radix one.
TEST(AppendedRowsTest, CountsEachDistinctCodeOnce) {
    std::mt19937 random(17);
    for (const AppendedRows::Reduction reduction :
         {AppendedRows::Reduction::CodesOnly, AppendedRows::Reduction::ForComparison}) {
        for (const unsigned rows : {0u, 1u, 5u, 63u, 64u, 65u, 3000u, 40000u}) {
            AppendedRows appended(DataSet::National, reduction);
            std::set<std::string> codes;
            for (unsigned i = 0; i < rows; ++i) {
                // Codes spread over the whole range, a few of them often repeated.
                const std::string code = Code(i % 7 == 0 ? 1000000 + i % 5 : random() % 10000000);
                const std::string municipality = "0" + std::to_string(1100 + i / 50);
                const std::string town = "町" + std::to_string(i % 13);
                AppendedRows::Texts texts{};
                texts[0] = code;
                texts[1] = municipality;
                texts[2] = town;
                appended.add(texts, 1000 + i);
                codes.insert(code);
            }
            EXPECT_EQ(appended.takeCodeCount(), static_cast<long long>(codes.size()))
                << rows << " rows";
            EXPECT_EQ(appended.rowCount(), 0u);
        }
    }
}

}  // namespace
}  // namespace yubin
