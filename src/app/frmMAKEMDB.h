// frmMAKEMDB, the database creation window: the administrator chooses the folder of a new
// yubinbox.mdb; an existing one is moved aside under a dated name, the new one is made, the
// settings file points at it, and the import window follows.
#pragma once

#include "app/WindowBase.h"

namespace yubin::app {

class frmMAKEMDB : public WindowBase {
    Q_OBJECT
  public:
    static inline const QString kName = QStringLiteral("frmMAKEMDB");
    static inline const QString kTitle = QStringLiteral("郵便番号データベースファイル作成");

    explicit frmMAKEMDB(QWidget* parent = nullptr);
};

}  // namespace yubin::app
