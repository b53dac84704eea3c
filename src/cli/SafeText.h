// Text from outside (arguments, standard input, names in the database) made safe for where it
// is written: a terminal never receives a control sequence it did not ask for, and JSON is
// always valid UTF-8.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>

namespace yubin::cli {

// The text with every control character (C0 but line feed and tab, DEL, C1) and every byte
// that is no part of valid UTF-8 shown as \xNN: an escape sequence in a name or a line of input
// is printed, never obeyed by the terminal.
std::string Printable(std::string_view text);

// The text with every byte that is no part of valid UTF-8 replaced by U+FFFD.
std::string ValidUtf8(std::string_view text);

// The length of the valid UTF-8 character at the start of `text` (1 to 4), or 0 when its first
// byte begins none.
std::size_t Utf8CharacterLength(std::string_view text);

enum class InputLine { Read, TooLong, End };
// One line of `in` without its line end (LF, CR LF). A line longer than `maxBytes` is skipped to
// its end without being kept (TooLong): a line of hundreds of megabytes costs no memory.
InputLine ReadBoundedLine(std::istream& in, std::string& line, std::size_t maxBytes);

}  // namespace yubin::cli
