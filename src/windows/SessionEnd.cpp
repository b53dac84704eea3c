#include "windows/SessionEnd.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <QSocketNotifier>

#include "windows/ErrorGuard.h"
#include "windows/MessageBox.h"
#include "windows/Startup.h"
#include "windows/WindowBase.h"

namespace yubin::app {

namespace {

// The self-pipe: the handler only writes a byte; the event loop reads it.
int signalPipe[2] = {-1, -1};
struct sigaction previousTerm {};
struct sigaction previousHup {};
struct sigaction previousInt {};

extern "C" void OnSessionEndSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

void EndWindowSession() {
    WindowBase::EndSession();
    // A window that stays loaded is finishing its own exit (the compaction, say), which must
    // not be cut short; the marker goes now all the same. With no window loaded the event
    // loop ends by itself.
    if (WindowBase::LoadedCount() > 0) {
        DeleteCheckFile();
    } else {
        // Nothing is loaded, so a box that still waits (the refusal of a second start) would
        // keep the program from ending with the session.
        CloseOpenMessageBoxes();
    }
}

SessionEndWatcher::SessionEndWatcher() {
    if (signalPipe[0] >= 0) throw std::logic_error("one session-end watcher at a time");
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        // Without the pipe the windows run on; a signal then ends the program as it would
        // without this watcher.
        std::fprintf(stderr, "yubinbox: 終了の合図を受け取る準備ができません（%s）。\n",
                     std::strerror(errno));
        signalPipe[0] = signalPipe[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SessionEndWatcher::onSignal);
    struct sigaction action {};
    action.sa_handler = OnSessionEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &previousTerm);
    sigaction(SIGHUP, &action, &previousHup);
    // Ctrl-C in the terminal that started the windows ends the session the same way: the
    // import aborts with its resume marker, the single-instance marker goes.
    sigaction(SIGINT, &action, &previousInt);
}

SessionEndWatcher::~SessionEndWatcher() {
    if (notifier_ == nullptr) return;  // the watcher never started
    sigaction(SIGTERM, &previousTerm, nullptr);
    sigaction(SIGHUP, &previousHup, nullptr);
    sigaction(SIGINT, &previousInt, nullptr);
    delete notifier_;
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void SessionEndWatcher::onSignal() {
    char bytes[16];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    Guarded(EndWindowSession);
}

}  // namespace yubin::app
