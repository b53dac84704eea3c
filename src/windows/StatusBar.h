// StatusBar1, the status bar at the bottom of every window: a text panel under its key
// ("moji", or "msg" in the import window) and a time panel keyed "clock" that shows the time
// of day as hh:mm.
#pragma once

#include <functional>
#include <utility>

#include <QLabel>
#include <QStatusBar>
#include <QString>
#include <QTime>

class QTimer;

namespace yubin::app {

// Where the time panels read the time of day. Tests put a fixed time in place.
using ClockSource = std::function<QTime()>;
// The time of day from the clock source in place.
QTime CurrentTimeOfDay();
// Replaces the clock source of every time panel; an empty function restores the system clock.
// Returns the source that was in place.
ClockSource SetClockSource(ClockSource source);

// A clock source for the life of the object, then the one before it again.
class ScopedClockSource {
  public:
    explicit ScopedClockSource(ClockSource source) : previous_(SetClockSource(std::move(source))) {}
    ~ScopedClockSource() { SetClockSource(std::move(previous_)); }
    ScopedClockSource(const ScopedClockSource&) = delete;
    ScopedClockSource& operator=(const ScopedClockSource&) = delete;

  private:
    ClockSource previous_;
};

// One panel of the bar; its objectName is its key.
class StatusPanel : public QLabel {
    Q_OBJECT
  public:
    StatusPanel(const QString& key, QWidget* parent);
    QString key() const { return objectName(); }
};

class StatusBar1 : public QStatusBar {
    Q_OBJECT
  public:
    static inline const QString kClockKey = QStringLiteral("clock");

    // The bar with a text panel under textKey and the time panel "clock".
    StatusBar1(const QString& textKey, QWidget* parent);

    // The panel under the key; an unknown key raises std::out_of_range.
    StatusPanel& panel(const QString& key) const;
    bool hasPanel(const QString& key) const;
    const QString& textKey() const { return textKey_; }

    // The timer that keeps the time panel current.
    const QTimer& clockTimer() const { return *timer_; }

  public slots:
    // Shows the time of day in the time panel (the timer calls it every second).
    void refreshClock();

  private:
    QString textKey_;
    StatusPanel* text_;
    StatusPanel* clock_;
    QTimer* timer_;
};

}  // namespace yubin::app
