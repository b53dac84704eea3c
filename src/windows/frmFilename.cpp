#include "windows/frmFilename.h"

#include <QButtonGroup>
#include <QEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>

#include "base/Error.h"
#include "import/Administration.h"
#include "import/ImportSession.h"
#include "settings/mdGETUNC.h"
#include "windowrules/ChooserRules.h"
#include "windows/DatabaseWait.h"
#include "windows/ErrorGuard.h"
#include "windows/FileSystemLists.h"
#include "windows/Fonts.h"
#include "windows/MessageBox.h"
#include "windows/Startup.h"
#include "windows/WindowCommon.h"

namespace yubin::app {

namespace {

frmFilename::ModalHook& ModalHookInPlace() {
    static frmFilename::ModalHook hook;
    return hook;
}

struct Place {
    int left, top, width, height;
};

constexpr Place kTitlePlace{300, 120, 8355, 435};
constexpr std::array<Place, 3> kLabelPlaces{{
    {240, 660, 1455, 195},    // Label1 ドライブ
    {300, 1500, 1455, 315},   // Label2 フォルダ
    {4920, 1500, 1455, 315},  // Label3 ファイル
}};
constexpr std::array<const char*, 3> kLabelTexts{"ドライブ", "フォルダ", "ファイル"};
constexpr Place kDrive1Place{240, 1020, 4395, 315};
constexpr Place kDir1Place{240, 1860, 4395, 3240};
constexpr Place kFile1Place{4860, 1860, 4395, 2820};
// By index: select, exit or cancel, back.
constexpr std::array<Place, frmFilename::kButtonCount> kButtonPlaces{{
    {6570, 4920, 1215, 615},
    {8040, 4920, 1215, 615},
    {5100, 4920, 1215, 615},
}};
constexpr std::array<const char*, frmFilename::kButtonCount> kButtonCaptions{
    "選択(&S)", "ｷｬﾝｾﾙ(&C)", "戻る(&R)"};

constexpr qreal kLabelPoints = 12;
constexpr qreal kListPoints = 9.75;

void PlaceAt(QWidget& control, const Place& place) {
    PlaceTwips(control, place.left, place.top, place.width, place.height);
}

}  // namespace

frmFilename::frmFilename(const std::string& startDir, QWidget* parent)
    : WindowBase(kName, QStringLiteral("moji"), parent),
      lblTITLE_(new QLabel(QStringLiteral("Label4"), this)),
      drive1_(new DriveList(this)),
      dir1_(new DirList(this)),
      file1_(new FileList(this)),
      cmdBTNGroup_(new QButtonGroup(this)),
      image1_(new QLabel(this)) {
    image1_->setObjectName(QStringLiteral("Image1"));
    // The mark below the folder list, left of the buttons.
    placeBackground(*image1_, 1050, 5430, 1350);

    lblTITLE_->setObjectName(QStringLiteral("lblTITLE"));
    lblTITLE_->setFont(GothicFont(kLabelPoints, true));
    PlaceAt(*lblTITLE_, kTitlePlace);
    OnPlainGround(*lblTITLE_);
    for (size_t i = 0; i < labels_.size(); ++i) {
        auto* label = new QLabel(QString::fromUtf8(kLabelTexts[i]), this);
        label->setObjectName(QStringLiteral("Label%1").arg(i + 1));
        label->setFont(GothicFont(kLabelPoints, true));
        PlaceAt(*label, kLabelPlaces[i]);
        FitHeightToText(*label);
        label->resize(label->sizeHint().width(),
                      label->height());  // the ground as wide as the text
        OnPlainGround(*label);
        labels_[i] = label;
    }

    drive1_->setObjectName(QStringLiteral("Drive1"));
    dir1_->setObjectName(QStringLiteral("Dir1"));
    file1_->setObjectName(QStringLiteral("File1"));
    for (QWidget* list : {static_cast<QWidget*>(drive1_), static_cast<QWidget*>(dir1_),
                          static_cast<QWidget*>(file1_)}) {
        list->setFont(GothicFont(kListPoints, false));
    }
    PlaceAt(*drive1_, kDrive1Place);
    FitHeightToText(*drive1_);
    PlaceAt(*dir1_, kDir1Place);
    PlaceAt(*file1_, kFile1Place);
    file1_->setPattern(QStringLiteral("*.CSV"));

    cmdBTNGroup_->setObjectName(QStringLiteral("cmdBTN"));
    for (int index = 0; index < kButtonCount; ++index) {
        QPushButton* button = ControlArrayButton(*cmdBTNGroup_, index,
                                                 QString::fromUtf8(kButtonCaptions[index]), this);
        button->setFont(GothicFont(kLabelPoints, true));
        PlaceAt(*button, kButtonPlaces[index]);
        button->setMouseTracking(true);
        button->installEventFilter(this);
        cmdBTN_[index] = button;
    }
    // Tab order: Dir1, File1, Drive1, select, exit, back (the labels take no focus).
    setTabOrder(dir1_, file1_);
    setTabOrder(file1_, drive1_);
    setTabOrder(drive1_, cmdBTN_[rules::kSelectButton]);
    setTabOrder(cmdBTN_[rules::kSelectButton], cmdBTN_[rules::kExitButton]);
    setTabOrder(cmdBTN_[rules::kExitButton], cmdBTN_[rules::kBackButton]);
    dir1_->setFocus();

    connect(cmdBTNGroup_, &QButtonGroup::idClicked, this,
            [this](int index) { Guarded([this, index] { cmdBTN_Click(index); }); });
    connect(drive1_, &QComboBox::currentIndexChanged, this,
            [this](int index) { Guarded([this, index] { Drive1_Change(index); }); });
    connect(dir1_, &DirList::pathChanged, this,
            [this](const QString& path) { Guarded([this, &path] { file1_->setFolder(path); }); });
    connect(file1_, &FileList::fileActivated, this,
            [this] { Guarded([this] { cmdBTN_Click(rules::kSelectButton); }); });

    // Loading: the drive of the start folder, then the start folder itself when it exists.
    startDir_ =
        QString::fromStdString(startDir.empty() ? mdGETUNC::GetMyDocumentsPath() : startDir);
    drive1_->setEntries(rules::ReadableDriveEntries(WindowDrivePlatform()));
    drive1_->setCurrentIndex(drive1_->indexHolding(startDir_));
    if (QFileInfo(startDir_).isDir()) dir1_->setPath(startDir_);
}

void frmFilename::InitFileSelect(WindowBase& caller, rules::ChooserMode mode, const QString& title,
                                 const QString& expectedFile, import::DataKind kind) {
    caller_ = &caller;
    mode_ = mode;
    expected_ = expectedFile;
    kind_ = kind;
    setCaption(QString::fromStdString(rules::WithoutAccessMarks(title.toStdString())));
    lblTITLE_->setText(QStringLiteral("◆") + expected_ + QStringLiteral("を選択してください。"));
    const bool settings = mode == rules::ChooserMode::Settings;
    cmdBTN_[rules::kExitButton]->setText(
        QString::fromUtf8(settings ? rules::kChooserExitCaption : rules::kChooserCancelCaption));
    cmdBTN_[rules::kBackButton]->setVisible(settings);
    // The file list follows the expected name at once, not only when the window becomes active.
    Form_Activate();
}

frmFilename* frmFilename::OpenForSettings(WindowBase& menu) {
    auto* chooser = new frmFilename;  // deleted once it is unloaded
    chooser->InitFileSelect(menu, rules::ChooserMode::Settings,
                            QString::fromStdString(rules::DatabaseChooserTitle()),
                            QString::fromUtf8(rules::kDatabaseExpectedFile));
    chooser->show();
    return chooser;
}

std::optional<import::ChosenFile> frmFilename::ChooseDataFile(
    WindowBase& caller, const import::BrowseRequest& request) {
    std::optional<import::ChosenFile> result;
    auto* chooser = new frmFilename(request.startDir);  // deleted once it is unloaded
    chooser->InitFileSelect(caller, rules::ChooserMode::DataFile,
                            QString::fromStdString(request.title),
                            QString::fromStdString(request.expectedFile), request.kind);
    chooser->resultSink_ = &result;
    QPointer<frmFilename> alive(chooser);
    if (ModalHookInPlace()) {
        ModalHookInPlace()(*chooser);
    } else {
        QEventLoop loop;
        chooser->modalLoop_ = &loop;
        chooser->setWindowModality(Qt::ApplicationModal);
        chooser->show();
        chooser->activateWindow();
        if (alive && alive->isLoaded()) loop.exec();
        if (alive) alive->modalLoop_ = nullptr;
    }
    if (alive) alive->resultSink_ = nullptr;
    return result;
}

frmFilename::ModalHook frmFilename::SetModalHook(ModalHook hook) {
    return std::exchange(ModalHookInPlace(), std::move(hook));
}

bool frmFilename::queryUnload(UnloadMode mode) {
    if (mode != UnloadMode::Code && waitingForDatabase_) {
        // Closed while the statement waits: the chooser exits once it has returned.
        afterWait_ = rules::kExitButton;
        return false;
    }
    if (mode == UnloadMode::User) ExitSteps();
    return true;
}

void frmFilename::unloadWindow() {
    if (modalLoop_ != nullptr) modalLoop_->quit();
}

bool frmFilename::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) Guarded([this] { Form_Activate(); });
    return WindowBase::event(event);
}

bool frmFilename::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        const int index = cmdBTNGroup_->id(qobject_cast<QPushButton*>(watched));
        if (index >= 0) {
            statusBar1()
                .panel(QStringLiteral("moji"))
                .setText(QString::fromStdString(rules::ChooserStatusText(index, mode_)));
        }
    }
    return WindowBase::eventFilter(watched, event);
}

void frmFilename::Form_Activate() {
    file1_->setToolTip(expected_);
    file1_->setPattern(QString::fromStdString(rules::FilePatternFor(expected_.toStdString())));
}

void frmFilename::Drive1_Change(int index) {
    if (index < 0) return;
    dir1_->openOrTell(drive1_->folderAt(index));
}

void frmFilename::cmdBTN_Click(int index) {
    if (waitingForDatabase_) {
        if (index != rules::kSelectButton) afterWait_ = index;
        return;
    }
    switch (index) {
        case rules::kSelectButton:
            Select();
            break;
        case rules::kExitButton:
            ExitSteps();
            unload();
            break;
        case rules::kBackButton: {
            QPointer<WindowBase> caller = caller_;
            unload();
            if (caller) {
                caller->show();
                caller->activateWindow();
            }
            break;
        }
        default:
            break;
    }
}

void frmFilename::Select() {
    const QString name = file1_->selectedFileName();
    if (name.isEmpty()) return;
    if (!rules::IsExpectedFile(name.toStdString(), expected_.toStdString())) {
        MsgBox(QStringLiteral("選択したファイルが「") + expected_ +
                   QStringLiteral("」ではありません。"),
               MsgStyle::Critical, windowTitle());
        return;
    }
    const std::string path =
        rules::JoinFolderAndName(dir1_->path().toStdString(), name.toStdString());
    if (mode_ == rules::ChooserMode::DataFile) {
        AcceptDataFile(path);
        return;
    }
    PointSettingsAt(path);
}

void frmFilename::PointSettingsAt(const std::string& path) {
    std::optional<YubinError> refusal;
    {
        // (The select button stays enabled, though ignored: disabling it would move the focus
        // to 終了, which a second Enter would then press.)
        struct Waiting {
            frmFilename& chooser;
            explicit Waiting(frmFilename& c) : chooser(c) {
                chooser.waitingForDatabase_ = true;
                chooser.afterWait_.reset();
            }
            ~Waiting() { chooser.waitingForDatabase_ = false; }
        } waiting(*this);
        const DatabaseWaitScope wait(statusBar1().panel(QStringLiteral("moji")),
                                     [this] { return afterWait_.has_value(); });
        // A file that is no database of ours, or one that another program held for longer
        // than the wait, is refused as `yubinbox use` refuses it, and the person may choose
        // again.
        try {
            administration::PointSettingsAtDatabase(path);
        } catch (const YubinError& error) {
            if (!administration::IsDatabaseRefusal(error)) throw;
            refusal = error;
        }
    }
    if (const std::optional<int> wayOut = std::exchange(afterWait_, std::nullopt);
        wayOut && refusal) {
        // The wait was given up for a way out: taken now. (Once the settings file is written,
        // the select has ended the program all the same.)
        cmdBTN_Click(*wayOut);
        return;
    }
    if (refusal) {
        MsgBox(QString::fromStdString(refusal->description()),
               MsgStyle::Critical | MsgStyle::OkOnly, windowTitle());
        return;
    }
    if (caller_) caller_->unload();  // the menu's unload deletes the marker
    unload();
}

void frmFilename::AcceptDataFile(const std::string& path) {
    // A file that cannot be read (no permission, a broken archive) is told, and the person may
    // choose again.
    std::optional<import::ChosenFile> chosen;
    try {
        chosen = import::ChosenDataFile(path, kind_);
    } catch (const YubinError& error) {
        MsgBox(QString::fromStdString(error.description()), MsgStyle::Critical | MsgStyle::OkOnly,
               windowTitle());
        return;
    }
    if (resultSink_ != nullptr) *resultSink_ = std::move(chosen);
    unload();
}

void frmFilename::ExitSteps() {
    if (!settingsMode()) return;
    DeleteCheckFile();
    if (caller_) caller_->unload();
}

}  // namespace yubin::app
