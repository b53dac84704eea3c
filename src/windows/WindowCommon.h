// What every window of yubinbox shares: the program's name and folder, the caption rule,
// twips, the screen's mouse pointer, processing pending events and the beep.
#pragma once

#include <functional>

#include <QString>

class QButtonGroup;
class QPushButton;

class QGroupBox;
class QWidget;

namespace yubin::app {

// ---- The program's name and folder ----------------------------------------------------------

// The file name of an executable path without its folders and its extension
// ("C:/tools/yubinbox.exe" -> "yubinbox", "/opt/yubinbox/yubinbox" -> "yubinbox").
QString ExecutableBaseName(const QString& executablePath);

// The running program's base name: the executable's name without extension ("yubinbox"),
// unless overridden. It is the start of every caption and the default message box title.
QString ProgramName();
// Replaces the base name (a test runs from its own executable); the empty text restores it.
void OverrideProgramName(const QString& name);

// The folder of the running program's executable (no separator at its end), unless
// overridden. The single-instance marker and the help file lie there.
QString ProgramFolder();
// Replaces the program folder; the empty text restores the executable's folder.
void OverrideProgramFolder(const QString& folder);

// ---- Captions ---------------------------------------------------------------------------------

// The caption of a window: program name, " - ", the window's own name (its objectName),
// " 【", the title and "】": "yubinbox - frmMAKEMDB 【郵便番号データベースファイル作成】".
QString WindowCaption(const QWidget& window, const QString& title);

// ---- Twips ----------------------------------------------------------------------------------

// Window positions and sizes are given in twips; the screen has 15 twips to the pixel.
inline constexpr int kTwipsPerPixel = 15;
constexpr int Px(int twips) {
    return twips >= 0 ? (twips + kTwipsPerPixel / 2) / kTwipsPerPixel
                      : -((-twips + kTwipsPerPixel / 2) / kTwipsPerPixel);
}
// Places a control at left, top, width and height given in twips.
void PlaceTwips(QWidget& control, int left, int top, int width, int height);

// One button of a control array: a child of `parent` with the caption, named after the group
// and the index ("cmdBTN_0"), and in the group under its index, so the group's one handler
// dispatches on it.
QPushButton* ControlArrayButton(QButtonGroup& group, int index, const QString& caption,
                                QWidget* parent);

// The client area every window shares: 9825 x 7410 twips.
inline constexpr int kClientWidthTwips = 9825;
inline constexpr int kClientHeightTwips = 7410;

// Makes the frame keep its caption whole: the style sizes a caption by the ink of its glyphs,
// which cuts off a full-width closing bracket ("【管理者用】" would lose its "】").
void KeepCaptionWhole(QGroupBox& frame);

// ---- The screen's mouse pointer -------------------------------------------------------------

// The busy pointer (hourglass) over every window of the program, until SetDefaultPointer.
// Setting it twice needs one SetDefaultPointer only.
void SetBusyPointer();
// The default pointer again.
void SetDefaultPointer();
// Whether the pointer is the default one (false while a long operation runs).
bool IsDefaultPointer();

// The busy pointer for the life of the object; the default pointer again at its end.
class BusyPointer {
  public:
    BusyPointer() { SetBusyPointer(); }
    ~BusyPointer() { SetDefaultPointer(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;
};

// ---- Pending events and the beep ------------------------------------------------------------

// Lets the window system process every pending event (repaints, clicks, timers) and returns.
// Handlers of the windows may run inside, and one of them may end the program.
void DoEvents();

// Sounds the beep.
void Beep();
// Replaces what Beep does (tests count beeps); an empty function restores the real beep.
// Returns the function that was in place.
std::function<void()> SetBeepHook(std::function<void()> hook);

}  // namespace yubin::app
