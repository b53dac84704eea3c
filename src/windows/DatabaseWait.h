// A window's handler whose statement may wait for another program that holds the database.
#pragma once

#include <functional>

#include "store/Engine.h"

namespace yubin::app {

class StatusPanel;

// For the life of the object: at every step of a wait for another program (a few to 100 ms
// apart) the window's pending events run, so that it repaints and its buttons answer; its
// status panel says that it waits and, once the wait is over, shows again what it showed
// before. The wait gives up, and the statement fails with LockedByOtherUser at once, as soon
// as `givenUp` says so. The handlers that run meanwhile must not use the database. The tick
// and the reporter in place before come back after it.
class DatabaseWaitScope {
  public:
    DatabaseWaitScope(StatusPanel& panel, std::function<bool()> givenUp);
    ~DatabaseWaitScope();
    DatabaseWaitScope(const DatabaseWaitScope&) = delete;
    DatabaseWaitScope& operator=(const DatabaseWaitScope&) = delete;

  private:
    db::WaitTick outerTick_;
    db::WaitReporter outerReporter_;
};

}  // namespace yubin::app
