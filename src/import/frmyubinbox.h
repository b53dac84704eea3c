// frmyubinbox, the import window: the administrator chooses ken_all.csv and jigyosyo.csv,
// runs the import with live progress, aborts it, and closes with compaction.
#pragma once

#include "app/WindowBase.h"

namespace yubin::app {

class frmyubinbox : public WindowBase {
    Q_OBJECT
  public:
    static inline const QString kName = QStringLiteral("frmyubinbox");

    explicit frmyubinbox(QWidget* parent = nullptr);
};

}  // namespace yubin::app
