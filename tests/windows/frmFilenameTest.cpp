// The file chooser: its layout and titles, its lists over a substitute mount table, settings
// mode and data-file mode, and every way out.
#include <gtest/gtest.h>

#include <utime.h>

#include <ctime>
#include <filesystem>

#include <QButtonGroup>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>

#include "base/Error.h"
#include "import/ImportSession.h"
#include "store/mdlYubinBox.h"
#include "windows/DriveTestSupport.h"
#include "windows/FileSystemLists.h"
#include "windows/frmFilename.h"
#include "windows/frmMENU.h"

namespace yubin::app {
namespace {

namespace fs = std::filesystem;
using test::StandInWindow;

// What the import window opens the chooser with for the national file.
import::BrowseRequest NationalRequest(const std::string& startDir){
    return {startDir, "全国版郵便番号データ(&K)ファイルの選択  (ken_all.csv)", "ken_all.csv",
            import::DataKind::National};
}  // namespace

// Sets a file's last-modified time to noon of a day (local time).
void SetFileDay(const fs::path& file, int year, int month, int day) {
    std::tm noon{};
    noon.tm_year = year - 1900;
    noon.tm_mon = month - 1;
    noon.tm_mday = day;
    noon.tm_hour = 12;
    noon.tm_isdst = -1;
    const utimbuf times{std::mktime(&noon), std::mktime(&noon)};
    ASSERT_EQ(::utime(file.c_str(), &times), 0);
}

class frmFilenameTest : public test::WindowFixture {
  protected:
    frmFilenameTest() {
        fs::create_directories(documents());
        fs::create_directories(share() / "csv");
        yubin::test::writeBytes((share() / "csv" / "KEN_ALL.CSV").string(), "x");
        yubin::test::writeBytes((share() / "csv" / "jigyosyo.csv").string(), "x");
        yubin::test::writeBytes((share() / "csv" / "readme.txt").string(), "x");
        mdlYubinBox::strMdbFile = (documents() / "YUBINBOX.MDB").string();
        mdlYubinBox::CreateMdb();
        yubin::test::writeBytes((documents() / "yubinbox_20240315.mdb").string(), "");
        yubin::test::writeBytes((documents() / "notes.txt").string(), "");
        fs::create_directories(documents() / "backup");
    }

    // The mount holding the share, mounted at a folder of the test.
    fs::path share() const { return mounts_.path() / "share"; }

    frmFilename* OpenFromMenu() {
        menu_ = new frmMENU;
        menu_->hide();
        return frmFilename::OpenForSettings(*menu_);
    }

    QString Moji(const frmFilename& chooser) const {
        return chooser.statusBar1().panel(QStringLiteral("moji")).text();
    }

    yubin::test::TempDir mounts_;
    test::FakeMounts machine_{{
        {"/", mdGETUNC::kDriveFixed},
        {"/run", mdGETUNC::kDriveRamDisk},
        {share().string(), mdGETUNC::kDriveRemote, false, true, "//srv/share/"},
        {(mounts_.path() / "closed").string(), mdGETUNC::kDriveRemote, true, false, "//srv/x/"},
    }};
    QPointer<frmMENU> menu_;
};

TEST_F(frmFilenameTest, SettingsModeLayoutTitleAndList) {
    QPointer<frmFilename> chooser = OpenFromMenu();
    EXPECT_EQ(chooser->windowTitle(),
              QStringLiteral("yubinbox - frmFilename 【郵便番号データベースファイル選択 ( "
                             "yubinBox.mdb ) 】"));
    EXPECT_EQ(chooser->lblTITLE().text(), QStringLiteral("◆ yubinBox.mdb を選択してください。"));
    EXPECT_EQ(chooser->File1().toolTip(), QStringLiteral(" yubinBox.mdb "));
    EXPECT_EQ(chooser->File1().pattern(), QStringLiteral("*mdb "));
    // Opened in the documents folder; the names that end in "mdb" in any case.
    EXPECT_EQ(chooser->Dir1().path(), QString::fromStdString(documents().string()));
    EXPECT_EQ(chooser->File1().fileNames(), (QStringList{QStringLiteral("YUBINBOX.MDB"),
                                                         QStringLiteral("yubinbox_20240315.mdb")}));
    EXPECT_EQ(chooser->Drive1().currentText(), QStringLiteral("/"));
    EXPECT_EQ(chooser->Drive1().count(), 2);  // the root and the readable share

    EXPECT_EQ(chooser->cmdBTN(0).text(), QStringLiteral("選択(&S)"));
    EXPECT_EQ(chooser->cmdBTN(1).text(), QStringLiteral("終了(&X)"));
    EXPECT_EQ(chooser->cmdBTN(2).text(), QStringLiteral("戻る(&R)"));
    EXPECT_TRUE(chooser->cmdBTN(2).isVisible());
    EXPECT_EQ(chooser->cmdBTNGroup().id(&chooser->cmdBTN(2)), 2);

    // Twips at 15 to the pixel; the fonts.
    EXPECT_EQ(chooser->size(), QSize(655, 494));
    EXPECT_EQ(chooser->Dir1().geometry(), QRect(16, 124, 293, 216));
    EXPECT_EQ(chooser->File1().geometry(), QRect(324, 124, 293, 188));
    EXPECT_EQ(chooser->cmdBTN(2).geometry(), QRect(340, 328, 81, 41));
    EXPECT_EQ(chooser->lblTITLE().font().family(), QStringLiteral("ＭＳ ゴシック"));
    EXPECT_TRUE(chooser->cmdBTN(0).font().bold());
    EXPECT_EQ(chooser->cmdBTN(0).font().pointSizeF(), 12.0);
    EXPECT_EQ(chooser->File1().font().pointSizeF(), 9.75);
    // Tab order: Dir1, File1, Drive1, select, exit, back.
    EXPECT_EQ(test::NextTabStop(chooser->Dir1()), &chooser->File1());
    EXPECT_EQ(test::NextTabStop(chooser->File1()), &chooser->Drive1());
    EXPECT_EQ(test::NextTabStop(chooser->Drive1()), &chooser->cmdBTN(0));
    EXPECT_EQ(test::NextTabStop(chooser->cmdBTN(0)), &chooser->cmdBTN(1));
    EXPECT_EQ(test::NextTabStop(chooser->cmdBTN(1)), &chooser->cmdBTN(2));

    // Status texts of settings mode.
    test::WindowFixture::MoveMouseOver(chooser->cmdBTN(0));
    EXPECT_EQ(Moji(*chooser), QStringLiteral("設定ファイルを作成後、プログラムを終了します。"));
    test::WindowFixture::MoveMouseOver(chooser->cmdBTN(1));
    EXPECT_EQ(Moji(*chooser), QStringLiteral("プログラムを終了します。"));
    test::WindowFixture::MoveMouseOver(chooser->cmdBTN(2));
    EXPECT_EQ(Moji(*chooser), QString());
}

TEST_F(frmFilenameTest, SettingsModeRefusesAnotherNameThenWritesTheSettingsAndEnds) {
    QPointer<frmFilename> chooser = OpenFromMenu();
    chooser->cmdBTN(0).click();  // nothing selected: nothing happens
    EXPECT_TRUE(boxes_.asked().empty());

    ASSERT_TRUE(chooser->File1().selectFile(QStringLiteral("yubinbox_20240315.mdb")));
    chooser->cmdBTN(0).click();
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(boxes_.asked()[0].text,
              QStringLiteral("選択したファイルが「 yubinBox.mdb 」ではありません。"));
    EXPECT_EQ(boxes_.asked()[0].style, 16);
    EXPECT_EQ(boxes_.asked()[0].title, chooser->windowTitle());
    EXPECT_TRUE(chooser->isLoaded());
    EXPECT_FALSE(fs::exists(settingsFile()));

    // The file list's double click acts as select; becoming active again keeps the choice.
    ASSERT_TRUE(chooser->File1().selectFile(QStringLiteral("YUBINBOX.MDB")));
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(chooser, &activate);
    EXPECT_EQ(chooser->File1().selectedFileName(), QStringLiteral("YUBINBOX.MDB"));
    emit chooser->File1().itemActivated(chooser->File1().currentItem());
    const std::string chosen = (documents() / "YUBINBOX.MDB").string();
    EXPECT_EQ(mdFileCreate::ReadKey("path"), chosen);
    EXPECT_EQ(mdFileCreate::ReadKey("author"), "\t0");
    EXPECT_FALSE(fs::exists(marker()));  // the menu's unload deletes it
    EXPECT_EQ(WindowBase::LoadedCount(), 0);
    EXPECT_EQ(boxes_.asked().size(), 1u);
    EXPECT_FALSE(end_.ended());
}

// The same refusal as `yubinbox use` gives (tested in the command line's tests).
TEST_F(frmFilenameTest, SettingsModeRefusesAFileThatIsNoDatabaseOfOurs) {
    const fs::path stranger = documents() / "backup" / "yubinbox.mdb";
    yubin::test::writeBytes(stranger.string(), "not a database");
    QPointer<frmFilename> chooser = OpenFromMenu();
    chooser->Dir1().setPath(QString::fromStdString(stranger.parent_path().string()));
    ASSERT_TRUE(chooser->File1().selectFile(QStringLiteral("yubinbox.mdb")));
    chooser->cmdBTN(0).click();
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(boxes_.asked()[0].text.toStdString(),
              stranger.string() + " は yubinbox のデータベース ファイルではありません。");
    EXPECT_EQ(boxes_.asked()[0].style, 16);
    EXPECT_TRUE(chooser->isLoaded());
    EXPECT_FALSE(fs::exists(settingsFile()));
    EXPECT_TRUE(fs::exists(marker()));
    EXPECT_FALSE(end_.ended());
}

TEST_F(frmFilenameTest, SettingsModeExitCloseBoxAndBack) {
    QPointer<frmFilename> chooser = OpenFromMenu();
    chooser->cmdBTN(2).click();  // back: the menu again, the marker kept
    EXPECT_FALSE(chooser->isLoaded());
    EXPECT_TRUE(menu_->isLoaded());
    EXPECT_TRUE(menu_->isVisible());
    EXPECT_TRUE(fs::exists(marker()));

    chooser = OpenFromMenu();
    EXPECT_TRUE(chooser->close());  // the close box acts as exit
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_EQ(WindowBase::LoadedCount(), 1);  // the first menu only
    WindowBase::DeleteLoadedWindows();

    yubin::test::writeBytes(marker().string(), "");
    chooser = OpenFromMenu();
    chooser->cmdBTN(1).click();
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_EQ(WindowBase::LoadedCount(), 0);
    EXPECT_FALSE(fs::exists(settingsFile()));
    EXPECT_TRUE(boxes_.asked().empty());
}

TEST_F(frmFilenameTest, DataFileModeReturnsThePathAndDateThroughTheModalSeam) {
    StandInWindow importWindow(QStringLiteral("frmyubinbox"));
    const fs::path file = share() / "csv" / "KEN_ALL.CSV";
    SetFileDay(file, 2024, 3, 5);
    const import::BrowseRequest request = NationalRequest((share() / "csv").string());

    int shown = 0;
    frmFilename::SetModalHook([&](frmFilename& chooser) {
        ++shown;
        EXPECT_EQ(chooser.windowTitle(),
                  QStringLiteral("yubinbox - frmFilename 【全国版郵便番号データファイルの選択  "
                                 "(ken_all.csv)】"));
        EXPECT_EQ(chooser.cmdBTN(1).text(), QStringLiteral("ｷｬﾝｾﾙ(&X)"));
        EXPECT_TRUE(chooser.cmdBTN(2).isHidden());
        EXPECT_EQ(chooser.File1().fileNames(),
                  (QStringList{QStringLiteral("jigyosyo.csv"), QStringLiteral("KEN_ALL.CSV")}));
        // A share opens where it is mounted and is shown by its network name.
        EXPECT_EQ(chooser.Drive1().currentText(), QStringLiteral("//srv/share"));
        for (int index = 0; index < 2; ++index) {
            test::WindowFixture::MoveMouseOver(chooser.cmdBTN(index));
            EXPECT_EQ(Moji(chooser), QString());
        }
        chooser.File1().selectFile(QStringLiteral("KEN_ALL.CSV"));
        chooser.cmdBTN(0).click();
    });
    const std::optional<import::ChosenFile> chosen =
        frmFilename::ChooseDataFile(importWindow, request);
    EXPECT_EQ(shown, 1);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->path, file.string());
    EXPECT_EQ(chosen->stamp, "20240305");
    EXPECT_EQ(chosen->displayDate, "2024年03月05日");
    EXPECT_EQ(chosen->kind, import::DataKind::National);
    EXPECT_EQ(WindowBase::LoadedCount(), 1);  // the import window only

    // Cancel, and the close box: nothing chosen, the caller and the marker untouched.
    for (bool closeBox : {false, true}) {
        frmFilename::SetModalHook([closeBox](frmFilename& chooser) {
            chooser.File1().selectFile(QStringLiteral("KEN_ALL.CSV"));
            if (closeBox) {
                chooser.close();
            } else {
                chooser.cmdBTN(1).click();
            }
        });
        EXPECT_FALSE(frmFilename::ChooseDataFile(importWindow, request).has_value());
        EXPECT_TRUE(importWindow.isLoaded());
        EXPECT_TRUE(fs::exists(marker()));
        EXPECT_EQ(WindowBase::LoadedCount(), 1);
    }
    frmFilename::SetModalHook({});
    EXPECT_TRUE(boxes_.asked().empty());
}

TEST_F(frmFilenameTest, DataFileThatCannotBeReadIsToldAndTheChooserStays) {
    StandInWindow importWindow(QStringLiteral("frmyubinbox"));
    const fs::path file = share() / "csv" / "KEN_ALL.CSV";
    bool stayed = false;
    frmFilename::SetModalHook([&](frmFilename& chooser) {
        ASSERT_TRUE(chooser.File1().selectFile(QStringLiteral("KEN_ALL.CSV")));
        fs::remove(file);  // gone (another program) between the listing and the choice
        chooser.cmdBTN(0).click();
        stayed = chooser.isLoaded();
        chooser.cmdBTN(1).click();
    });
    const std::optional<import::ChosenFile> chosen =
        frmFilename::ChooseDataFile(importWindow, NationalRequest((share() / "csv").string()));
    frmFilename::SetModalHook({});
    EXPECT_TRUE(stayed);
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(boxes_.asked()[0].style, 16);
    EXPECT_NE(boxes_.asked()[0].text.indexOf(QStringLiteral("KEN_ALL.CSV")), -1)
        << boxes_.asked()[0].text.toStdString();
    EXPECT_FALSE(chosen.has_value());
    EXPECT_FALSE(end_.ended());
    EXPECT_TRUE(importWindow.isLoaded());
}

TEST_F(frmFilenameTest, StartFolderThatIsGoneLeavesTheListsAtItsDrive) {
    StandInWindow importWindow(QStringLiteral("frmyubinbox"));
    auto* chooser = new frmFilename((share() / "gone" / "away").string());
    chooser->InitFileSelect(importWindow, rules::ChooserMode::DataFile,
                            QStringLiteral("事業所ファイルの選択  (jigyosyo.csv)"),
                            QStringLiteral("jigyosyo.csv"), import::DataKind::Office);
    EXPECT_EQ(chooser->Drive1().currentText(), QStringLiteral("//srv/share"));
    EXPECT_EQ(chooser->Dir1().path(), QString::fromStdString(share().string()));

    // Choosing the root, then the share again: the folder list follows the drive list.
    chooser->Drive1().setCurrentIndex(0);
    EXPECT_EQ(chooser->Dir1().path(), QStringLiteral("/"));
    chooser->Drive1().setCurrentIndex(1);
    EXPECT_EQ(chooser->Dir1().path(), QString::fromStdString(share().string()));

    // Opening a folder shows its files; what is chosen is a path that opens here.
    chooser->Dir1().setPath(QString::fromStdString((share() / "csv").string()));
    EXPECT_EQ(chooser->File1().fileNames(),
              (QStringList{QStringLiteral("jigyosyo.csv"), QStringLiteral("KEN_ALL.CSV")}));
    std::optional<import::ChosenFile> chosen;
    frmFilename::SetModalHook([&](frmFilename& modal) {
        modal.Dir1().setPath(QString::fromStdString((share() / "csv").string()));
        modal.File1().selectFile(QStringLiteral("jigyosyo.csv"));
        modal.cmdBTN(0).click();
    });
    chosen = frmFilename::ChooseDataFile(
        importWindow, {(share() / "gone" / "away").string(), "事業所ファイルの選択  (jigyosyo.csv)",
                       "jigyosyo.csv", import::DataKind::Office});
    frmFilename::SetModalHook({});
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->path, (share() / "csv" / "jigyosyo.csv").string());
    chooser->cmdBTN(1).click();
    EXPECT_FALSE(chooser->isLoaded());
}

TEST(DirListTest, AncestorsCurrentFolderAndSubfoldersClickAndOpen) {
    yubin::test::TempDir root;
    fs::create_directories(root.path() / "b" / "inner");
    fs::create_directories(root.path() / "A");
    fs::create_directories(root.path() / ".hidden");
    yubin::test::writeBytes((root.path() / "file.txt").string(), "");
    DirList list;
    QStringList opened, clicked;
    QObject::connect(&list, &DirList::pathChanged, [&](const QString& p) { opened << p; });
    QObject::connect(&list, &DirList::entryClicked, [&](const QString& p) { clicked << p; });

    const QString top = QString::fromStdString(root.path().string());
    list.setPath(top + QStringLiteral("/b/../"));  // cleaned
    EXPECT_EQ(list.path(), top);
    const int depth = static_cast<int>(top.count(QLatin1Char('/')));
    ASSERT_EQ(list.entryCount(), depth + 1 + 2);  // "/", each ancestor, then A and b
    EXPECT_EQ(list.entryPath(0), QStringLiteral("/"));
    EXPECT_EQ(list.entryPath(depth), top);
    EXPECT_EQ(list.entryPath(depth + 1), top + QStringLiteral("/A"));
    EXPECT_EQ(list.entryPath(depth + 2), top + QStringLiteral("/b"));
    EXPECT_EQ(opened, QStringList(top));

    // A single click reports the entry (also one above the current folder) and opens nothing.
    QTreeWidgetItem* parentItem = list.currentItem()->parent();
    emit list.itemClicked(parentItem, 0);
    EXPECT_EQ(clicked, QStringList(parentItem->data(0, Qt::UserRole).toString()));
    EXPECT_EQ(list.path(), top);
    // A double click opens it.
    QTreeWidgetItem* b = list.currentItem()->child(1);
    emit list.itemActivated(b, 0);
    EXPECT_EQ(list.path(), top + QStringLiteral("/b"));
    EXPECT_EQ(list.entryPath(depth + 2), top + QStringLiteral("/b/inner"));

    // Moving to an entry with the keys selects it as a click does.
    clicked.clear();
    list.setCurrentItem(list.currentItem()->child(0));
    EXPECT_EQ(clicked, QStringList(top + QStringLiteral("/b/inner")));

    // A folder that does not exist is an error; the list stays where it was.
    EXPECT_THROW(list.setPath(top + QStringLiteral("/missing")), YubinError);
    EXPECT_EQ(list.path(), top + QStringLiteral("/b"));
}

// The current folder and its ancestors show an open folder, its subfolders a closed one: the
// program's own pictures, so that the chooser's first opening does not wait for the system's
// icon theme to be read (an icon from the theme carries the theme's name for it).
TEST(DirListTest, FoldersOpenAlongThePathClosedBelowItAndNoneFromTheIconTheme) {
    yubin::test::TempDir root;
    fs::create_directories(root.path() / "sub");
    DirList list;
    list.setPath(QString::fromStdString(root.path().string()));
    QTreeWidgetItem* current = list.currentItem();
    ASSERT_NE(current, nullptr);
    ASSERT_EQ(current->childCount(), 1);
    const auto image = [](const QIcon& icon) { return icon.pixmap(16, 16).toImage(); };
    const QIcon open = current->icon(0), closed = current->child(0)->icon(0);
    EXPECT_FALSE(open.isNull());
    EXPECT_FALSE(closed.isNull());
    EXPECT_NE(image(open), image(closed));
    EXPECT_EQ(image(current->parent()->icon(0)), image(open));
    for (const QIcon& icon : {open, closed})
        EXPECT_TRUE(icon.name().isEmpty()) << icon.name().toStdString();
}

TEST_F(frmFilenameTest, AFolderGoneFromTheListIsToldAndTheChooserGoesOn) {
    QPointer<frmFilename> chooser = OpenFromMenu();
    DirList& folders = chooser->Dir1();
    QTreeWidgetItem* backup = folders.currentItem()->child(0);
    ASSERT_NE(backup, nullptr);
    const QString gone = backup->data(0, Qt::UserRole).toString();
    fs::remove(gone.toStdString());
    emit folders.itemActivated(backup, 0);
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(boxes_.asked()[0].text,
              QStringLiteral("フォルダ ") + gone + QStringLiteral(" を開けません。"));
    EXPECT_EQ(boxes_.asked()[0].style, 16);
    EXPECT_EQ(folders.path(), QString::fromStdString(documents().string()));
    EXPECT_FALSE(end_.ended());
    EXPECT_TRUE(chooser->isLoaded());
}

}  // namespace yubin::app
}  // namespace yubin::app
