// The comparison of two data sets per postal code: a sorted merge of two streams of codes in
// ascending order, each with the set of its rows, in constant memory (one code of each side).
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace yubin::changes {

// The compared form of one row (the columns of kRowColumns, ChangeTables.h); a column the
// data set does not carry is the empty text.
inline constexpr size_t kRowFieldCount = 11;
using RowValues = std::array<std::string, kRowFieldCount>;

// One postal code with its rows, sorted and without repeats: a code's rows are a set.
struct CodeRows {
    std::string code;
    std::vector<RowValues> rows;
};

// Sorts the rows and removes the repeated ones.
void NormalizeRows(std::vector<RowValues>& rows);

// Codes in strictly ascending order (byte order), each once, its rows normalized.
class CodeSource {
  public:
    virtual ~CodeSource() = default;
    // The next code into `out`; false at the end.
    virtual bool next(CodeRows& out) = 0;
};

enum class Change { Added, Removed, Changed };

struct ChangeCounts {
    long long added = 0;
    long long removed = 0;
    long long changed = 0;
    friend bool operator==(const ChangeCounts&, const ChangeCounts&) = default;
};

// Told of every code that differs, in code order: an added code has no rows before, a
// removed one none after.
using ChangeSink =
    std::function<void(Change change, const CodeRows& before, const CodeRows& after)>;

// Merges the two sources. A source whose codes do not ascend raises InvalidArgument: the
// merge would report codes as added and removed at once.
ChangeCounts CompareCodes(CodeSource& before, CodeSource& after, const ChangeSink& sink);

// A source over codes in memory (tests, small reports); sorts and normalizes them.
class VectorCodeSource : public CodeSource {
  public:
    explicit VectorCodeSource(std::vector<CodeRows> codes);
    bool next(CodeRows& out) override;

  private:
    std::vector<CodeRows> codes_;
    size_t position_ = 0;
};

}  // namespace yubin::changes
