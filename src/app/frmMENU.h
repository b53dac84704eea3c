// frmMENU, the main menu: the first window of the program. It offers the administrator's
// tasks (a new postal-code database, importing postal-code data), the ordinary user's task
// (a settings file for an existing database) and closing the program. Unloading it, in any
// way, deletes the single-instance marker.
#pragma once

#include <array>

#include "app/WindowBase.h"

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
    enum Task { NewDatabase = 0, SettingsFile = 1, Import = 2, Close = 3 };
    static constexpr int kTaskCount = 4;

    explicit frmMENU(QWidget* parent = nullptr);

    // The loaded menu, or nullptr.
    static frmMENU* LoadedMenu();

    QPushButton& Command1(int index) const { return *command1_.at(index); }
    QButtonGroup& Command1Group() const { return *command1Group_; }
    QLabel& Label2() const { return *label2_; }

  protected:
    void unloadWindow() override;

  private:
    void Command1_Click(int index);

    QGroupBox* frame1_;
    QGroupBox* frame2_;
    std::array<QPushButton*, kTaskCount> command1_{};
    QButtonGroup* command1Group_;
    QLabel* label2_;
};

}  // namespace yubin::app
