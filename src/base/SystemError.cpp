#include "base/SystemError.h"

#include <cerrno>
#include <cstring>

namespace yubin {

ErrorCode FileSystemErrorCode(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return ErrorCode::PermissionDenied;
        case ENOENT:
        case ENOTDIR:
            return ErrorCode::PathNotFound;
        default:
            return ErrorCode::PathFileAccess;
    }
}

YubinError FileSystemError(int error, const Message& what, const std::string& path) {
    return YubinError(FileSystemErrorCode(error),
                      Message("{1}: {2}（{3}）", what, path, std::strerror(error)));
}

YubinError FileSystemError(int error, const std::string& what, const std::string& path) {
    return FileSystemError(error, Message::Verbatim(what), path);
}

}  // namespace yubin
