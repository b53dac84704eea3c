// frmFilename, the program's own file chooser: one file of an expected name from a drive
// list, a folder list and a file list. The caller gives the mode and the expected file. Settings
// mode (the main menu) points the settings file at the chosen database and ends the program;
// data-file mode (the import window) hands back the chosen file as a value.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>

#include <QPointer>

#include "import/ChosenFile.h"
#include "windowrules/ChooserRules.h"
#include "windows/WindowBase.h"

namespace yubin::import {
struct BrowseRequest;
}

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

    // Loads the chooser: the drives, and the folder lists opened at startDir (the documents
    // folder when it is empty).
    explicit frmFilename(const std::string& startDir = {}, QWidget* parent = nullptr);

    // Remembers the calling window, the mode, the expected file name (blanks included) and the
    // kind of data; sets the title, lblTITLE, the file list and the buttons by mode.
    void InitFileSelect(WindowBase& caller, rules::ChooserMode mode, const QString& title,
                        const QString& expectedFile, import::DataKind kind = import::DataKind::Any);

    // Settings mode for the main menu: a new chooser, opened in the documents folder and shown
    // not modal.
    static frmFilename* OpenForSettings(WindowBase& menu);
    // Data-file mode: a new chooser for the caller, shown modal; returns the chosen file once
    // it has closed, nothing when it was cancelled.
    static std::optional<import::ChosenFile> ChooseDataFile(WindowBase& caller,
                                                            const import::BrowseRequest& request);

    // Data-file mode: the file at `path` becomes the choice (its date read) and the chooser
    // closes; a file that cannot be read is told and the chooser stays. Select does this for
    // the file chosen in the lists.
    void AcceptDataFile(const std::string& path);

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
    rules::ChooserMode mode() const { return mode_; }

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
    // Settings mode: the chosen database checked and the settings file written. While another
    // program holds the database the window lives (waitingForDatabase_); the ways out asked
    // for meanwhile give the wait up and are carried out once the statement has returned.
    void PointSettingsAt(const std::string& path);
    // cmdBTN 1, and any close request that does not come from the program.
    void ExitSteps();
    bool settingsMode() const { return caller_ && mode_ == rules::ChooserMode::Settings; }

    QLabel* lblTITLE_;
    std::array<QLabel*, 3> labels_{};
    DriveList* drive1_;
    DirList* dir1_;
    FileList* file1_;
    std::array<QPushButton*, kButtonCount> cmdBTN_{};
    QButtonGroup* cmdBTNGroup_;
    QLabel* image1_;
    QPointer<WindowBase> caller_;
    rules::ChooserMode mode_ = rules::ChooserMode::DataFile;
    // The expected file name, blanks included (also shown as the file list's tool tip).
    QString expected_;
    import::DataKind kind_ = import::DataKind::Any;
    QString startDir_;
    QEventLoop* modalLoop_ = nullptr;
    // Where a data-file choice goes (the modal caller's result), nullptr when nobody waits.
    std::optional<import::ChosenFile>* resultSink_ = nullptr;
    // A statement waits for another program (settings mode's select): select is ignored, and
    // exit, back or the close box (as exit) wait in afterWait_ until the statement returns.
    bool waitingForDatabase_ = false;
    std::optional<int> afterWait_;
};

}  // namespace yubin::app
