// frmMENU, the main menu: the first window of the program. It offers the administrator's
// tasks (a new postal-code database, importing postal-code data), the ordinary user's task
// (a settings file for an existing database) and closing the program. Each time it is shown it
// decides anew which tasks this user may run (menu::DecideMenuActivation). Unloading it, in any
// way, deletes the single-instance marker.
#pragma once

#include <array>

#include "windowrules/MenuActivation.h"
#include "windows/WindowBase.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QPushButton;

namespace yubin::app {

class frmMENU : public WindowBase {
    Q_OBJECT
  public:
    static inline const QString kName = QStringLiteral("frmMENU");
    static inline const QString kTitle = QStringLiteral("郵便番号ＤＢ作成");

    // The task buttons, by index.
    enum Task {
        NewDatabase = menu::NewDatabase,
        SettingsFile = menu::SettingsFile,
        Import = menu::Import,
        Close = menu::Close
    };
    static constexpr int kTaskCount = 4;

    explicit frmMENU(QWidget* parent = nullptr);

    // The loaded menu, or nullptr.
    static frmMENU* LoadedMenu();

    // Activation: reads the settings file, probes the database and applies the decision to the
    // task buttons, the focus, the status panel and the message boxes. Showing the menu (after
    // loading, and again when another window shows it) runs it.
    void Activate();
    // Applies a decision (Activate's second half). The refusals go into the status panel at
    // once and into message boxes as soon as the event loop runs (the menu then is on screen).
    void ApplyActivation(const menu::MenuActivation& activation);

    QPushButton& Command1(int index) const { return *command1_.at(index); }
    QButtonGroup& Command1Group() const { return *command1Group_; }
    QPushButton& Command2() const { return *command2_; }
    QLabel& Label1() const { return *label1_; }
    QLabel& Label2() const { return *label2_; }
    QGroupBox& Frame1() const { return *frame1_; }
    QGroupBox& Frame2() const { return *frame2_; }

  protected:
    void unloadWindow() override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Command1_Click(int index);
    void Command2_Click();
    // The import task's rules (its own write probe); false, said in the panel and a box, while
    // another program holds the database.
    bool PrepareImport();
    // Label2 beside the task button, with its description and tool tip.
    void DescribeTask(int index);

    QLabel* image3_;
    QLabel* image1_;
    QLabel* image2_;
    QGroupBox* frame1_;
    QGroupBox* frame2_;
    std::array<QPushButton*, kTaskCount> command1_{};
    QButtonGroup* command1Group_;
    QLabel* label2_;
    QPushButton* command2_;
    QLabel* label1_;
};

}  // namespace yubin::app
