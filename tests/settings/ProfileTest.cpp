#include "settings/Profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "base/Error.h"
#include "support/TestSupport.h"

namespace yubin::profile {
namespace {

using test::readBytes;
using test::TempDir;
using test::writeBytes;

std::string Read(const std::string& file, const std::string& key,
                 const std::string& section = "yubinbox") {
    return GetPrivateProfileString(section, key, "", file);
}

void Write(const std::string& file, const std::string& key, const std::string& value,
           const std::string& section = "yubinbox") {
    WritePrivateProfileString(section, key, value, file);
}

TEST(ProfileRead, MissingFileSectionOrKeyGivesTheDefault) {
    TempDir dir;
    const std::string file = dir.file("a.ini");
    EXPECT_EQ(GetPrivateProfileString("yubinbox", "path", "dflt", file), "dflt");
    EXPECT_EQ(Read(file, "path"), "");

    writeBytes(file, "[other]\r\npath=x\r\n[yubinbox]\r\nauthor=y\r\n");
    EXPECT_EQ(GetPrivateProfileString("none", "path", "dflt", file), "dflt");
    EXPECT_EQ(Read(file, "path"), "");  // only lines inside the named section count
    EXPECT_EQ(Read(file, "author"), "y");

    // A folder in place of the file reads as missing.
    EXPECT_EQ(GetPrivateProfileString("yubinbox", "path", "dflt", dir.path().string()), "dflt");
}

TEST(ProfileRead, NamesMatchWithoutRegardToCase) {
    TempDir dir;
    const std::string file = dir.file("a.ini");
    writeBytes(file, "[YubinBox]\r\nPath=C:\\x\r\n");
    EXPECT_EQ(Read(file, "path", "yubinbox"), "C:\\x");
    EXPECT_EQ(Read(file, "PATH", "YUBINBOX"), "C:\\x");
}

TEST(ProfileRead, CommentsBeforeTheFirstSectionAreNeverKeys) {
    TempDir dir;
    const std::string file = dir.file("a.ini");
    writeBytes(file, "'path=C:\\My Documents\\yubinbox.mdb\r\n[yubinbox]\r\nauthor=a\r\n");
    EXPECT_EQ(Read(file, "path"), "");
    EXPECT_EQ(Read(file, "'path"), "");
}

TEST(ProfileRead, ValuesComeBackExactlyUnlessTheyHaveSurroundingSpaces) {
    TempDir dir;
    const std::string file = dir.file("a.ini");
    writeBytes(file,
               "[yubinbox]\r\n"
               "author=\t0\r\n"
               "  spaced  =  a b  \r\n"
               "quoted=\"q\"\r\n"
               "tabs=\tx\t\r\n"
               "empty=\r\n"
               "eq=a=b\r\n");
    EXPECT_EQ(Read(file, "author"), "\t0");
    EXPECT_EQ(Read(file, "spaced"), "a b");
    EXPECT_EQ(Read(file, "quoted"), "\"q\"");
    EXPECT_EQ(Read(file, "tabs"), "\tx\t");
    EXPECT_EQ(GetPrivateProfileString("yubinbox", "empty", "dflt", file), "");
    EXPECT_EQ(Read(file, "eq"), "a=b");
}

TEST(ProfileRead, LfLineEndsAndByteOrderMark) {
    TempDir dir;
    const std::string lf = dir.file("lf.ini");
    writeBytes(lf, "[yubinbox]\npath=/srv/a\nauthor=\t0\n");
    EXPECT_EQ(Read(lf, "path"), "/srv/a");
    EXPECT_EQ(Read(lf, "author"), "\t0");

    const std::string bom = dir.file("bom.ini");
    writeBytes(bom, "\xEF\xBB\xBF[yubinbox]\r\npath=/srv/b\r\n");
    EXPECT_EQ(Read(bom, "path"), "/srv/b");

    const std::string unterminated = dir.file("u.ini");
    writeBytes(unterminated, "[yubinbox]\r\npath=/srv/c");
    EXPECT_EQ(Read(unterminated, "path"), "/srv/c");
}

TEST(ProfileRead, DuplicateSectionOnlyTheFirstCounts) {
    TempDir dir;
    const std::string file = dir.file("a.ini");
    writeBytes(file, "[yubinbox]\r\npath=first\r\n[yubinbox]\r\npath=second\r\nx=1\r\n");
    EXPECT_EQ(Read(file, "path"), "first");
    EXPECT_EQ(Read(file, "x"), "");
}

TEST(ProfileRead, ValueIsCutTo255BytesOnACharacterBoundary) {
    TempDir dir;
    const std::string file = dir.file("a.ini");
    const std::string a = "\xE3\x81\x82";                  // あ, three bytes
    const std::string exact = std::string(252, 'x') + a;   // 255 bytes: fits
    const std::string split = std::string(254, 'x') + a;   // あ would be cut after one byte
    const std::string split2 = std::string(253, 'x') + a;  // あ would be cut after two bytes
    const std::string longAscii(300, 'y');
    writeBytes(file, "[yubinbox]\r\nexact=" + exact + "\r\nsplit=" + split +
                         "\r\nsplit2=" + split2 + "\r\nlong=" + longAscii + "\r\n");
    EXPECT_EQ(Read(file, "exact"), exact);
    EXPECT_EQ(Read(file, "split"), std::string(254, 'x'));
    EXPECT_EQ(Read(file, "split2"), std::string(253, 'x'));
    EXPECT_EQ(Read(file, "long"), std::string(255, 'y'));

    // Bytes that are no UTF-8 at all are cut at 255 all the same.
    EXPECT_EQ(CutToReadBuffer(std::string(300, '\x80')).size(), 255u);
    // The default goes through the same buffer.
    EXPECT_EQ(GetPrivateProfileString("yubinbox", "none", longAscii, file), std::string(255, 'y'));
}

TEST(ProfileWrite, MissingFileIsCreatedWithCrLf) {
    TempDir dir;
    const std::string file = dir.file("a.ini");
    Write(file, "path", "C:\\db\\yubinbox.mdb");
    Write(file, "author", "taro\t0");
    EXPECT_EQ(readBytes(file), "[yubinbox]\r\npath=C:\\db\\yubinbox.mdb\r\nauthor=taro\t0\r\n");
    EXPECT_EQ(Read(file, "author"), "taro\t0");
}

TEST(ProfileWrite, StoredKeyIsReplacedInPlaceAndEverythingElseKept) {
    TempDir dir;
    const std::string file = dir.file("a.ini");
    const std::string before =
        "'comment \xE3\x81\x82\r\n"
        "; other comment\r\n"
        "[Other]\r\n"
        "path=keep me\r\n"
        "\r\n"
        "[YUBINBOX]\r\n"
        "csvzpath=/data/ken_all.csv\r\n"
        "  Path = old value \r\n"
        "no equals sign here\r\n"
        "csvjpath=/data/jigyosyo.csv\r\n"
        "\r\n"
        "[last]\r\n"
        "k=v";
    writeBytes(file, before);
    Write(file, "PATH", "new");
    const std::string after =
        "'comment \xE3\x81\x82\r\n"
        "; other comment\r\n"
        "[Other]\r\n"
        "path=keep me\r\n"
        "\r\n"
        "[YUBINBOX]\r\n"
        "csvzpath=/data/ken_all.csv\r\n"
        "PATH=new\r\n"
        "no equals sign here\r\n"
        "csvjpath=/data/jigyosyo.csv\r\n"
        "\r\n"
        "[last]\r\n"
        "k=v";
    EXPECT_EQ(readBytes(file), after);
    EXPECT_EQ(Read(file, "path"), "new");
    EXPECT_EQ(Read(file, "path", "other"), "keep me");
}

TEST(ProfileWrite, NewKeyGoesAfterTheLastKeyLineOfItsSection) {
    TempDir dir;
    const std::string file = dir.file("a.ini");
    writeBytes(file, "[yubinbox]\r\npath=p\r\n; note\r\n\r\n[next]\r\nk=v\r\n");
    Write(file, "author", "\t0");
    EXPECT_EQ(readBytes(file),
              "[yubinbox]\r\npath=p\r\nauthor=\t0\r\n; note\r\n\r\n[next]\r\nk=v\r\n");

    // A section without keys gets it right after its header.
    writeBytes(file, "[yubinbox]\r\n\r\n[next]\r\n");
    Write(file, "path", "p");
    EXPECT_EQ(readBytes(file), "[yubinbox]\r\npath=p\r\n\r\n[next]\r\n");

    // The last line of the file without a line end gets one first.
    writeBytes(file, "[yubinbox]\r\npath=p");
    Write(file, "author", "a");
    EXPECT_EQ(readBytes(file), "[yubinbox]\r\npath=p\r\nauthor=a\r\n");
}

TEST(ProfileWrite, NewSectionGoesToTheEndOfTheFile) {
    TempDir dir;
    const std::string file = dir.file("a.ini");
    writeBytes(file, "'comment\r\n[other]\r\nk=v\r\n");
    Write(file, "path", "p");
    EXPECT_EQ(readBytes(file), "'comment\r\n[other]\r\nk=v\r\n[yubinbox]\r\npath=p\r\n");

    writeBytes(file, "'no line end");
    Write(file, "path", "p");
    EXPECT_EQ(readBytes(file), "'no line end\r\n[yubinbox]\r\npath=p\r\n");

    writeBytes(file, "");
    Write(file, "path", "p");
    EXPECT_EQ(readBytes(file), "[yubinbox]\r\npath=p\r\n");
}

TEST(ProfileWrite, LfFileStaysLfAndByteOrderMarkStays) {
    TempDir dir;
    const std::string lf = dir.file("lf.ini");
    writeBytes(lf, "[yubinbox]\npath=old\n");
    Write(lf, "path", "new");
    Write(lf, "author", "a\t0");
    Write(lf, "k", "v", "other");
    EXPECT_EQ(readBytes(lf), "[yubinbox]\npath=new\nauthor=a\t0\n[other]\nk=v\n");

    const std::string bom = dir.file("bom.ini");
    writeBytes(bom, "\xEF\xBB\xBF[yubinbox]\r\npath=old\r\n");
    Write(bom, "path", "new");
    Write(bom, "author", "a");
    EXPECT_EQ(readBytes(bom), "\xEF\xBB\xBF[yubinbox]\r\npath=new\r\nauthor=a\r\n");

    const std::string bomOnly = dir.file("bomonly.ini");
    writeBytes(bomOnly, "\xEF\xBB\xBF");
    Write(bomOnly, "path", "p");
    EXPECT_EQ(readBytes(bomOnly), "\xEF\xBB\xBF[yubinbox]\r\npath=p\r\n");
}

TEST(ProfileWrite, TabZeroAuthorRoundTrips) {
    TempDir dir;
    const std::string file = dir.file("a.ini");
    Write(file, "author", "\t0");
    EXPECT_EQ(Read(file, "author"), "\t0");
    Write(file, "author", "hanako\t0");
    EXPECT_EQ(Read(file, "author"), "hanako\t0");
    EXPECT_EQ(readBytes(file), "[yubinbox]\r\nauthor=hanako\t0\r\n");
}

TEST(ProfileWrite, LineBreaksAndBrokenNamesAreRefusedAndNothingIsWritten) {
    TempDir dir;
    const std::string file = dir.file("a.ini");
    const std::string before = "[yubinbox]\r\npath=p\r\nauthor=taro\t0\r\n";
    writeBytes(file, before);

    struct Case {
        std::string section, key, value;
    };
    const Case cases[] = {
        {"yubinbox", "path", "x\r\nauthor=mallory\t0"},
        {"yubinbox", "path", "x\nauthor=mallory\t0"},
        {"yubinbox", "path", "x\r"},
        {"yubinbox", "path", std::string("x\0y", 3)},
        {"yubinbox", "pa\nth", "x"},
        {"yubin\r\nbox", "path", "x"},
        {"yubinbox", "a=b", "x"},
        {"yubinbox", "[yubinbox", "x]"},
        {"yubin]box", "path", "x"},
        {"yubinbox", " ", "x"},
        {"", "path", "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section + "/" + c.key + "/" + c.value);
        try {
            WritePrivateProfileString(c.section, c.key, c.value, file);
            ADD_FAILURE() << "not refused";
        } catch (const YubinError& e) {
            EXPECT_EQ(e.code(), ErrorCode::BadSettingsValue);
            EXPECT_NE(std::string(e.what()).find("何も書き込んでいません"), std::string::npos);
        }
        EXPECT_EQ(readBytes(file), before);
    }
    EXPECT_EQ(Read(file, "author"), "taro\t0");

    // A refused write does not create a missing file either.
    const std::string missing = dir.file("missing.ini");
    EXPECT_THROW(Write(missing, "path", "a\nb"), YubinError);
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST(ProfileWrite, UnwritableLocationRaisesPathFileAccess) {
    TempDir dir;
    try {
        Write(dir.file("no/such/folder/a.ini"), "path", "p");
        FAIL() << "no error";
    } catch (const YubinError& e) {
        EXPECT_EQ(e.code(), ErrorCode::PathFileAccess);
    }
}

TEST(ProfileWrite, AtomicReplacementLeavesNoTemporaryFilesAndKeepsModeAndLinks) {
    TempDir dir;
    const std::string file = dir.file("a.ini");
    writeBytes(file, "[yubinbox]\r\npath=p\r\n");
    ::chmod(file.c_str(), 0640);
    Write(file, "path", "q");
    Write(file, "author", "a");

    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename(), "a.ini");
        ++entries;
    }
    EXPECT_EQ(entries, 1);

    // Writing through a symbolic link updates its target and keeps the link.
    const std::string link = dir.file("link.ini");
    std::filesystem::create_symlink(file, link);
    Write(link, "path", "r");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Read(file, "path"), "r");
}

}  // namespace
}  // namespace yubin::profile
