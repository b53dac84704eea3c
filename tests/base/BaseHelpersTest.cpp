#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include <gtest/gtest.h>

#include "base/Program.h"
#include "base/SystemError.h"
#include "base/Text.h"
#include "base/UniqueFd.h"
#include "support/TestSupport.h"

namespace yubin {
namespace {

TEST(TextTest, CaseIsFoldedForAsciiLettersOnly) {
    EXPECT_TRUE(EqualsIgnoringAsciiCase("Path", "pATH"));
    EXPECT_TRUE(EqualsIgnoringAsciiCase("RECNO", "recno"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("path", "paths"));
    // Full-width letters and the bytes of other characters stay as they are.
    EXPECT_FALSE(EqualsIgnoringAsciiCase("ＰＡＴＨ", "ｐａｔｈ"));
    EXPECT_TRUE(EqualsIgnoringAsciiCase("郵便番号", "郵便番号"));
    EXPECT_EQ(AsciiLower(std::string("Ken_ALL.CSV")), "ken_all.csv");
}

TEST(TextTest, SqlLiteralDoublesEveryQuote) {
    EXPECT_EQ(QuoteSqlLiteral("1000001"), "'1000001'");
    EXPECT_EQ(QuoteSqlLiteral(""), "''");
    EXPECT_EQ(QuoteSqlLiteral("x' OR '1'='1"), "'x'' OR ''1''=''1'");
}

TEST(ProgramTest, BaseNameDropsFoldersAndExtension) {
    EXPECT_EQ(ExecutableBaseName("/opt/yubinbox/yubinbox"), "yubinbox");
    EXPECT_EQ(ExecutableBaseName("C:\\tools\\yubinbox.exe"), "yubinbox");
    EXPECT_EQ(ExecutableBaseName("/opt/my.tools/yubin.box.exe"), "yubin.box");
    EXPECT_EQ(ExecutableBaseName(".hidden"), ".hidden");
    EXPECT_EQ(RunningExecutableBaseName(), "yubin_base_tests");
}

// The installed program lies in /usr/lib/yubinbox and its manual in /usr/share/doc/yubinbox;
// a build tree or a copy keeps the manual beside the executable.
TEST(ProgramTest, ManualBesideTheExecutableOrInTheInstalledDocumentationFolder) {
    const test::TempDir root;
    const std::filesystem::path program = root.path() / "usr/lib/yubinbox";
    const std::filesystem::path documents = root.path() / "usr/share/doc/yubinbox";
    std::filesystem::create_directories(program);
    std::filesystem::create_directories(documents);
    EXPECT_EQ(ManualFile(program.string()), (program / "manual.html").string());

    test::writeBytes((documents / "manual.html").string(), "<html></html>");
    EXPECT_EQ(ManualFile(program.string()), (documents / "manual.html").string());

    test::writeBytes((program / "manual.html").string(), "<html></html>");
    EXPECT_EQ(ManualFile(program.string()), (program / "manual.html").string());
}

TEST(SystemErrorTest, ErrnoGivesTheNumberOfTheFault) {
    EXPECT_EQ(FileSystemErrorCode(EACCES), ErrorCode::PermissionDenied);
    EXPECT_EQ(FileSystemErrorCode(EROFS), ErrorCode::PermissionDenied);
    EXPECT_EQ(FileSystemErrorCode(ENOENT), ErrorCode::PathNotFound);
    EXPECT_EQ(FileSystemErrorCode(ENOSPC), ErrorCode::PathFileAccess);
    const YubinError error = FileSystemError(ENOENT, "ファイルを削除できません", "/nowhere/x");
    EXPECT_EQ(error.code(), ErrorCode::PathNotFound);
    EXPECT_NE(error.description().find("ファイルを削除できません: /nowhere/x（"),
              std::string::npos);
}

TEST(UniqueFdTest, ClosesOnceAndHandsOverOnMove) {
    UniqueFd first(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(first);
    const int fd = first.get();
    UniqueFd second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.get(), fd);
    EXPECT_EQ(second.close(), 0);
    EXPECT_FALSE(second);
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);  // closed
}

}  // namespace
}  // namespace yubin
