#include "DenormalFlushGuard.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {

#if defined(__SSE__)
// MXCSR bit 15 flushes subnormal results to zero, bit 6 reads subnormal
// operands as zero.
constexpr std::uint64_t kFlushBits = 0x8000u | 0x0040u;
std::uint64_t readState() {
    return _mm_getcsr();
}
void writeState(std::uint64_t state) {
    _mm_setcsr(static_cast<unsigned int>(state));
}
#elif defined(__arm__) && defined(__ARM_FP)
// FPSCR bit 24 (FZ) flushes subnormal operands and results to zero.
constexpr std::uint64_t kFlushBits = 1u << 24;
std::uint64_t readState() {
    std::uint32_t state;
    __asm__ __volatile__("vmrs %0, fpscr" : "=r"(state));
    return state;
}
void writeState(std::uint64_t state) {
    __asm__ __volatile__("vmsr fpscr, %0" : : "r"(static_cast<std::uint32_t>(state)));
}
#elif defined(__aarch64__)
// FPCR bit 24 (FZ), as on 32-bit ARM.
constexpr std::uint64_t kFlushBits = 1u << 24;
std::uint64_t readState() {
    std::uint64_t state;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(state));
    return state;
}
void writeState(std::uint64_t state) {
    __asm__ __volatile__("msr fpcr, %0" : : "r"(state));
}
#else
constexpr std::uint64_t kFlushBits = 0;
std::uint64_t readState() {
    return 0;
}
void writeState(std::uint64_t) {}
#endif

}  // namespace

DenormalFlushGuard::DenormalFlushGuard()
    : savedState(readState()), changed((savedState & kFlushBits) != kFlushBits) {
    if (changed)
        writeState(savedState | kFlushBits);
}

DenormalFlushGuard::~DenormalFlushGuard() {
    if (changed)
        writeState(savedState);
}
