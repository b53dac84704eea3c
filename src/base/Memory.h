// Memory the process no longer uses handed back to the system.
#pragma once

namespace yubin {

// Gives back to the system the pages that the allocator holds free, in every arena: after a
// phase that freed much (a sort, a thread's buffers), they would otherwise stay resident and
// add to the peak of the phase that follows. Costs about a millisecond.
void ReleaseFreeMemory() noexcept;

}  // namespace yubin
