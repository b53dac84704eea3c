#include "import/DataLineError.h"

namespace yubin::import {

bool IsCausedByLineValues(ErrorCode code) {
    switch (code) {
        case ErrorCode::FieldTooSmall:
        case ErrorCode::NumericOverflow:
        case ErrorCode::TypeMismatch:
        case ErrorCode::ZeroLengthNotAllowed:
        case ErrorCode::IndexNullValue:
        case ErrorCode::DuplicateKey:
        case ErrorCode::BadInputLine:
        case ErrorCode::BadEncoding:
            return true;
        default:
            return false;
    }
}

void RethrowForDataLine(const YubinError& error, const std::string& file, long long line) {
    if (error.isDataLineError() || !IsCausedByLineValues(error.code())) throw error;
    throw YubinError(error.code(), error.detailMessage(), file, static_cast<long>(line));
}

}  // namespace yubin::import
