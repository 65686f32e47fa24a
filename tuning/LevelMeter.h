// Short-term level of a run of samples: RMS and peak, in dB relative to full
// scale 1.0 (a full-scale sine has an RMS of -3.01 dBFS and a peak of 0).
#ifndef LYRANE_TUNING_LEVELMETER_H
#define LYRANE_TUNING_LEVELMETER_H

#include <cstddef>

class LevelMeter {
  public:
    // Levels below this, silence included, read as this.
    static constexpr double kFloor_dbfs = -120.0;

    void add(const float* samples, std::size_t count);
    // Levels of the samples added since the last clear(); the floor when
    // none were.
    double rmsDbfs() const;
    double peakDbfs() const;
    void clear();

  private:
    static double dbfs(double amplitude);

    double sumOfSquares = 0.0;
    double peak = 0.0;
    std::size_t count = 0;
};

#endif  // LYRANE_TUNING_LEVELMETER_H
