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

void ReturnLargeBlocksWhenFreed() noexcept {
#if defined(__GLIBC__)
    // A fixed limit also ends the C library's moving of it. Refused, the default stays.
    static_cast<void>(::mallopt(M_MMAP_THRESHOLD, 1024 * 1024));
#endif
}

}  // namespace yubin
