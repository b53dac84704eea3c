#include "windows/frmMAKEMDB.h"

#include <QButtonGroup>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "import/Administration.h"
#include "settings/mdGETUNC.h"
#include "store/mdlYubinBox.h"
#include "windowrules/ChooserRules.h"
#include "windows/ErrorGuard.h"
#include "windows/FileSystemLists.h"
#include "windows/Fonts.h"
#include "windows/MessageBox.h"
#include "windows/Startup.h"
#include "windows/WindowCommon.h"
#include "windows/frmMENU.h"
#include "windows/frmyubinbox.h"

namespace yubin::app {

namespace {

constexpr qreal kLabelPoints = 12;
constexpr qreal kControlPoints = 9.75;

struct LabelDesign {
    const char* name;
    const char* text;
    int left, top;
    bool bold;
};
constexpr std::array<LabelDesign, 4> kLabels{{
    {"Label1", "郵便番号データベースファイルを作成するフォルダを指定してください。", 240, 120,
     true},
    {"Label2", "ドライブ", 120, 495, false},
    {"Label3", "フォルダ", 120, 960, false},
    {"Label4", "選択結果", 120, 4920, false},
}};

constexpr int kListLeft = 1380;
constexpr int kListWidth = 7875;

struct ButtonDesign {
    const char* caption;
    int left, top;
};
// By index: confirm, end, back (left to right 2, 0, 1).
constexpr std::array<ButtonDesign, frmMAKEMDB::kButtonCount> kButtons{{
    {"確定(&S)", 5760, 5880},
    {"終了(&X)", 7800, 5880},
    {"<< 戻る(&R)", 3480, 5880},
}};
constexpr int kButtonWidth = 1815;
constexpr int kButtonHeight = 615;

const char* const kDriveToolTip =
    "ローカルＰＣの固定ドライブとファイルサーバ0の共有フォルダが表示されます。";

}  // namespace

frmMAKEMDB::frmMAKEMDB(QWidget* parent)
    : WindowBase(kName, QStringLiteral("moji"), parent),
      image1_(new QLabel(this)),
      cbxDRIVE_(new DriveList(this)),
      dir1_(new DirList(this)),
      txtMDBFILE_(new QLineEdit(QStringLiteral("Text1"), this)),
      cmdBTNGroup_(new QButtonGroup(this)) {
    image1_->setObjectName(QStringLiteral("Image1"));
    // The mark below the file box, left of the buttons.
    placeBackground(*image1_, 1050, 5490, 1350);
    image1_->setMouseTracking(true);
    image1_->installEventFilter(this);

    for (const LabelDesign& design : kLabels) {
        auto* label = new QLabel(QString::fromUtf8(design.text), this);
        label->setObjectName(QString::fromUtf8(design.name));
        label->setFont(GothicFont(kLabelPoints, design.bold));
        label->move(Px(design.left), Px(design.top));
        label->adjustSize();
        OnPlainGround(*label);
    }

    cbxDRIVE_->setObjectName(QStringLiteral("cbxDRIVE"));
    cbxDRIVE_->setEditable(true);
    cbxDRIVE_->setEditText(QStringLiteral("Combo1"));
    cbxDRIVE_->setToolTip(QString::fromUtf8(kDriveToolTip));
    dir1_->setObjectName(QStringLiteral("Dir1"));
    txtMDBFILE_->setObjectName(QStringLiteral("txtMDBFILE"));
    for (QWidget* control : {static_cast<QWidget*>(cbxDRIVE_), static_cast<QWidget*>(dir1_),
                             static_cast<QWidget*>(txtMDBFILE_)}) {
        control->setFont(GothicFont(kControlPoints, false));
    }
    PlaceTwips(*cbxDRIVE_, kListLeft, 480, kListWidth, 315);
    FitHeightToText(*cbxDRIVE_);
    PlaceTwips(*dir1_, kListLeft, 960, kListWidth, 3405);
    PlaceTwips(*txtMDBFILE_, kListLeft, 4890, kListWidth, 315);
    FitHeightToText(*txtMDBFILE_);

    cmdBTNGroup_->setObjectName(QStringLiteral("cmdBTN"));
    for (int index = 0; index < kButtonCount; ++index) {
        const ButtonDesign& design = kButtons[index];
        QPushButton* button =
            ControlArrayButton(*cmdBTNGroup_, index, QString::fromUtf8(design.caption), this);
        button->setFont(GothicFont(kLabelPoints, true));
        PlaceTwips(*button, design.left, design.top, kButtonWidth, kButtonHeight);
        button->setMouseTracking(true);
        button->installEventFilter(this);
        cmdBTN_[index] = button;
    }
    // Tab order: txtMDBFILE, cbxDRIVE, Dir1, back, end, confirm.
    setTabOrder(txtMDBFILE_, cbxDRIVE_);
    setTabOrder(cbxDRIVE_, dir1_);
    setTabOrder(dir1_, cmdBTN_[rules::kReturnButton]);
    setTabOrder(cmdBTN_[rules::kReturnButton], cmdBTN_[rules::kEndButton]);
    setTabOrder(cmdBTN_[rules::kEndButton], cmdBTN_[rules::kConfirmButton]);
    txtMDBFILE_->setFocus();

    connect(cmdBTNGroup_, &QButtonGroup::idClicked, this,
            [this](int index) { Guarded([this, index] { cmdBTN_Click(index); }); });
    connect(cbxDRIVE_, &QComboBox::activated, this,
            [this](int index) { Guarded([this, index] { cbxDRIVE_Click(index); }); });
    connect(dir1_, &DirList::entryClicked, this,
            [this](const QString& path) { txtMDBFILE_->setText(path); });

    // Loading.
    setCaption(kTitle);
    cbxDRIVE_->setEntries(mdGETUNC::GetDriveEntries(WindowDrivePlatform()));
    txtMDBFILE_->setText(QString::fromStdString(mdGETUNC::GetMyDocumentsPath()));
    const int drive = cbxDRIVE_->indexHolding(txtMDBFILE_->text());
    cbxDRIVE_->setEditText(drive >= 0 ? cbxDRIVE_->itemText(drive) : QString());
    dir1_->setPath(txtMDBFILE_->text());
    mdlYubinBox::strMdbFile.clear();
}

bool frmMAKEMDB::queryUnload(UnloadMode mode) {
    if (mode == UnloadMode::User) EndSteps();
    return true;
}

bool frmMAKEMDB::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        StatusPanel& moji = statusBar1().panel(QStringLiteral("moji"));
        if (watched == image1_) {
            moji.clear();
        } else if (const int index = cmdBTNGroup_->id(qobject_cast<QPushButton*>(watched));
                   index >= 0) {
            moji.clear();
            moji.setText(QString::fromStdString(rules::MakeMdbStatusText(index)));
        }
    }
    return WindowBase::eventFilter(watched, event);
}

void frmMAKEMDB::cbxDRIVE_Click(int index) {
    const QString folder = cbxDRIVE_->folderAt(index);
    if (folder.isEmpty() || !dir1_->openOrTell(folder)) return;
    txtMDBFILE_->setText(dir1_->path());
}

void frmMAKEMDB::cmdBTN_Click(int index) {
    switch (index) {
        case rules::kConfirmButton:
            Confirm();
            break;
        case rules::kEndButton:
            EndSteps();
            unload();
            break;
        case rules::kReturnButton: {
            unload();
            if (frmMENU* menu = frmMENU::LoadedMenu()) {
                menu->show();
                menu->activateWindow();
            }
            break;
        }
        default:
            break;
    }
}

void frmMAKEMDB::Confirm() {
    // The folder may have been typed: it must name an existing folder by its full path, or
    // the settings file would point at a database that does not open from elsewhere.
    const QString folder = txtMDBFILE_->text();
    if (!QDir::isAbsolutePath(folder) || !QFileInfo(folder).isDir()) {
        MsgBox(QStringLiteral("フォルダ「") + folder + QStringLiteral("」がありません。"),
               MsgStyle::Critical, windowTitle());
        return;
    }
    administration::MakeNewDatabase(folder.toStdString());
    if (frmMENU* menu = frmMENU::LoadedMenu()) menu->unload();  // deletes the marker
    unload();
    auto* importWindow = new frmyubinbox;  // deleted once it is unloaded
    importWindow->show();
}

void frmMAKEMDB::EndSteps() {
    DeleteCheckFile();
    if (frmMENU* menu = frmMENU::LoadedMenu()) menu->unload();
}

}  // namespace yubin::app
