// The chooser's and the creation window's rules, without widgets.
#include <gtest/gtest.h>

#include "windowrules/ChooserRules.h"
#include "windows/DriveTestSupport.h"

namespace yubin::app::rules {
namespace {

using mdGETUNC::DriveEntry;

TEST(ChooserTitle, AccessMarksGoAndTheExpectedNameKeepsItsBlanks) {
    EXPECT_EQ(WithoutAccessMarks("(&K)全国(&J)版(&S)(&S)データ(&X) (ken_all.csv)"),
              "全国版データ(&X) (ken_all.csv)");
    EXPECT_EQ(DatabaseChooserTitle(), "郵便番号データベースファイル選択 ( yubinBox.mdb ) ");
}

TEST(ChooserPattern, LastFourCharactersAndMatching) {
    EXPECT_EQ(FilePatternFor(" yubinBox.mdb "), "*mdb ");  // the blank is one of the four
    EXPECT_EQ(FilePatternFor("ken_all.csv"), "*.csv");
    EXPECT_EQ(FilePatternFor("住所データ表"), "*データ表");  // characters, not bytes
    EXPECT_EQ(FilePatternFor("ab"), "*ab");

    // Without regard to case, the pattern's trailing blanks ignored.
    EXPECT_TRUE(MatchesFilePattern("YUBINBOX.MDB", "*mdb "));
    EXPECT_TRUE(MatchesFilePattern("old.xmdb", "*mdb "));
    EXPECT_TRUE(MatchesFilePattern("ken_all.csv", "*.CSV"));
    EXPECT_TRUE(MatchesFilePattern("KEN_ALL.CSV", "*.csv"));
    EXPECT_FALSE(MatchesFilePattern("ken_all.csv.bak", "*.csv"));
    EXPECT_FALSE(MatchesFilePattern("x.mdbx", "*.mdb"));
    EXPECT_TRUE(MatchesFilePattern(".csv", "*.csv"));
    // "?" stands for one character, also a Japanese one; ";" separates alternatives.
    EXPECT_TRUE(MatchesFilePattern("住.csv", "?.csv"));
    EXPECT_FALSE(MatchesFilePattern("住所.csv", "?.csv"));
    EXPECT_TRUE(MatchesFilePattern("a.txt", "*.csv;*.txt"));
    EXPECT_TRUE(MatchesFilePattern("anything", "*"));
    EXPECT_TRUE(MatchesFilePattern("aXbXc", "a*b*c"));
    EXPECT_FALSE(MatchesFilePattern("aXbXd", "a*b*c"));
}

TEST(ChooserSelect, ExpectedNameComparedInLowerCaseWithoutItsBlanks) {
    EXPECT_TRUE(IsExpectedFile("YubinBox.MDB", " yubinBox.mdb "));
    EXPECT_TRUE(IsExpectedFile("KEN_ALL.CSV", "ken_all.csv"));
    EXPECT_FALSE(IsExpectedFile("yubinbox_20240315.mdb", " yubinBox.mdb "));
    EXPECT_FALSE(IsExpectedFile(" yubinbox.mdb", "yubinbox.mdb"));  // the file's own blanks count

    EXPECT_EQ(JoinFolderAndName("/srv/data", "KEN_ALL.CSV"), "/srv/data/KEN_ALL.CSV");
    EXPECT_EQ(JoinFolderAndName("/", "yubinbox.mdb"), "/yubinbox.mdb");  // never "//..."
}

TEST(ChooserModes, StatusTextsByTheMode) {
    EXPECT_EQ(ChooserStatusText(kSelectButton, ChooserMode::Settings),
              "設定ファイルを作成後、プログラムを終了します。");
    EXPECT_EQ(ChooserStatusText(kExitButton, ChooserMode::Settings), "プログラムを終了します。");
    EXPECT_EQ(ChooserStatusText(kBackButton, ChooserMode::Settings), "");
    for (int button : {kSelectButton, kExitButton, kBackButton}) {
        EXPECT_EQ(ChooserStatusText(button, ChooserMode::DataFile), "");
    }
    EXPECT_EQ(MakeMdbStatusText(kConfirmButton), "郵便番号データ取込処理に移動します。");
    EXPECT_EQ(MakeMdbStatusText(kEndButton), "プログラムが終了します。");
    EXPECT_EQ(MakeMdbStatusText(kReturnButton), "");
}

TEST(ChooserDrives, ReadableMountsWithTheFolderEachOpens) {
    test::FakeMounts machine({
        {"/", mdGETUNC::kDriveFixed},
        {"/proc", mdGETUNC::kDriveNoRootDir},
        {"/run", mdGETUNC::kDriveRamDisk},
        {"/mnt/share", mdGETUNC::kDriveRemote, false, true, "//srv/share/"},
        {"/mnt/closed", mdGETUNC::kDriveRemote, true, false, "//srv/closed/"},
        {"/media/cd", mdGETUNC::kDriveCdRom},
        {"/media/usb", mdGETUNC::kDriveRemovable},
        {"/mnt/fuse", mdGETUNC::kDriveRemote, false, true, ""},
        {"/odd", mdGETUNC::kDriveUnknown},
    });
    std::vector<DriveEntry> list = ReadableDriveEntries(machine);
    ASSERT_EQ(list.size(), 5u);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"/", "/"},
        {"//srv/share", "/mnt/share"},  // a share by its network name, opened where it is mounted
        {"/media/cd", "/media/cd"},
        {"/media/usb", "/media/usb"},
        {"/mnt/fuse", "/mnt/fuse"},  // no network name: its mount point
    };
    for (size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].name, expected[i].first) << i;
        EXPECT_EQ(list[i].folder, expected[i].second) << i;
    }

    // The creation window's list: fixed drives and writable shares, by GetDriveList's names.
    std::vector<DriveEntry> writable = mdGETUNC::GetDriveEntries(machine);
    ASSERT_EQ(writable.size(), 2u);
    EXPECT_EQ(writable[1].name, "//srv/closed/");
    EXPECT_EQ(writable[1].folder, "/mnt/closed");
    EXPECT_EQ(mdGETUNC::GetDriveList(machine), (std::vector<std::string>{"/", "//srv/closed/"}));
}

TEST(ChooserDrives, TheDeepestMountHoldingAPath) {
    const std::vector<DriveEntry> entries = {
        {"/", "/"}, {"//srv/share", "/mnt/share"}, {"/mnt/share/inner", "/mnt/share/inner/"}};
    EXPECT_EQ(DriveEntryHolding(entries, "/home/taro/Documents"), 0);
    EXPECT_EQ(DriveEntryHolding(entries, "/mnt/share"), 1);
    EXPECT_EQ(DriveEntryHolding(entries, "/mnt/share/gone/away"), 1);  // need not exist
    EXPECT_EQ(DriveEntryHolding(entries, "/mnt/shared"), 0);  // a name that only begins alike
    EXPECT_EQ(DriveEntryHolding(entries, "/mnt/share/inner/x"), 2);
    EXPECT_EQ(DriveEntryHolding({{"//srv/share", "/mnt/share"}}, "/home"), -1);
    EXPECT_EQ(DriveEntryHolding(entries, "relative/path"), -1);
}

}  // namespace
}  // namespace yubin::app::rules
