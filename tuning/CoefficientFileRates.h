// The sample rates a coefficient file holds filter sets for: the top-level
// "fs" of a version 1 file, the rate in each "filter_fs_<rate>" group of a
// version 2 file. Only lists them; the equalizer's own loader reads the sets.
#ifndef LYRANE_TUNING_COEFFICIENTFILERATES_H
#define LYRANE_TUNING_COEFFICIENTFILERATES_H

#include <string>
#include <vector>

class CoefficientFileRates {
  public:
    // Ascending, without repeats. Throws TuningError naming the file when it
    // cannot be read or parsed, or holds no filter set.
    static std::vector<unsigned int> read(const std::string& path);
};

#endif  // LYRANE_TUNING_COEFFICIENTFILERATES_H
