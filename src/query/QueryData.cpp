#include "query/QueryData.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "base/Text.h"
#include "query/Normalize.h"
#include "store/TableScan.h"

namespace yubin::cli {

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

Masters::Masters(db::Connection& connection) {
    const auto load = [&](const char* table, const char* code, const char* name, const char* kana,
                          std::unordered_map<std::string, Names>& into) {
        Recordset rs;
        OpenForReading(rs, std::string("SELECT * FROM ") + table, connection);
        for (; !rs.eof(); rs.moveNext()) {
            into.emplace(rs.field(code).value().toText(),
                         Names{rs.field(name).value(), rs.field(kana).value()});
        }
    };
    load("都道府県", "JISX0401", "都道府県名", "住所かな1", prefectures_);
    load("市町村", "JISX0402", "市町村名", "住所かな2", municipalities_);
}

const Masters::Names* Masters::prefecture(const std::string& municipalityCode) const {
    const auto found = prefectures_.find(municipalityCode.substr(0, 2));
    return found == prefectures_.end() ? nullptr : &found->second;
}

const Masters::Names* Masters::municipality(const std::string& municipalityCode) const {
    const auto found = municipalities_.find(municipalityCode);
    return found == municipalities_.end() ? nullptr : &found->second;
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

QueryRows SearchRows(db::Connection& connection, const Masters& masters,
                     const std::vector<std::string>& foldedWords, std::size_t limit) {
    enum Column { kCity, kTown, kTownKana, kOffice, kOfficeKana };
    db::TableScan scan(connection, "ZIPALL",
                       {"団体コード", "町域名", "住所かな3", "事業所名", "事業所名かな"});
    QueryRows result;
    result.columns = scan.tableColumns();
    const auto text = [&](Column column) { return scan.text(column); };

    // Before a row's names are folded, one pass over the row's own columns as stored looks for
    // a few letters of each word in any of their written forms (the masters' names are known
    // folded): most rows lack one and are passed over.
    constexpr size_t kLettersTested = 3;
    std::vector<WrittenLetter> letters;
    for (const std::string& word : foldedWords) {
        std::vector<WrittenLetter> written = WrittenLetters(word);
        if (written.size() > kLettersTested) written.resize(kLettersTested);
        for (WrittenLetter& letter : written) letters.push_back(std::move(letter));
    }
    const LetterFinder finder(letters);
    const std::uint64_t allLetters = finder.allLetters();
    std::uint64_t lettersInPlace = 0;

    // The folded prefecture and municipality of the code last seen: the rows come in code
    // order, so each code is folded about once.
    std::string city = "\x01";
    std::string placeName, placeKana;
    std::string names;  // the row's folded names, the parts apart by a separator
    while (scan.next()) {
        const std::string_view rowCity = text(kCity);
        if (rowCity != city) {
            city = rowCity;
            placeName.clear();
            placeKana.clear();
            for (const Masters::Names* place :
                 {masters.prefecture(city), masters.municipality(city)}) {
                if (place == nullptr) continue;
                AppendFolded(place->name.toText(), placeName);
                AppendFolded(place->kana.toText(), placeKana);
            }
            lettersInPlace = finder.find(placeName) | finder.find(placeKana);
        }
        std::uint64_t found = lettersInPlace;
        for (Column column : {kTown, kTownKana, kOffice, kOfficeKana}) {
            if (found == allLetters) break;
            found |= finder.find(text(column));
        }
        if (found != allLetters) continue;

        names.assign(placeName);
        AppendFolded(text(kTown), names);
        names += '\x1f';
        names += placeKana;
        AppendFolded(text(kTownKana), names);
        names += '\x1f';
        AppendFolded(text(kOffice), names);
        names += '\x1f';
        AppendFolded(text(kOfficeKana), names);

        const bool matches = std::all_of(
            foldedWords.begin(), foldedWords.end(),
            [&](const std::string& word) { return names.find(word) != std::string::npos; });
        if (!matches) continue;
        if (limit != 0 && result.rows.size() == limit) {
            result.truncated = true;
            break;
        }
        result.rows.push_back(scan.wholeRow());
    }
    return result;
}

}  // namespace yubin::cli
