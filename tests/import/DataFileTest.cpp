// Data files as they arrive: ZIP archives, files changed during the import, things that are
// no files, and bytes that are no text.
#include "import/DataFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

using namespace std::string_literals;

#include "import/DataLineError.h"
#include "import/JigyosyoReader.h"
#include "import/KenAllReader.h"
#include "import/LineReader.h"
#include "support/ErrorOf.h"
#include "support/TestSupport.h"
#include "support/ZipSupport.h"

namespace yubin::import {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

using test::ErrorOf;

std::vector<std::string> ReadLines(const std::string& path, DataKind kind) {
    LineReader reader(path, 64, kind);
    std::vector<std::string> lines;
    for (std::string_view line; reader.next(line);) lines.emplace_back(line);
    EXPECT_EQ(reader.bytesConsumed(), reader.fileLength());
    return lines;
}

const std::string kCsv = "13101,a\r\n13102,b\r\n" + std::string(300, 'x') + "\r\n";

TEST(ZipDataFile, CsvEntryIsReadAsAStreamWithItsOwnLengthAndDate) {
    TempDir dir;
    const std::time_t made = test::localNoon(2024, 2, 28);
    test::writeZip(dir.file("ken_all.zip"),
                   {{"README.TXT", "not data", made}, {"KEN_ALL.CSV", kCsv, made}});
    test::writeBytes(dir.file("KEN_ALL.CSV"), kCsv);
    EXPECT_EQ(ReadLines(dir.file("ken_all.zip"), DataKind::National),
              ReadLines(dir.file("KEN_ALL.CSV"), DataKind::National));
    DataFile file(dir.file("ken_all.zip"), DataKind::National);
    EXPECT_EQ(file.length(), kCsv.size());
    EXPECT_EQ(file.stamp(), "20240228");
    EXPECT_EQ(DataFileStamp(dir.file("ken_all.zip"), DataKind::National), "20240228");
    // Nothing is unpacked beside the archive.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);

    // An extended timestamp, where the entry has one, is what unpacking gives the file.
    test::ZipEntry stamped{"KEN_ALL.CSV", kCsv, made};
    stamped.extendedTimestamp = test::localNoon(2024, 3, 5);
    test::writeZip(dir.file("stamped.zip"), {stamped});
    EXPECT_EQ(DataFileStamp(dir.file("stamped.zip"), DataKind::National), "20240305");

    // The name decides, whatever the case or folder; so do the first bytes of a renamed file.
    test::writeZip(dir.file("data.bin"), {{"x/jigyosyo.csv", kCsv, made}});
    EXPECT_EQ(ReadLines(dir.file("data.bin"), DataKind::Office).size(), 3u);
}

TEST(ZipDataFile, ArchiveWithoutExactlyOneEntryOfTheKindIsRefused) {
    TempDir dir;
    const std::time_t t = test::localNoon(2024, 3, 1);
    struct Case {
        std::vector<test::ZipEntry> entries;
        DataKind kind;
        const char* says;
    };
    const Case cases[] = {
        {{{"README.TXT", "x", t}},
         DataKind::National,
         "KEN_ALL.CSV（全国版郵便番号データ） がありません"},
        {{{"JIGYOSYO.CSV", kCsv, t}}, DataKind::National, "KEN_ALL.CSV"},
        {{{"ADD_2403.CSV", kCsv, t}}, DataKind::National, "がありません"},
        {{{"a/KEN_ALL.CSV", kCsv, t}, {"b/ken_all.csv", kCsv, t}}, DataKind::National, "2 個"},
        {{{"KEN_ALL.CSV/", "", t}}, DataKind::National, "がありません"},
        {{{"KEN_ALL.CSV", kCsv, t}}, DataKind::Office, "JIGYOSYO.CSV"},
        {{{"a.csv", kCsv, t}, {"b.csv", kCsv, t}}, DataKind::Any, "CSV ファイル が 2 個"},
    };
    for (const Case& c : cases) {
        test::writeZip(dir.file("x.zip"), c.entries);
        const YubinError e = ErrorOf([&] { DataFile file(dir.file("x.zip"), c.kind); });
        EXPECT_EQ(e.code(), ErrorCode::BadArchive) << e.description();
        EXPECT_NE(e.description().find(c.says), std::string::npos) << e.description();
        EXPECT_NE(e.description().find(dir.file("x.zip")), std::string::npos);
    }
    test::writeBytes(dir.file("broken.zip"), "13101,a\r\n");
    const YubinError e = ErrorOf([&] { DataFile file(dir.file("broken.zip")); });
    EXPECT_EQ(e.code(), ErrorCode::BadArchive);
    EXPECT_NE(e.description().find("ZIP 形式ではありません"), std::string::npos) << e.description();
}

TEST(ChangedDataFile, CutOrGrownDuringTheReadingIsAnErrorThatNamesTheFile) {
    TempDir dir;
    std::string bytes;
    for (int i = 0; i < 100; ++i) bytes += "13101,line" + std::to_string(i) + "\r\n";
    for (bool grow : {false, true}) {
        SCOPED_TRACE(grow ? "grown" : "cut");
        const std::string path = dir.file("ken_all.csv");
        test::writeBytes(path, bytes);
        LineReader reader(path, 64);
        std::string_view line;
        ASSERT_TRUE(reader.next(line));
        if (grow) {
            test::writeBytes(path, bytes + "13101,more\r\n");
        } else {
            ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(bytes.size() / 2)), 0);
        }
        const YubinError e = ErrorOf([&] {
            while (reader.next(line)) {
            }
        });
        EXPECT_EQ(e.code(), ErrorCode::DataFileChanged);
        EXPECT_NE(e.description().find(path), std::string::npos) << e.description();
        EXPECT_NE(e.description().find(grow ? "長くなりました" : "短くなりました"),
                  std::string::npos)
            << e.description();
    }
}

TEST(DataFileKinds, FolderFifoAndDeviceAreReportedAsWhatTheyAre) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo.csv").c_str(), 0600), 0);
    const std::pair<std::string, const char*> cases[] = {
        {dir.path().string(), "フォルダ"},
        {dir.file("fifo.csv"), "名前付きパイプ"},
        {"/dev/null", "デバイス"},
    };
    for (const auto& [path, what] : cases) {
        const YubinError e = ErrorOf([&] { KenAllReader reader(path); });
        EXPECT_EQ(e.code(), ErrorCode::PathFileAccess) << path;
        EXPECT_NE(e.description().find(what), std::string::npos) << e.description();
        EXPECT_EQ(e.description().find("見つかりません"), std::string::npos) << e.description();
        EXPECT_THROW(CheckDataFile(path), YubinError);
    }
    EXPECT_EQ(ErrorOf([&] { CheckDataFile(dir.file("none.csv")); }).code(),
              ErrorCode::FileNotFound);
}

TEST(DataLineErrors, NulByteIsBadInputWithFileLineAndByteAsFields) {
    TempDir dir;
    const std::string path = dir.file("jigyosyo.csv");
    test::writeBytes(path, "13101,a,b,c,d,e,f,1000001,100,g,0,0,0\r\n13101,a\0b,c\r\n"s);
    const YubinError e = ErrorOf([&] {
        JigyosyoReader reader(path);
        while (reader.readLine()) reader.splitFields();
    });
    EXPECT_EQ(e.code(), ErrorCode::BadEncoding);
    EXPECT_EQ(e.file(), path);
    EXPECT_EQ(e.line(), 2);
    EXPECT_NE(e.detail().find("8 バイト目に NUL 文字"), std::string::npos) << e.detail();
    EXPECT_EQ(e.description(), "ファイル " + path + " の 2 行目: " + e.detail());
}

TEST(DataLineErrors, OnlyErrorsOfTheLinesValuesNameTheLine) {
    const auto rethrown = [](ErrorCode code) {
        return ErrorOf([&] { RethrowForDataLine(YubinError(code, "x"), "/d/KEN_ALL.CSV", 7); });
    };
    for (ErrorCode code : {ErrorCode::FieldTooSmall, ErrorCode::TypeMismatch,
                           ErrorCode::NumericOverflow, ErrorCode::ZeroLengthNotAllowed}) {
        const YubinError e = rethrown(code);
        EXPECT_EQ(e.line(), 7);
        EXPECT_EQ(e.description(), "ファイル /d/KEN_ALL.CSV の 7 行目: x");
    }
    for (ErrorCode code : {ErrorCode::EngineFailure, ErrorCode::ReadOnly, ErrorCode::FileInUse,
                           ErrorCode::ObjectClosed, ErrorCode::LockedByOtherUser}) {
        const YubinError e = rethrown(code);
        EXPECT_FALSE(e.isDataLineError());
        EXPECT_EQ(e.description(), "x");
    }
}

}  // namespace
}  // namespace yubin::import
