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

// The folder of the running executable (/proc/self/exe); "." when it cannot be told.
std::string RunningExecutableFolder();

// The manual, manual.html, of a program in `programFolder`: beside the executable (a build
// tree, a copy), or else in the documentation folder of the installed package
// (/usr/lib/yubinbox -> /usr/share/doc/yubinbox). The path beside the executable when neither
// file exists.
std::string ManualFile(const std::string& programFolder);

// Whether `programFolder` is an installed program's folder (/usr/lib/yubinbox): the package's
// documentation folder, with its copyright file, lies where the installation puts it.
bool IsInstalledProgramFolder(const std::string& programFolder);

}  // namespace yubin
