#include "TraceCommand.h"

#include <algorithm>
#include <iomanip>

#include "CommandLine.h"
#include "CsvWriter.h"
#include "TuningError.h"

namespace {

// Rows of 10 ms unless asked otherwise: short against a syllable, long
// against a period of the lowest voice.
const unsigned int kRowsPerSecond = 100;
const unsigned int kLargestBlock = 65536;
const unsigned int kLargestInterval = 1u << 30;
const unsigned int kLargestChannel = 1024;

std::string seconds(uint64_t sample, unsigned int fs) {
    return CsvWriter::fixed(static_cast<double>(sample) / fs, 6);
}

}  // namespace

const char* const TraceCommand::kUsage =
    "usage: LyraneTuning trace [--block SAMPLES] [--interval SAMPLES] [--channel N] "
    "[--output PREFIX] RECORDING PROFILE";

TraceCommand::TraceCommand(const std::vector<std::string>& arguments) {
    CommandLine line(arguments);
    std::string name, value;
    while (line.nextOption(name, value)) {
        if (name == "--block") {
            blockSamples = CommandLine::count(name, value, 1, kLargestBlock);
        } else if (name == "--interval") {
            intervalSamples = CommandLine::count(name, value, 1, kLargestInterval);
        } else if (name == "--channel") {
            channel = CommandLine::count(name, value, 1, kLargestChannel);
        } else if (name == "--output") {
            outputPrefix = value;
        } else {
            throw TuningError("unknown option " + name + "\n" + kUsage);
        }
    }
    const std::vector<std::string> files = line.positionals(2, kUsage);
    recordingFile = files[0];
    profileFile = files[1];
    if (outputPrefix.empty()) {
        outputPrefix = CommandLine::defaultPrefix(recordingFile);
    }
}

void TraceCommand::run(LogRecordCollector& log, std::ostream& out) const {
    const ProfileSettings profile = ProfileSettings::read(profileFile);
    const MonoRecording recording = MonoRecording::read(recordingFile, channel);
    if (recording.samples.size() < blockSamples) {
        throw TuningError("WAV file " + recordingFile + " is shorter than one block of " +
                          std::to_string(blockSamples) + " samples");
    }
    const unsigned int interval =
        intervalSamples != 0 ? intervalSamples : std::max(1u, recording.fs / kRowsPerSecond);
    const unsigned int rowBlocks = (interval + blockSamples - 1) / blockSamples;

    ChainTrace trace(blockSamples, recording.fs, profile, profileFile, log);
    trace.run(recording.samples, rowBlocks);
    writeRows(trace, recording, profile);
    writeReductions(trace, recording);
    printSummary(trace, recording, rowBlocks * blockSamples, out);
}

void TraceCommand::writeRows(const ChainTrace& trace, const MonoRecording& recording,
                             const ProfileSettings& profile) const {
    CsvWriter csv(outputPrefix + ".trace.csv");
    csv.metadata("recording", recordingFile);
    csv.metadata("fs_hz", std::to_string(recording.fs));
    csv.metadata("channel", std::to_string(channel) + " of " + std::to_string(recording.channels));
    csv.metadata("profile", profileFile);
    csv.metadata("block_samples", std::to_string(trace.getNblock()));
    csv.metadata("output_gain_db",
                 profile.volumeDb ? CsvWriter::number(*profile.volumeDb) : std::string("muted"));
    csv.metadata("start_max_gain_db", CsvWriter::number(trace.getStartMaxGainDb()));
    csv.header({"time_s", "first_sample", "samples", "input_rms_dbfs", "input_peak_dbfs",
                "agc_input_rms_dbfs", "agc_input_peak_dbfs", "output_rms_dbfs", "output_peak_dbfs",
                "agc_gain_db", "applied_gain_db", "max_gain_db", "speech"});
    for (const ChainTrace::Row& row : trace.getRows()) {
        csv.row({seconds(row.firstSample, recording.fs), std::to_string(row.firstSample),
                 std::to_string(row.samples), CsvWriter::number(row.input.rmsDbfs),
                 CsvWriter::number(row.input.peakDbfs), CsvWriter::number(row.agcInput.rmsDbfs),
                 CsvWriter::number(row.agcInput.peakDbfs), CsvWriter::number(row.output.rmsDbfs),
                 CsvWriter::number(row.output.peakDbfs), CsvWriter::number(row.agcGainDb),
                 CsvWriter::number(row.appliedGainDb), CsvWriter::number(row.maxGainDb),
                 row.speech ? "1" : "0"});
    }
    csv.close();
}

void TraceCommand::writeReductions(const ChainTrace& trace, const MonoRecording& recording) const {
    CsvWriter csv(outputPrefix + ".reductions.csv");
    csv.metadata("recording", recordingFile);
    csv.metadata("profile", profileFile);
    csv.header({"time_s", "sample", "from_db", "to_db"});
    for (const ChainTrace::Reduction& reduction : trace.getReductions()) {
        csv.row({seconds(reduction.sample, recording.fs), std::to_string(reduction.sample),
                 CsvWriter::number(reduction.fromDb), CsvWriter::number(reduction.toDb)});
    }
    csv.close();
}

void TraceCommand::printSummary(const ChainTrace& trace, const MonoRecording& recording,
                                unsigned int rowSamples, std::ostream& out) const {
    const std::vector<ChainTrace::Row>& rows = trace.getRows();
    std::size_t speechRows = 0;
    float lowest = 0.0f, highest = 0.0f;
    for (const ChainTrace::Row& row : rows) {
        if (row.speech) {
            lowest = speechRows == 0 ? row.agcGainDb : std::min(lowest, row.agcGainDb);
            highest = speechRows == 0 ? row.agcGainDb : std::max(highest, row.agcGainDb);
            ++speechRows;
        }
    }
    out << std::fixed << std::setprecision(2);
    out << "trace of " << recordingFile << " (channel " << channel << " of " << recording.channels
        << ", " << recording.fs << " Hz, "
        << static_cast<double>(recording.samples.size()) / recording.fs << " s) with profile "
        << profileFile << ", blocks of " << trace.getNblock() << " sample(s), rows of "
        << rowSamples << " samples\n";
    out << "  speech in " << 100.0 * static_cast<double>(speechRows) / rows.size()
        << " % of the rows\n";
    if (speechRows > 0) {
        out << "  AGC gain during speech: from " << lowest << " to " << highest << " dB\n";
    }
    out << "  maximum gain at the start: " << trace.getStartMaxGainDb() << " dB\n";
    for (const ChainTrace::Reduction& reduction : trace.getReductions()) {
        out << "  maximum gain reduced from " << reduction.fromDb << " to " << reduction.toDb
            << " dB at " << std::setprecision(4)
            << static_cast<double>(reduction.sample) / recording.fs << " s (sample "
            << reduction.sample << ")\n"
            << std::setprecision(2);
    }
    if (trace.getReductions().empty()) {
        out << "  the maximum gain was not reduced\n";
    }
    if (trace.isMuted()) {
        out << "  the output is muted: the profile sets no volume_db\n";
    }
    const std::size_t leftOver = recording.samples.size() % trace.getNblock();
    if (leftOver != 0) {
        out << "  the last " << leftOver << " sample(s) do not fill a block and were not run\n";
    }
    out.unsetf(std::ios::floatfield);
    out << std::setprecision(6) << "wrote " << outputPrefix << ".trace.csv and " << outputPrefix
        << ".reductions.csv\n";
}
