// The end of the user's session for the windows: SIGTERM, SIGHUP and SIGINT (logout, shutdown,
// kill, Ctrl-C in the terminal that started them)
// reach the event loop as a request to close every loaded window without questions.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace yubin::app {

// Every loaded window is asked to close as the session ends; when one stays loaded (its exit
// is under way) the single-instance marker is deleted all the same.
void EndWindowSession();

// Catches SIGTERM, SIGHUP and SIGINT for the life of the object (one at a time) and runs
// EndWindowSession from the event loop, also from an engine's event processing.
class SessionEndWatcher : public QObject {
    Q_OBJECT
  public:
    SessionEndWatcher();
    ~SessionEndWatcher() override;
    SessionEndWatcher(const SessionEndWatcher&) = delete;
    SessionEndWatcher& operator=(const SessionEndWatcher&) = delete;

  private:
    void onSignal();

    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace yubin::app
