// Profile (ini) files: sections of "key=value" lines, as the settings file uses them.
//
// Names match without regard to case; storing a key replaces its line in place, a new key goes
// to the end of its section, a new section to the end of the file, a missing file is created;
// every other line is kept byte for byte. Lines are written with CR LF; LF line ends and a
// UTF-8 byte-order mark are read correctly.
#pragma once

#include <string>

namespace yubin::profile {

// The size of the read buffer: a value is cut to 255 bytes when it is read.
inline constexpr int kReadBufferSize = 256;

// The value of the key, or `defaultValue` when the file, section or key is missing.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& file);

// Stores the key. BadSettingsValue (nothing written) when the section, key or value holds a CR
// or LF, or the key an "="; PathFileAccess when the file cannot be written.
void WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& file);

}  // namespace yubin::profile
