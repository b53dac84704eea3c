// The background's postal mark in the creation window, the chooser and the import window: seen
// whole, with no control over it.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QLabel>
#include <QPointer>

#include "store/mdlYubinBox.h"
#include "windows/DriveTestSupport.h"
#include "windows/frmFilename.h"
#include "windows/frmMAKEMDB.h"
#include "windows/frmMENU.h"
#include "windows/frmyubinbox.h"

namespace yubin::app {
namespace {

class PostalMarkPlaceTest : public test::WindowFixture {
  protected:
    ~PostalMarkPlaceTest() override { mdlYubinBox::CloseMdb(); }

    // The mark lies above the status bar, no other control (shown or not) reaches into its
    // square, and the background has it there.
    static void ExpectMarkWholeAndClear(const WindowBase& window) {
        SCOPED_TRACE(window.objectName().toStdString());
        const QRect mark = window.postalMarkPlace();
        ASSERT_GE(mark.width(), 60);
        EXPECT_EQ(mark.width(), mark.height());
        EXPECT_TRUE(QRect(0, 0, window.width(), window.statusBar1().y()).contains(mark));
        const auto* image = window.findChild<QLabel*>(QStringLiteral("Image1"));
        ASSERT_NE(image, nullptr);
        for (const QWidget* other :
             window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (other == image) continue;
            EXPECT_FALSE(mark.intersects(other->geometry())) << other->objectName().toStdString();
        }
        const QColor centre = image->pixmap().toImage().pixelColor(mark.center());
        EXPECT_GT(centre.red(), 180);  // the white sign or the red disc, never the pale grid
        const QColor disc =
            image->pixmap().toImage().pixelColor(mark.left() + mark.width() / 2, mark.top() + 3);
        EXPECT_GT(disc.red(), 150);
        EXPECT_LT(disc.green(), 100);
    }

    test::FakeMounts machine_{{{"/", mdGETUNC::kDriveFixed}}};
};

TEST_F(PostalMarkPlaceTest, CreationWindowChooserAndImportWindowKeepTheMarkClear) {
    QPointer<frmMENU> menu = new frmMENU;
    QPointer<frmMAKEMDB> creation = new frmMAKEMDB;
    ExpectMarkWholeAndClear(*creation);
    QPointer<frmFilename> chooser = frmFilename::OpenForSettings(*menu);
    ExpectMarkWholeAndClear(*chooser);
    mdlYubinBox::strMdbFile = (program_.path() / "yubinbox.mdb").string();
    mdlYubinBox::CreateMdb();
    QPointer<frmyubinbox> import = new frmyubinbox;
    ExpectMarkWholeAndClear(*import);
}

}  // namespace
}  // namespace yubin::app
