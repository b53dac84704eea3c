// The manual against the windows: the captions it tells the user to press are the windows' own.
#include <gtest/gtest.h>

#include <QFile>
#include <QPointer>
#include <QPushButton>

#include "windows/DriveTestSupport.h"
#include "windows/frmFilename.h"
#include "windows/frmMENU.h"

namespace yubin::app {
namespace {

// The manual's section that begins with the heading of that id, up to the next heading.
QString ManualSection(const QString& id) {
    QFile manual(QStringLiteral(YUBIN_MANUAL_SOURCE));
    if (!manual.open(QIODevice::ReadOnly)) return {};
    const QString text = QString::fromUtf8(manual.readAll());
    const qsizetype start = text.indexOf(QStringLiteral("<h2 id=\"%1\">").arg(id));
    if (start < 0) return {};
    const qsizetype end = text.indexOf(QStringLiteral("<h2"), start + 1);
    return text.mid(start, end < 0 ? -1 : end - start);
}

// A caption as the user reads it: the access key's & left out.
QString Shown(const QPushButton& button) { return QString(button.text()).remove(QLatin1Char('&')); }

class ManualAgreementTest : public test::WindowFixture {
  protected:
    test::FakeMounts machine_{{{"/", mdGETUNC::kDriveFixed}}};
};

TEST_F(ManualAgreementTest, TheSettingsTaskEndsWithTheChoosersOwnButton) {
    auto* menu = new frmMENU;
    QPointer<frmFilename> chooser = frmFilename::OpenForSettings(*menu);
    const QString section = ManualSection(QStringLiteral("settings"));
    ASSERT_FALSE(section.isEmpty());
    EXPECT_TRUE(section.contains(
        QStringLiteral("「%1」").arg(Shown(menu->Command1(frmMENU::SettingsFile)))))
        << section.toStdString();
    EXPECT_TRUE(section.contains(QStringLiteral("「%1」").arg(Shown(chooser->cmdBTN(0)))))
        << section.toStdString();
    EXPECT_FALSE(section.contains(QStringLiteral("確定"))) << section.toStdString();
}

}  // namespace
}  // namespace yubin::app
