// The processor's vector registers where libraries built for different instruction sets meet.
//
// This program and SQLite are built for the baseline instruction set, whose vector code is SSE.
// While the upper halves of the AVX registers are marked in use, every SSE instruction has to
// merge with them and runs several times slower (a copy loop of short texts, 2 to 4 times). A
// library that uses AVX and does not clear that mark when it returns (the toolkit's painting,
// during the window's event processing) leaves it set on its thread until something clears it,
// and a thread started from there inherits it for its whole life, whatever it runs.
#pragma once

#include <optional>

namespace yubin {

// Clears the mark (VZEROUPPER) where the processor has AVX; nothing elsewhere. The registers'
// lower halves are kept. A few cycles: called where the toolkit has run and this program's own
// code follows, and first thing on each worker thread.
void ClearUpperVectorState() noexcept;

// Whether the mark is set on the calling thread, where the processor tells (XGETBV with ECX 1);
// nullopt where it cannot.
std::optional<bool> UpperVectorStateInUse() noexcept;

}  // namespace yubin
