// frmFilename, the program's own file chooser: one file of an expected name from a drive
// list, a folder list and a file list. Settings mode (called by frmMENU) writes the settings
// file for the chosen database and ends the program; data-file mode (called by frmyubinbox)
// hands back the path and date in strSelFile / strSelFileDate.
#pragma once

#include <array>
#include <functional>

#include <QPointer>

#include "windows/WindowBase.h"

class QButtonGroup;
class QEventLoop;
class QLabel;
class QPushButton;

namespace yubin::app {

class DirList;
class DriveList;
class FileList;

class frmFilename : public WindowBase {
    Q_OBJECT
  public:
    static inline const QString kName = QStringLiteral("frmFilename");
    static constexpr int kButtonCount = 3;

    // Loads the chooser: the drives, and the folder lists opened at strStartDir (the
    // documents folder when it is empty).
    explicit frmFilename(QWidget* parent = nullptr);

    // Remembers the calling window and sets the title, lblTITLE and the buttons by mode.
    void InitFileSelect(WindowBase& caller, const QString& title);

    // Data-file mode: a new chooser for the caller, shown modal; returns once it has closed
    // (strSelFile / strSelFileDate then hold the result, strSelFile "" when cancelled).
    static void ShowModal(WindowBase& caller, const QString& title);

    // Tests replace the modal showing: the hook gets the chooser, loaded and initialised, in
    // place of a nested event loop, and must close it. An empty function restores the real
    // showing. Returns the hook that was in place.
    using ModalHook = std::function<void(frmFilename&)>;
    static ModalHook SetModalHook(ModalHook hook);

    QLabel& lblTITLE() const { return *lblTITLE_; }
    DriveList& Drive1() const { return *drive1_; }
    DirList& Dir1() const { return *dir1_; }
    FileList& File1() const { return *file1_; }
    QPushButton& cmdBTN(int index) const { return *cmdBTN_.at(index); }
    QButtonGroup& cmdBTNGroup() const { return *cmdBTNGroup_; }
    QLabel& Image1() const { return *image1_; }
    // The calling window given to InitFileSelect (nullptr before, or when it is gone).
    WindowBase* caller() const { return caller_; }

  protected:
    bool queryUnload(UnloadMode mode) override;
    void unloadWindow() override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Form_Activate();
    void Drive1_Change(int index);
    void cmdBTN_Click(int index);
    void Select();
    // cmdBTN 1, and any close request that does not come from the program.
    void ExitSteps();
    bool settingsMode() const;

    QLabel* lblTITLE_;
    std::array<QLabel*, 3> labels_{};
    DriveList* drive1_;
    DirList* dir1_;
    FileList* file1_;
    std::array<QPushButton*, kButtonCount> cmdBTN_{};
    QButtonGroup* cmdBTNGroup_;
    QLabel* image1_;
    QPointer<WindowBase> caller_;
    QString startDir_;
    QEventLoop* modalLoop_ = nullptr;
};

}  // namespace yubin::app
