// Making ZIP archives for the tests, as the postal operator publishes its files.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace yubin::test {

struct ZipEntry {
    std::string name;   // "KEN_ALL.CSV", "dir/" for a folder
    std::string bytes;  // the content, or the path of a file to pack when `fromFile`
    std::time_t modified = 0;
    bool fromFile = false;
    // When set, an extended timestamp field (as Info-ZIP writes it) carries this time too.
    std::time_t extendedTimestamp = 0;
};

// Writes a deflated ZIP archive of the entries (throws when libzip fails).
void writeZip(const std::string& path, const std::vector<ZipEntry>& entries);

// Local noon of the day, as a file time.
std::time_t localNoon(int year, int month, int day);

}  // namespace yubin::test
