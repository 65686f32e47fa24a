// "LyraneTuning response": the equalizer response of a coefficient file at
// each of its sample rates (or the rates asked for), as CSV files for the
// picture and as a table on the terminal.
//
// Writes PREFIX.response.csv (fs_hz, curve, frequency_hz, magnitude_db,
// phase_deg; curve "cascade" or "section <i>") and PREFIX.sections.csv (one
// "cascade" row per rate with its peak and broadband gain, then one row per
// section with its status, pole radius, the file's coefficients and, when
// refused, the library's reason).
#ifndef LYRANE_TUNING_RESPONSECOMMAND_H
#define LYRANE_TUNING_RESPONSECOMMAND_H

#include <ostream>
#include <string>
#include <vector>

#include "EqualizerResponse.h"
#include "LogRecordCollector.h"
#include "ResponseCurves.h"

class ResponseCommand {
  public:
    static const char* const kUsage;

    // Throws TuningError on a bad command line.
    explicit ResponseCommand(const std::vector<std::string>& arguments);

    // Throws TuningError naming the file on bad input; nothing is written
    // then.
    void run(LogRecordCollector& log, std::ostream& out) const;

  private:
    struct Rate {
        EqualizerResponse equalizer;
        ResponseCurves curves;
    };

    void writeCurves(const std::vector<Rate>& rates) const;
    void writeSections(const std::vector<Rate>& rates) const;
    void printTable(const Rate& rate, std::ostream& out) const;

    std::string coefficientFile;
    std::string outputPrefix;
    std::vector<unsigned int> requestedRates;
};

#endif  // LYRANE_TUNING_RESPONSECOMMAND_H
