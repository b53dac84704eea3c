// yubinbox: with no argument the windows start; with a subcommand the command line runs on
// the core libraries only and the toolkit is never started.
#include <cstdio>
#include <cstdlib>

#include "app/cli/Cli.h"
#ifdef YUBIN_WITH_WINDOWS
#include <string_view>

#include "app/ImportWindowDriver.h"
#include "app/Startup.h"
#endif

namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// Without a display the toolkit would abort; say what can be done instead.
int NoDisplay() {
    std::fputs(
        "yubinbox: ウィンドウを表示できません（画面がありません）。\n"
        "画面のない所では次のサブコマンドを使ってください。一覧は yubinbox --help で表示されます:\n"
        "  createdb, sql, compact, tables, use, settings, drives, newdb, import, summary, lookup\n"
        "yubinbox: cannot open the windows: no display (DISPLAY or WAYLAND_DISPLAY is not set).\n"
        "Without a display use a subcommand (see yubinbox --help).\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc <= 1) {
        if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY") && !IsSet("QT_QPA_PLATFORM")) {
            return NoDisplay();
        }
#ifdef YUBIN_WITH_WINDOWS
        return yubin::app::RunWindows(argc, argv);
#endif
    }
#ifdef YUBIN_WITH_WINDOWS
    if (argc > 1 && std::string_view(argv[1]) == yubin::app::kImportWindowCommand) {
        return yubin::app::RunImportWindow(argc, argv);
    }
#endif
    return yubin::cli::RunCommandLine(argc, argv);
}
