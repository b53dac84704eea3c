#include "windows/WindowBase.h"

#include <algorithm>
#include <utility>

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include "windows/ErrorGuard.h"
#include "windows/Fonts.h"
#include "windows/Pictures.h"
#include "windows/WindowCommon.h"

namespace yubin::app {

namespace {

std::vector<WindowBase*>& Register() {
    static std::vector<WindowBase*> windows;
    return windows;
}

std::function<void()>& NoWindowLoadedAction() {
    static std::function<void()> action;
    return action;
}

bool& EventLoopRunning() {
    static bool running = false;
    return running;
}

// The program runs while a window is loaded. Windows hand over to each other by unloading
// one and loading the next within one handler, so the register is looked at once the handler
// has returned to the event loop.
void QueueEndCheck() {
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr) return;
    QMetaObject::invokeMethod(
        application,
        [] {
            if (!Register().empty()) return;
            if (NoWindowLoadedAction()) {
                NoWindowLoadedAction()();
            } else if (EventLoopRunning()) {
                QCoreApplication::exit(0);
            }
        },
        Qt::QueuedConnection);
}

// Gives a window back the mark of the focused control whenever the toolkit has taken it away:
// when the window is shown, activated or a control in it gains the focus by mouse or by code.
class FocusCueKeeper : public QObject {
  public:
    explicit FocusCueKeeper(QWidget* window) : QObject(window), window_(window) {
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
            if (now != nullptr && now->window() == window_) keep();
        });
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::Show || type == QEvent::WindowActivate) keep();
        return false;
    }

  private:
    void keep() { window_->setAttribute(Qt::WA_KeyboardFocusChange); }
    QWidget* window_;
};

}  // namespace

WindowBase::WindowBase(const QString& name, const QString& statusTextKey, QWidget* parent)
    : QWidget(parent, Qt::Window), statusBar_(nullptr) {
    setObjectName(name);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(Px(kClientWidthTwips), Px(kClientHeightTwips));
    setFont(GothicFont(9));
    // The focused control is marked from the moment the window opens, as on a desktop that
    // always shows keyboard cues, not only once the user has pressed Tab. The toolkit takes
    // the mark away when the window is shown: it is given back at once, and whenever the focus
    // moves.
    installEventFilter(new FocusCueKeeper(this));
    statusBar_ = new StatusBar1(statusTextKey, this);
    placeStatusBar();
    Register().push_back(this);
}

WindowBase::~WindowBase() { leaveRegister(); }

void WindowBase::setCaption(const QString& title) { setWindowTitle(WindowCaption(*this, title)); }

void WindowBase::placeBackground(QLabel& image, int left, int top, int side) {
    postalMarkPlace_ = QRect(Px(left), Px(top), Px(side), Px(side));
    image.setGeometry(rect());
    image.setPixmap(pictures::Background(size(), postalMarkPlace_));
    image.lower();
}

bool WindowBase::queryUnload(UnloadMode /*mode*/) { return true; }

bool WindowBase::unload() {
    if (!loaded_) return true;
    unloadingFromCode_ = true;
    QPointer<WindowBase> self(this);
    const bool closed = close();
    if (self) unloadingFromCode_ = false;
    return closed;
}

void WindowBase::closeEvent(QCloseEvent* event) {
    const UnloadMode mode = unloadingFromCode_ ? UnloadMode::Code
                            : endingSession_   ? UnloadMode::SessionEnd
                                               : UnloadMode::User;
    bool unloads = false;
    Guarded([&] {
        if (!queryUnload(mode)) return;
        unloadWindow();
        unloads = true;
    });
    if (!unloads) {
        event->ignore();
        return;
    }
    event->accept();
    leaveRegister();
}

void WindowBase::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeStatusBar();
}

void WindowBase::keyPressEvent(QKeyEvent* event) {
    const bool enter = (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
                       (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    auto* button = qobject_cast<QPushButton*>(focusWidget());
    if (!enter || button == nullptr || !button->isEnabled() || !button->isVisible()) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    // A key held down presses the button once.
    if (!event->isAutoRepeat()) button->click();
}

void WindowBase::placeStatusBar() {
    const int barHeight = statusBar_->sizeHint().height();
    statusBar_->setGeometry(0, height() - barHeight, width(), barHeight);
}

void WindowBase::leaveRegister() {
    if (!loaded_) return;
    loaded_ = false;
    auto& windows = Register();
    windows.erase(std::remove(windows.begin(), windows.end(), this), windows.end());
    if (windows.empty()) QueueEndCheck();
}

int WindowBase::LoadedCount() { return static_cast<int>(Register().size()); }

WindowBase* WindowBase::Loaded(const QString& name) {
    for (WindowBase* window : Register()) {
        if (window->objectName() == name) return window;
    }
    return nullptr;
}

std::vector<WindowBase*> WindowBase::LoadedWindows() { return Register(); }

void WindowBase::DeleteLoadedWindows() {
    while (!Register().empty()) delete Register().back();
}

void WindowBase::EndSession() {
    std::vector<QPointer<WindowBase>> windows(Register().begin(), Register().end());
    for (const QPointer<WindowBase>& window : windows) {
        if (!window || !window->loaded_) continue;
        window->endingSession_ = true;
        window->close();
        if (window) window->endingSession_ = false;
    }
}

int WindowBase::RunEventLoop() {
    if (Register().empty()) return 0;
    EventLoopRunning() = true;
    const int exitCode = QCoreApplication::exec();
    EventLoopRunning() = false;
    return exitCode;
}

std::function<void()> WindowBase::SetNoWindowLoadedAction(std::function<void()> action) {
    return std::exchange(NoWindowLoadedAction(), std::move(action));
}

}  // namespace yubin::app
