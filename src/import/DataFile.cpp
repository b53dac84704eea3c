#include "import/DataFile.h"
#include "import/LibZip.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#include "base/Error.h"
#include "base/UniqueFd.h"
#include "settings/FileIo.h"
#include "store/mdlYubinBox.h"

namespace yubin::import {

namespace {

[[noreturn]] void FailToOpen(const std::string& path, int error) {
    if (error == ENOENT || error == ENOTDIR) {
        throw YubinError(ErrorCode::FileNotFound, Message("ファイル {1} が見つかりません。", path));
    }
    throw YubinError(ErrorCode::PathFileAccess,
                     Message("ファイル {1} を開けません（{2}）。", path, std::strerror(error)));
}

// Anything but a regular file is refused by what it is: a FIFO would block the import, a
// device would never end, a folder has no lines.
void RequireRegularFile(const std::string& path, mode_t mode) {
    if (S_ISREG(mode)) return;
    const char* what =
        S_ISDIR(mode) ? TrMark("{1} はフォルダです。郵便番号データのファイルを指定してください。")
        : S_ISFIFO(mode)
            ? TrMark(
                  "{1} は名前付きパイプ（FIFO）です。郵便番号データのファイルを指定してください。")
        : S_ISCHR(mode) || S_ISBLK(mode)
            ? TrMark("{1} はデバイスです。郵便番号データのファイルを指定してください。")
        : S_ISSOCK(mode)
            ? TrMark("{1} はソケットです。郵便番号データのファイルを指定してください。")
            : TrMark(
                  "{1} は通常のファイルではないものです。郵便番号データのファイルを指定してくだ"
                  "さい。");
    throw YubinError(ErrorCode::PathFileAccess, Message(what, path));
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    text.remove_prefix(text.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (AsciiUpper(text[i]) != AsciiUpper(suffix[i])) return false;
    }
    return true;
}

bool LooksLikeZip(const std::string& path, int fd) {
    if (EndsWithIgnoringCase(path, ".zip")) return true;
    char magic[4] = {};
    if (::pread(fd, magic, sizeof magic, 0) != static_cast<ssize_t>(sizeof magic)) return false;
    return std::string_view(magic, 2) == "PK" &&
           ((magic[2] == 3 && magic[3] == 4) || (magic[2] == 5 && magic[3] == 6));
}

std::string LocalDateStamp(std::time_t time) {
    std::tm local{};
    char stamp[16] = "";
    if (localtime_r(&time, &local) != nullptr) std::strftime(stamp, sizeof stamp, "%Y%m%d", &local);
    return stamp;
}

Message ZipProblem(int code) {
    switch (code) {
        case ZIP_ER_NOZIP:
            return Message("ZIP 形式ではありません");
        case ZIP_ER_INCONS:
        case ZIP_ER_EOF:
            return Message("ZIP の構造が壊れているか、途中で切れています");
        case ZIP_ER_CRC:
        case ZIP_ER_ZLIB:
        case ZIP_ER_COMPRESSED_DATA:
            return Message(
                "圧縮されたデータが壊れています（取り込み中に変更された可能性もあります）");
        case ZIP_ER_COMPNOTSUPP:
            return Message("対応していない圧縮方式です");
        case ZIP_ER_ENCRNOTSUPP:
        case ZIP_ER_NOPASSWD:
        case ZIP_ER_WRONGPASSWD:
            return Message("暗号化されています");
        case ZIP_ER_MULTIDISK:
            return Message("分割された ZIP ファイルには対応していません");
        case ZIP_ER_READ:
        case ZIP_ER_SEEK:
        case ZIP_ER_TELL:
            return Message("読み取りに失敗しました");
        case ZIP_ER_MEMORY:
            return Message("メモリが足りません");
        default:
            return Message("libzip のエラー {1}", code);
    }
}

// `what` says what failed; the problem follows it in brackets.
[[noreturn]] void FailArchive(const Message& what, int code) {
    throw YubinError(ErrorCode::BadArchive, Message("{1}（{2}）。", what, ZipProblem(code)));
}

// The name the archive's entry must have, for the kind, and how a message names it.
struct ExpectedEntry {
    const char* name;  // "" for any CSV file
    const char* shown;
};

ExpectedEntry Expected(DataKind kind) {
    switch (kind) {
        case DataKind::National:
            return {"KEN_ALL.CSV", TrMark("KEN_ALL.CSV（全国版郵便番号データ）")};
        case DataKind::Office:
            return {"JIGYOSYO.CSV", TrMark("JIGYOSYO.CSV（事業所個別郵便番号データ）")};
        case DataKind::Any:
            break;
    }
    return {"", TrMark("CSV ファイル")};
}

bool IsEntryOfKind(std::string_view name, const ExpectedEntry& expected) {
    if (name.empty() || name.back() == '/') return false;  // a folder
    const std::size_t slash = name.find_last_of("/\\");
    const std::string_view base = slash == std::string_view::npos ? name : name.substr(slash + 1);
    if (*expected.name == '\0') return EndsWithIgnoringCase(base, ".csv");
    return base.size() == std::strlen(expected.name) && EndsWithIgnoringCase(base, expected.name);
}

// The modification time that unpacking gives the file: the extended timestamp (UTC) when the
// entry carries one, else the DOS date and time, which are local.
std::time_t EntryTime(zip_t* archive, zip_uint64_t index, const zip_stat_t& stat) {
    constexpr zip_uint16_t kExtendedTimestamp = 0x5455;
    zip_uint16_t size = 0;
    const zip_uint8_t* data = Zip().zip_file_extra_field_get_by_id(
        archive, index, kExtendedTimestamp, 0, &size, ZIP_FL_LOCAL | ZIP_FL_CENTRAL);
    if (data != nullptr && size >= 5 && (data[0] & 1) != 0) {
        const std::uint32_t bits =
            data[1] | data[2] << 8 | data[3] << 16 | static_cast<std::uint32_t>(data[4]) << 24;
        return static_cast<std::int32_t>(bits);
    }
    return (stat.valid & ZIP_STAT_MTIME) != 0 ? stat.mtime : 0;
}

}  // namespace

struct DataFile::Source {
    virtual ~Source() = default;
    virtual std::size_t read(char* buffer, std::size_t size) = 0;
    virtual std::string stamp() const = 0;
};

namespace {

class CsvSource : public DataFile::Source {
  public:
    CsvSource(std::string path, UniqueFd fd) : path_(std::move(path)), fd_(std::move(fd)) {}

    std::size_t read(char* buffer, std::size_t size) override {
        ssize_t n;
        do {
            n = ::read(fd_.get(), buffer, size);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            throw YubinError(
                ErrorCode::PathFileAccess,
                Message("ファイル {1} を読み取れません（{2}）。", path_, std::strerror(errno)));
        }
        return static_cast<std::size_t>(n);
    }

    std::string stamp() const override { return mdlYubinBox::GetFileDate(path_); }

  private:
    std::string path_;
    UniqueFd fd_;
};

class ZipSource : public DataFile::Source {
  public:
    ZipSource(const std::string& path, UniqueFd fd, DataKind kind) : path_(path) {
        int code = ZIP_ER_OK;
        archive_ = Zip().zip_fdopen(fd.get(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
        if (archive_ == nullptr) FailArchive(Message("ZIP ファイル {1} を読めません", path), code);
        fd.release();  // the archive closes it
        try {
            openEntry(path, kind);
        } catch (...) {
            close();  // a constructor that throws runs no destructor
            throw;
        }
    }

    ~ZipSource() override { close(); }

    std::uint64_t length() const { return length_; }

    std::size_t read(char* buffer, std::size_t size) override {
        const zip_int64_t n = Zip().zip_fread(entry_, buffer, size);
        if (n < 0) {
            FailArchive(Message("ZIP ファイル {1} の {2} を読み取れません", path_, entryName_),
                        Zip().zip_error_code_zip(Zip().zip_file_get_error(entry_)));
        }
        return static_cast<std::size_t>(n);
    }

    std::string stamp() const override { return LocalDateStamp(time_); }

  private:
    // The one CSV entry of the expected kind, opened for reading.
    void openEntry(const std::string& path, DataKind kind) {
        const ExpectedEntry expected = Expected(kind);
        std::vector<zip_uint64_t> matches;
        const zip_int64_t count = Zip().zip_get_num_entries(archive_, 0);
        for (zip_int64_t i = 0; i < count; ++i) {
            const char* name = Zip().zip_get_name(archive_, static_cast<zip_uint64_t>(i), 0);
            if (name != nullptr && IsEntryOfKind(name, expected)) {
                matches.push_back(static_cast<zip_uint64_t>(i));
            }
        }
        if (matches.size() != 1) {
            const Message shown(expected.shown);
            throw YubinError(ErrorCode::BadArchive,
                             matches.empty()
                                 ? Message("ZIP ファイル {1} には {2} がありません。", path, shown)
                                 : Message("ZIP ファイル {1} には {2} が {3} 個あります。一つだけ"
                                           "入ったものを指定してください。",
                                           path, shown, matches.size()));
        }
        index_ = matches.front();
        entryName_ = Zip().zip_get_name(archive_, index_, 0);
        zip_stat_t stat;
        Zip().zip_stat_init(&stat);
        if (Zip().zip_stat_index(archive_, index_, 0, &stat) != 0 ||
            (stat.valid & ZIP_STAT_SIZE) == 0) {
            FailArchive(Message("ZIP ファイル {1} の {2} を読めません", path, entryName_),
                        Zip().zip_error_code_zip(Zip().zip_get_error(archive_)));
        }
        length_ = stat.size;
        time_ = EntryTime(archive_, index_, stat);
        entry_ = Zip().zip_fopen_index(archive_, index_, 0);
        if (entry_ == nullptr) {
            FailArchive(Message("ZIP ファイル {1} の {2} を開けません", path, entryName_),
                        Zip().zip_error_code_zip(Zip().zip_get_error(archive_)));
        }
    }

    void close() {
        if (entry_ != nullptr) Zip().zip_fclose(entry_);
        entry_ = nullptr;
        if (archive_ != nullptr) Zip().zip_discard(archive_);
        archive_ = nullptr;
    }

    std::string path_;
    zip_t* archive_ = nullptr;
    zip_file_t* entry_ = nullptr;
    zip_uint64_t index_ = 0;
    std::string entryName_;
    std::uint64_t length_ = 0;
    std::time_t time_ = 0;
};

}  // namespace

DataFile::DataFile(std::string path, DataKind kind) : path_(std::move(path)) {
    if (path_.empty()) FailToOpen(path_, ENOENT);
    // Looked at before it is opened (opening a device can do things), and again once open.
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) FailToOpen(path_, errno);
    RequireRegularFile(path_, st.st_mode);
    UniqueFd fd;
    do {
        fd = UniqueFd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    } while (!fd && errno == EINTR);
    if (!fd) FailToOpen(path_, errno);
    if (::fstat(fd.get(), &st) != 0) FailToOpen(path_, errno);
    RequireRegularFile(path_, st.st_mode);
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);

    if (LooksLikeZip(path_, fd.get())) {
        auto zip = std::make_unique<ZipSource>(path_, std::move(fd), kind);
        length_ = zip->length();
        source_ = std::move(zip);
    } else {
        length_ = static_cast<std::uint64_t>(st.st_size);
        source_ = std::make_unique<CsvSource>(path_, std::move(fd));
    }
}

DataFile::~DataFile() = default;

std::string DataFile::stamp() const { return source_->stamp(); }

std::size_t DataFile::read(char* buffer, std::size_t size) {
    const std::size_t n = source_->read(buffer, size);
    delivered_ += n;
    if (delivered_ > length_) {
        throw YubinError(ErrorCode::DataFileChanged,
                         Message("ファイル {1} が取り込み中に長くなりました（開始時 {2} バイト）。"
                                 "他のプログラムが変更しています。変更が終わってから取り込み直して"
                                 "ください。",
                                 path_, length_));
    }
    if (n == 0 && size > 0 && delivered_ < length_) {
        throw YubinError(ErrorCode::DataFileChanged,
                         Message("ファイル {1} が取り込み中に短くなりました（開始時 {2} バイト、読"
                                 "み取れたのは {3} バイト）。他のプログラムが変更しています。変更が"
                                 "終わってから取り込み直してください。",
                                 path_, length_, delivered_));
    }
    return n;
}

std::string DataFileStamp(const std::string& path, DataKind kind) {
    return DataFile(path, kind).stamp();
}

void CheckDataFile(const std::string& path, DataKind kind) { DataFile file(path, kind); }

}  // namespace yubin::import
