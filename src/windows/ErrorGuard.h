// Ending the program, and the guard that every window handler runs through.
//
// Most operations trap no error: an error passes to the caller, and one that no caller traps
// reaches the handler of the window event that started it. There the guard does what the top
// level of the program does: it shows the error's number and description in a message box
// (critical icon, OK, the program's default title) and ends the program, leaving every file as
// the finished steps left it (the single-instance marker included). No exception ever crosses
// the window system's event loop.
#pragma once

#include <exception>
#include <functional>

#include <QString>

namespace yubin {
class YubinError;
}

namespace yubin::app {

// ---- Ending the program ---------------------------------------------------------------------

using EndProgramHook = std::function<void(int exitCode)>;

// Ends the program at once with the exit code, wherever it is called from (also from a
// handler that runs inside DoEvents in the middle of an import, whose loop must never resume).
// No window gets a close request. It returns only when a test has replaced the hook.
void EndProgram(int exitCode = 0);
// Replaces what EndProgram does; an empty function restores the real end. Returns the hook
// that was in place.
EndProgramHook SetEndProgramHook(EndProgramHook hook);
// Whether EndProgram has been called since the last ScopedEndProgramHook began or ended
// (only a test can see it true).
bool ProgramEnded();

// For tests: EndProgram records its calls instead of ending, for the life of the object.
class ScopedEndProgramHook {
  public:
    ScopedEndProgramHook();
    ~ScopedEndProgramHook();
    ScopedEndProgramHook(const ScopedEndProgramHook&) = delete;
    ScopedEndProgramHook& operator=(const ScopedEndProgramHook&) = delete;

    int calls() const { return calls_; }
    bool ended() const { return calls_ > 0; }
    int exitCode() const { return exitCode_; }

  private:
    EndProgramHook previous_;
    int calls_ = 0;
    int exitCode_ = -1;
};

// ---- The guard ------------------------------------------------------------------------------

// The exit code of a program ended by an error.
inline constexpr int kErrorExitCode = 1;

// The text of the top level's report: "実行時エラー '53':", an empty line and the description.
QString ErrorReportText(const YubinError& error);
// The report of an exception that is no YubinError (no number; its text, if it has one).
QString ErrorReportText(const std::exception& error);
QString UnknownErrorReportText();

// Runs the handler; an error that escapes it is reported with a message box of style 16 and
// the program's default title, and the program ends with kErrorExitCode. Never throws.
void Guarded(const std::function<void()>& handler) noexcept;

}  // namespace yubin::app
