#include "import/JigyosyoReader.h"

#include <algorithm>

#include "import/Cp932Decoder.h"
#include "import/FieldSplitter.h"
#include "import/LineReader.h"
#include "import/TextArena.h"

namespace yubin::import {

namespace {

constexpr std::size_t kFieldCount = 13;
constexpr std::size_t kBufferBytes = 64 * 1024;

}  // namespace

// One batch of lines read ahead: each line's counts and its fields, decoded into one buffer
// that keeps its capacity from round to round.
struct JigyosyoBatch {
    struct Line {
        std::uint64_t bytesConsumed = 0;
        long long lineNumber = 0;
        std::size_t firstField = 0;  // kFieldCount fields in `fields` from here
    };
    std::vector<Line> lines;
    TextArena texts;
    std::vector<TextSpan> fields;
    BatchEnding ending;
};

namespace {

// The reading itself, on the worker thread (or, without one, on the consumer's).
class JigyosyoLines {
  public:
    JigyosyoLines(const std::string& path, std::size_t linesPerBatch)
        : lines_(path, kBufferBytes, DataKind::Office),
          linesPerBatch_(std::max<std::size_t>(linesPerBatch, 1)) {}

    std::uint64_t fileLength() const { return lines_.fileLength(); }

    void prepare(JigyosyoBatch& batch) const {
        batch.lines.reserve(linesPerBatch_);
        batch.fields.reserve(linesPerBatch_ * kFieldCount);
    }

    bool fill(JigyosyoBatch& batch) {
        batch.lines.clear();
        batch.texts.clear();
        batch.fields.clear();
        batch.ending.reset();
        while (batch.lines.empty() || (batch.lines.size() < linesPerBatch_ &&
                                       batch.texts.size() < TextArena::kBatchBytes)) {
            TextSpan text;
            try {
                std::string_view bytes;
                if (!lines_.next(bytes)) {
                    batch.ending.kind = BatchEnding::Kind::EndOfFile;
                    return false;
                }
                if (std::size_t bad = decoder_.decodeLineInto(
                        bytes, batch.texts, Cp932Decoder::Separators::CommasAndTabs, separators_,
                        text);
                    bad != Cp932Decoder::npos) {
                    lines_.fail(ErrorCode::BadEncoding, describeBadByte(bytes, bad));
                }
            } catch (...) {
                batch.ending.failReading(std::current_exception(), lines_.bytesConsumed(),
                                         lines_.lineNumber(), false);
                return false;
            }
            JigyosyoBatch::Line& line = batch.lines.emplace_back();
            line.bytesConsumed = lines_.bytesConsumed();
            line.lineNumber = lines_.lineNumber();
            line.firstField = batch.fields.size();
            try {
                if (separators_.fieldCount() != kFieldCount) {
                    lines_.fail(ErrorCode::BadInputLine,
                                describeFieldCount(separators_.fieldCount(), kFieldCount));
                }
                batch.fields.resize(line.firstField + kFieldCount);
                splitAtMarks(text, separators_,
                             std::span(batch.fields).subspan(line.firstField, kFieldCount));
            } catch (...) {
                batch.ending.failLine(std::current_exception());
                return false;
            }
        }
        return true;
    }

  private:
    LineReader lines_;
    const std::size_t linesPerBatch_;
    Cp932Decoder decoder_;
    SeparatorMarks separators_;  // those of the line last decoded
};

}  // namespace

struct JigyosyoReader::Impl {
    Impl(const std::string& path, const ReadAheadOptions& options)
        : options(options), source(path, options.linesPerBatch), fileLength(source.fileLength()) {}

    const ReadAheadOptions options;
    JigyosyoLines source;  // the worker's alone once reading has started
    const std::uint64_t fileLength;
    const JigyosyoBatch::Line* current = nullptr;  // the line last read
    std::vector<std::string_view> fields;          // its fields, once split
    bool split = false;
    BatchedLines<JigyosyoBatch> batches;  // last: its worker stops before the source goes
};

JigyosyoReader::JigyosyoReader(const std::string& path, const ReadAheadOptions& options)
    : impl_(std::make_unique<Impl>(path, options)) {}

JigyosyoReader::~JigyosyoReader() = default;

std::uint64_t JigyosyoReader::fileLength() const { return impl_->fileLength; }

std::uint64_t JigyosyoReader::bytesConsumed() const { return impl_->batches.bytesConsumed(); }

long long JigyosyoReader::lineNumber() const { return impl_->batches.lineNumber(); }

bool JigyosyoReader::readsAhead() const { return impl_->batches.threaded(); }

bool JigyosyoReader::readLine() {
    Impl& m = *impl_;
    m.current = nullptr;
    m.split = false;
    m.fields.clear();
    if (!m.batches.started()) {
        m.batches.start(
            m.options, m.fileLength, [&m](JigyosyoBatch& b) { return m.source.fill(b); },
            [&m](JigyosyoBatch& b) { m.source.prepare(b); });
    }
    m.current = m.batches.next([] {});
    return m.current != nullptr;
}

const std::vector<std::string_view>& JigyosyoReader::splitFields() {
    Impl& m = *impl_;
    if (m.current == nullptr || m.split) return m.fields;
    m.split = true;
    m.batches.raiseIfLineFailed();
    const auto first =
        m.batches.batch().fields.begin() + static_cast<std::ptrdiff_t>(m.current->firstField);
    m.fields.clear();
    for (auto field = first; field != first + kFieldCount; ++field) {
        m.fields.push_back(m.batches.batch().texts.view(*field));
    }
    return m.fields;
}

}  // namespace yubin::import
