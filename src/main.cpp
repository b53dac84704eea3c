// yubinbox: with no argument the windows start; with a subcommand the command line runs on
// the core libraries only and the toolkit is never started.
#include <cstdio>
#include <cstdlib>

#include "base/Memory.h"
#include "cli/Cli.h"
#ifdef YUBIN_WITH_WINDOWS
#include <dlfcn.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "windows/ImportWindowDriver.h"
#include "windows/WindowsModule.h"
#endif

namespace {

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// Without a display the toolkit would abort; say what can be done instead.
int NoDisplay() {
    yubin::cli::UseLocaleLanguage();
    std::fputs(yubin::cli::NoDisplayMessage(), stderr);
    return 2;
}

#ifdef YUBIN_WITH_WINDOWS
// The folder of this executable, from the kernel's own link to it.
std::string ExecutableFolder() {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) return ".";
    std::string path(buffer.data(), static_cast<size_t>(length));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Loads the windows module beside the executable and runs one of its entry points.
int RunInWindowsModule(const char* symbol, int argc, char** argv) {
    const std::string module = ExecutableFolder() + "/" + yubin::app::kWindowsModuleFile;
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    using Entry = int (*)(int, char**);
    Entry entry = handle != nullptr ? reinterpret_cast<Entry>(dlsym(handle, symbol)) : nullptr;
    if (entry == nullptr) {
        const char* reason = dlerror();
        yubin::cli::UseLocaleLanguage();
        std::fputs(yubin::cli::WindowsModuleMissingMessage(module, reason != nullptr ? reason : "")
                       .c_str(),
                   stderr);
        return 2;
    }
    return entry(argc, argv);
}
#endif

}  // namespace

int main(int argc, char** argv) {
    yubin::ReturnLargeBlocksWhenFreed();
    if (argc <= 1) {
        if (!IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY") && !IsSet("QT_QPA_PLATFORM")) {
            return NoDisplay();
        }
#ifdef YUBIN_WITH_WINDOWS
        return RunInWindowsModule(yubin::app::kRunWindowsSymbol, argc, argv);
#endif
    }
#ifdef YUBIN_WITH_WINDOWS
    if (argc > 1 && std::string_view(argv[1]) == yubin::app::kImportWindowCommand) {
        return RunInWindowsModule(yubin::app::kRunImportWindowSymbol, argc, argv);
    }
#endif
    return yubin::cli::RunCommandLine(argc, argv);
}
