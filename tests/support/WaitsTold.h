// The store's wait reporter and tick recorded for a test: what was told and how often it
// ticked. The previous ones are set back at the end.
#pragma once

#include <utility>
#include <vector>

#include "store/Engine.h"

namespace yubin::test {

class WaitsTold {
  public:
    WaitsTold()
        : previous_(db::setWaitReporter([this](bool waiting) { reports.push_back(waiting); })),
          previousTick_(db::setWaitTick([this] {
              ++ticks;
              return true;
          })) {}
    ~WaitsTold() {
        db::setWaitTick(std::move(previousTick_));
        db::setWaitReporter(std::move(previous_));
    }
    WaitsTold(const WaitsTold&) = delete;
    WaitsTold& operator=(const WaitsTold&) = delete;

    std::vector<bool> reports;  // true when a wait began, false when it ended
    int ticks = 0;

  private:
    db::WaitReporter previous_;
    db::WaitTick previousTick_;
};

}  // namespace yubin::test
