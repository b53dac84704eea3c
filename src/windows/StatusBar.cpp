#include "windows/StatusBar.h"

#include <stdexcept>

#include <QTimer>

namespace yubin::app {

namespace {

ClockSource& Source() {
    static ClockSource source;
    return source;
}

// The width of the time panel in pixels: room for "hh:mm" and its frame.
constexpr int kClockPanelWidthPx = 60;

}  // namespace

QTime CurrentTimeOfDay() { return Source() ? Source()() : QTime::currentTime(); }

ClockSource SetClockSource(ClockSource source) {
    return std::exchange(Source(), std::move(source));
}

StatusPanel::StatusPanel(const QString& key, QWidget* parent) : QLabel(parent) {
    setObjectName(key);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setTextFormat(Qt::PlainText);
}

StatusBar1::StatusBar1(const QString& textKey, QWidget* parent)
    : QStatusBar(parent),
      textKey_(textKey),
      text_(new StatusPanel(textKey, this)),
      clock_(new StatusPanel(kClockKey, this)),
      timer_(new QTimer(this)) {
    if (textKey == kClockKey) throw std::invalid_argument("the text panel cannot be keyed clock");
    setObjectName(QStringLiteral("StatusBar1"));
    setSizeGripEnabled(false);
    // The bar lies over the windows' background pictures; it paints its own ground so that
    // no picture shows through it.
    setAutoFillBackground(true);
    addWidget(text_, 1);
    clock_->setAlignment(Qt::AlignCenter);
    clock_->setFixedWidth(kClockPanelWidthPx);
    addPermanentWidget(clock_);
    timer_->setObjectName(QStringLiteral("clockTimer"));
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &StatusBar1::refreshClock);
    timer_->start();
    refreshClock();
}

bool StatusBar1::hasPanel(const QString& key) const { return key == textKey_ || key == kClockKey; }

StatusPanel& StatusBar1::panel(const QString& key) const {
    if (key == textKey_) return *text_;
    if (key == kClockKey) return *clock_;
    throw std::out_of_range("StatusBar1 has no panel keyed " + key.toStdString());
}

void StatusBar1::refreshClock() {
    clock_->setText(CurrentTimeOfDay().toString(QStringLiteral("hh:mm")));
}

}  // namespace yubin::app
