// A recording run through the playback chain's own blocks (detector,
// equalizer, AGC, output gain), built and set up as the plug-in builds and
// sets up the chain, and run block by block as the chain runs them, with the
// levels and the AGC's state recorded along the way.
//
// Contract:
// - The blocks come from an empty chain configuration (every block at its
//   default, output muted) and take the profile's values in the plug-in's
//   order: coefficient file (loaded at once), AGC target, maximum gain,
//   maximum amplitude, hold time, release speed, output volume, AGC switch,
//   decrease-max-gain switch, equalizer switch.
// - A coefficient file that does not load is refused (TuningError with the
//   loader's reason); the device would run without its equalizer instead,
//   which is what a tuning session must not hide.
// - Each row covers rowBlocks whole blocks. Levels are over the row's
//   samples: the recording, the AGC's input (the equalizer's output) and the
//   chain's output. The AGC's gain, its maximum gain and the detector's
//   decision are their values after the row's last block; appliedGainDb is
//   the factor (gain factor times duck gain) that multiplied the row's first
//   sample in the AGC, 0 dB while the AGC is off.
// - Each reduction of the maximum gain is recorded at the last sample of the
//   block at whose end the AGC made it.
// - Samples after the last whole block are not run.
#ifndef LYRANE_TUNING_CHAINTRACE_H
#define LYRANE_TUNING_CHAINTRACE_H

#include <Eigen/Core>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "LogRecordCollector.h"
#include "ProfileSettings.h"
#include "ZIZO_agc.h"
#include "ZIZO_equalizer.h"
#include "ZIZO_sad.h"

class ChainTrace {
  public:
    struct Level {
        double rmsDbfs = 0.0;
        double peakDbfs = 0.0;
    };
    struct Row {
        uint64_t firstSample = 0;
        uint32_t samples = 0;
        Level input;
        Level agcInput;
        Level output;
        float agcGainDb = 0.0f;
        double appliedGainDb = 0.0;
        float maxGainDb = 0.0f;
        bool speech = false;
    };
    struct Reduction {
        uint64_t sample = 0;  // last sample of the block that made it
        float fromDb = 0.0f;
        float toDb = 0.0f;
    };

    // profileName only labels errors. Throws TuningError for a coefficient
    // file that does not load.
    ChainTrace(unsigned int Nblock, unsigned int fs, const ProfileSettings& profile,
               const std::string& profileName, LogRecordCollector& log);

    void run(const std::vector<float>& samples, unsigned int rowBlocks);

    const std::vector<Row>& getRows() const { return rows; }
    const std::vector<Reduction>& getReductions() const { return reductions; }
    // Maximum gain once the profile is applied, before the first sample.
    float getStartMaxGainDb() const { return startMaxGainDb; }
    bool isMuted() const { return outputGainLinear == 0.0f; }
    unsigned int getNblock() const { return Nblock; }

  private:
    void applyProfile(const ProfileSettings& profile, const std::string& profileName,
                      LogRecordCollector& log);
    // One block from in to out, as the chain's run does it; equalized gets
    // the equalizer's output (the AGC's input).
    void runBlock();
    void noteReduction(uint64_t lastSample);

    const unsigned int Nblock;
    std::unique_ptr<ZIZO_agc> agc;
    std::unique_ptr<ZIZO_equalizer<float>> equalizer;
    std::unique_ptr<ZIZO_sad> sad;
    float outputGainLinear = 0.0f;  // muted until the profile's volume
    Eigen::ArrayXf in;
    Eigen::ArrayXf equalized;
    Eigen::ArrayXf out;
    float startMaxGainDb = 0.0f;
    float maxGainDb = 0.0f;
    std::vector<Row> rows;
    std::vector<Reduction> reductions;
};

#endif  // LYRANE_TUNING_CHAINTRACE_H
