#include "app/WindowCommon.h"

#include <algorithm>
#include <utility>

#include <QApplication>
#include <QCursor>
#include <QFileInfo>
#include <QWidget>

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

}  // namespace

QString ExecutableBaseName(const QString& executablePath) {
    QString name = executablePath;
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const qsizetype backslash = name.lastIndexOf(QLatin1Char('\\'));
    const qsizetype cut = std::max(slash, backslash);
    if (cut >= 0) name = name.mid(cut + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0) name.truncate(dot);
    return name;
}

QString ProgramName() {
    if (!ProgramNameOverride().isEmpty()) return ProgramNameOverride();
    return ExecutableBaseName(QCoreApplication::applicationFilePath());
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

void DoEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

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
