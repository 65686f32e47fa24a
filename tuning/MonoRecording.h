// One channel of a sound file (WAV or anything else libsndfile reads), as
// float samples with full scale at 1.0.
#ifndef LYRANE_TUNING_MONORECORDING_H
#define LYRANE_TUNING_MONORECORDING_H

#include <string>
#include <vector>

struct MonoRecording {
    std::vector<float> samples;
    unsigned int fs = 0;
    unsigned int channels = 0;  // of the file

    // channel counts from 1. Throws TuningError naming the file when it
    // cannot be read, holds no sample, or has no such channel.
    static MonoRecording read(const std::string& path, unsigned int channel);
};

#endif  // LYRANE_TUNING_MONORECORDING_H
