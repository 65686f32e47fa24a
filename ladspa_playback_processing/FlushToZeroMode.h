/*
 * Flush-to-zero mode of the calling thread's floating-point unit: in C, a
 * FlushToZeroMode_enter / FlushToZeroMode_leave pair around a stretch of
 * work (the plug-in's run); in C++, a FlushToZeroMode object for the
 * lifetime of a scope (the tuning trace, the measurements and the tests that
 * want the plug-in's arithmetic exactly). Not installed: the library itself
 * computes in its caller's mode, and programs of this tree that want the
 * plug-in's mode link the target lyrane_flush_to_zero_mode.
 *
 * Why: after speech, digital silence lets the chain's decaying states (the
 * detector's trackers, the AGC's level follower, the equalizer's filter
 * states) reach the subnormal range, where arithmetic costs many times the
 * normal. With subnormal results and operands read as zero, they become exact
 * zeros instead. Flush-to-zero acts only where an operand or a result is
 * subnormal, so a computation whose values all stay in the normal range gives
 * the same bits either way.
 *
 * Reading the control register waits for every floating-point instruction
 * before it (it also holds the sticky exception flags), so the mode is set
 * once around a host buffer, never per sample.
 *
 * Targets: x86 with SSE arithmetic sets MXCSR's FTZ and DAZ bits; 32-bit ARM
 * with VFP sets FPSCR's FZ bit (NEON always flushes); 64-bit ARM sets FPCR's
 * FZ bit. Elsewhere nothing is done. The register is written only when the
 * mode is not already set.
 *
 * Threads: the mode belongs to the calling thread; leave on the thread that
 * entered.
 */
#ifndef FLUSHTOZEROMODE_H
#define FLUSHTOZEROMODE_H

#include <stdint.h>

#if defined(__SSE__)
#include <xmmintrin.h>
/* MXCSR bit 15 flushes subnormal results to zero, bit 6 reads subnormal
 * operands as zero. */
static inline uint64_t FlushToZeroMode_bits(void) {
    return (uint64_t)(0x8000u | 0x0040u);
}
static inline uint64_t FlushToZeroMode_read(void) {
    return _mm_getcsr();
}
static inline void FlushToZeroMode_write(uint64_t state) {
    _mm_setcsr((unsigned int)state);
}
#elif defined(__arm__) && defined(__ARM_FP)
/* FPSCR bit 24 (FZ) flushes subnormal operands and results to zero. */
static inline uint64_t FlushToZeroMode_bits(void) {
    return (uint64_t)1u << 24;
}
static inline uint64_t FlushToZeroMode_read(void) {
    uint32_t state;
    __asm__ __volatile__("vmrs %0, fpscr" : "=r"(state));
    return state;
}
static inline void FlushToZeroMode_write(uint64_t state) {
    __asm__ __volatile__("vmsr fpscr, %0" : : "r"((uint32_t)state));
}
#elif defined(__aarch64__)
/* FPCR bit 24 (FZ), as on 32-bit ARM. */
static inline uint64_t FlushToZeroMode_bits(void) {
    return (uint64_t)1u << 24;
}
static inline uint64_t FlushToZeroMode_read(void) {
    uint64_t state;
    __asm__ __volatile__("mrs %0, fpcr" : "=r"(state));
    return state;
}
static inline void FlushToZeroMode_write(uint64_t state) {
    __asm__ __volatile__("msr fpcr, %0" : : "r"(state));
}
#else
static inline uint64_t FlushToZeroMode_bits(void) {
    return 0;
}
static inline uint64_t FlushToZeroMode_read(void) {
    return 0;
}
static inline void FlushToZeroMode_write(uint64_t state) {
    (void)state;
}
#endif

/* Sets the mode; returns the state to hand to FlushToZeroMode_leave. */
static inline uint64_t FlushToZeroMode_enter(void) {
    const uint64_t saved = FlushToZeroMode_read();
    if ((saved & FlushToZeroMode_bits()) != FlushToZeroMode_bits()) {
        FlushToZeroMode_write(saved | FlushToZeroMode_bits());
    }
    return saved;
}

/* Restores the state FlushToZeroMode_enter found. */
static inline void FlushToZeroMode_leave(uint64_t saved) {
    if ((saved & FlushToZeroMode_bits()) != FlushToZeroMode_bits()) {
        FlushToZeroMode_write(saved);
    }
}

#ifdef __cplusplus
/* The mode for the lifetime of the object, on the thread that created it;
 * it must die on that thread. */
class FlushToZeroMode {
  public:
    FlushToZeroMode() : savedState(FlushToZeroMode_enter()) {}
    ~FlushToZeroMode() { FlushToZeroMode_leave(savedState); }
    FlushToZeroMode(const FlushToZeroMode&) = delete;
    FlushToZeroMode& operator=(const FlushToZeroMode&) = delete;

  private:
    const uint64_t savedState;
};
#endif

#endif /* FLUSHTOZEROMODE_H */
