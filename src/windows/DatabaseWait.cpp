#include "windows/DatabaseWait.h"

#include <QPointer>

#include "import/mdInport.h"
#include "windows/StatusBar.h"
#include "windows/WindowCommon.h"

namespace yubin::app {

DatabaseWaitScope::DatabaseWaitScope(StatusPanel& panel, std::function<bool()> givenUp)
    : outerTick_(db::setWaitTick([givenUp] {
          if (givenUp()) return false;
          DoEvents();
          return !givenUp();
      })),
      outerReporter_(db::setWaitReporter([shown = QPointer<StatusPanel>(&panel),
                                          before = panel.text()](bool waiting) {
          if (!shown) return;
          shown->setText(waiting ? QString::fromUtf8(mdInport::kWaitingForOtherProgram) : before);
          // Told when a wait begins, before any event has run: painted now.
          shown->repaint();
      })) {}

DatabaseWaitScope::~DatabaseWaitScope() {
    // The reporter that goes hears of a wait that has ended, and puts the text back.
    db::setWaitReporter(std::move(outerReporter_));
    db::setWaitTick(std::move(outerTick_));
}

}  // namespace yubin::app
