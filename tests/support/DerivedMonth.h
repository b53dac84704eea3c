// A second month derived from the published data files: copies with known edits (codes added
// and removed, a town renamed, a code moved to another municipality, a municipality merged
// into its neighbour, a group whose lines no longer merge; offices moved, renamed, added and
// removed), dated a month later, and the codes a change report between the two must name.
// Works on the bytes of code page 932: a comma or a double quote is never part of a
// two-byte character there.
#pragma once

#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace yubin::test {

struct ExpectedChanges {
    std::set<std::string> added, removed, changed;
};

struct DerivedMonth {
    std::string ken, office;  // the edited copies
    ExpectedChanges national, offices;
};

namespace derived {

using Fields = std::vector<std::string>;

inline std::vector<Fields> ReadLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<Fields> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) end = bytes.size();
        Fields fields;
        size_t field = start;
        for (size_t comma; (comma = bytes.find(',', field)) < end; field = comma + 1) {
            fields.push_back(bytes.substr(field, comma - field));
        }
        fields.push_back(bytes.substr(field, end - field));
        lines.push_back(std::move(fields));
        start = end + 2;
    }
    return lines;
}

inline void WriteLines(const std::string& path, const std::vector<Fields>& lines, time_t modified) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const Fields& fields : lines) {
        for (size_t i = 0; i < fields.size(); ++i) out << (i ? "," : "") << fields[i];
        out << "\r\n";
    }
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
    const utimbuf times{modified, modified};
    ::utime(path.c_str(), &times);
}

inline std::string Unquoted(const std::string& field) {
    std::string text = field;
    text.erase(std::remove(text.begin(), text.end(), '"'), text.end());
    return text;
}

// A quoted field with text put before its closing quote.
inline std::string Appended(const std::string& field, const std::string& bytes) {
    return field.back() == '"' ? field.substr(0, field.size() - 1) + bytes + "\"" : field + bytes;
}

// The first code above `code` (seven digits) that no line uses.
inline std::string FreeCode(std::string code, const std::map<std::string, int>& used) {
    long number = std::stol(code);
    do {
        char text[32];
        std::snprintf(text, sizeof text, "%07ld", ++number);
        code = text;
    } while (used.count(code));
    return code;
}

constexpr const char* kFullWidthTwo = "\x82\x51";  // "２" in code page 932

}  // namespace derived

// Derives the month into `folder` from the published files.
inline DerivedMonth DeriveMonth(const std::string& kenPath, const std::string& officePath,
                                const std::string& folder) {
    using namespace derived;
    DerivedMonth month;
    month.ken = folder + "/KEN_ALL.CSV";
    month.office = folder + "/JIGYOSYO.CSV";
    struct stat st {};
    const time_t later = (::stat(kenPath.c_str(), &st) == 0 ? st.st_mtime : 0) + 31 * 86400;

    std::vector<Fields> ken = ReadLines(kenPath);
    std::map<std::string, int> linesOfCode;
    for (const Fields& f : ken) ++linesOfCode[Unquoted(f[2])];
    // A line that is its code's only one, inside its municipality (not its first or last line).
    const auto single = [&](size_t i) {
        return i > 0 && i + 1 < ken.size() && linesOfCode[Unquoted(ken[i][2])] == 1 &&
               ken[i][12] == "0" && ken[i - 1][0] == ken[i][0] && ken[i + 1][0] == ken[i][0];
    };
    const auto singleFrom = [&](size_t from) {
        while (!single(from)) ++from;
        return from;
    };
    const size_t n = ken.size();
    const size_t removed = singleFrom(n / 10), renamed = singleFrom(n / 5),
                 moved = singleFrom(3 * n / 10), copied = singleFrom(2 * n / 5);
    // A group of lines that no longer merge: the first group of two or more lines after 60 %.
    size_t group = 6 * n / 10;
    while (!(ken[group][2] == ken[group + 1][2] && ken[group][12] == "0" &&
             (group == 0 || ken[group - 1][2] != ken[group][2]))) {
        ++group;
    }
    // A municipality merged into the one before it: the first after 70 % with 10 to 60 lines.
    size_t merged = 7 * n / 10;
    size_t mergedEnd = merged;
    for (;; merged = mergedEnd) {
        while (ken[merged][0] == ken[merged - 1][0]) ++merged;
        mergedEnd = merged;
        while (mergedEnd < n && ken[mergedEnd][0] == ken[merged][0]) ++mergedEnd;
        if (mergedEnd - merged >= 10 && mergedEnd - merged <= 60 &&
            ken[merged - 1][0].substr(0, 2) == ken[merged][0].substr(0, 2)) {
            break;
        }
    }

    month.national.removed.insert(Unquoted(ken[removed][2]));
    month.national.changed.insert(Unquoted(ken[renamed][2]));
    ken[renamed][8] = Appended(ken[renamed][8], kFullWidthTwo);
    // The code moves to the municipality of the merged one's neighbour.
    const Fields& donor = ken[merged - 1];
    month.national.changed.insert(Unquoted(ken[moved][2]));
    for (int f : {0, 3, 4, 6, 7})
        ken[moved][static_cast<size_t>(f)] = donor[static_cast<size_t>(f)];
    for (size_t i = group; ken[i][2] == ken[group][2]; ++i) ken[i][12] = "1";
    month.national.changed.insert(Unquoted(ken[group][2]));
    for (size_t i = merged; i < mergedEnd; ++i) {
        for (int f : {0, 4, 7}) ken[i][static_cast<size_t>(f)] = donor[static_cast<size_t>(f)];
        month.national.changed.insert(Unquoted(ken[i][2]));
    }
    Fields added = ken[copied];
    added[2] = "\"" + FreeCode(Unquoted(added[2]), linesOfCode) + "\"";
    month.national.added.insert(Unquoted(added[2]));
    ken.insert(ken.begin() + static_cast<long>(copied) + 1, added);
    ken.erase(ken.begin() + static_cast<long>(removed));
    WriteLines(month.ken, ken, later);

    std::vector<Fields> office = ReadLines(officePath);
    std::map<std::string, int> offices;
    for (const Fields& f : office) ++offices[Unquoted(f[7])];
    const auto unique = [&](size_t i) {
        while (offices[Unquoted(office[i][7])] != 1) ++i;
        return i;
    };
    const size_t m = office.size();
    const size_t officeMoved = unique(m / 5), officeRenamed = unique(2 * m / 5),
                 officeRemoved = unique(3 * m / 5), officeCopied = unique(4 * m / 5);
    size_t street = officeMoved + 1;
    while (office[street][6] == office[officeMoved][6]) ++street;
    office[officeMoved][6] = office[street][6];
    office[officeRenamed][2] = Appended(office[officeRenamed][2], kFullWidthTwo);
    month.offices.changed = {Unquoted(office[officeMoved][7]), Unquoted(office[officeRenamed][7])};
    month.offices.removed.insert(Unquoted(office[officeRemoved][7]));
    Fields newOffice = office[officeCopied];
    newOffice[7] = "\"" + FreeCode(Unquoted(newOffice[7]), offices) + "\"";
    month.offices.added.insert(Unquoted(newOffice[7]));
    office.insert(office.begin() + static_cast<long>(officeCopied) + 1, newOffice);
    office.erase(office.begin() + static_cast<long>(officeRemoved));
    WriteLines(month.office, office, later);
    return month;
}

}  // namespace yubin::test
