// Flush-to-zero mode (see denormal_flush.h) for the lifetime of a scope: the
// callers that want the plug-in's arithmetic exactly (the tuning trace, the
// measurements) open one around a run of blocks.
//
// Threads: a guard acts on the thread that created it and must die on it.
#ifndef DENORMALFLUSHGUARD_H
#define DENORMALFLUSHGUARD_H

#include <cstdint>

#include "denormal_flush.h"

class DenormalFlushGuard {
  public:
    DenormalFlushGuard() : savedState(denormal_flush_enter()) {}
    ~DenormalFlushGuard() { denormal_flush_leave(savedState); }
    DenormalFlushGuard(const DenormalFlushGuard&) = delete;
    DenormalFlushGuard& operator=(const DenormalFlushGuard&) = delete;

  private:
    const std::uint64_t savedState;
};

#endif  // DENORMALFLUSHGUARD_H
