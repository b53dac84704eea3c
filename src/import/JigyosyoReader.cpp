#include "import/JigyosyoReader.h"

#include "import/Cp932Decoder.h"
#include "import/FieldSplitter.h"
#include "import/LineReader.h"

namespace yubin::import {

namespace {

constexpr std::size_t kFieldCount = 13;
constexpr std::size_t kBufferBytes = 64 * 1024;

}  // namespace

struct JigyosyoReader::Impl {
    explicit Impl(const std::string& path) : lines(path, kBufferBytes, DataKind::Office) {}

    LineReader lines;
    Cp932Decoder decoder;
    std::string text;  // the line last read, decoded
    std::vector<std::string_view> fields;
    bool haveLine = false;
    bool split = false;
};

JigyosyoReader::JigyosyoReader(const std::string& path) : impl_(std::make_unique<Impl>(path)) {}

JigyosyoReader::~JigyosyoReader() = default;

std::uint64_t JigyosyoReader::fileLength() const { return impl_->lines.fileLength(); }

std::uint64_t JigyosyoReader::bytesConsumed() const { return impl_->lines.bytesConsumed(); }

long long JigyosyoReader::lineNumber() const { return impl_->lines.lineNumber(); }

bool JigyosyoReader::readLine() {
    Impl& m = *impl_;
    m.haveLine = false;
    m.split = false;
    m.fields.clear();
    std::string_view bytes;
    if (!m.lines.next(bytes)) return false;
    if (std::size_t bad = m.decoder.decode(bytes, m.text, true); bad != Cp932Decoder::npos) {
        m.lines.fail(ErrorCode::BadEncoding, describeBadByte(bytes, bad));
    }
    m.haveLine = true;
    return true;
}

const std::vector<std::string_view>& JigyosyoReader::splitFields() {
    Impl& m = *impl_;
    if (!m.haveLine || m.split) return m.fields;
    splitAtSeparators(m.text, true, m.fields);
    m.split = true;
    if (m.fields.size() != kFieldCount) {
        m.haveLine = false;
        const std::size_t found = m.fields.size();
        m.fields.clear();
        m.lines.fail(ErrorCode::BadInputLine, describeFieldCount(found, kFieldCount));
    }
    return m.fields;
}

}  // namespace yubin::import
