// Flushes subnormal floats to zero on this thread while the guard lives, and
// restores the caller's floating-point control state when it dies.
//
// Why: after speech, digital silence lets the detector's envelopes, the AGC's
// level follower and the equalizer's filter states decay geometrically. They
// reach the subnormal range after a few seconds, and many of them then stick
// there (x * c rounds back to x for the smallest subnormals), so a silent
// stream would run on subnormal arithmetic for hours, which costs many times
// the normal arithmetic. With subnormal results and inputs read as zero, those
// states become exact zeros instead.
//
// Why this way: the alternatives change results. Adding a tiny offset or
// zeroing states below a threshold alters normal-range values; flush-to-zero
// only acts where an operand or a result is subnormal, so every computation
// whose values all stay in the normal range gives the same bits as before.
// The mode is switched on for the duration of a processing call only, because
// it belongs to the calling thread (the sound server's audio thread), whose
// other code may rely on gradual underflow.
//
// Targets: x86 with SSE arithmetic sets MXCSR's FTZ and DAZ bits; 32-bit ARM
// with VFP sets FPSCR's FZ bit (NEON always flushes); 64-bit ARM sets FPCR's
// FZ bit. Elsewhere the guard does nothing. The state is written only when it
// differs, so a caller already flushing pays one read.
//
// The plug-in opens a guard for every sample, so it is defined here: it
// inlines into the caller and keeps the saved state in a register (what that
// saves is measured in bench/).
//
// Threads: a guard acts on the thread that created it and must die on it.
#ifndef DENORMALFLUSHGUARD_H
#define DENORMALFLUSHGUARD_H

#include <cstdint>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace denormal_flush {

#if defined(__SSE__)
// MXCSR bit 15 flushes subnormal results to zero, bit 6 reads subnormal
// operands as zero.
constexpr std::uint64_t kFlushBits = 0x8000u | 0x0040u;
inline std::uint64_t readState() {
    return _mm_getcsr();
}
inline void writeState(std::uint64_t state) {
    _mm_setcsr(static_cast<unsigned int>(state));
}
#elif defined(__arm__) && defined(__ARM_FP)
// FPSCR bit 24 (FZ) flushes subnormal operands and results to zero.
constexpr std::uint64_t kFlushBits = 1u << 24;
inline std::uint64_t readState() {
    std::uint32_t state;
    __asm__ __volatile__("vmrs %0, fpscr" : "=r"(state));
    return state;
}
inline void writeState(std::uint64_t state) {
    __asm__ __volatile__("vmsr fpscr, %0" : : "r"(static_cast<std::uint32_t>(state)));
}
#elif defined(__aarch64__)
// FPCR bit 24 (FZ), as on 32-bit ARM.
constexpr std::uint64_t kFlushBits = 1u << 24;
inline std::uint64_t readState() {
    std::uint64_t state;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(state));
    return state;
}
inline void writeState(std::uint64_t state) {
    __asm__ __volatile__("msr fpcr, %0" : : "r"(state));
}
#else
constexpr std::uint64_t kFlushBits = 0;
inline std::uint64_t readState() {
    return 0;
}
inline void writeState(std::uint64_t) {}
#endif

}  // namespace denormal_flush

class DenormalFlushGuard {
  public:
    DenormalFlushGuard()
        : savedState(denormal_flush::readState()),
          changed((savedState & denormal_flush::kFlushBits) != denormal_flush::kFlushBits) {
        if (changed)
            denormal_flush::writeState(savedState | denormal_flush::kFlushBits);
    }
    ~DenormalFlushGuard() {
        if (changed)
            denormal_flush::writeState(savedState);
    }
    DenormalFlushGuard(const DenormalFlushGuard&) = delete;
    DenormalFlushGuard& operator=(const DenormalFlushGuard&) = delete;

  private:
    const std::uint64_t savedState;
    const bool changed;
};

#endif  // DENORMALFLUSHGUARD_H
