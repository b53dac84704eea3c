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

}  // namespace

// One batch of lines read ahead: each line's counts and the group it completed, if any. The
// groups' texts lie one after the other in one buffer that keeps its capacity from round to
// round: compact, read by the consumer from start to end.
struct KenAllBatch {
    static constexpr std::size_t kNoGroup = static_cast<std::size_t>(-1);
    struct Line {
        std::uint64_t bytesConsumed = 0;
        long long lineNumber = 0;
        std::size_t completed = kNoGroup;  // in `groups`
    };
    struct PackedGroup {
        std::size_t begin = 0;  // in `texts`
        std::array<std::uint32_t, kGroupTexts> lengths{};
    };
    std::vector<Line> lines;
    // The groups completed in the batch, and at the end of the file the group being built.
    std::vector<PackedGroup> groups;
    std::string texts;
    std::size_t last = kNoGroup;  // EndOfFile: the group being built at the end
    BatchEnding ending;

    std::size_t pack(const ZipRecord& group) {
        PackedGroup& packed = groups.emplace_back();
        packed.begin = texts.size();
        std::size_t i = 0;
        ForEachText(group, [&](const std::string& text) {
            packed.lengths[i++] = static_cast<std::uint32_t>(text.size());
            texts.append(text);
        });
        return groups.size() - 1;
    }
    void unpack(std::size_t index, ZipGroup& group) const {
        const PackedGroup& packed = groups[index];
        const char* at = texts.data() + packed.begin;
        std::size_t i = 0;
        // Views into the buffer: no copy.
        ForEachText(group, [&](std::string_view& text) {
            text = std::string_view(at, packed.lengths[i]);
            at += packed.lengths[i++];
        });
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
        while (batch.lines.size() < linesPerBatch_) {
            bool counted = false;
            try {
                std::string_view bytes;
                if (!lines_.next(bytes)) {
                    if (started_) batch.last = batch.pack(building_);
                    started_ = false;
                    batch.ending.kind = BatchEnding::Kind::EndOfFile;
                    return false;
                }
                ++lineCount_;
                counted = true;
                if (std::size_t bad = decoder_.decode(bytes, text_, true);
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
                line.completed = merge(batch);
            } catch (...) {
                batch.ending.failLine(std::current_exception());
                return false;
            }
        }
        return true;
    }

  private:
    // Splits the line just decoded and merges it; the group it completed, if any.
    std::size_t merge(KenAllBatch& batch) {
        splitAtSeparators(text_, false, fields_);
        if (fields_.size() != kFieldCount) {
            lines_.fail(ErrorCode::BadInputLine, describeFieldCount(fields_.size(), kFieldCount));
        }

        // The key: the postal code, made unique by the line counter when field 12 says that
        // the code serves several town areas, each on a line of its own.
        key_.assign(fields_[2]);
        if (fields_[12] == "1") {
            char digits[24];
            const auto end = std::to_chars(digits, digits + sizeof digits, lineCount_).ptr;
            key_.append(digits, end);
        }

        if (started_ && key_ == building_.key) {
            building_.row[kKanaTownRow].append(fields_[5]);
            building_.row[kTownRow].append(fields_[8]);
            return KenAllBatch::kNoGroup;
        }
        const std::size_t done = started_ ? batch.pack(building_) : KenAllBatch::kNoGroup;
        startGroup();
        return done;
    }

    void startGroup() {
        ZipRecord& g = building_;
        g.key.swap(key_);
        for (std::size_t i = 0; i < kRowFields.size(); ++i) g.row[i].assign(fields_[kRowFields[i]]);
        g.prefCode.assign(leadingCharacters(fields_[0], 2));
        g.prefName.assign(fields_[6]);
        g.prefKana.assign(fields_[3]);
        g.cityCode.assign(fields_[0]);
        g.cityName.assign(fields_[7]);
        g.cityKana.assign(fields_[4]);
        started_ = true;
    }

    LineReader lines_;
    const std::size_t linesPerBatch_;
    Cp932Decoder decoder_;
    std::string text_;  // the line last read, decoded
    std::vector<std::string_view> fields_;
    std::string key_;  // the key of the line being merged
    ZipRecord building_;
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
