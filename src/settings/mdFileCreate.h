// The settings file yubinbox.ini in the user's documents folder, and the user's identity.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace yubin::mdFileCreate {

inline constexpr const char* kSection = "yubinbox";

// Full path of the settings file: documents folder + "/yubinbox.ini". Set by the main menu
// on activation (and by every command that reads settings) via SetIniFilePath(), which makes
// no folder: reading leaves nothing behind. The writers make the documents folder when needed.
extern std::string strIniFile;
void SetIniFilePath();

// The executable's base name ("yubinbox"); the settings file is named after it.
// It is the file name of /proc/self/exe without its extension, "yubinbox" when that cannot be
// read. Test programs, whose executables have other names, set the name with
// SetExecutableBaseNameForTesting; std::nullopt goes back to /proc/self/exe.
std::string ExecutableBaseName();
void SetExecutableBaseNameForTesting(std::optional<std::string> name);

// The comment block that heads a new settings file, one text per line (without line ends).
// The two path examples are Linux paths (a local file, a mounted share) so that a user who
// follows them writes a path that opens; other programs read only the keys.
extern const std::array<const char*, 7> kCommentLines;

// The value of `author` for a user: the name, a TAB and "0". The main menu offers import only
// when the settings file's author is this value for the current user; a settings file made
// for an ordinary user holds AuthorValue("").
std::string AuthorValue(const std::string& userName);

// Creates the settings file with its comment block when it is missing, then stores `path`
// and `author` (AuthorValue(userName)).
// The file is the documents folder + "/" + ExecutableBaseName() + ".ini". CheckIniFileValues
// runs first, so nothing is written when it refuses. A file that cannot be made or written
// raises PathFileAccess to the caller.
void IniFileCreate(const std::string& databasePath, const std::string& userName);
// What IniFileCreate checks before it writes; the administrator's tasks call it before they
// move or create anything. BadSettingsValue when a value would not read back exactly as
// written (profile::ValueProblem: a line break, more than 255 bytes, surrounding spaces);
// PathFileAccess when the settings file is there but no regular file of a sane size.
void CheckIniFileValues(const std::string& databasePath, const std::string& userName);

// A key of section yubinbox of strIniFile; "" when missing. At most 255 bytes.
std::string ReadKey(const std::string& key);
// What storing an import path will need, checked before an import starts: BadSettingsValue
// when the path would not read back exactly (a line break, ...); PathFileAccess when
// strIniFile is there but no regular file of a sane size.
void CheckImportPath(const std::string& key, const std::string& path);
// Stores an import path (key csvzpath or csvjpath) in strIniFile.
void StoreImportPath(const std::string& key, const std::string& path);

// The login name of the effective user.
// When the user has no entry in the user database, the user id in decimal stands for the name,
// so that such a user never matches the empty author of a settings file made for users.
std::string GetLoginUserName();

}  // namespace yubin::mdFileCreate
