// The mark on a thread's AVX registers that a library using AVX leaves when it returns
// without clearing it (base/VectorState.h), set on purpose for the tests of its clearing.
#pragma once

#include <thread>

#include "base/VectorState.h"

namespace yubin::test {

// Sets the mark on the calling thread, as such a library would; false where the processor
// cannot tell the mark (the tests that need it skip then).
inline bool MarkUpperVectorStateInUse() {
    if (!UpperVectorStateInUse().has_value()) return false;
#if defined(__x86_64__)
    // All ones into a whole YMM register, with no VZEROUPPER after it.
    __asm__ volatile("vcmpps $15, %%ymm15, %%ymm15, %%ymm15" ::: "xmm15");
    return UpperVectorStateInUse().value_or(false);
#else
    return false;
#endif
}

// Whether a thread started from a marked thread starts marked, as the system passes the
// registers on: the premise of the tests that the program's threads clear the mark. Leaves
// the calling thread marked.
inline bool ThreadsStartWithTheMarkOfTheirStarter() {
    if (!MarkUpperVectorStateInUse()) return false;
    bool marked = false;
    std::thread([&marked] { marked = UpperVectorStateInUse().value_or(false); }).join();
    return marked && MarkUpperVectorStateInUse();
}

}  // namespace yubin::test
