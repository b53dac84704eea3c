// The raw line reading under both data-file readers, and the code page 932 decoding.
#include "import/LineReader.h"

#include <gtest/gtest.h>

#include "import/Cp932Decoder.h"
#include "support/TestSupport.h"

namespace yubin::import {
namespace {

using Lines = std::vector<std::string>;
using Counts = std::vector<std::uint64_t>;

struct Read {
    Lines lines;
    Counts consumed;  // after each line
};

Read readBytes(const std::string& bytes, std::size_t bufferBytes = 64 * 1024) {
    test::TempDir dir;
    test::writeBytes(dir.file("data.csv"), bytes);
    LineReader reader(dir.file("data.csv"), bufferBytes);
    Read r;
    for (std::string_view line; reader.next(line);) {
        r.lines.emplace_back(line);
        r.consumed.push_back(reader.bytesConsumed());
    }
    return r;
}

TEST(LineReader, CrLfAndBareLfEndLinesAndAFinalLineEndStartsNoLine) {
    EXPECT_EQ(readBytes("a\r\nb\nc\r\n").lines, (Lines{"a", "b", "c"}));
    EXPECT_EQ(readBytes("a\r\nlast").lines, (Lines{"a", "last"}));
    EXPECT_EQ(readBytes("a\r\n\r\n").lines, (Lines{"a", ""}));
    EXPECT_EQ(readBytes("a\rb\r\n").lines, (Lines{"a\rb"}));
    EXPECT_TRUE(readBytes("").lines.empty());
}

TEST(LineReader, LinesAcrossRefillsOfASmallBufferAndLongerThanIt) {
    std::string bytes;
    Lines expected;
    for (std::uint32_t i = 0, x = 1; i < 300; ++i) {
        x = x * 1103515245u + 12345u;  // short and long lines in no particular order
        expected.emplace_back((x >> 16) % 41, static_cast<char>('a' + i % 26));
        bytes += expected.back() + (i % 3 == 0 ? "\n" : "\r\n");
    }
    for (std::size_t buffer : {16, 17, 31}) EXPECT_EQ(readBytes(bytes, buffer).lines, expected);
}

TEST(LineReader, CountsCodePageBytesPlusTwoButNeverPastTheFileLength) {
    const std::string kanaAndKanji = test::toCp932("ﾎｯｶｲ,北海道");  // 4 + 1 + 6 bytes
    EXPECT_EQ(readBytes(kanaAndKanji + "\r\n0\r\n").consumed, (Counts{13, 16}));
    EXPECT_EQ(readBytes("aaaa\nbbbb\ncc\n").consumed, (Counts{6, 12, 13}));
    EXPECT_EQ(readBytes("aaaa\r\nbb").consumed, (Counts{6, 8}));
}

TEST(LineReader, MissingFileFolderAndOverlongLine) {
    test::TempDir dir;
    const auto errorOf = [](auto&& f) {
        try {
            f();
        } catch (const YubinError& e) {
            return e;
        }
        return YubinError(ErrorCode::EngineFailure, "no error");
    };
    EXPECT_EQ(errorOf([&] { LineReader r(dir.file("none.csv")); }).code(), ErrorCode::FileNotFound);
    EXPECT_EQ(errorOf([&] { LineReader r(dir.path().string()); }).code(),
              ErrorCode::PathFileAccess);

    test::writeBytes(dir.file("long.csv"),
                     "ok\r\n" + std::string(LineReader::kMaxLineBytes + 1, 'x'));
    LineReader reader(dir.file("long.csv"), 1024);
    std::string_view line;
    ASSERT_TRUE(reader.next(line));
    const YubinError e = errorOf([&] { reader.next(line); });
    EXPECT_EQ(e.code(), ErrorCode::BadInputLine);
    EXPECT_NE(e.description().find("long.csv の 2 行目"), std::string::npos) << e.description();
}

TEST(Cp932Decoding, WindowsMappingsAndHalfWidthKanaKept) {
    Cp932Decoder decoder;
    std::string out;
    EXPECT_EQ(decoder.decode("\x81\x60\x81\x7C\x87\x40\xFB\xFC\xCE\xAF\x5C", out),
              Cp932Decoder::npos);
    EXPECT_EQ(out, "～－①髙ﾎｯ\\");
    EXPECT_EQ(decoder.decode("\"\x82\xA0\",\"a\"\"", out, true), Cp932Decoder::npos);
    EXPECT_EQ(out, "あ,a");
}

TEST(Cp932Decoding, RefusesBytesOutsideTheCodePageAtTheirOffsetInTheFile) {
    Cp932Decoder decoder;
    std::string out;
    const std::pair<std::string, std::size_t> cases[] = {
        {"ab\x80", 2},
        {"\xA0", 0},
        {"\xB1\xFD", 1},
        {"\xFE", 0},
        {"\xFF", 0},  // undefined
        {"\xB1\x82", 1},
        {"\x82 ", 0},
        {"\x82\xA0\x82\x7F", 2},  // lead without trail byte
        {"\x85\x40", 0},
        {"abcdefgh\x82\xA0\xEC\x9F", 10},  // unassigned codes
    };
    for (const auto& [bytes, offset] : cases) {
        EXPECT_EQ(decoder.decode(bytes, out), offset) << testing::PrintToString(bytes);
    }
    // A quote left out must not pair a lead byte with the byte after it; offsets count quotes.
    EXPECT_EQ(decoder.decode("\"\x82\"\xA0\"", out, true), 1u);
    EXPECT_EQ(decoder.decode("\"\"a\",\"\x85\x40", out, true), 6u);
    EXPECT_EQ(decoder.decode("\x82\xA0", out), Cp932Decoder::npos);
    EXPECT_EQ(out, "あ");
}

}  // namespace
}  // namespace yubin::import
