// The database creation window: its load over a substitute mount table, the drive and folder
// coupling, 確定(&S) through to the import window, and every way out.
#include <gtest/gtest.h>

#include <filesystem>

#include <QButtonGroup>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "store/mdlYubinBox.h"
#include "windows/DriveTestSupport.h"
#include "windows/FileSystemLists.h"
#include "windows/frmMAKEMDB.h"
#include "windows/frmMENU.h"
#include "windows/frmyubinbox.h"

namespace yubin::app {
namespace {

namespace fs = std::filesystem;

class frmMAKEMDBTest : public test::WindowFixture {
  protected:
    frmMAKEMDBTest() {
        fs::create_directories(share() / "db");
        menu_ = new frmMENU;
        menu_->hide();
        window_ = new frmMAKEMDB;
        window_->show();
    }
    ~frmMAKEMDBTest() override { mdlYubinBox::CloseMdb(); }

    fs::path share() const { return mounts_.path() / "share"; }
    QString Moji() const { return window_->statusBar1().panel(QStringLiteral("moji")).text(); }
    QString Text(const fs::path& path) const { return QString::fromStdString(path.string()); }

    yubin::test::TempDir mounts_;
    test::FakeMounts machine_{{
        {"/", mdGETUNC::kDriveFixed},
        {(mounts_.path() / "readonly").string(), mdGETUNC::kDriveRemote, false, true, "//srv/ro/"},
        {share().string(), mdGETUNC::kDriveRemote, true, true, "//srv/share/"},
        {"/media/cd", mdGETUNC::kDriveCdRom},
    }};
    QPointer<frmMENU> menu_;
    QPointer<frmMAKEMDB> window_;
};

TEST_F(frmMAKEMDBTest, LoadLayoutAndTexts) {
    mdlYubinBox::strMdbFile = "left over";
    auto* again = new frmMAKEMDB;  // loading clears strMdbFile
    EXPECT_EQ(mdlYubinBox::strMdbFile, "");
    again->unload();

    EXPECT_EQ(window_->windowTitle(),
              QStringLiteral("yubinbox - frmMAKEMDB 【郵便番号データベースファイル作成】"));
    EXPECT_EQ(window_->size(), QSize(655, 494));
    // Fixed drives and writable shares, a share by its network name.
    QComboBox& drives = window_->cbxDRIVE();
    ASSERT_EQ(drives.count(), 2);
    EXPECT_EQ(drives.itemText(0), QStringLiteral("/"));
    EXPECT_EQ(drives.itemText(1), QStringLiteral("//srv/share/"));
    EXPECT_TRUE(drives.isEditable());
    EXPECT_EQ(drives.currentText(), QStringLiteral("/"));  // the drive of the documents folder
    EXPECT_EQ(drives.toolTip(),
              QStringLiteral(
                  "ローカルＰＣの固定ドライブとファイルサーバ0の共有フォルダが表示されます。"));
    EXPECT_EQ(window_->txtMDBFILE().text(), Text(documents()));
    EXPECT_EQ(window_->Dir1().path(), Text(documents()));

    auto* label1 = window_->findChild<QLabel*>(QStringLiteral("Label1"));
    ASSERT_NE(label1, nullptr);
    EXPECT_EQ(label1->text(),
              QStringLiteral("郵便番号データベースファイルを作成するフォルダを指定してください。"));
    EXPECT_TRUE(label1->font().bold());
    EXPECT_LE(label1->geometry().right(), window_->width());  // shown whole
    EXPECT_EQ(window_->findChild<QLabel*>(QStringLiteral("Label4"))->text(),
              QStringLiteral("選択結果"));
    EXPECT_EQ(window_->cmdBTN(0).text(), QStringLiteral("確定(&S)"));
    EXPECT_EQ(window_->cmdBTN(1).text(), QStringLiteral("終了(&X)"));
    EXPECT_EQ(window_->cmdBTN(2).text(), QStringLiteral("<< 戻る(&R)"));
    EXPECT_EQ(window_->cmdBTN(2).pos(), QPoint(232, 392));
    EXPECT_EQ(window_->Dir1().geometry(), QRect(92, 64, 525, 227));
    // Tab order: txtMDBFILE, cbxDRIVE, Dir1, back, end, confirm.
    EXPECT_EQ(test::NextTabStop(window_->txtMDBFILE()), &window_->cbxDRIVE());
    EXPECT_EQ(test::NextTabStop(window_->cbxDRIVE()), &window_->Dir1());
    EXPECT_EQ(test::NextTabStop(window_->Dir1()), &window_->cmdBTN(2));
    EXPECT_EQ(test::NextTabStop(window_->cmdBTN(2)), &window_->cmdBTN(1));
    EXPECT_EQ(test::NextTabStop(window_->cmdBTN(1)), &window_->cmdBTN(0));

    // The status help: button 0, then 2 leaves it empty; button 1; the picture clears it.
    test::WindowFixture::MoveMouseOver(window_->cmdBTN(0));
    EXPECT_EQ(Moji(), QStringLiteral("郵便番号データ取込処理に移動します。"));
    test::WindowFixture::MoveMouseOver(window_->cmdBTN(2));
    EXPECT_EQ(Moji(), QString());
    test::WindowFixture::MoveMouseOver(window_->cmdBTN(1));
    EXPECT_EQ(Moji(), QStringLiteral("プログラムが終了します。"));
    test::WindowFixture::MoveMouseOver(window_->Image1());
    EXPECT_EQ(Moji(), QString());
}

TEST_F(frmMAKEMDBTest, AShareOpensWhereItIsMountedAndTheDatabaseGoesThere) {
    // A text typed into the drive list is no drive: the list and the folder stay.
    QLineEdit* typed = window_->cbxDRIVE().lineEdit();
    ASSERT_NE(typed, nullptr);
    typed->setText(QStringLiteral("/nowhere"));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(typed, &enter);
    EXPECT_EQ(window_->cbxDRIVE().count(), 2);
    EXPECT_EQ(window_->Dir1().path(), Text(documents()));

    emit window_->cbxDRIVE().activated(1);
    EXPECT_EQ(window_->Dir1().path(), Text(share()));
    EXPECT_EQ(window_->txtMDBFILE().text(), Text(share()));

    // A single click on a folder puts its full path in the text box.
    window_->Dir1().setPath(Text(share()));
    QTreeWidgetItem* db = window_->Dir1().currentItem()->child(0);
    ASSERT_NE(db, nullptr);
    emit window_->Dir1().itemClicked(db, 0);
    EXPECT_EQ(window_->txtMDBFILE().text(), Text(share() / "db"));

    window_->cmdBTN(0).click();
    const std::string database = (share() / "db" / "yubinbox.mdb").string();
    EXPECT_TRUE(fs::exists(database));
    EXPECT_EQ(mdlYubinBox::strMdbFile, database);
    EXPECT_EQ(mdFileCreate::ReadKey("path"), database);  // a path that opens on this machine
    EXPECT_EQ(mdFileCreate::ReadKey("author"), mdFileCreate::GetLoginUserName() + "\t0");
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_TRUE(menu_.isNull() || !menu_->isLoaded());
    EXPECT_FALSE(window_->isLoaded());
    WindowBase* importWindow = WindowBase::Loaded(frmyubinbox::kName);
    ASSERT_NE(importWindow, nullptr);
    EXPECT_TRUE(importWindow->isVisible());
    EXPECT_EQ(WindowBase::LoadedCount(), 1);
    EXPECT_TRUE(boxes_.asked().empty());
    EXPECT_FALSE(end_.ended());
}

TEST_F(frmMAKEMDBTest, ATypedFolderMustExistAndATypedRootWorks) {
    for (const QString& typed : {Text(share() / "missing"), QStringLiteral("db"), QString()}) {
        window_->txtMDBFILE().setText(typed);
        window_->cmdBTN(0).click();
        ASSERT_FALSE(boxes_.asked().empty());
        EXPECT_EQ(boxes_.asked().back().text,
                  QStringLiteral("フォルダ「") + typed + QStringLiteral("」がありません。"));
        EXPECT_EQ(boxes_.asked().back().style, 16);
        EXPECT_TRUE(window_->isLoaded());
    }
    EXPECT_FALSE(fs::exists(settingsFile()));
    EXPECT_TRUE(fs::exists(marker()));
    EXPECT_FALSE(end_.ended());

    // A folder typed with a closing "/" gives one separator before the name.
    window_->txtMDBFILE().setText(Text(share()) + QStringLiteral("/"));
    window_->cmdBTN(0).click();
    EXPECT_EQ(mdFileCreate::ReadKey("path"), (share() / "yubinbox.mdb").string());
}

TEST_F(frmMAKEMDBTest, EndAndTheCloseBoxEndTheProgramBackShowsTheMenu) {
    window_->cmdBTN(2).click();
    EXPECT_FALSE(window_->isLoaded());
    EXPECT_TRUE(menu_->isVisible());
    EXPECT_TRUE(fs::exists(marker()));

    window_ = new frmMAKEMDB;
    window_->show();
    window_->cmdBTN(1).click();
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_EQ(WindowBase::LoadedCount(), 0);

    yubin::test::writeBytes(marker().string(), "");
    menu_ = new frmMENU;
    menu_->hide();
    window_ = new frmMAKEMDB;
    window_->show();
    EXPECT_TRUE(window_->close());  // the close box acts as 終了(&X)
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_EQ(WindowBase::LoadedCount(), 0);
    EXPECT_FALSE(fs::exists(settingsFile()));
    EXPECT_TRUE(boxes_.asked().empty());
}

}  // namespace
}  // namespace yubin::app
