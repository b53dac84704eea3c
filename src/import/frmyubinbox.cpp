#include "import/frmyubinbox.h"

namespace yubin::app {

frmyubinbox::frmyubinbox(QWidget* parent) : WindowBase(kName, QStringLiteral("msg"), parent) {}

}  // namespace yubin::app
