// Small POSIX file helpers of the settings layer: whole-file reads and writes that never leave
// a half-written file behind.
#pragma once

#include <cstddef>
#include <string>

namespace yubin::settings {

// The largest settings file read or rewritten; a bigger one is no settings file of ours.
inline constexpr std::size_t kMaxSettingsFileBytes = 1 << 20;

// Reads the whole file into `bytes` when it is a regular file (a symbolic link is followed) of
// at most `maxBytes`. Returns 0, or why not: the errno of a failure (ENOENT for a missing
// file), EISDIR for a folder, EINVAL for anything else that is no regular file (a FIFO, a
// device, a socket), EFBIG for a larger file; `bytes` is then empty. Nothing but a regular
// file is ever opened, so a FIFO cannot block the caller and a device is never read.
int ReadWholeFile(const std::string& path, std::string& bytes,
                  std::size_t maxBytes = kMaxSettingsFileBytes);

// Raises PathFileAccess, with a message that says what the path is, for a result of
// ReadWholeFile other than 0 and ENOENT.
[[noreturn]] void FailUnreadableSettingsFile(const std::string& path, int error);

// Raises as FailUnreadableSettingsFile when something exists at `path` that a writer must not
// replace: anything but a regular file of at most kMaxSettingsFileBytes.
void CheckReplaceableSettingsFile(const std::string& path);

// Replaces the file's content with `bytes`: writes a temporary file in the same folder and
// renames it over the file, so the file holds either its old or its new content, never a part.
// An existing file keeps its permission bits; a symbolic link is followed and its target
// replaced. Raises PathFileAccess when the file cannot be written.
void ReplaceFileAtomically(const std::string& path, const std::string& bytes);

// Makes the file with `bytes` only when no file of that name exists, the same all-or-nothing
// way. Returns false, and changes nothing, when it exists. Raises PathFileAccess on failure.
bool CreateFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace yubin::settings
