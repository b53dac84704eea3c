// The file chooser: its layout and titles, its lists over a substitute mount table, settings
// mode and data-file mode, and every way out.
#include <gtest/gtest.h>

#include <utime.h>

#include <ctime>
#include <filesystem>

#include <QButtonGroup>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>

#include "base/Error.h"
#include "windows/DriveTestSupport.h"
#include "windows/FileSystemLists.h"
#include "windows/frmFilename.h"
#include "windows/frmMENU.h"

namespace yubin::app {
namespace {

namespace fs = std::filesystem;
using test::StandInWindow;

const QString kMenuTitle = QStringLiteral("郵便番号データベースファイル選択 ( yubinBox.mdb ) ");
const QString kNationalTitle =
    QStringLiteral("全国版郵便番号データ(&K)ファイルの選択  (ken_all.csv)");

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
        yubin::test::writeBytes((documents() / "YUBINBOX.MDB").string(), "");
        yubin::test::writeBytes((documents() / "yubinbox_20240315.mdb").string(), "");
        yubin::test::writeBytes((documents() / "notes.txt").string(), "");
        fs::create_directories(documents() / "backup");
    }

    // The mount holding the share, mounted at a folder of the test.
    fs::path share() const { return mounts_.path() / "share"; }

    frmFilename* OpenFromMenu() {
        menu_ = new frmMENU;
        auto* chooser = new frmFilename;
        chooser->InitFileSelect(*menu_, kMenuTitle);
        menu_->hide();
        chooser->show();
        return chooser;
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
    EXPECT_EQ(mdInport::strSelFile, chosen);
    EXPECT_EQ(mdFileCreate::ReadKey("path"), chosen);
    EXPECT_EQ(mdFileCreate::ReadKey("author"), "\t0");
    EXPECT_FALSE(fs::exists(marker()));  // the menu's unload deletes it
    EXPECT_EQ(WindowBase::LoadedCount(), 0);
    EXPECT_EQ(boxes_.asked().size(), 1u);
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
    EXPECT_EQ(mdInport::strSelFile, "");
    EXPECT_FALSE(fs::exists(settingsFile()));
    EXPECT_TRUE(boxes_.asked().empty());
}

TEST_F(frmFilenameTest, DataFileModeReturnsThePathAndDateThroughTheModalSeam) {
    StandInWindow importWindow(QStringLiteral("frmyubinbox"));
    const fs::path file = share() / "csv" / "KEN_ALL.CSV";
    SetFileDay(file, 2024, 3, 5);
    mdInport::strStartDir = (share() / "csv").string();

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
    frmFilename::ShowModal(importWindow, kNationalTitle);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(mdInport::strSelFile, file.string());
    EXPECT_EQ(mdInport::strSelFileDate, "2024年03月05日");
    EXPECT_EQ(WindowBase::LoadedCount(), 1);  // the import window only

    // Cancel, and the close box: nothing chosen, the caller and the marker untouched.
    mdInport::strSelFile.clear();
    mdInport::strSelFileDate.clear();
    for (bool closeBox : {false, true}) {
        frmFilename::SetModalHook([closeBox](frmFilename& chooser) {
            chooser.File1().selectFile(QStringLiteral("KEN_ALL.CSV"));
            if (closeBox) {
                chooser.close();
            } else {
                chooser.cmdBTN(1).click();
            }
        });
        frmFilename::ShowModal(importWindow, kNationalTitle);
        EXPECT_EQ(mdInport::strSelFile, "");
        EXPECT_EQ(mdInport::strSelFileDate, "");
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
    mdInport::strStartDir = (share() / "csv").string();
    bool stayed = false;
    frmFilename::SetModalHook([&](frmFilename& chooser) {
        ASSERT_TRUE(chooser.File1().selectFile(QStringLiteral("KEN_ALL.CSV")));
        fs::remove(file);  // gone (another program) between the listing and the choice
        chooser.cmdBTN(0).click();
        stayed = chooser.isLoaded();
        chooser.cmdBTN(1).click();
    });
    frmFilename::ShowModal(importWindow, kNationalTitle);
    frmFilename::SetModalHook({});
    EXPECT_TRUE(stayed);
    ASSERT_EQ(boxes_.asked().size(), 1u);
    EXPECT_EQ(boxes_.asked()[0].style, 16);
    EXPECT_NE(boxes_.asked()[0].text.indexOf(QStringLiteral("KEN_ALL.CSV")), -1)
        << boxes_.asked()[0].text.toStdString();
    EXPECT_EQ(mdInport::strSelFile, "");
    EXPECT_FALSE(end_.ended());
    EXPECT_TRUE(importWindow.isLoaded());
}

TEST_F(frmFilenameTest, StartFolderThatIsGoneLeavesTheListsAtItsDrive) {
    StandInWindow importWindow(QStringLiteral("frmyubinbox"));
    mdInport::strStartDir = (share() / "gone" / "away").string();
    auto* chooser = new frmFilename;
    chooser->InitFileSelect(importWindow, QStringLiteral("事業所ファイルの選択  (jigyosyo.csv)"));
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
    chooser->File1().selectFile(QStringLiteral("jigyosyo.csv"));
    chooser->cmdBTN(0).click();
    EXPECT_EQ(mdInport::strSelFile, (share() / "csv" / "jigyosyo.csv").string());
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

}  // namespace
}  // namespace yubin::app
