#include "windows/frmMENU.h"

#include <QButtonGroup>
#include <QColor>
#include <QEvent>
#include <QFont>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QShortcut>
#include <QShowEvent>
#include <QStringList>
#include <QTimer>

#include "import/Administration.h"
#include "windows/ErrorGuard.h"
#include "windows/Fonts.h"
#include "windows/HelpWindow.h"
#include "windows/MessageBox.h"
#include "windows/Pictures.h"
#include "windows/Startup.h"
#include "windows/WindowCommon.h"
#include "windows/frmFilename.h"
#include "windows/frmMAKEMDB.h"
#include "windows/frmyubinbox.h"

namespace yubin::app {

namespace {

struct TaskButton {
    int left, top, width, height;
    const char* caption;      // after loading
    const char* description;  // Label2's caption, lines between CR LF
    const char* toolTip;
};

// By index: placed in twips, from top to bottom 0, 2 (administrators), 1 (users), 3 (close).
constexpr std::array<TaskButton, frmMENU::kTaskCount> kTaskButtons{{
    {660, 1560, 3915, 915, "郵便番号ＤＢ新規作成(&M)",
     "\r\n　郵便番号データベースを作成します。\r\n        ↓\r\n"
     "　利用するための設定ファイルを作成します。\r\n        ↓\r\n"
     "　郵便番号データを取り込みます。\r\n",
     "(yubinbox.mdb & yubinbox.ini)"},
    {660, 4440, 3915, 915, "設定ファイル作成(&S)",
     "\r\n　利用するための設定ファイルを作成します。\r\n\r\n"
     "　既存の郵便番号データベースを利用する場合に\r\n　選択してください。\r\n",
     "(yubinbox.ini)"},
    {660, 2760, 3915, 915, "郵便番号データ取込(&T)", "\r\n　郵便番号データを取り込みます。\r\n",
     "(ken_all.csv,jigyosyo.csv → yubinbox.mdb)"},
    {660, 5760, 3915, 915, "閉 じ る(&X)", "\r\n　プログラムを閉じます。\r\n", ""},
}};

const QColor kTaskButtonColour(255, 235, 205);
const QColor kDescriptionColour(255, 255, 192);
constexpr int kLabel2GapTwips = 50;

QGroupBox* WhiteFrame(const QString& name, const QString& caption, QWidget* parent) {
    auto* frame = new QGroupBox(caption, parent);
    frame->setObjectName(name);
    QPalette palette = frame->palette();
    palette.setColor(QPalette::Window, Qt::white);
    frame->setPalette(palette);
    frame->setAutoFillBackground(true);
    KeepCaptionWhole(*frame);
    return frame;
}

QLabel* Picture(const QString& name, int left, int top, int width, int height, QWidget* parent) {
    auto* image = new QLabel(parent);
    image->setObjectName(name);
    PlaceTwips(*image, left, top, width, height);
    return image;
}

// Applies the changes of one kind (Enable or Disable) to the task buttons 0 to 2.
void ApplyChanges(const std::array<QPushButton*, frmMENU::kTaskCount>& buttons,
                  const menu::MenuActivation& activation, menu::ButtonChange kind) {
    const std::array<menu::ButtonChange, 3> changes{activation.newDatabase, activation.settingsFile,
                                                    activation.import};
    for (std::size_t index = 0; index < changes.size(); ++index) {
        if (changes[index] == kind) buttons[index]->setEnabled(kind == menu::ButtonChange::Enable);
    }
}

}  // namespace

frmMENU::frmMENU(QWidget* parent)
    : WindowBase(kName, QStringLiteral("moji"), parent),
      image3_(Picture(QStringLiteral("Image3"), 0, 0, kClientWidthTwips, 7080, this)),
      image1_(Picture(QStringLiteral("Image1"), 480, 180, 900, 900, this)),
      image2_(Picture(QStringLiteral("Image2"), 4920, 360, 4680, 5160, this)),
      frame1_(WhiteFrame(QStringLiteral("Frame1"), QStringLiteral("【管理者用】"), this)),
      frame2_(WhiteFrame(QStringLiteral("Frame2"), QStringLiteral("【利用者用】"), this)),
      command1Group_(new QButtonGroup(this)),
      label2_(new QLabel(QStringLiteral("郵便番号データベースを作成します。"), this)),
      command2_(new QPushButton(QStringLiteral("操作説明"), this)),
      label1_(new QLabel(this)) {
    {
        // The grid as a tiled background: the same picture as LightGrid without drawing one of
        // the window's whole size at every start.
        QPalette grid = image3_->palette();
        grid.setBrush(QPalette::Window, QBrush(pictures::GridTile()));
        image3_->setPalette(grid);
        image3_->setAutoFillBackground(true);
    }
    image1_->setPixmap(pictures::PostalMark(image1_->size()));
    image2_->setPixmap(pictures::JapanOutline(image2_->size()));

    PlaceTwips(*frame1_, 480, 1320, 4215, 2655);
    PlaceTwips(*frame2_, 480, 4080, 4215, 1575);

    command1Group_->setObjectName(QStringLiteral("Command1"));
    for (int index = 0; index < kTaskCount; ++index) {
        const TaskButton& design = kTaskButtons[index];
        QPushButton* button = ControlArrayButton(*command1Group_, index, QString(), this);
        PlaceTwips(*button, design.left, design.top, design.width, design.height);
        button->setFont(PresenceFont(index == Close ? 15.75 : 14.25));
        button->setMouseTracking(true);
        button->installEventFilter(this);
        command1_[index] = button;
    }
    connect(command1Group_, &QButtonGroup::idClicked, this,
            [this](int index) { Guarded([this, index] { Command1_Click(index); }); });

    label2_->setObjectName(QStringLiteral("Label2"));
    label2_->setTextFormat(Qt::PlainText);
    PlaceTwips(*label2_, 4920, 2640, 4140, 300);
    QPalette labelPalette = label2_->palette();
    labelPalette.setColor(QPalette::Window, kDescriptionColour);
    label2_->setPalette(labelPalette);
    label2_->setAutoFillBackground(true);
    label2_->setFrameStyle(QFrame::Box | QFrame::Plain);

    command2_->setObjectName(QStringLiteral("Command2"));
    PlaceTwips(*command2_, 8040, 5640, 1575, 495);
    connect(command2_, &QPushButton::clicked, this,
            [this] { Guarded([this] { Command2_Click(); }); });
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    help->setContext(Qt::WindowShortcut);
    connect(help, &QShortcut::activated, this, [] { Guarded(ShowHelp); });

    label1_->setObjectName(QStringLiteral("Label1"));
    PlaceTwips(*label1_, 4920, 6720, 4935, 255);
    label1_->setText(QStringLiteral("郵便番号データは日本郵便が毎月公開しています。"));

    // Tab order: the task buttons by index, Label2 (no focus), the frames, Label1, Command2.
    setTabOrder(command1_[0], command1_[1]);
    setTabOrder(command1_[1], command1_[2]);
    setTabOrder(command1_[2], command1_[3]);
    setTabOrder(command1_[3], command2_);
    label2_->raise();  // over the pictures and Command2 while it describes a task

    // Loading.
    setCaption(kTitle);
    label2_->hide();
    QPalette buttonPalette = command1_[0]->palette();
    buttonPalette.setColor(QPalette::Button, kTaskButtonColour);
    command1_[0]->setPalette(buttonPalette);
    for (int index = 1; index < kTaskCount; ++index) {
        command1_[index]->setPalette(command1_[0]->palette());
    }
    for (int index = 0; index < kTaskCount; ++index) {
        command1_[index]->setText(QString::fromUtf8(kTaskButtons[index].caption));
    }
    statusBar1().panel(QStringLiteral("moji")).setText(QString());
    // The manual is looked for when help is asked for; its absence is not reported here.
}

frmMENU* frmMENU::LoadedMenu() { return qobject_cast<frmMENU*>(WindowBase::Loaded(kName)); }

void frmMENU::showEvent(QShowEvent* event) {
    WindowBase::showEvent(event);
    // Shown by program code: after loading, or by another window handing back. A window
    // system's own show (de-iconified) is no new activation.
    if (!event->spontaneous()) Guarded([this] { Activate(); });
}

void frmMENU::Activate() { ApplyActivation(menu::DecideMenuActivation(menu::GatherMenuFacts())); }

void frmMENU::ApplyActivation(const menu::MenuActivation& activation) {
    ApplyChanges(command1_, activation, menu::ButtonChange::Enable);
    if (activation.focus) command1_.at(*activation.focus)->setFocus(Qt::OtherFocusReason);
    // A focused button that is disabled now hands the focus on.
    ApplyChanges(command1_, activation, menu::ButtonChange::Disable);
    // The button given the focus is described at once, also while the window waits to be
    // activated by the window system (which only then reports the focus).
    const int focused = command1Group_->id(qobject_cast<QPushButton*>(focusWidget()));
    if (focused >= 0) {
        DescribeTask(focused);
    } else {
        label2_->hide();
    }
    // The panel says what this activation found; a notice of an earlier one does not stay.
    if (activation.messages.empty()) {
        statusBar1()
            .panel(QStringLiteral("moji"))
            .setText(QString::fromStdString(activation.notice));
        return;
    }
    // The panel at once; the boxes once the menu is on the screen, so that they stand over it.
    QStringList texts;
    for (const std::string& message : activation.messages) {
        texts << QString::fromStdString(message);
    }
    statusBar1().panel(QStringLiteral("moji")).setText(texts.back());
    QTimer::singleShot(0, this, [this, texts] {
        Guarded([this, &texts] {
            for (const QString& text : texts) {
                if (!isVisible()) return;
                MsgBox(text, MsgStyle::OkOnly);
            }
        });
    });
}

bool frmMENU::eventFilter(QObject* watched, QEvent* event) {
    const int index = command1Group_->id(qobject_cast<QPushButton*>(watched));
    if (index >= 0) {
        switch (event->type()) {
            case QEvent::FocusIn:
            case QEvent::Enter:
            case QEvent::MouseMove:
                DescribeTask(index);
                break;
            case QEvent::FocusOut:
                label2_->hide();
                break;
            default:
                break;
        }
    }
    return WindowBase::eventFilter(watched, event);
}

void frmMENU::DescribeTask(int index) {
    const TaskButton& design = kTaskButtons.at(static_cast<std::size_t>(index));
    const QString description = QString::fromUtf8(design.description);
    label2_->setText(description);  // the same text again repaints nothing
    label2_->setToolTip(QString::fromUtf8(design.toolTip));
    const QPushButton& button = *command1_[index];
    // The whole description is shown: the label grows to its text, never below its design size.
    const QSize needed = label2_->sizeHint();
    const int gap = Px(kLabel2GapTwips);
    QRect place(button.x() + button.width() + gap, button.y(), std::max(Px(4140), needed.width()),
                std::max(Px(300), needed.height()));
    // Beside the button and clear of every other control: raised above 操作説明, Label1 and the
    // status bar where it would reach down over them, and right of the frames it meets.
    const std::array<const QWidget*, 3> lower = {command2_, label1_, &statusBar1()};
    for (const QWidget* below : lower) {
        if (place.intersects(below->geometry())) place.moveBottom(below->y() - gap);
    }
    for (const QWidget* frame : {frame1_, frame2_}) {
        if (place.intersects(frame->geometry())) place.moveLeft(frame->geometry().right() + gap);
    }
    label2_->setGeometry(place);
    label2_->show();
}

void frmMENU::Command1_Click(int index) {
    switch (index) {
        case NewDatabase: {
            hide();
            auto* creation = new frmMAKEMDB();
            creation->show();
            break;
        }
        case SettingsFile: {
            hide();
            frmFilename::OpenForSettings(*this);
            break;
        }
        case Import: {
            if (!PrepareImport()) return;
            unload();
            auto* importWindow = new frmyubinbox();
            importWindow->show();
            break;
        }
        case Close:
            unload();
            break;
        default:
            break;
    }
}

bool frmMENU::PrepareImport() {
    try {
        administration::PrepareImportFromSettings(menu::kProbeWait);
        return true;
    } catch (const YubinError& error) {
        // The database was found writable or in use when the menu was shown. Found read-only
        // now: the menu decides anew and says so. Still in use: the menu stays and offers the
        // import again. Any other error ends the program as in every handler.
        if (error.code() == ErrorCode::PermissionDenied) {
            Activate();
            return false;
        }
        if (error.code() != ErrorCode::LockedByOtherUser) throw;
    }
    const QString text = QString::fromUtf8(administration::kDatabaseInUse);
    statusBar1().panel(QStringLiteral("moji")).setText(text);
    MsgBox(text, MsgStyle::OkOnly);
    return false;
}

void frmMENU::Command2_Click() { ShowHelp(); }

void frmMENU::unloadWindow() { DeleteCheckFile(); }

}  // namespace yubin::app
