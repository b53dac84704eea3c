// The error an action raises, for tests that look into it.
#pragma once

#include <functional>

#include "base/Error.h"

namespace yubin::test {

// The YubinError `action` raises; an EngineFailure "no error" when it raises none.
inline YubinError ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const YubinError& e) {
        return e;
    }
    return YubinError(ErrorCode::EngineFailure, "no error");
}

}  // namespace yubin::test
