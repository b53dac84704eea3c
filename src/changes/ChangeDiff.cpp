#include "changes/ChangeDiff.h"

#include <algorithm>

#include "base/Error.h"

namespace yubin::changes {

namespace {

// Reads one side of the merge and checks that its codes ascend.
class Side {
  public:
    explicit Side(CodeSource& source, const char* name) : source_(source), name_(name) {}

    bool advance() {
        std::swap(previous_, current_.code);
        more_ = source_.next(current_);
        if (more_ && started_ && current_.code <= previous_) {
            throw YubinError(ErrorCode::InvalidArgument, std::string("変更報告: ") + name_ +
                                                             "の郵便番号が昇順ではありません（" +
                                                             previous_ + " の後に " +
                                                             current_.code + "）。");
        }
        started_ = true;
        return more_;
    }
    bool more() const { return more_; }
    const CodeRows& current() const { return current_; }

  private:
    CodeSource& source_;
    const char* name_;
    CodeRows current_;
    std::string previous_;
    bool more_ = false;
    bool started_ = false;
};

}  // namespace

void NormalizeRows(std::vector<RowValues>& rows) {
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
}

ChangeCounts CompareCodes(CodeSource& before, CodeSource& after, const ChangeSink& sink) {
    ChangeCounts counts;
    Side old(before, "変更前");
    Side now(after, "変更後");
    old.advance();
    now.advance();
    CodeRows none;
    while (old.more() || now.more()) {
        const bool takeOld = old.more() && (!now.more() || old.current().code < now.current().code);
        const bool takeNew = now.more() && (!old.more() || now.current().code < old.current().code);
        if (takeOld) {
            none.code = old.current().code;
            ++counts.removed;
            sink(Change::Removed, old.current(), none);
            old.advance();
        } else if (takeNew) {
            none.code = now.current().code;
            ++counts.added;
            sink(Change::Added, none, now.current());
            now.advance();
        } else {
            if (old.current().rows != now.current().rows) {
                ++counts.changed;
                sink(Change::Changed, old.current(), now.current());
            }
            old.advance();
            now.advance();
        }
    }
    return counts;
}

VectorCodeSource::VectorCodeSource(std::vector<CodeRows> codes) : codes_(std::move(codes)) {
    std::sort(codes_.begin(), codes_.end(),
              [](const CodeRows& a, const CodeRows& b) { return a.code < b.code; });
    for (CodeRows& code : codes_) NormalizeRows(code.rows);
}

bool VectorCodeSource::next(CodeRows& out) {
    if (position_ >= codes_.size()) return false;
    out = codes_[position_++];
    return true;
}

}  // namespace yubin::changes
