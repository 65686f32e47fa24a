// Equalizer block: a cascade of biquad sections followed by a broadband gain,
// with coefficients read per sample rate from a coefficient file.
//
// Coefficient file (libconfig syntax), one filter set holding
//   fs  (int, must equal the equalizer's fs),
//   gain (float, optional: 1.0 when absent or not a float),
//   b0, b1, b2, a1, a2 (float arrays of equal length, one element per
//   section; all five may be empty arrays: no section, gain only).
// Version 1 holds one set at the top level (recognised by a top-level int
// "fs" and float array "b0"); version 2 holds one group per sample rate named
// "filter_fs_" + rate, e.g. filter_fs_16000 = { fs = 16000; ... };
//
// Contract:
// - Configuration keys (without prefix): "enabled" (bool, default false) and
//   "coeff_file" (string, default ""). The equalizer is enabled after
//   construction only when "enabled" is true and the file loads.
// - run() writes Nblock samples of out from Nblock samples of in; in and out
//   may be the same array. Disabled, it copies; enabled, each sample passes
//   every section in order and is multiplied by gain. It allocates, logs and
//   locks nothing. Section states that fall below the smallest normal float
//   are set to zero now and then (SubnormalStates.h).
// - loadFilterCoefficients() returns 0 on success and -1 on any failure, with
//   one ERROR record naming the cause; it never throws except on allocation
//   failure. It replaces the stored rows and gain, not the live sections.
//   A file whose gain or any coefficient is not finite (libconfig reads
//   1e999 as infinity, and a value past the float range becomes one) is
//   refused like any malformed file, before anything is replaced.
// - reload() reads the file again: on failure the equalizer ends disabled and
//   without sections, whatever it was before; on success it keeps its
//   enabled state with the new sections.
// - setEnabled(false) resets every section, so switching on again starts from
//   zero filter state.
// - Threads: no lock of its own. run() never waits: setEnabled(),
//   setFilename() and requestReload() may be called from one other thread
//   at a time while run() goes on, and act from run()'s next block. Every
//   other non-const call must be serialised with run() by the owner;
//   isEnabled() may be read from any thread at any time.
//
// Instantiated for float only (ZIZO_equalizer.cpp).
#ifndef ZIZO_EQUALIZER_H
#define ZIZO_EQUALIZER_H

#include <log4cxx/logger.h>

#include <ZIZO_Config>
#include <atomic>
#include <cstdint>
#include <string>
#include <typeindex>
#include <vector>

#include "ZIZO_biquad.h"
#include "lyrane_detail/TaggedHandoverSlot.h"

class PlaybackProcessing;

template <typename T>
class ZIZO_equalizer {
  public:
    ZIZO_equalizer(const std::string& name, unsigned int Nblock, unsigned int fs,
                   const ZIZO_Config& config);
    ~ZIZO_equalizer();
    ZIZO_equalizer(const ZIZO_equalizer&) = delete;
    ZIZO_equalizer& operator=(const ZIZO_equalizer&) = delete;

    // Installs a section set handed over by requestReload() and a pending
    // reset first, so a change acts from the start of a block.
    void run(const T* in, T* out) {
        live = handover.take(live);
        const bool filtering = runEnabled.load(std::memory_order_acquire);
        resetIfRequested();
        if (!filtering) {
            for (uint32_t i = 0; i < Nblock; ++i) {
                out[i] = in[i];
            }
            return;
        }
        std::vector<ZIZO_biquad<T>>& biquads = live->biquads;
        const T cascadeGain = live->gain;
        for (uint32_t i = 0; i < Nblock; ++i) {
            T x = in[i];
            for (ZIZO_biquad<T>& biquad : biquads) {
                x = biquad.processSample(x);
            }
            out[i] = cascadeGain * x;
        }
        flushSubnormalStates(Nblock);
    }

    // Logs the change at INFO; switching off resets every section (at the
    // start of the next run() call).
    void setEnabled(bool enable);
    bool isEnabled() const { return enabled.load(std::memory_order_relaxed); }

    std::string getFilename() const { return filename; }
    // Stores the name only; reload() reads it.
    void setFilename(std::string newFilename) { filename = std::move(newFilename); }
    // Owner-serialised with run(): requestReload(), and the new sections are
    // live on return.
    void reload();
    // reload() that may run on another thread while one thread is in run():
    // the file is read and the sections built here, with the same records;
    // run() takes them over wait-free at the start of its next block, and
    // the sections they replace are freed by the next requestReload() or
    // the destructor, never by run(). isEnabled() reports the outcome on
    // return. Calls to requestReload(), setEnabled() and setFilename() must
    // not overlap each other.
    void requestReload();

    // 0: rows and gain replaced from path; -1: failure, logged at ERROR.
    int loadFilterCoefficients(const std::string& path);
    // Builds one section per stored row, replacing any live sections.
    void createBiquads();
    void removeBiquads();
    // Number of live sections.
    unsigned int getNumBiquads() const { return static_cast<unsigned int>(live->biquads.size()); }
    // The live sections, in cascade order.
    const std::vector<ZIZO_biquad<T>>& getBiquads() const { return live->biquads; }
    // Rows b0, b1, b2, a1, a2 as the last load read them, and its gain.
    const std::vector<std::vector<T>>& getSectionRows() const { return sections; }
    T getGain() const { return gain; }

    // True when "b0", "b1", "b2", "a1" and "a2" all hold a V (a float vector,
    // or ZIZO_Config::EmptyVector); otherwise false with the first failing
    // name, in the key order a1, a2, b0, b1, b2, in missing.
    template <typename V>
    static bool configHasCoefficientVectors(const ZIZO_Config& config, std::string& missing) {
        const std::type_index type(typeid(V));
        return config.existAll(
            {{"b0", type}, {"b1", type}, {"b2", type}, {"a1", type}, {"a2", type}}, missing);
    }

    static log4cxx::LoggerPtr AC_Equalizer_logger;

  private:
    // The chain's run of one-sample blocks keeps this block's state in
    // locals for a whole host buffer.
    friend class PlaybackProcessing;

    // What run() filters with: the sections and the gain that goes with them.
    struct Cascade {
        std::vector<ZIZO_biquad<T>> biquads;  // held by value: one array to walk
        T gain = T(1);
    };

    void buildSections(std::vector<ZIZO_biquad<T>>& into) const;

    // Audio thread: the reset setEnabled(false) asked for, on the live
    // sections.
    void resetIfRequested() {
        if (resetRequested.load(std::memory_order_relaxed) &&
            resetRequested.exchange(false, std::memory_order_acquire)) {
            for (ZIZO_biquad<T>& biquad : live->biquads) {
                biquad.reset();
            }
        }
    }
    // Audio thread: subnormal states to zero, every kFlushInterval samples
    // or so; samples were filtered since the last call.
    void flushSubnormalStates(uint32_t samples) {
        if (subnormalCheck.due(samples)) {
            for (ZIZO_biquad<T>& biquad : live->biquads) {
                biquad.flushSubnormalState();
            }
        }
    }

    std::string name;
    std::string filename;
    // What isEnabled() reports; it passes through false during a reload.
    std::atomic<bool> enabled{false};
    // What run() acts on; changes only once a setting is complete.
    std::atomic<bool> runEnabled{false};
    std::atomic<bool> resetRequested{false};
    bool reloading = false;  // only on the setters' side
    uint32_t Nblock;
    uint32_t fs;
    T gain = T(1);
    std::vector<std::vector<T>> sections;            // rows b0, b1, b2, a1, a2 as read
    lyrane::SubnormalCheckCountdown subnormalCheck;  // only run() touches it
    Cascade* live;                                   // owned; only run() and the owner touch it
    // From requestReload() to run(); the replaced set is freed by the next
    // requestReload() or the destructor, never by run().
    lyrane::detail::TaggedHandoverSlot<Cascade> handover;
};

extern template class ZIZO_equalizer<float>;

#endif  // ZIZO_EQUALIZER_H
