#include "app/cli/Cli.h"

#include <cstdio>

namespace yubin::cli {

int RunCommandLine(int, char**) {
    std::fputs("yubinbox: the command line is not built yet\n", stderr);
    return 2;
}

}  // namespace yubin::cli
