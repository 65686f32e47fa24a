// Stand-in for the device maker's core audio library liblyrane.
//
// The real core (echo cancellation, noise reduction, direction of arrival and
// whatever else the device runs) is not available to this project. This
// stand-in offers the same operations the benchmark program drives, so the
// benchmark builds, runs and can be tested here. It does no acoustic
// processing of its own; what it does is listed below and nothing more.
//
// What it does:
// - Construction reads two int parameters from the store: "fs" (sample rate
//   in Hz) and "Nmics" (microphone count). Everything else in the store is
//   accepted and ignored. The three unsigned arguments are ignored.
// - Batch() works in frames of 16 ms: fs * 16 / 1000 samples per frame,
//   truncated (256 at 16 kHz, 705 at 44.1 kHz). Only whole frames are
//   executed; samples after the last whole frame are left as they were given
//   in the two output signals.
// - Per executed frame and per sample n of it:
//     out[n]  = (mic 0[n] + mic 1[n] + ... ) / Nmics   (mean of the rows,
//               summed in row order, single precision)
//     out2[n] = the playback reference pulled from the chain registered as
//               LYRANE_ACOUSTIC_CHAIN_NAME (PlaybackChainNames.h) in the process-wide
//               module registry.
//   On the device the sound server plays the far-end signal through that
//   chain while the core pulls the unprocessed reference back out of it. In
//   an offline run nobody plays it, so the stand-in does both, sample by
//   sample: it runs the chain on farend[n] (a one-sample block; the chain's
//   processed output is discarded) and then pulls one sample with
//   getNextInputSample(). With a chain built for one-sample blocks (as the
//   benchmark registers it) the reference is farend delayed by 682 samples,
//   silence before that. A chain of another block size refuses one-sample
//   blocks, and without a registered chain there is nothing to pull: out2 is
//   silence then.
// - Both frame counters count the frames Batch() executed, summed over all
//   calls. The stand-in has no direction-of-arrival estimator; the DOA
//   counter reports the same number so the benchmark's report stays readable.
// - Event annotations and the master volume level are accepted and have no
//   effect on the result.
//
// Failures: the constructor throws std::invalid_argument when "fs" or
// "Nmics" is missing, not an int, or out of range (fs below the rate that
// gives one sample per frame, Nmics below 1). Batch() throws
// std::invalid_argument when the signal shapes do not fit (mics must have
// Nmics rows; all four signals the same length); nothing is changed then.
//
// Threads: one thread at a time per object. Batch() takes the chain's own
// locks through its public operations.
#ifndef LYRANE_H
#define LYRANE_H

#include <Eigen/Core>
#include <ZIZO_Config>
#include <cstdint>
#include <map>
#include <utility>

// Event kinds of the annotation map. The benchmark fills them from the
// letters "v" and "a" of a recording's comment; the stand-in does not act on
// them.
class PlaybackProcessing;

enum LyraneEventType { LYRANE_EVENT_V = 0, LYRANE_EVENT_A = 1 };

class Lyrane {
  public:
    // Events keyed by (frame index, kind), with an int value each.
    using EventMap = std::map<std::pair<unsigned int, LyraneEventType>, int>;

    Lyrane(const ZIZO_Config& config, unsigned int, unsigned int, unsigned int);
    ~Lyrane() = default;
    Lyrane(const Lyrane&) = delete;
    Lyrane& operator=(const Lyrane&) = delete;

    // Sample rate in Hz the core was initialised with ("fs").
    unsigned int getFs() const { return fs; }
    // Number of microphone channels Batch() expects ("Nmics").
    unsigned int getNmics() const { return Nmics; }

    // Playback level the client uses; recorded, without effect here.
    void notifyMasterVolumeLevel(unsigned int level, unsigned int step);

    // Processes a whole recording: mics is Nmics x F (one row per
    // microphone), farend, out and out2 hold F samples each. See the file
    // comment for what out and out2 receive.
    void Batch(Eigen::ArrayXXf& mics, Eigen::ArrayXf& farend, Eigen::ArrayXf& out,
               Eigen::ArrayXf& out2, const EventMap& events);

    // Frames executed by Batch() so far.
    std::uint64_t getFramecounter() const { return framesExecuted; }
    unsigned long getDoaFramecounter() const { return framesExecuted; }

  private:
    void mixFrame(const Eigen::ArrayXXf& mics, Eigen::Index first, Eigen::ArrayXf& out) const;
    void pullReference(PlaybackProcessing* chain, const Eigen::ArrayXf& farend, Eigen::Index first,
                       Eigen::ArrayXf& out2) const;

    unsigned int fs = 0;
    unsigned int Nmics = 0;
    unsigned int frameLength = 0;
    unsigned int masterVolumeLevel = 0;
    std::uint64_t framesExecuted = 0;
};

#endif  // LYRANE_H
