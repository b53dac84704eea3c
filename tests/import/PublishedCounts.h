// What the published files hold, counted straight from their bytes, so that the tests over
// the whole files expect the counts of whichever month's files lie there. The reading is
// deliberately naive and shares nothing with the readers under test: the code page's trail
// bytes are never a comma, a quote or a line end, so the bytes can be split as they are.
#pragma once

#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace yubin::test {

// The comma-separated fields of each line of a file, quotes removed, line ends dropped.
inline std::vector<std::vector<std::string>> rawLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::vector<std::string>> lines;
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\n') {
            lines.push_back(std::move(fields));
            fields.assign(1, "");
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c != '"' && c != '\r') {
            fields.back() += c;
        }
    }
    if (!bytes.empty() && bytes.back() != '\n') lines.push_back(std::move(fields));
    return lines;
}

struct PublishedCounts {
    long long nationalLines = 0;
    // Records of the national file: runs of consecutive lines with one postal code (field 2),
    // except that a line whose field 12 is "1" stands alone.
    long long nationalGroups = 0;
    std::set<std::string> prefectures;     // the first two digits of field 0
    std::set<std::string> municipalities;  // field 0
    long long officeRecords = 0;
    // Office records of 13 fields with a seven-digit postal code (field 7).
    long long wellFormedOfficeRecords = 0;
    // Municipality codes of the office file that the national file lacks.
    std::set<std::string> placeholderMunicipalities;
};

inline PublishedCounts countPublished(const std::string& nationalPath,
                                      const std::string& officePath) {
    PublishedCounts counts;
    if (!nationalPath.empty()) {
        std::string previousCode;
        bool previousAlone = true;
        for (const auto& fields : rawLines(nationalPath)) {
            ++counts.nationalLines;
            const bool alone = fields.size() > 12 && fields[12] == "1";
            const std::string code = fields.size() > 2 ? fields[2] : "";
            if (counts.nationalLines == 1 || alone || previousAlone || code != previousCode) {
                ++counts.nationalGroups;
            }
            previousCode = code;
            previousAlone = alone;
            counts.prefectures.insert(fields[0].substr(0, 2));
            counts.municipalities.insert(fields[0]);
        }
    }
    if (!officePath.empty()) {
        for (const auto& fields : rawLines(officePath)) {
            ++counts.officeRecords;
            if (fields.size() == 13 && fields[7].size() == 7) ++counts.wellFormedOfficeRecords;
            if (!counts.municipalities.count(fields[0])) {
                counts.placeholderMunicipalities.insert(fields[0]);
            }
        }
    }
    return counts;
}

}  // namespace yubin::test
