// The settings file yubinbox.ini in the user's documents folder, and the user's identity.
#pragma once

#include <string>

namespace yubin::mdFileCreate {

inline constexpr const char* kSection = "yubinbox";

// Full path of the settings file: documents folder + "/yubinbox.ini". Set by the main menu
// on activation (and by every command that reads settings) via SetIniFilePath().
extern std::string strIniFile;
void SetIniFilePath();

// The executable's base name ("yubinbox"); the settings file is named after it.
std::string ExecutableBaseName();

// Creates the settings file with its comment block when it is missing, then stores `path`
// and `author` (userName + TAB + "0").
void IniFileCreate(const std::string& databasePath, const std::string& userName);

// A key of section yubinbox of strIniFile; "" when missing. At most 255 bytes.
std::string ReadKey(const std::string& key);
// Stores an import path (key csvzpath or csvjpath) in strIniFile.
void StoreImportPath(const std::string& key, const std::string& path);

// The login name of the effective user.
std::string GetLoginUserName();

}  // namespace yubin::mdFileCreate
