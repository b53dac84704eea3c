// frmMAKEMDB, the database creation window: the administrator chooses the folder of a new
// yubinbox.mdb; an existing one is moved aside under a dated name, the new one is made, the
// settings file points at it, and the import window follows.
#pragma once

#include <array>

#include "windows/WindowBase.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;

namespace yubin::app {

class DirList;
class DriveList;

class frmMAKEMDB : public WindowBase {
    Q_OBJECT
  public:
    static inline const QString kName = QStringLiteral("frmMAKEMDB");
    static inline const QString kTitle = QStringLiteral("郵便番号データベースファイル作成");
    static constexpr int kButtonCount = 3;

    // Loads the window: the drives, and the folder lists opened at the documents folder.
    explicit frmMAKEMDB(QWidget* parent = nullptr);

    DriveList& cbxDRIVE() const { return *cbxDRIVE_; }
    DirList& Dir1() const { return *dir1_; }
    QLineEdit& txtMDBFILE() const { return *txtMDBFILE_; }
    QPushButton& cmdBTN(int index) const { return *cmdBTN_.at(index); }
    QButtonGroup& cmdBTNGroup() const { return *cmdBTNGroup_; }
    QLabel& Image1() const { return *image1_; }

  protected:
    bool queryUnload(UnloadMode mode) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void cbxDRIVE_Click(int index);
    void cmdBTN_Click(int index);
    void Confirm();
    // 終了(&X), and any close request that does not come from the program.
    void EndSteps();

    QLabel* image1_;
    DriveList* cbxDRIVE_;
    DirList* dir1_;
    QLineEdit* txtMDBFILE_;
    std::array<QPushButton*, kButtonCount> cmdBTN_{};
    QButtonGroup* cmdBTNGroup_;
};

}  // namespace yubin::app
