#include "LevelMeter.h"

#include <cmath>

void LevelMeter::add(const float* samples, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const double x = samples[i];
        sumOfSquares += x * x;
        // Written so that a NaN sample makes the peak NaN rather than vanish.
        if (!(std::fabs(x) <= peak)) {
            peak = std::fabs(x);
        }
    }
    count += n;
}

double LevelMeter::rmsDbfs() const {
    return count == 0 ? kFloor_dbfs : dbfs(std::sqrt(sumOfSquares / static_cast<double>(count)));
}

double LevelMeter::peakDbfs() const {
    return dbfs(peak);
}

void LevelMeter::clear() {
    sumOfSquares = 0.0;
    peak = 0.0;
    count = 0;
}

double LevelMeter::dbfs(double amplitude) {
    const double level = 20.0 * std::log10(amplitude);
    return level < kFloor_dbfs ? kFloor_dbfs : level;  // NaN stays NaN
}
