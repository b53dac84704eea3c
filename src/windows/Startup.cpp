#include "windows/Startup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include <QApplication>
#include <QIcon>

#include "base/Error.h"
#include "base/Program.h"
#include "windows/ErrorGuard.h"
#include "windows/FirstPaintProbe.h"
#include "windows/Fonts.h"
#include "windows/HelpWindow.h"
#include "windows/MessageBox.h"
#include "windows/Pictures.h"
#include "windows/SessionEnd.h"
#include "windows/WindowBase.h"
#include "windows/WindowCommon.h"
#include "windows/frmMENU.h"

namespace yubin::app {

namespace {

namespace fs = std::filesystem;

fs::path ToPath(const QString& path) { return fs::path(path.toStdU16String()); }

// The marker's existence only counts; a path that cannot be examined counts as no marker.
bool FileExists(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// The file system's refusal as the error of the same fault, with what was being done.
YubinError FileSystemError(int error, const std::string& what, const fs::path& path) {
    const std::string where = " (" + what + ": " + path.string() + ")";
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return YubinError(ErrorCode::PermissionDenied, "書き込みできません。" + where);
        case ENOENT:
        case ENOTDIR:
            return YubinError(ErrorCode::PathNotFound, "パスが見つかりません。" + where);
        default:
            return YubinError(
                ErrorCode::PathFileAccess,
                std::string("パス/ファイル名が無効です。") + std::strerror(error) + where);
    }
}

// Creates the empty marker only where none is: of two starts at the same moment, one gets it.
// Returns false when a marker file is already there.
bool CreateMarker(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int error = errno;
        std::error_code ec;
        if (error == EEXIST && fs::is_regular_file(path, ec)) return false;
        throw FileSystemError(error, "作成", path);
    }
    if (::close(fd) != 0) throw FileSystemError(errno, "作成", path);
    return true;
}

bool IsWritableFolder(const QString& folder) {
    return ::access(folder.toLocal8Bit().constData(), W_OK | X_OK) == 0;
}

// The user's own folder for the marker: the session's runtime folder, or else a folder of
// this user's under /tmp (made private; one that another user owns is refused).
QString UserRuntimeFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && runtime[0] == '/' &&
        IsWritableFolder(QString::fromLocal8Bit(runtime))) {
        return QString::fromLocal8Bit(runtime);
    }
    const std::string folder = "/tmp/yubinbox-" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        throw FileSystemError(errno, "作成", folder);
    }
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::getuid() || (status.st_mode & 077) != 0) {
        throw FileSystemError(EACCES, "利用者のフォルダ", folder);
    }
    return QString::fromStdString(folder);
}

}  // namespace

QString CheckFileFolder() {
    const QString program = ProgramFolder();
    const bool installed = IsInstalledProgramFolder(program.toStdString());
    return !installed && IsWritableFolder(program) ? program : UserRuntimeFolder();
}

QString CheckFilePath() { return CheckFileFolder() + QStringLiteral("/checkfile.txt"); }

bool Main() {
    const fs::path marker = ToPath(CheckFilePath());
    if (FileExists(marker) || !CreateMarker(marker)) {
        // Also in the session's log: a start from a launcher may not be watched.
        std::fprintf(stderr, "yubinbox: %s (%s)\n",
                     kTwiceStartedMessage.simplified().toUtf8().constData(), marker.c_str());
        MsgBox(kTwiceStartedMessage, MsgStyle::Critical, QString());
        return false;
    }
    auto* menu = new frmMENU();  // deleted when it is unloaded
    menu->show();
    return true;
}

void DeleteCheckFile() {
    const fs::path marker = ToPath(CheckFilePath());
    if (!FileExists(marker)) return;
    std::error_code ec;
    fs::remove(marker, ec);
    if (ec) throw FileSystemError(ec.value(), "削除", marker);
}

int RunWindows(int argc, char** argv) {
    QApplication application(argc, argv);
    // The program ends when no window is loaded, not when the last visible one closes:
    // windows hide themselves while they hand over to each other.
    QApplication::setQuitOnLastWindowClosed(false);
    InstallFontSubstitutions();
    // The desktop entry yubinbox.desktop names the program's windows and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("yubinbox"));
    QApplication::setWindowIcon(QIcon(pictures::PostalMark(QSize(64, 64))));
    InstallFirstPaintProbeIfAsked();
    const SessionEndWatcher sessionEnd;  // logout, shutdown, kill: the windows close
    bool started = false;
    Guarded([&started] { started = Main(); });
    // A refused start fails, so that a launcher or script sees it.
    const int exitCode = started ? WindowBase::RunEventLoop() : kRefusedExitCode;
    WindowBase::DeleteLoadedWindows();
    CloseHelp();
    return exitCode;
}

}  // namespace yubin::app
