// Profile (ini) files: sections of "key=value" lines, as the settings file uses them.
//
// Names match without regard to case; storing a key replaces its line in place, a new key goes
// to the end of its section, a new section to the end of the file, a missing file is created;
// every other line is kept byte for byte. Lines are written with CR LF (LF in a file that
// already uses LF); LF line ends and a UTF-8 byte-order mark are read correctly.
//
// Text rules, in detail:
// - A section header is a line whose first non-blank character is "[" and that holds a "]"
//   after it; its name is the text between them with blanks (space, TAB) removed at both ends.
// - Inside a section, a line holding "=" is a key line: the key is the text before the first
//   "=" without surrounding blanks, the value the text after it with spaces (not TABs) removed
//   at both ends. No quotation marks are removed. A value without leading or trailing spaces
//   therefore reads back exactly as stored (a TAB followed by "0" stays a TAB and "0").
// - Every other line (comments, blank lines, lines before the first section) is kept but never
//   read. When a section name occurs twice, only its first occurrence is read and written.
// - A new key line goes right after the last key line of its section (after the header when
//   the section has none), so blank lines and comments at the end of a section stay in front
//   of the next section. A new section goes at the end of the file, with no blank line before.
// - Written lines end like the file's first line (CR LF in a new file or one whose first line
//   ends in CR LF, LF in a file whose first line ends in LF), so a file never gets mixed line
//   ends of our making. A byte-order mark stays.
// - Every write goes through a temporary file in the same folder, renamed over the file: a
//   crash leaves the old or the new file, never a half-written one.
#pragma once

#include <optional>
#include <string>

#include "base/Message.h"

namespace yubin::profile {

// The size of the read buffer: a value is cut to 255 bytes when it is read.
inline constexpr int kReadBufferSize = 256;

// The value of the key, or `defaultValue` when the file, section or key is missing or the file
// cannot be read. The result is cut to kReadBufferSize - 1 bytes; when the cut falls inside a
// UTF-8 character, that whole character goes too, so the result never ends in a broken one.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& file);

// Stores the key. BadSettingsValue (nothing written) when CheckEntry refuses it; PathFileAccess
// when the file cannot be written or is no regular file of a sane size (FileIo.h).
void WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& file);

// The check WritePrivateProfileString makes before it writes: raises BadSettingsValue when the
// section or key holds a CR, LF or NUL, the key an "=" or a leading "[", the section a "]",
// the section or key is empty (after removing blanks), or the value would not read back
// exactly as written (ValueProblem).
void CheckEntry(const std::string& section, const std::string& key, const std::string& value);

// Why a value would not read back exactly as it is written; nothing when it would. A
// value is refused when it holds a CR, LF or NUL, is longer than the read buffer takes
// (kReadBufferSize - 1 bytes), or begins or ends with a space (the reader removes those).
std::optional<Message> ValueProblem(const std::string& value);

// The first `kReadBufferSize - 1` bytes of the text, shortened to the last whole UTF-8
// character when the cut would split one.
std::string CutToReadBuffer(const std::string& text);

}  // namespace yubin::profile
