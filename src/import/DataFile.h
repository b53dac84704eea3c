// A published data file as the import sees it: a CSV file, or the ZIP archive the postal
// operator publishes with the CSV file inside; its length, its bytes and its date stamp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace yubin::import {

// Which CSV file an archive must hold: the national data (KEN_ALL.CSV), the business-office
// data (JIGYOSYO.CSV), or, where the kind is not known, its one CSV file.
enum class DataKind { Any, National, Office };

// The bytes of one data file, read as a stream: a CSV file as it is, or the CSV entry of a ZIP
// archive, decompressed on the fly and never unpacked to disk. An archive is known by its name
// (".zip", any case) or by its first bytes.
class DataFile {
  public:
    // Raises FileNotFound when there is no such file; PathFileAccess, saying what it is, for a
    // folder, a FIFO, a device or a file that cannot be opened; BadArchive for an archive that
    // cannot be read or does not hold exactly one CSV entry of `kind`.
    explicit DataFile(std::string path, DataKind kind = DataKind::Any);
    ~DataFile();
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    const std::string& path() const { return path_; }
    // The length when it was opened: the file's size, or the entry's uncompressed size.
    std::uint64_t length() const { return length_; }
    // The date stamp "yyyymmdd": the file's last-modified local date (mdlYubinBox::GetFileDate),
    // or the entry's own timestamp as unpacking would give it to the file.
    std::string stamp() const;

    // Up to `size` bytes; 0 at the end. Raises DataFileChanged, naming the file, when the end
    // comes before the length it started with or the bytes go on past it (another program
    // cut or extended the file during the import); PathFileAccess or BadArchive when the
    // bytes cannot be read.
    std::size_t read(char* buffer, std::size_t size);

    // Where the bytes come from (a file, an archive's entry); defined with the reading.
    struct Source;

  private:
    std::string path_;
    std::unique_ptr<Source> source_;
    std::uint64_t length_ = 0;
    std::uint64_t delivered_ = 0;
};

// The date stamp "yyyymmdd" of a chosen data file (DataFile::stamp).
std::string DataFileStamp(const std::string& path, DataKind kind = DataKind::Any);

// Raises as the DataFile constructor does when `path` cannot be imported as data of `kind`.
void CheckDataFile(const std::string& path, DataKind kind = DataKind::Any);

}  // namespace yubin::import
