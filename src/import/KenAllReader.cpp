#include "import/KenAllReader.h"

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

// The fields of a line that fill ZipGroup::row, in that order.
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

}  // namespace

struct KenAllReader::Impl {
    explicit Impl(const std::string& path) : lines(path, kBufferBytes, DataKind::National) {}

    LineReader lines;
    Cp932Decoder decoder;
    std::string text;  // the line last read, decoded
    std::vector<std::string_view> fields;
    std::string key;  // the key of the line being merged
    bool lineWaiting = false;

    // The group being built and the one last handed over; swapped, never copied, so that
    // their strings keep their capacity from group to group.
    std::array<ZipGroup, 2> groups;
    ZipGroup* building = &groups[0];
    ZipGroup* completed = &groups[1];
    // Kept apart from the key, so that a line whose postal code is empty still starts (and
    // hands over) a group like any other.
    bool started = false;

    void startGroup() {
        ZipGroup& g = *building;
        g.key.swap(key);
        for (std::size_t i = 0; i < kRowFields.size(); ++i) g.row[i].assign(fields[kRowFields[i]]);
        g.prefCode.assign(leadingCharacters(fields[0], 2));
        g.prefName.assign(fields[6]);
        g.prefKana.assign(fields[3]);
        g.cityCode.assign(fields[0]);
        g.cityName.assign(fields[7]);
        g.cityKana.assign(fields[4]);
        started = true;
    }

    const ZipGroup* handOver() {
        std::swap(building, completed);
        return completed;
    }
};

KenAllReader::KenAllReader(const std::string& path) : impl_(std::make_unique<Impl>(path)) {}

KenAllReader::~KenAllReader() = default;

std::uint64_t KenAllReader::fileLength() const { return impl_->lines.fileLength(); }

std::uint64_t KenAllReader::bytesConsumed() const { return impl_->lines.bytesConsumed(); }

long long KenAllReader::lineNumber() const { return impl_->lines.lineNumber(); }

bool KenAllReader::readLine() {
    Impl& m = *impl_;
    m.lineWaiting = false;
    std::string_view bytes;
    if (!m.lines.next(bytes)) return false;
    ++lngLineCount;
    if (std::size_t bad = m.decoder.decode(bytes, m.text, true); bad != Cp932Decoder::npos) {
        m.lines.fail(ErrorCode::BadEncoding, describeBadByte(bytes, bad));
    }
    m.lineWaiting = true;
    return true;
}

const ZipGroup* KenAllReader::mergeLine() {
    Impl& m = *impl_;
    if (!m.lineWaiting) return nullptr;
    m.lineWaiting = false;
    splitAtSeparators(m.text, false, m.fields);
    if (m.fields.size() != kFieldCount) {
        m.lines.fail(ErrorCode::BadInputLine, describeFieldCount(m.fields.size(), kFieldCount));
    }

    // The key: the postal code, made unique by the line counter when field 12 says that the
    // code serves several town areas, each on a line of its own.
    m.key.assign(m.fields[2]);
    if (m.fields[12] == "1") {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, lngLineCount).ptr;
        m.key.append(digits, end);
    }

    if (m.started && m.key == m.building->key) {
        m.building->row[kKanaTownRow].append(m.fields[5]);
        m.building->row[kTownRow].append(m.fields[8]);
        return nullptr;
    }
    const ZipGroup* done = m.started ? m.handOver() : nullptr;
    m.startGroup();
    return done;
}

const ZipGroup* KenAllReader::finish() {
    Impl& m = *impl_;
    m.lineWaiting = false;
    if (!m.started) return nullptr;
    m.started = false;
    return m.handOver();
}

}  // namespace yubin::import
