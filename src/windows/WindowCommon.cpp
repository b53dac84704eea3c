#include "windows/WindowCommon.h"

#include <algorithm>
#include <utility>

#include <QApplication>
#include <QButtonGroup>
#include <QCursor>
#include <QFileInfo>
#include <QGroupBox>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleOptionGroupBox>
#include <QWidget>

#include "base/Program.h"
#include "base/VectorState.h"

namespace yubin::app {

namespace {

QString& ProgramNameOverride() {
    static QString name;
    return name;
}

QString& ProgramFolderOverride() {
    static QString folder;
    return folder;
}

std::function<void()>& BeepHook() {
    static std::function<void()> hook;
    return hook;
}

// Caption rooms measured by the advance of the text, not its ink.
class WholeCaptionStyle : public QProxyStyle {
  public:
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override {
        QRect rect = QProxyStyle::subControlRect(control, option, part, widget);
        if (control != CC_GroupBox || part != SC_GroupBoxLabel) return rect;
        const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
        if (box == nullptr) return rect;
        const int needed = option->fontMetrics.horizontalAdvance(box->text) + 2;
        if (rect.width() < needed) rect.setWidth(needed);
        return rect;
    }
};

QStyle* TheWholeCaptionStyle() {
    static QPointer<WholeCaptionStyle> style;
    if (style.isNull()) style = new WholeCaptionStyle();  // owned by the application
    if (style->parent() == nullptr) style->setParent(QCoreApplication::instance());
    return style.data();
}

}  // namespace

void KeepCaptionWhole(QGroupBox& frame) { frame.setStyle(TheWholeCaptionStyle()); }

QString ExecutableBaseName(const QString& executablePath) {
    return QString::fromStdString(yubin::ExecutableBaseName(executablePath.toStdString()));
}

QString ProgramName() {
    if (!ProgramNameOverride().isEmpty()) return ProgramNameOverride();
    return QString::fromStdString(RunningExecutableBaseName());
}

void OverrideProgramName(const QString& name) { ProgramNameOverride() = name; }

QString ProgramFolder() {
    if (!ProgramFolderOverride().isEmpty()) return ProgramFolderOverride();
    return QCoreApplication::applicationDirPath();
}

void OverrideProgramFolder(const QString& folder) { ProgramFolderOverride() = folder; }

QString WindowCaption(const QWidget& window, const QString& title) {
    return ProgramName() + QStringLiteral(" - ") + window.objectName() + QStringLiteral(" 【") +
           title + QStringLiteral("】");
}

void PlaceTwips(QWidget& control, int left, int top, int width, int height) {
    control.setGeometry(Px(left), Px(top), Px(width), Px(height));
}

QPushButton* ControlArrayButton(QButtonGroup& group, int index, const QString& caption,
                                QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(group.objectName() + QStringLiteral("_%1").arg(index));
    group.addButton(button, index);
    return button;
}

void SetBusyPointer() {
    if (QGuiApplication::overrideCursor() == nullptr) {
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    } else {
        QGuiApplication::changeOverrideCursor(QCursor(Qt::WaitCursor));
    }
}

void SetDefaultPointer() {
    while (QGuiApplication::overrideCursor() != nullptr) QGuiApplication::restoreOverrideCursor();
}

bool IsDefaultPointer() { return QGuiApplication::overrideCursor() == nullptr; }

void DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // The painting may leave the slow vector state set; the caller's own code follows (an
    // engine's next line, and the threads it starts).
    ClearUpperVectorState();
}

void Beep() {
    if (BeepHook()) {
        BeepHook()();
    } else {
        QApplication::beep();
    }
}

std::function<void()> SetBeepHook(std::function<void()> hook) {
    return std::exchange(BeepHook(), std::move(hook));
}

}  // namespace yubin::app
