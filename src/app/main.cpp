// yubinbox: with no argument the windows start; with a subcommand the command line runs on
// the core libraries only and the toolkit is never started.
#include "app/cli/Cli.h"
#ifdef YUBIN_WITH_WINDOWS
#include <string_view>

#include "app/ImportWindowDriver.h"
#include "app/Startup.h"
#endif

int main(int argc, char** argv) {
#ifdef YUBIN_WITH_WINDOWS
    if (argc <= 1) return yubin::app::RunWindows(argc, argv);
    if (std::string_view(argv[1]) == yubin::app::kImportWindowCommand) {
        return yubin::app::RunImportWindow(argc, argv);
    }
#endif
    return yubin::cli::RunCommandLine(argc, argv);
}
