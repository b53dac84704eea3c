#include "app/frmMAKEMDB.h"

namespace yubin::app {

frmMAKEMDB::frmMAKEMDB(QWidget* parent) : WindowBase(kName, QStringLiteral("moji"), parent) {
    setCaption(kTitle);
}

}  // namespace yubin::app
