// What the menu's window tests share: a program folder and a home folder of their own (no
// settings file until a test writes one), scripted message boxes, and start-up.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include <QCoreApplication>
#include <QEvent>

#include "settings/mdFileCreate.h"
#include "store/mdlYubinBox.h"
#include "support/TestSupport.h"
#include "windows/ErrorGuard.h"
#include "windows/MessageBox.h"
#include "windows/Startup.h"
#include "windows/WindowCommon.h"
#include "windows/frmMENU.h"

namespace yubin::app::test_support {

class MenuFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        mdFileCreate::SetExecutableBaseNameForTesting("yubinbox");
        OverrideProgramName(QStringLiteral("yubinbox"));
        OverrideProgramFolder(QString::fromStdString(program_.path().string()));
        std::filesystem::create_directories(home_.path() / "Documents");
        std::filesystem::create_directories(home_.path() / "db");
    }
    void TearDown() override {
        CloseEverything();
        OverrideProgramFolder(QString());
        OverrideProgramName(QString());
        mdFileCreate::SetExecutableBaseNameForTesting(std::nullopt);
    }

    std::filesystem::path folder() const { return home_.path() / "db"; }
    std::string database() const { return (folder() / "yubinbox.mdb").string(); }
    std::filesystem::path marker() const { return program_.path() / "checkfile.txt"; }
    std::string user() const { return mdFileCreate::GetLoginUserName(); }

    // Start-up, then the event loop's turn in which the refusals are shown.
    frmMENU& Start() {
        Main();
        QCoreApplication::processEvents();
        frmMENU* menu = frmMENU::LoadedMenu();
        if (menu == nullptr) throw std::runtime_error("no menu");
        return *menu;
    }
    // An empty database at database().
    void MakeDatabase() {
        mdlYubinBox::strMdbFile = database();
        mdlYubinBox::CreateMdb();
    }
    void CloseEverything() {
        WindowBase::DeleteLoadedWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        mdlYubinBox::CloseMdb();
    }

    test::TempDir program_;
    test::TempDir home_;
    test::ScopedEnv homeEnv_{"HOME", home_.path().string()};
    test::ScopedEnv configEnv_{"XDG_CONFIG_HOME", std::nullopt};
    MessageBoxResponder boxes_;
    ScopedEndProgramHook end_;
};

}  // namespace yubin::app::test_support
