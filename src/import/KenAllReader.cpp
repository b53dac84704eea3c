#include "import/KenAllReader.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <string_view>
#include <utility>
#include <vector>

#include "import/Cp932Decoder.h"
#include "import/FieldSplitter.h"
#include "import/LineReader.h"
#include "import/TextArena.h"

namespace yubin::import {

long long lngLineCount = 0;

namespace {

constexpr std::size_t kFieldCount = 15;
constexpr std::size_t kBufferBytes = 64 * 1024;

// The fields of a line that fill the group's row, in that order.
constexpr std::array<std::size_t, 11> kRowFields = {0, 1, 2, 5, 8, 9, 10, 11, 12, 13, 14};
constexpr std::size_t kKanaTownRow = 3;  // 住所かな3 (field 5)
constexpr std::size_t kTownRow = 4;      // 町域名 (field 8)

// The first `count` characters of UTF-8 text.
std::string_view leadingCharacters(std::string_view text, std::size_t count) {
    std::size_t i = 0;
    for (; i < text.size() && count > 0; --count) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    }
    return text.substr(0, i);
}

// The texts of a group in one order, for packing it into a batch and out again.
template <class Group, class Each>
void ForEachText(Group& g, Each each) {
    each(g.key);
    for (auto& value : g.row) each(value);
    each(g.prefCode);
    each(g.prefName);
    each(g.prefKana);
    each(g.cityCode);
    each(g.cityName);
    each(g.cityKana);
}
constexpr std::size_t kGroupTexts = 18;

// The places of a group's texts in a batch's buffer, in the order of ForEachText.
using GroupSpans = std::array<TextSpan, kGroupTexts>;
constexpr std::size_t kKeyText = 0;
constexpr std::size_t kRowText = 1;  // the row's values follow the key
constexpr std::size_t kKanaTownText = kRowText + kKanaTownRow;
constexpr std::size_t kTownText = kRowText + kTownRow;
constexpr std::size_t kMasterText = kRowText + kRowFields.size();  // prefCode and the others

}  // namespace

// One batch of lines read ahead: each line's counts and the group it completed, if any. The
// lines are decoded into one buffer that keeps its capacity from round to round, and a group
// names its texts there: most are a line's fields as decoded, only joined town names and keys
// made unique are written apart.
struct KenAllBatch {
    static constexpr std::size_t kNoGroup = static_cast<std::size_t>(-1);
    struct Line {
        std::uint64_t bytesConsumed = 0;
        long long lineNumber = 0;
        std::size_t completed = kNoGroup;  // in `groups`
    };
    std::vector<Line> lines;
    // The groups completed in the batch, and at the end of the file the group being built.
    std::vector<GroupSpans> groups;
    TextArena texts;
    std::size_t last = kNoGroup;  // EndOfFile: the group being built at the end
    BatchEnding ending;

    void unpack(std::size_t index, ZipGroup& group) const {
        const GroupSpans& spans = groups[index];
        std::size_t i = 0;
        // Views into the buffer: no copy.
        ForEachText(group, [&](std::string_view& text) { text = texts.view(spans[i++]); });
    }
};

namespace {

// The reading itself, on the worker thread (or, without one, on the consumer's).
class KenAllLines {
  public:
    KenAllLines(const std::string& path, std::size_t linesPerBatch)
        : lines_(path, kBufferBytes, DataKind::National),
          linesPerBatch_(std::max<std::size_t>(linesPerBatch, 1)) {}

    std::uint64_t fileLength() const { return lines_.fileLength(); }

    void prepare(KenAllBatch& batch) const {
        batch.lines.reserve(linesPerBatch_);
        batch.groups.reserve(linesPerBatch_ + 1);
    }

    // The program-wide line count before the first line of this file.
    void startCounting(long long lineCount) { lineCount_ = lineCount; }

    bool fill(KenAllBatch& batch) {
        batch.lines.clear();
        batch.groups.clear();
        batch.texts.clear();
        batch.last = KenAllBatch::kNoGroup;
        batch.ending.reset();
        // The group being built when the batch before ended goes on in this one.
        if (started_) {
            for (std::size_t i = 0; i < kGroupTexts; ++i) {
                building_[i] = batch.texts.append(carried_[i]);
            }
        }
        while (batch.lines.empty() || (batch.lines.size() < linesPerBatch_ &&
                                       batch.texts.size() < TextArena::kBatchBytes)) {
            bool counted = false;
            TextSpan text;
            try {
                std::string_view bytes;
                if (!lines_.next(bytes)) {
                    if (started_) batch.last = pack(batch);
                    started_ = false;
                    batch.ending.kind = BatchEnding::Kind::EndOfFile;
                    return false;
                }
                ++lineCount_;
                counted = true;
                if (std::size_t bad = decoder_.decodeLineInto(
                        bytes, batch.texts, Cp932Decoder::Separators::Commas, separators_, text);
                    bad != Cp932Decoder::npos) {
                    lines_.fail(ErrorCode::BadEncoding, describeBadByte(bytes, bad));
                }
            } catch (...) {
                batch.ending.failReading(std::current_exception(), lines_.bytesConsumed(),
                                         lines_.lineNumber(), counted);
                return false;
            }
            KenAllBatch::Line& line = batch.lines.emplace_back();
            line.bytesConsumed = lines_.bytesConsumed();
            line.lineNumber = lines_.lineNumber();
            try {
                line.completed = merge(batch, text);
            } catch (...) {
                batch.ending.failLine(std::current_exception());
                return false;
            }
        }
        if (started_) {
            for (std::size_t i = 0; i < kGroupTexts; ++i) {
                carried_[i].assign(batch.texts.view(building_[i]));
            }
        }
        return true;
    }

  private:
    // Splits the line just decoded (`text` in the batch's buffer) and merges it; the group it
    // completed, if any.
    std::size_t merge(KenAllBatch& batch, TextSpan text) {
        if (separators_.fieldCount() != kFieldCount) {
            lines_.fail(ErrorCode::BadInputLine,
                        describeFieldCount(separators_.fieldCount(), kFieldCount));
        }
        std::array<TextSpan, kFieldCount>& fields = fields_;
        splitAtMarks(text, separators_, fields);
        const TextArena& texts = batch.texts;

        // The key: the postal code, made unique by the line counter when field 12 says that
        // the code serves several town areas, each on a line of its own.
        const std::string_view code = texts.view(fields[2]);
        std::string_view counter;
        char digits[24];
        if (texts.view(fields[12]) == "1") {
            const auto end = std::to_chars(digits, digits + sizeof digits, lineCount_).ptr;
            counter = std::string_view(digits, static_cast<std::size_t>(end - digits));
        }

        if (started_ && isBuildingKey(texts, code, counter)) {
            join(batch, kKanaTownText, fields[5]);
            join(batch, kTownText, fields[8]);
            return KenAllBatch::kNoGroup;
        }
        const std::size_t done = started_ ? pack(batch) : KenAllBatch::kNoGroup;
        startGroup(batch, fields, counter);
        return done;
    }

    bool isBuildingKey(const TextArena& texts, std::string_view code,
                       std::string_view counter) const {
        const std::string_view key = texts.view(building_[kKeyText]);
        return key.size() == code.size() + counter.size() && key.starts_with(code) &&
               key.ends_with(counter);
    }

    // A continuation line's town name (kana or kanji) after that of the group.
    void join(KenAllBatch& batch, std::size_t which, TextSpan more) {
        const TextSpan joined = building_[which];
        if (std::size_t{joined.length} + more.length > TextArena::kBatchBytes) {
            lines_.fail(ErrorCode::BadInputLine,
                        Message("町域名が {1} バイトを超えています。", TextArena::kBatchBytes));
        }
        building_[which] = batch.texts.join(joined, more);
    }

    std::size_t pack(KenAllBatch& batch) const {
        batch.groups.push_back(building_);
        return batch.groups.size() - 1;
    }

    void startGroup(KenAllBatch& batch, const std::array<TextSpan, kFieldCount>& fields,
                    std::string_view counter) {
        GroupSpans& g = building_;
        g[kKeyText] = counter.empty() ? fields[2] : batch.texts.join(fields[2], counter);
        for (std::size_t i = 0; i < kRowFields.size(); ++i) g[kRowText + i] = fields[kRowFields[i]];
        const TextSpan cityCode = fields[0];
        const std::size_t prefCodeLength = leadingCharacters(batch.texts.view(cityCode), 2).size();
        g[kMasterText + 0] = {cityCode.begin, static_cast<std::uint32_t>(prefCodeLength)};
        g[kMasterText + 1] = fields[6];  // prefName
        g[kMasterText + 2] = fields[3];  // prefKana
        g[kMasterText + 3] = cityCode;
        g[kMasterText + 4] = fields[7];  // cityName
        g[kMasterText + 5] = fields[4];  // cityKana
        started_ = true;
    }

    LineReader lines_;
    const std::size_t linesPerBatch_;
    Cp932Decoder decoder_;
    SeparatorMarks separators_;  // those of the line last decoded
    // Its fields: a member, not cleared for every line.
    std::array<TextSpan, kFieldCount> fields_;
    GroupSpans building_;  // the group being built, in the batch being filled
    // The texts of the group being built when the batch before ended.
    std::array<std::string, kGroupTexts> carried_;
    // Kept apart from the key, so that a line whose postal code is empty still starts (and
    // hands over) a group like any other.
    bool started_ = false;
    long long lineCount_ = 0;  // the program-wide line count as this file's reading goes
};

}  // namespace

struct KenAllReader::Impl {
    Impl(const std::string& path, const ReadAheadOptions& options)
        : options(options), source(path, options.linesPerBatch), fileLength(source.fileLength()) {}

    const ReadAheadOptions options;
    KenAllLines source;  // the worker's alone once reading has started
    const std::uint64_t fileLength;
    const KenAllBatch::Line* current = nullptr;  // the line last read, until merged
    ZipGroup handed;                             // the group last handed over: views into its batch
    bool finished = false;
    BatchedLines<KenAllBatch> batches;  // last: its worker stops before the source goes
};

KenAllReader::KenAllReader(const std::string& path, const ReadAheadOptions& options)
    : impl_(std::make_unique<Impl>(path, options)) {}

KenAllReader::~KenAllReader() = default;

std::uint64_t KenAllReader::fileLength() const { return impl_->fileLength; }

std::uint64_t KenAllReader::bytesConsumed() const { return impl_->batches.bytesConsumed(); }

long long KenAllReader::lineNumber() const { return impl_->batches.lineNumber(); }

bool KenAllReader::readsAhead() const { return impl_->batches.threaded(); }

bool KenAllReader::readLine() {
    Impl& m = *impl_;
    m.current = nullptr;
    if (!m.batches.started()) {
        // The count goes on from where the program's earlier reading left it.
        m.source.startCounting(lngLineCount);
        m.batches.start(
            m.options, m.fileLength, [&m](KenAllBatch& b) { return m.source.fill(b); },
            [&m](KenAllBatch& b) { m.source.prepare(b); });
    }
    m.current = m.batches.next([] { ++lngLineCount; });
    if (m.current == nullptr) return false;
    ++lngLineCount;
    return true;
}

ZipRecord ZipGroup::owned() const {
    ZipRecord record;
    record.key = key;
    for (std::size_t i = 0; i < row.size(); ++i) record.row[i] = row[i];
    record.prefCode = prefCode;
    record.prefName = prefName;
    record.prefKana = prefKana;
    record.cityCode = cityCode;
    record.cityName = cityName;
    record.cityKana = cityKana;
    return record;
}

const ZipGroup* KenAllReader::mergeLine() {
    Impl& m = *impl_;
    const KenAllBatch::Line* line = std::exchange(m.current, nullptr);
    if (line == nullptr) return nullptr;
    m.batches.raiseIfLineFailed();
    if (line->completed == KenAllBatch::kNoGroup) return nullptr;
    m.batches.batch().unpack(line->completed, m.handed);
    return &m.handed;
}

const ZipGroup* KenAllReader::finish() {
    Impl& m = *impl_;
    m.current = nullptr;
    if (m.finished || !m.batches.atEndOfFile()) return nullptr;
    m.finished = true;
    const KenAllBatch& batch = m.batches.batch();
    if (batch.last == KenAllBatch::kNoGroup) return nullptr;
    batch.unpack(batch.last, m.handed);
    return &m.handed;
}

}  // namespace yubin::import
