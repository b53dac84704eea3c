#include "app/frmMENU.h"

#include <QButtonGroup>
#include <QColor>
#include <QGroupBox>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

#include "app/ErrorGuard.h"
#include "app/Startup.h"
#include "app/WindowCommon.h"

namespace yubin::app {

namespace {

struct TaskButton {
    int left, top, width, height;
    const char* caption;  // after loading
};

// By index: placed in twips, from top to bottom 0, 2 (administrators), 1 (users), 3 (close).
constexpr std::array<TaskButton, frmMENU::kTaskCount> kTaskButtons{{
    {660, 1560, 3915, 915, "郵便番号ＤＢ新規作成(&M)"},
    {660, 4440, 3915, 915, "設定ファイル作成(&S)"},
    {660, 2760, 3915, 915, "郵便番号データ取込(&T)"},
    {660, 5760, 3915, 915, "閉 じ る(&X)"},
}};

const QColor kTaskButtonColour(255, 235, 205);
const QColor kDescriptionColour(255, 255, 192);

QGroupBox* WhiteFrame(const QString& name, const QString& caption, QWidget* parent) {
    auto* frame = new QGroupBox(caption, parent);
    frame->setObjectName(name);
    QPalette palette = frame->palette();
    palette.setColor(QPalette::Window, Qt::white);
    frame->setPalette(palette);
    frame->setAutoFillBackground(true);
    return frame;
}

}  // namespace

frmMENU::frmMENU(QWidget* parent)
    : WindowBase(kName, QStringLiteral("moji"), parent),
      frame1_(WhiteFrame(QStringLiteral("Frame1"), QStringLiteral("【管理者用】"), this)),
      frame2_(WhiteFrame(QStringLiteral("Frame2"), QStringLiteral("【利用者用】"), this)),
      command1Group_(new QButtonGroup(this)),
      label2_(new QLabel(QStringLiteral("郵便番号データベースを作成します。"), this)) {
    PlaceTwips(*frame1_, 480, 1320, 4215, 2655);
    PlaceTwips(*frame2_, 480, 4080, 4215, 1575);

    command1Group_->setObjectName(QStringLiteral("Command1"));
    for (int index = 0; index < kTaskCount; ++index) {
        const TaskButton& design = kTaskButtons[index];
        auto* button = new QPushButton(this);
        button->setObjectName(QStringLiteral("Command1_%1").arg(index));
        PlaceTwips(*button, design.left, design.top, design.width, design.height);
        QFont taskFont(QStringLiteral("HG創英ﾌﾟﾚｾﾞﾝｽEB"));
        taskFont.setPointSizeF(index == Close ? 15.75 : 14.25);
        button->setFont(taskFont);
        button->raise();  // the frames lie behind the buttons
        command1Group_->addButton(button, index);
        command1_[index] = button;
    }
    setTabOrder(command1_[0], command1_[1]);
    setTabOrder(command1_[1], command1_[2]);
    setTabOrder(command1_[2], command1_[3]);
    connect(command1Group_, &QButtonGroup::idClicked, this,
            [this](int index) { Guarded([this, index] { Command1_Click(index); }); });

    label2_->setObjectName(QStringLiteral("Label2"));
    PlaceTwips(*label2_, 4920, 2640, 4140, 300);
    QPalette labelPalette = label2_->palette();
    labelPalette.setColor(QPalette::Window, kDescriptionColour);
    label2_->setPalette(labelPalette);
    label2_->setAutoFillBackground(true);

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
}

frmMENU* frmMENU::LoadedMenu() { return qobject_cast<frmMENU*>(WindowBase::Loaded(kName)); }

void frmMENU::Command1_Click(int index) {
    switch (index) {
        case Close:
            unload();
            break;
        case NewDatabase:
        case SettingsFile:
        case Import:
            // These tasks open the database creation window, the file chooser and the import
            // window; they are joined to the menu together with those windows.
            break;
        default:
            break;
    }
}

void frmMENU::unloadWindow() { DeleteCheckFile(); }

}  // namespace yubin::app
