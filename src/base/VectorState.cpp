#include "base/VectorState.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>

#include <cstdint>

namespace yubin {

namespace {

struct Support {
    bool avx = false;
    bool inUseQuery = false;  // XGETBV with ECX 1 gives the state components in use
};

// Read once; the processor's features do not change while the program runs.
const Support& Supported() noexcept {
    static const Support support = [] {
        Support s;
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return s;
        // AVX usable: the processor has it and the system saves its registers (OSXSAVE).
        constexpr unsigned kOsXsave = 1u << 27, kAvx = 1u << 28;
        if ((ecx & (kOsXsave | kAvx)) != (kOsXsave | kAvx)) return s;
        std::uint32_t low = 0, high = 0;
        __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
        constexpr std::uint32_t kSseAndAvxState = 0x6;
        if ((low & kSseAndAvxState) != kSseAndAvxState) return s;
        s.avx = true;
        if (__get_cpuid_count(0xD, 1, &eax, &ebx, &ecx, &edx) != 0) {
            s.inUseQuery = (eax & (1u << 2)) != 0;
        }
        return s;
    }();
    return support;
}

__attribute__((target("avx"))) void ZeroUpper() noexcept { _mm256_zeroupper(); }

}  // namespace

void ClearUpperVectorState() noexcept {
    if (Supported().avx) ZeroUpper();
}

std::optional<bool> UpperVectorStateInUse() noexcept {
    if (!Supported().inUseQuery) return std::nullopt;
    std::uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(1));
    constexpr std::uint32_t kAvxState = 1u << 2;
    return (low & kAvxState) != 0;
}

}  // namespace yubin

#else

namespace yubin {

void ClearUpperVectorState() noexcept {}

std::optional<bool> UpperVectorStateInUse() noexcept { return std::nullopt; }

}  // namespace yubin

#endif
