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
// Threads: a guard acts on the thread that created it and must die on it.
#ifndef DENORMALFLUSHGUARD_H
#define DENORMALFLUSHGUARD_H

#include <cstdint>

class DenormalFlushGuard {
  public:
    DenormalFlushGuard();
    ~DenormalFlushGuard();
    DenormalFlushGuard(const DenormalFlushGuard&) = delete;
    DenormalFlushGuard& operator=(const DenormalFlushGuard&) = delete;

  private:
    std::uint64_t savedState;
    bool changed;
};

#endif  // DENORMALFLUSHGUARD_H
