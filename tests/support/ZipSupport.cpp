#include "support/ZipSupport.h"

#include <zip.h>

#include <cstdint>
#include <stdexcept>

namespace yubin::test {

void writeZip(const std::string& path, const std::vector<ZipEntry>& entries) {
    int code = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (archive == nullptr) throw std::runtime_error("zip_open " + path);
    for (const ZipEntry& e : entries) {
        zip_int64_t index;
        if (!e.name.empty() && e.name.back() == '/') {
            index = zip_dir_add(archive, e.name.c_str(), ZIP_FL_ENC_UTF_8);
        } else {
            zip_source_t* source =
                e.fromFile ? zip_source_file(archive, e.bytes.c_str(), 0, -1)
                           : zip_source_buffer(archive, e.bytes.data(), e.bytes.size(), 0);
            if (source == nullptr) throw std::runtime_error("zip source " + e.name);
            index = zip_file_add(archive, e.name.c_str(), source, ZIP_FL_ENC_UTF_8);
            if (index < 0) zip_source_free(source);
        }
        if (index < 0 ||
            zip_file_set_mtime(archive, static_cast<zip_uint64_t>(index), e.modified, 0) != 0) {
            zip_discard(archive);
            throw std::runtime_error("zip entry " + e.name);
        }
        if (e.extendedTimestamp != 0) {
            const auto t = static_cast<std::uint32_t>(e.extendedTimestamp);
            const zip_uint8_t field[5] = {
                1, static_cast<zip_uint8_t>(t), static_cast<zip_uint8_t>(t >> 8),
                static_cast<zip_uint8_t>(t >> 16), static_cast<zip_uint8_t>(t >> 24)};
            if (zip_file_extra_field_set(archive, static_cast<zip_uint64_t>(index), 0x5455,
                                         ZIP_EXTRA_FIELD_NEW, field, sizeof field,
                                         ZIP_FL_LOCAL | ZIP_FL_CENTRAL) != 0) {
                zip_discard(archive);
                throw std::runtime_error("zip extra field " + e.name);
            }
        }
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        throw std::runtime_error("zip_close " + path);
    }
}

std::time_t localNoon(int year, int month, int day) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

}  // namespace yubin::test
