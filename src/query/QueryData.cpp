#include "query/QueryData.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "base/Text.h"
#include "query/Normalize.h"
#include "query/SearchIndex.h"
#include "store/TableScan.h"

namespace yubin::query {

using db::CursorType;
using db::LockType;
using db::Recordset;

namespace {

// Opens a read-only, forward-only row set.
void OpenForReading(Recordset& rs, const std::string& source, db::Connection& connection) {
    rs.open(source, connection, CursorType::ForwardOnly, LockType::ReadOnly);
}

std::vector<std::string> FieldNames(Recordset& rs) {
    std::vector<std::string> names;
    for (int i = 0; i < rs.fieldCount(); ++i) names.push_back(rs.field(i).Name());
    return names;
}

Row CurrentRow(Recordset& rs) {
    Row row;
    row.reserve(static_cast<size_t>(rs.fieldCount()));
    for (int i = 0; i < rs.fieldCount(); ++i) row.push_back(rs.field(i).value());
    return row;
}

// Finds which of up to 64 letters a text holds in any of their written forms, in one pass.
class LetterFinder {
  public:
    explicit LetterFinder(const std::vector<WrittenLetter>& letters) {
        for (size_t i = 0; i < letters.size() && i < 64; ++i) {
            all_ |= std::uint64_t{1} << i;
            for (const std::string& form : letters[i].forms) {
                if (form.empty() || form.size() > 4) continue;
                byLastByte_[static_cast<unsigned char>(form.back())].emplace_back(
                    Key(form.data(), form.size()), std::uint64_t{1} << i);
            }
        }
    }
    std::uint64_t allLetters() const { return all_; }

    // The letters (as bits) that occur in the text.
    std::uint64_t find(std::string_view text) const {
        std::uint64_t found = 0;
        const char* p = text.data();
        const char* const end = p + text.size();
        while (p < end) {
            const auto lead = static_cast<unsigned char>(*p);
            size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            // Bytes that are no UTF-8 are taken one by one, as folding takes them.
            if (p + length > end) length = 1;
            for (size_t i = 1; i < length; ++i) {
                if ((static_cast<unsigned char>(p[i]) & 0xC0) != 0x80) length = 1;
            }
            for (const auto& [key, letter] :
                 byLastByte_[static_cast<unsigned char>(p[length - 1])]) {
                if (key == Key(p, length)) found |= letter;
            }
            p += length;
        }
        return found;
    }

  private:
    static std::uint32_t Key(const char* bytes, size_t length) {
        std::uint32_t key = static_cast<std::uint32_t>(length) << 28;
        for (size_t i = 0; i < length && i < 3; ++i) {
            key |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
        }
        return key;
    }
    std::array<std::vector<std::pair<std::uint32_t, std::uint64_t>>, 256> byLastByte_;
    std::uint64_t all_ = 0;
};

}  // namespace

namespace {

struct MasterTable {
    const char* table;
    const char* code;
    const char* name;
    const char* kana;
};
constexpr MasterTable kPrefectures{"都道府県", "JISX0401", "都道府県名", "住所かな1"};
constexpr MasterTable kMunicipalities{"市町村", "JISX0402", "市町村名", "住所かな2"};

void Load(db::Connection& connection, const MasterTable& master, const std::string& condition,
          std::unordered_map<std::string, std::optional<Masters::Names>>& into) {
    Recordset rs;
    OpenForReading(rs, std::string("SELECT * FROM ") + master.table + condition, connection);
    for (; !rs.eof(); rs.moveNext()) {
        into.insert_or_assign(
            rs.field(master.code).value().toText(),
            Masters::Names{rs.field(master.name).value(), rs.field(master.kana).value()});
    }
}

}  // namespace

void Masters::loadAll() {
    if (loadedAll_) return;
    Load(connection_, kPrefectures, "", prefectures_);
    Load(connection_, kMunicipalities, "", municipalities_);
    loadedAll_ = true;
}

void Masters::forget() {
    prefectures_.clear();
    municipalities_.clear();
    loadedAll_ = false;
}

const Masters::Names* Masters::find(bool prefectures, const std::string& code) const {
    Known& known = prefectures ? prefectures_ : municipalities_;
    auto found = known.find(code);
    if (found == known.end()) {
        if (loadedAll_) return nullptr;
        const MasterTable& master = prefectures ? kPrefectures : kMunicipalities;
        Load(connection_, master,
             std::string(" WHERE ") + master.code + " = " + QuoteSqlLiteral(code), known);
        found = known.try_emplace(code).first;  // no value when the master lacks the code
    }
    return found->second ? &*found->second : nullptr;
}

const Masters::Names* Masters::prefecture(const std::string& municipalityCode) const {
    return find(true, municipalityCode.substr(0, 2));
}

const Masters::Names* Masters::municipality(const std::string& municipalityCode) const {
    return find(false, municipalityCode);
}

QueryRows RowsOfPostalCode(db::Connection& connection, const std::string& code) {
    Recordset rs;
    OpenForReading(rs, "SELECT * FROM ZIPALL WHERE 郵便番号 = " + QuoteSqlLiteral(code),
                   connection);
    QueryRows result;
    result.columns = FieldNames(rs);
    for (; !rs.eof(); rs.moveNext()) result.rows.push_back(CurrentRow(rs));
    return result;
}

namespace {

// Tells which rows hold every word. Before a row's names are folded, one pass over the row's
// own columns as stored looks for a few letters of each word in any of their written forms
// (the masters' names are known folded): most rows lack one and are passed over.
class RowMatcher {
  public:
    RowMatcher(const Masters& masters, const std::vector<std::string>& foldedWords)
        : words_(foldedWords), names_(masters), finder_(FirstLetters(foldedWords)) {}

    // The row's columns in the order of kSearchedColumns.
    bool matches(db::TableScan& scan) {
        // The folded prefecture and municipality of the code last seen: the rows come in code
        // order, so each code is folded about once.
        if (names_.setCity(scan.text(0))) {
            lettersInPlace_ = finder_.find(names_.placeName()) | finder_.find(names_.placeKana());
        }
        std::uint64_t found = lettersInPlace_;
        for (int column = 1; column <= 4 && found != finder_.allLetters(); ++column) {
            found |= finder_.find(scan.text(column));
        }
        if (found != finder_.allLetters()) return false;
        const std::string& names =
            names_.fold(scan.text(1), scan.text(2), scan.text(3), scan.text(4));
        return std::all_of(words_.begin(), words_.end(), [&](const std::string& word) {
            return names.find(word) != std::string::npos;
        });
    }

  private:
    static std::vector<WrittenLetter> FirstLetters(const std::vector<std::string>& words) {
        constexpr size_t kLettersTested = 3;
        std::vector<WrittenLetter> letters;
        for (const std::string& word : words) {
            std::vector<WrittenLetter> written = WrittenLetters(word);
            if (written.size() > kLettersTested) written.resize(kLettersTested);
            for (WrittenLetter& letter : written) letters.push_back(std::move(letter));
        }
        return letters;
    }

    const std::vector<std::string>& words_;
    RowNames names_;
    const LetterFinder finder_;
    std::uint64_t lettersInPlace_ = 0;
};

}  // namespace

QueryRows SearchRows(db::Connection& connection, Masters& masters,
                     const std::vector<std::string>& foldedWords, std::size_t limit, bool readAll) {
    std::optional<std::vector<std::pair<long long, long long>>> ranges;
    if (!readAll) ranges = CandidateRanges(connection, foldedWords);
    if (!ranges) masters.loadAll();  // nearly every code comes

    db::TableScan scan(
        connection, "ZIPALL",
        std::vector<std::string>(std::begin(kSearchedColumns), std::end(kSearchedColumns)));
    QueryRows result;
    result.columns = scan.tableColumns();
    RowMatcher matcher(masters, foldedWords);
    // Reads on to the end of the rows (of the range); false when the limit stopped it.
    const auto readRows = [&] {
        while (scan.next()) {
            if (!matcher.matches(scan)) continue;
            if (limit != 0 && result.rows.size() == limit) {
                result.truncated = true;
                return false;
            }
            result.rows.push_back(scan.wholeRow());
        }
        return true;
    };
    if (!ranges) {
        readRows();
        return result;
    }
    for (const auto& [first, last] : *ranges) {
        scan.restrict(first, last);
        if (!readRows()) break;
    }
    return result;
}

}  // namespace yubin::query
