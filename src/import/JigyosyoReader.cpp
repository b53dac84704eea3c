#include "import/JigyosyoReader.h"

#include <algorithm>

#include "import/Cp932Decoder.h"
#include "import/FieldSplitter.h"
#include "import/LineReader.h"

namespace yubin::import {

namespace {

constexpr std::size_t kFieldCount = 13;
constexpr std::size_t kBufferBytes = 64 * 1024;

}  // namespace

// One batch of lines read ahead: each line's counts, its decoded text and its fields.
struct JigyosyoBatch {
    struct Line {
        std::uint64_t bytesConsumed = 0;
        long long lineNumber = 0;
        std::size_t firstField = 0;  // kFieldCount fields in `fields` from here
    };
    std::vector<Line> lines;
    // One text a line, sized once and never moved, since the fields point into them.
    std::vector<std::string> texts;
    std::vector<std::string_view> fields;
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
        batch.texts.resize(linesPerBatch_);
        batch.fields.reserve(linesPerBatch_ * kFieldCount);
    }

    bool fill(JigyosyoBatch& batch) {
        batch.lines.clear();
        batch.fields.clear();
        batch.ending.reset();
        while (batch.lines.size() < linesPerBatch_) {
            std::string& text = batch.texts[batch.lines.size()];
            try {
                std::string_view bytes;
                if (!lines_.next(bytes)) {
                    batch.ending.kind = BatchEnding::Kind::EndOfFile;
                    return false;
                }
                if (std::size_t bad = decoder_.decode(bytes, text, true);
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
                splitAtSeparators(text, true, fields_);
                if (fields_.size() != kFieldCount) {
                    lines_.fail(ErrorCode::BadInputLine,
                                describeFieldCount(fields_.size(), kFieldCount));
                }
                batch.fields.insert(batch.fields.end(), fields_.begin(), fields_.end());
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
    std::vector<std::string_view> fields_;
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
    m.fields.assign(first, first + kFieldCount);
    return m.fields;
}

}  // namespace yubin::import
