// The base of every window of yubinbox: its name, caption, client area and StatusBar1, its
// unloading, and the register of loaded windows (the program runs while one is loaded).
//
// A window is loaded from its creation until it is unloaded: a close request that it does not
// cancel, by the user (close box, the session ending) or by program code (unload()). Hiding a
// window leaves it loaded. An unloaded window is deleted by the event loop afterwards.
#pragma once

#include <functional>
#include <vector>

#include <QRect>
#include <QString>
#include <QWidget>

#include "windows/StatusBar.h"

class QCloseEvent;
class QKeyEvent;
class QLabel;
class QResizeEvent;

namespace yubin::app {

class WindowBase : public QWidget {
    Q_OBJECT
  public:
    // Who asks the window to close: the user or the window system (close box), program code
    // through unload(), or the end of the session (logout, shutdown, a signal), when nobody is
    // there to answer a question.
    enum class UnloadMode { User, Code, SessionEnd };

    ~WindowBase() override;

    StatusBar1& statusBar1() const { return *statusBar_; }
    bool isLoaded() const { return loaded_; }
    // The square of the background's postal mark, in the window's pixels (empty without one).
    QRect postalMarkPlace() const { return postalMarkPlace_; }

    // Unloads the window from program code (the close request carries UnloadMode::Code).
    // Returns false when the window kept itself loaded.
    bool unload();

    // ---- The register of loaded windows -----------------------------------------------------
    static int LoadedCount();
    // The loaded window of that name (objectName), or nullptr.
    static WindowBase* Loaded(const QString& name);
    static std::vector<WindowBase*> LoadedWindows();
    // Deletes every window still loaded, without close requests (the program's end).
    static void DeleteLoadedWindows();
    // Asks every loaded window to close as the session ends (UnloadMode::SessionEnd).
    static void EndSession();

    // Runs the program's event loop until no window is loaded (or the program ends);
    // returns its exit code.
    static int RunEventLoop();
    // What happens when no window is loaded once a handler has returned: the loop of
    // RunEventLoop ends. Tests replace it; an empty function restores it. Returns the action
    // that was in place.
    static std::function<void()> SetNoWindowLoadedAction(std::function<void()> action);

  protected:
    // name: the window's own name (objectName, "frmMENU"); statusTextKey: the key of the
    // text panel of StatusBar1 ("moji", or "msg"). The client area is the shared one.
    WindowBase(const QString& name, const QString& statusTextKey, QWidget* parent = nullptr);

    // Sets the caption: program name, " - ", the window's name, " 【", title, "】".
    void setCaption(const QString& title);
    // Puts the background picture on `image` over the whole window, behind every control, with
    // the postal mark in the square at left, top (twips) of that side: a place kept free of
    // controls, so that the mark is seen whole and nothing lies over text.
    void placeBackground(QLabel& image, int left, int top, int side);

    // A close request; return false to cancel it and keep the window. Runs guarded.
    virtual bool queryUnload(UnloadMode mode);
    // The window is being unloaded (the request was not cancelled). Runs guarded.
    virtual void unloadWindow() {}

    void closeEvent(QCloseEvent* event) final;
    void resizeEvent(QResizeEvent* event) override;
    // Enter or Return presses the push button that has the focus, as Space does: a button
    // outside a dialog box leaves these keys to its window.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void placeStatusBar();
    void leaveRegister();

    StatusBar1* statusBar_;
    QRect postalMarkPlace_;
    bool loaded_ = true;
    bool unloadingFromCode_ = false;
    bool endingSession_ = false;
};

}  // namespace yubin::app
