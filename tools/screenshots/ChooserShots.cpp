// Takes pictures of the file chooser (settings mode and data-file mode) and the database
// creation window, as a person sees them, into the folder given: chooser-settings.png,
// chooser-datafile.png, makemdb.png. Run under an X server (tools/screenshots-chooser.sh).
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <QApplication>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "import/mdInport.h"
#include "windows/FileSystemLists.h"
#include "windows/Fonts.h"
#include "windows/MessageBox.h"
#include "windows/WindowCommon.h"
#include "windows/frmFilename.h"
#include "windows/frmMAKEMDB.h"
#include "windows/frmMENU.h"

namespace {

namespace fs = std::filesystem;
using namespace yubin::app;

class ImportWindowStandIn : public WindowBase {
  public:
    ImportWindowStandIn() : WindowBase(QStringLiteral("frmyubinbox"), QStringLiteral("msg")) {}
};

void Settle() {
    QEventLoop loop;
    QTimer::singleShot(400, &loop, &QEventLoop::quit);
    loop.exec();
}

void Touch(const fs::path& file) { std::ofstream(file) << ""; }

void MoveMouseOver(QWidget& control) {
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), control.mapToGlobal(QPointF(5, 5)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&control, &move);
}

bool Save(QWidget& window, const fs::path& file) {
    window.move(0, 0);
    window.show();
    window.raise();
    window.activateWindow();
    Settle();
    if (!window.grab().save(QString::fromStdString(file.string()))) {
        std::cerr << "cannot write " << file << "\n";
        return false;
    }
    std::cout << file.string() << "\n";
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " OUTPUT_FOLDER\n";
        return 2;
    }
    const fs::path output = fs::absolute(argv[1]);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    InstallFontSubstitutions();

    // A user of its own: documents with databases, a folder with the two data files.
    QTemporaryDir home;
    const fs::path homePath = home.path().toStdString();
    ::setenv("HOME", homePath.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    fs::create_directories(homePath / "Documents" / "郵便番号");
    fs::create_directories(homePath / "Documents" / "backup");
    fs::create_directories(homePath / "data" / "2024");
    Touch(homePath / "Documents" / "yubinbox.mdb");
    Touch(homePath / "Documents" / "yubinbox_20240315.mdb");
    Touch(homePath / "Documents" / "memo.txt");
    Touch(homePath / "data" / "2024" / "KEN_ALL.CSV");
    Touch(homePath / "data" / "2024" / "JIGYOSYO.CSV");
    Touch(homePath / "data" / "2024" / "readme.txt");
    OverrideProgramName(QStringLiteral("yubinbox"));
    OverrideProgramFolder(home.path());
    MessageBoxResponder boxes;  // no box waits for a person

    bool saved = true;
    auto* menu = new frmMENU;
    menu->hide();
    frmFilename* settings = frmFilename::OpenForSettings(*menu);
    settings->File1().selectFile(QStringLiteral("yubinbox.mdb"));
    MoveMouseOver(settings->cmdBTN(0));
    saved &= Save(*settings, output / "chooser-settings.png");
    settings->hide();

    auto* importWindow = new ImportWindowStandIn;
    auto* dataFile = new frmFilename((homePath / "data" / "2024").string());
    dataFile->InitFileSelect(
        *importWindow, rules::ChooserMode::DataFile,
        QStringLiteral("全国版郵便番号データ(&K)ファイルの選択  (ken_all.csv)"),
        QStringLiteral("ken_all.csv"), yubin::import::DataKind::National);
    dataFile->File1().selectFile(QStringLiteral("KEN_ALL.CSV"));
    saved &= Save(*dataFile, output / "chooser-datafile.png");
    dataFile->hide();

    auto* makeMdb = new frmMAKEMDB;
    MoveMouseOver(makeMdb->cmdBTN(0));
    saved &= Save(*makeMdb, output / "makemdb.png");

    WindowBase::DeleteLoadedWindows();
    return saved ? 0 : 1;
}
