// The raw line reading under both data-file readers, and the code page 932 decoding.
#include "import/LineReader.h"

#include <gtest/gtest.h>

#include <random>

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

    // Decoding a data-file line refuses the same bytes at the same offsets.
    std::vector<char> room(Cp932Decoder::roomFor(64));
    std::size_t length = 0;
    SeparatorMarks marks;
    for (const auto& [bytes, offset] : cases) {
        EXPECT_EQ(
            decoder.decodeLine(bytes, room.data(), length, Cp932Decoder::Separators::Commas, marks),
            offset)
            << testing::PrintToString(bytes);
    }
    EXPECT_EQ(decoder.decodeLine(std::string_view("ab\0,", 4), room.data(), length,
                                 Cp932Decoder::Separators::Commas, marks),
              2u);
}

// What decodeLine marks: the separators' offsets in the decoded text, after the quotes left
// out and the characters that grew; tabs only where they separate; every separator counted.
struct DecodedLine {
    std::string text;
    std::vector<std::uint32_t> marks;
    std::size_t count = 0;
    bool operator==(const DecodedLine&) const = default;
};

DecodedLine decodeLine(Cp932Decoder& decoder, const std::string& utf8,
                       Cp932Decoder::Separators separators) {
    const std::string bytes = test::toCp932(utf8);
    std::vector<char> room(Cp932Decoder::roomFor(bytes.size()));
    std::size_t length = 0;
    SeparatorMarks marks;
    marks.count = 99;  // left from another line
    EXPECT_EQ(decoder.decodeLine(bytes, room.data(), length, separators, marks),
              Cp932Decoder::npos);
    DecodedLine line{std::string(room.data(), length), {}, marks.count};
    for (std::size_t i = 0; i < std::min(marks.count, SeparatorMarks::kKept); ++i) {
        line.marks.push_back(marks.at[i]);
    }
    return line;
}

TEST(Cp932Decoding, ALineIsDecodedWithItsSeparatorsMarkedInTheDecodedText) {
    using S = Cp932Decoder::Separators;
    Cp932Decoder decoder;
    EXPECT_EQ(decodeLine(decoder, "\"ｱ\",\"北海道\"\t,,x\t\"", S::Commas),
              (DecodedLine{"ｱ,北海道\t,,x\t", {3, 14, 15}, 3}));
    EXPECT_EQ(decodeLine(decoder, "\"ｱ\",\"北海道\"\t,,x\t\"", S::CommasAndTabs),
              (DecodedLine{"ｱ,北海道\t,,x\t", {3, 13, 14, 15, 17}, 5}));
    EXPECT_EQ(decodeLine(decoder, "", S::Commas), (DecodedLine{"", {}, 0}));
    EXPECT_EQ(decodeLine(decoder, "\"\"", S::Commas), (DecodedLine{"", {}, 0}));

    // A line of far more fields than any file has: the first marks kept, all counted.
    std::string many;
    std::vector<std::uint32_t> kept;
    for (std::uint32_t i = 0; i < 40; ++i) {
        many += "ﾎ,";
        if (i < SeparatorMarks::kKept) kept.push_back(i * 4 + 3);
    }
    const DecodedLine decoded = decodeLine(decoder, many, S::Commas);
    EXPECT_EQ(decoded.count, 40u);
    EXPECT_EQ(decoded.marks, kept);
    EXPECT_EQ(decoded.text.size(), 160u);
}

// Lines of every mix held against the line as written: its text without the quotes, the
// separators where that text has them, and a NUL refused at its offset wherever it stands.
TEST(Cp932Decoding, LinesOfEveryMixDecodeToTheirTextWithTheirSeparators) {
    const std::vector<std::string> pieces = {
        "0",       "12345", "060  ",  "\"", "\",\"",      ",", "\t", "(", "abcdefghijklmnopqrstu",
        "ﾎｯｶｲﾄﾞｳ", "ｱ",     "北海道", "～", "0,0,0,0,0,0"};
    std::mt19937 random(932);
    Cp932Decoder decoder;
    for (int round = 0; round < 3000; ++round) {
        std::string line;
        const std::size_t count = random() % 40;
        for (std::size_t i = 0; i < count; ++i) line += pieces[random() % pieces.size()];
        SCOPED_TRACE(line);
        std::string bytes = test::toCp932(line);
        const bool tabs = round % 2 == 1;
        std::string text;
        std::vector<std::uint32_t> separators;
        for (const char c : line) {
            if (c == '"') continue;
            if (c == ',' || (tabs && c == '\t')) {
                separators.push_back(static_cast<std::uint32_t>(text.size()));
            }
            text += c;
        }
        std::size_t refusedAt = Cp932Decoder::npos;
        if (round % 7 == 3 && !bytes.empty()) {
            // A NUL in place of an ASCII byte.
            for (std::size_t at = random() % bytes.size(); at < bytes.size(); ++at) {
                if (static_cast<unsigned char>(bytes[at]) < 0x80 && bytes[at] != '"' &&
                    bytes[at] != ',' && bytes[at] != '\t') {
                    bytes[at] = '\0';
                    refusedAt = at;
                    break;
                }
            }
        }
        std::vector<char> room(Cp932Decoder::roomFor(bytes.size()));
        std::size_t length = 0;
        SeparatorMarks marks;
        const std::size_t result = decoder.decodeLine(
            bytes, room.data(), length,
            tabs ? Cp932Decoder::Separators::CommasAndTabs : Cp932Decoder::Separators::Commas,
            marks);
        if (refusedAt != Cp932Decoder::npos) {
            // Or before it, when the byte was the trail byte of a two-byte character.
            EXPECT_NE(result, Cp932Decoder::npos);
            EXPECT_LE(result, refusedAt);
            continue;
        }
        ASSERT_EQ(result, Cp932Decoder::npos);
        EXPECT_EQ(std::string(room.data(), length), text);
        EXPECT_EQ(marks.count, separators.size());
        separators.resize(std::min(separators.size(), SeparatorMarks::kKept));
        EXPECT_EQ(
            std::vector<std::uint32_t>(marks.at.begin(), marks.at.begin() + separators.size()),
            separators);
        std::string decoded;
        ASSERT_EQ(decoder.decode(bytes, decoded, true), Cp932Decoder::npos);
        EXPECT_EQ(decoded, text);
    }
}

}  // namespace
}  // namespace yubin::import
