// Memory the process no longer uses handed back to the system.
#pragma once

namespace yubin {

// Gives back to the system the pages that the allocator holds free, in every arena: after a
// phase that freed much (a sort, a thread's buffers), they would otherwise stay resident and
// add to the peak of the phase that follows. Costs about a millisecond.
void ReleaseFreeMemory() noexcept;

// Blocks of a megabyte or more each mapped on their own, so that they go back to the system
// when freed. The C library would otherwise raise that limit each time such a block is freed
// and serve the next ones (the index sorts' buffers) from the heap, where what is freed stays
// resident: up to 2 MB above an import's peak. Called once, at the start of the program.
void ReturnLargeBlocksWhenFreed() noexcept;

}  // namespace yubin
