// The menu's activation: every situation of the menu's state table, and the facts as they are
// read from the settings file and the database.
#include <gtest/gtest.h>

#include <filesystem>

#include "import/Administration.h"
#include "settings/mdFileCreate.h"
#include "store/mdlYubinBox.h"
#include "support/TestSupport.h"
#include "windowrules/MenuActivation.h"

namespace yubin::menu {
namespace {

using Change = ButtonChange;
const std::string kRefusal = administration::kNoImportPermission;

using administration::DatabaseAccess;

MenuFacts Facts(bool settings, const std::string& author, bool opens, bool probe) {
    const DatabaseAccess database = !opens  ? DatabaseAccess::DoesNotOpen
                                    : probe ? DatabaseAccess::Writable
                                            : DatabaseAccess::ReadOnly;
    return MenuFacts{settings, author, "taro", database};
}

struct Expected {
    Change newDatabase, settingsFile, import;
    std::optional<Task> focus;
    std::size_t messages;
};

void ExpectActivation(const MenuFacts& facts, const Expected& expected) {
    const MenuActivation result = DecideMenuActivation(facts);
    EXPECT_EQ(result.newDatabase, expected.newDatabase);
    EXPECT_EQ(result.settingsFile, expected.settingsFile);
    EXPECT_EQ(result.import, expected.import);
    EXPECT_EQ(result.focus, expected.focus);
    ASSERT_EQ(result.messages.size(), expected.messages);
    for (const std::string& message : result.messages) EXPECT_EQ(message, kRefusal);
}

TEST(MenuActivationTest, EveryRowOfTheStateTable) {
    // No settings file: new and settings offered, import not, focus on new, nothing said.
    // (Whatever else the facts hold is not looked at.)
    for (bool opens : {false, true}) {
        SCOPED_TRACE(opens);
        ExpectActivation(Facts(false, "taro\t0", opens, true),
                         {Change::Enable, Change::Enable, Change::Disable, NewDatabase, 0});
    }
    // Settings file whose database does not open: back to new and settings.
    ExpectActivation(Facts(true, "taro\t0", false, false),
                     {Change::Enable, Change::Enable, Change::Disable, NewDatabase, 0});
    // The author, a database that opens and takes the probe: import only, focus on import.
    ExpectActivation(Facts(true, "taro\t0", true, true),
                     {Change::Disable, Change::Disable, Change::Enable, Import, 0});
    // Another user (here the file chooser's empty author): nothing offered, one refusal,
    // two when the probe fails too; the focus stays.
    ExpectActivation(Facts(true, "\t0", true, true),
                     {Change::Disable, Change::Disable, Change::Disable, std::nullopt, 1});
    ExpectActivation(Facts(true, "jiro\t0", true, false),
                     {Change::Disable, Change::Disable, Change::Disable, std::nullopt, 2});
    // The author with a database that cannot be written: the focus goes to import before it
    // is disabled, and one refusal.
    ExpectActivation(Facts(true, "taro\t0", true, false),
                     {Change::Disable, Change::Disable, Change::Disable, Import, 1});
}

TEST(MenuActivationTest, ADatabaseInUseRefusesNobodyAndOffersTheAuthorTheImport) {
    MenuFacts author = Facts(true, "taro\t0", true, true);
    author.database = DatabaseAccess::Busy;
    const MenuActivation offered = DecideMenuActivation(author);
    EXPECT_EQ(offered.newDatabase, Change::Disable);
    EXPECT_EQ(offered.settingsFile, Change::Disable);
    EXPECT_EQ(offered.import, Change::Enable);
    EXPECT_EQ(offered.focus, Import);
    EXPECT_TRUE(offered.messages.empty());
    EXPECT_EQ(offered.notice, administration::kDatabaseInUse);

    // Another user is refused for being another user only.
    MenuFacts other = author;
    other.author = "jiro\t0";
    ExpectActivation(other, {Change::Disable, Change::Disable, Change::Disable, std::nullopt, 1});
    EXPECT_TRUE(DecideMenuActivation(other).notice.empty());
}

TEST(MenuActivationTest, AnotherUserWithADatabaseThatDoesNotOpenIsRefusedOnceAndOfferedNew) {
    ExpectActivation(Facts(true, "jiro\t0", false, false),
                     {Change::Enable, Change::Enable, Change::Disable, NewDatabase, 1});
}

TEST(MenuActivationTest, TheAuthorValueMustMatchWhole) {
    for (const char* author : {"taro", "taro\t1", "Taro\t0", "taro \t0", "taro\t0 "}) {
        SCOPED_TRACE(author);
        const MenuActivation result = DecideMenuActivation(Facts(true, author, true, true));
        EXPECT_EQ(result.import, Change::Disable);
        EXPECT_EQ(result.messages.size(), 1u);
    }
}

// The facts from a home folder of its own.
class GatherMenuFactsTest : public ::testing::Test {
  protected:
    GatherMenuFactsTest() { mdFileCreate::SetExecutableBaseNameForTesting("yubinbox"); }
    ~GatherMenuFactsTest() override {
        mdFileCreate::SetExecutableBaseNameForTesting(std::nullopt);
        mdFileCreate::strIniFile.clear();
    }
    std::string database() const { return (home_.path() / "db" / "yubinbox.mdb").string(); }

    test::TempDir home_;
    test::ScopedEnv homeEnv_{"HOME", home_.path().string()};
    test::ScopedEnv configEnv_{"XDG_CONFIG_HOME", std::nullopt};
};

TEST_F(GatherMenuFactsTest, ReadsTheSettingsAndProbesTheDatabaseOnlyWhenThereAreSettings) {
    std::filesystem::create_directories(home_.path() / "db");
    MenuFacts facts = GatherMenuFacts();
    EXPECT_EQ(mdFileCreate::strIniFile, (home_.path() / "Documents" / "yubinbox.ini").string());
    EXPECT_FALSE(facts.settingsFileExists);
    EXPECT_EQ(facts.database, DatabaseAccess::DoesNotOpen);

    // Settings pointing at a database that is not there yet.
    std::filesystem::create_directories(home_.path() / "Documents");
    mdFileCreate::IniFileCreate(database(), "someone");
    facts = GatherMenuFacts();
    EXPECT_TRUE(facts.settingsFileExists);
    EXPECT_EQ(facts.author, "someone\t0");
    EXPECT_EQ(facts.currentUser, mdFileCreate::GetLoginUserName());
    EXPECT_EQ(facts.database, DatabaseAccess::DoesNotOpen);
    EXPECT_FALSE(std::filesystem::exists(database()));  // activation creates nothing

    mdlYubinBox::strMdbFile = database();
    mdlYubinBox::CreateMdb();
    facts = GatherMenuFacts();
    EXPECT_EQ(facts.database, DatabaseAccess::Writable);
    EXPECT_EQ(mdlYubinBox::cnMdb, nullptr);  // closed and released after the probe
}

TEST_F(GatherMenuFactsTest, ADatabaseThatRefusesTheUpdateIsReadOnly) {
    std::filesystem::create_directories(home_.path() / "db");
    mdlYubinBox::strMdbFile = database();
    mdlYubinBox::CreateMdb();
    test::DropTableBehindTheLayer(database(), "DUMMY");
    EXPECT_EQ(administration::ProbeDatabase(database()), administration::DatabaseAccess::ReadOnly);
    EXPECT_EQ(mdlYubinBox::cnMdb, nullptr);
    EXPECT_EQ(administration::ProbeDatabase(database() + ".missing"),
              administration::DatabaseAccess::DoesNotOpen);
    EXPECT_EQ(mdlYubinBox::cnMdb, nullptr);
}

}  // namespace
}  // namespace yubin::menu
