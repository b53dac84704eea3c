#include "base/Memory.h"

#include <cstdlib>  // defines __GLIBC__ where the C library is glibc's

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace yubin {

void ReleaseFreeMemory() noexcept {
#if defined(__GLIBC__)
    // The result tells only whether anything was given back.
    static_cast<void>(::malloc_trim(0));
#endif
}

}  // namespace yubin
