#include "windows/HelpWindow.h"

#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>

#include "windows/MessageBox.h"
#include "windows/WindowCommon.h"
#include "base/Program.h"

namespace yubin::app {

namespace {

QPointer<QTextBrowser>& Browser() {
    static QPointer<QTextBrowser> browser;
    return browser;
}

}  // namespace

QString ManualPath() {
    return QString::fromStdString(ManualFile(ProgramFolder().toStdString()));
}

void ShowHelp() {
    const QString manual = ManualPath();
    if (!QFileInfo(manual).isFile()) {
        MsgBox(QStringLiteral("操作説明書 %1 が見つかりません。").arg(manual),
               MsgStyle::Exclamation);
        return;
    }
    QPointer<QTextBrowser>& browser = Browser();
    if (browser.isNull()) {
        browser = new QTextBrowser();
        browser->setObjectName(QStringLiteral("HelpBrowser"));
        browser->setAttribute(Qt::WA_DeleteOnClose);
        browser->setOpenExternalLinks(true);
        browser->setWindowTitle(ProgramName() + QStringLiteral(" - 操作説明"));
        browser->resize(760, 680);
    }
    browser->setSource(QUrl::fromLocalFile(manual));
    browser->show();
    browser->raise();
    browser->activateWindow();
}

void CloseHelp() {
    if (!Browser().isNull()) delete Browser().data();
}

QTextBrowser* HelpBrowser() { return Browser().data(); }

}  // namespace yubin::app
