#include "windows/FirstPaintProbe.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include "windows/ErrorGuard.h"
#include "windows/Startup.h"

namespace yubin::app {

namespace {

class FirstPaintProbe : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !reported_) {
            const auto* widget = qobject_cast<QWidget*>(watched);
            if (widget != nullptr && widget->isWindow()) {
                reported_ = true;
                // Once the paint has been handled and its frame handed to the display.
                QTimer::singleShot(0, this, [] {
                    timespec now{};
                    clock_gettime(CLOCK_MONOTONIC, &now);
                    std::fprintf(
                        stderr, "first paint: %lld\n",
                        static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec);
                    std::fflush(stderr);
                    Guarded([] {
                        DeleteCheckFile();
                        EndProgram(0);
                    });
                });
            }
        }
        return false;
    }

  private:
    bool reported_ = false;
};

}  // namespace

void InstallFirstPaintProbeIfAsked() {
    const char* asked = std::getenv("YUBIN_FIRST_PAINT_PROBE");
    if (asked == nullptr || asked[0] == '\0') return;
    qApp->installEventFilter(new FirstPaintProbe(qApp));
}

}  // namespace yubin::app
