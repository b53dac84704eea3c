// The running program's name: the settings file and every window caption are named after it.
#pragma once

#include <string>
#include <string_view>

namespace yubin {

// The file name of an executable path without its folders and its extension
// ("C:/tools/yubinbox.exe" -> "yubinbox", "/opt/yubinbox/yubinbox" -> "yubinbox").
std::string ExecutableBaseName(std::string_view executablePath);

// The base name of the running executable (/proc/self/exe); "yubinbox" when it cannot be
// told.
std::string RunningExecutableBaseName();

}  // namespace yubin
