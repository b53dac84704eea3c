#include "windows/ErrorGuard.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "base/Error.h"
#include "windows/MessageBox.h"

namespace yubin::app {

namespace {

EndProgramHook& Hook() {
    static EndProgramHook hook;
    return hook;
}

bool& EndedFlag() {
    static bool ended = false;
    return ended;
}

// True while the guard's report is on the screen.
bool& Reporting() {
    static bool reporting = false;
    return reporting;
}

// The program ends at once: quitting the event loop would not do, since EndProgram may be
// called from a handler that runs inside an engine's event processing, and the engine must
// not go on. The process's resources (open files, the database connection) are released by
// the run-time's exit.
[[noreturn]] void EndProcess(int exitCode) {
    std::fflush(nullptr);
    std::exit(exitCode);
}

void Report(const QString& text) noexcept {
    if (Reporting()) return;  // an error while the report is shown: just end
    Reporting() = true;
    try {
        MsgBox(text, MsgStyle::Critical);
    } catch (...) {
        // The report itself failed (no window system): the program ends all the same.
    }
    Reporting() = false;
}

}  // namespace

void EndProgram(int exitCode) {
    EndedFlag() = true;
    if (Hook()) {
        Hook()(exitCode);
        return;
    }
    EndProcess(exitCode);
}

EndProgramHook SetEndProgramHook(EndProgramHook hook) {
    return std::exchange(Hook(), std::move(hook));
}

bool ProgramEnded() { return EndedFlag(); }

ScopedEndProgramHook::ScopedEndProgramHook() {
    EndedFlag() = false;
    previous_ = SetEndProgramHook([this](int exitCode) {
        ++calls_;
        exitCode_ = exitCode;
    });
}

ScopedEndProgramHook::~ScopedEndProgramHook() {
    SetEndProgramHook(std::move(previous_));
    EndedFlag() = false;
}

QString ErrorReportText(const YubinError& error) {
    return QStringLiteral("実行時エラー '%1':\n\n%2")
        .arg(error.number())
        .arg(QString::fromStdString(error.description()));
}

QString ErrorReportText(const std::exception& error) {
    const QString what = QString::fromUtf8(error.what());
    if (what.isEmpty()) return UnknownErrorReportText();
    return QStringLiteral("実行時エラー:\n\n") + what;
}

QString UnknownErrorReportText() {
    return QStringLiteral("実行時エラー:\n\n原因不明のエラーです。");
}

void Guarded(const std::function<void()>& handler) noexcept {
    QString report;
    try {
        handler();
        return;
    } catch (const YubinError& error) {
        report = ErrorReportText(error);
    } catch (const std::exception& error) {
        report = ErrorReportText(error);
    } catch (...) {
        report = UnknownErrorReportText();
    }
    Report(report);
    EndProgram(kErrorExitCode);
}

}  // namespace yubin::app
