// "LyraneTuning trace": a recording run through the chain's blocks with a
// settings profile, as CSV files for the picture and a summary on the
// terminal.
//
// Writes PREFIX.trace.csv (one row per interval: start time, levels of the
// recording, of the AGC's input and of the output, the AGC's gain, applied
// gain and maximum gain, the detector's decision) and PREFIX.reductions.csv
// (one row per reduction of the maximum gain).
#ifndef LYRANE_TUNING_TRACECOMMAND_H
#define LYRANE_TUNING_TRACECOMMAND_H

#include <ostream>
#include <string>
#include <vector>

#include "ChainTrace.h"
#include "LogRecordCollector.h"
#include "MonoRecording.h"
#include "ProfileSettings.h"

class TraceCommand {
  public:
    static const char* const kUsage;

    // Throws TuningError on a bad command line.
    explicit TraceCommand(const std::vector<std::string>& arguments);

    // Throws TuningError naming the file on bad input; nothing is written
    // then.
    void run(LogRecordCollector& log, std::ostream& out) const;

  private:
    void writeRows(const ChainTrace& trace, const MonoRecording& recording,
                   const ProfileSettings& profile) const;
    void writeReductions(const ChainTrace& trace, const MonoRecording& recording) const;
    void printSummary(const ChainTrace& trace, const MonoRecording& recording,
                      unsigned int rowSamples, std::ostream& out) const;

    std::string recordingFile;
    std::string profileFile;
    std::string outputPrefix;
    unsigned int blockSamples = 1;
    unsigned int intervalSamples = 0;  // 0: 10 ms
    unsigned int channel = 1;
};

#endif  // LYRANE_TUNING_TRACECOMMAND_H
