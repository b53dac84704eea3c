// What the chooser's and the creation window's tests share: a machine whose mounts are given
// by the test (real folders standing for the mount points), and a user of their own with a
// home folder, a settings file name and a single-instance marker.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QTime>

#include "import/mdInport.h"
#include "settings/mdFileCreate.h"
#include "settings/mdGETUNC.h"
#include "support/TestSupport.h"
#include "windows/ErrorGuard.h"
#include "windows/FileSystemLists.h"
#include "windows/MessageBox.h"
#include "windows/StatusBar.h"
#include "windows/WindowBase.h"
#include "windows/WindowCommon.h"

namespace yubin::app::test {

// A substitute mount table: each mount a root (a real folder), its type, and its answers.
class FakeMounts : public mdGETUNC::DrivePlatform {
  public:
    struct Mount {
        Mount(std::string r, int t, bool w = false, bool readable_ = true, std::string u = "")
            : root(std::move(r)),
              type(t),
              writable(w),
              readable(readable_),
              universal(std::move(u)) {}
        std::string root;
        int type;
        bool writable = false;
        bool readable = true;
        std::string universal;
    };
    explicit FakeMounts(std::vector<Mount> mounts) : mounts_(std::move(mounts)) {
        previous_ = SetWindowDrivePlatform(this);
    }
    ~FakeMounts() override { SetWindowDrivePlatform(previous_); }
    FakeMounts(const FakeMounts&) = delete;
    FakeMounts& operator=(const FakeMounts&) = delete;

    std::vector<std::string> driveRoots() override {
        std::vector<std::string> roots;
        for (const Mount& m : mounts_) roots.push_back(m.root);
        return roots;
    }
    int driveType(const std::string& root) override { return find(root).type; }
    bool canWrite(const std::string& root) override { return find(root).writable; }
    bool canRead(const std::string& root) override { return find(root).readable; }
    std::string universalName(const std::string& root) override { return find(root).universal; }

  private:
    const Mount& find(const std::string& root) const {
        for (const Mount& m : mounts_) {
            if (m.root == root) return m;
        }
        throw std::logic_error("unknown root " + root);
    }
    std::vector<Mount> mounts_;
    mdGETUNC::DrivePlatform* previous_ = nullptr;
};

// The next control that the tab key reaches from a control.
inline QWidget* NextTabStop(QWidget& from) {
    for (QWidget* next = from.nextInFocusChain(); next != nullptr && next != &from;
         next = next->nextInFocusChain()) {
        if ((next->focusPolicy() & Qt::TabFocus) && next->isVisibleTo(from.window())) return next;
    }
    return nullptr;
}

// A window of any name, standing for a caller.
class StandInWindow : public WindowBase {
  public:
    explicit StandInWindow(const QString& name) : WindowBase(name, QStringLiteral("moji")) {}
};

// A home folder of its own (documents in HOME/Documents), the program named yubinbox in a
// folder of its own with its marker, boxes answered by script, the program's end recorded.
class WindowFixture : public ::testing::Test {
  protected:
    WindowFixture() {
        OverrideProgramName(QStringLiteral("yubinbox"));
        OverrideProgramFolder(QString::fromStdString(program_.path().string()));
        mdFileCreate::SetExecutableBaseNameForTesting("yubinbox");
        mdFileCreate::SetIniFilePath();
        yubin::test::writeBytes(marker().string(), "");
    }
    ~WindowFixture() override {
        WindowBase::DeleteLoadedWindows();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        mdFileCreate::SetExecutableBaseNameForTesting(std::nullopt);
        OverrideProgramFolder(QString());
        OverrideProgramName(QString());
    }

    std::filesystem::path marker() const { return program_.path() / "checkfile.txt"; }
    std::filesystem::path documents() const { return home_.path() / "Documents"; }
    std::filesystem::path settingsFile() const { return documents() / "yubinbox.ini"; }

    // Moves the mouse over a control, as the window system reports it.
    static void MoveMouseOver(QWidget& control) {
        QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), control.mapToGlobal(QPointF(3, 3)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&control, &move);
    }

    yubin::test::TempDir home_;
    yubin::test::TempDir program_;
    yubin::test::ScopedEnv homeVariable_{"HOME", home_.path().string()};
    yubin::test::ScopedEnv configVariable_{"XDG_CONFIG_HOME", std::nullopt};
    MessageBoxResponder boxes_;
    ScopedEndProgramHook end_;
    ScopedClockSource clock_{[] { return QTime(9, 41); }};
};

}  // namespace yubin::app::test
