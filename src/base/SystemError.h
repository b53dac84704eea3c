// A failed file-system call as the error of the same fault.
#pragma once

#include <string>

#include "base/Error.h"

namespace yubin {

// The number of the fault for an errno: PermissionDenied when the file system refused,
// PathNotFound when a folder on the path is missing, PathFileAccess for everything else.
ErrorCode FileSystemErrorCode(int error);

// The error of a failed call on `path`: "<what>: <path>（<the system's description>）".
YubinError FileSystemError(int error, const Message& what, const std::string& path);
YubinError FileSystemError(int error, const std::string& what, const std::string& path);

}  // namespace yubin
