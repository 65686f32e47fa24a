#include "ResponseCommand.h"

#include <cmath>
#include <iomanip>
#include <limits>

#include "BiquadResponse.h"
#include "CoefficientFileRates.h"
#include "CommandLine.h"
#include "CsvWriter.h"
#include "TuningError.h"

namespace {

// Below this a magnitude is written as this: an exact zero of a notch would
// give -inf, which no axis can show.
const double kMagnitudeFloor_db = -200.0;

// The grid starts at 20 Hz and ends at fs / 2, so the rate must exceed 40 Hz.
const unsigned int kLowestRate_hz = 41;

std::string joined(const std::vector<unsigned int>& rates) {
    std::string text;
    for (unsigned int rate : rates) {
        text += (text.empty() ? "" : " ") + std::to_string(rate);
    }
    return text;
}

// The magnitude axis: 48 dB, its top the next multiple of 6 dB at least 3 dB
// above the highest curve, so the passband fills the picture and the deep
// stopband of a low-pass does not squeeze it.
const double kAxisStep_db = 6.0;
const double kAxisHeadroom_db = 3.0;
const double kAxisSpan_db = 48.0;

std::string magnitudeAxis(double highest_db) {
    const double top = kAxisStep_db * std::ceil((highest_db + kAxisHeadroom_db) / kAxisStep_db);
    return CsvWriter::number(top - kAxisSpan_db) + " " + CsvWriter::number(top);
}

std::string decibels(double factor) {
    return CsvWriter::number(20.0 * std::log10(std::fabs(factor)));
}

}  // namespace

const char* const ResponseCommand::kUsage =
    "usage: LyraneTuning response [--rate HZ]... [--output PREFIX] COEFFICIENT_FILE";

ResponseCommand::ResponseCommand(const std::vector<std::string>& arguments) {
    CommandLine line(arguments);
    std::string name, value;
    while (line.nextOption(name, value)) {
        if (name == "--rate") {
            requestedRates.push_back(CommandLine::count(name, value, kLowestRate_hz,
                                                        std::numeric_limits<unsigned int>::max()));
        } else if (name == "--output") {
            outputPrefix = value;
        } else {
            throw TuningError("unknown option " + name + "\n" + kUsage);
        }
    }
    coefficientFile = line.positionals(1, kUsage)[0];
    if (outputPrefix.empty()) {
        outputPrefix = CommandLine::defaultPrefix(coefficientFile);
    }
}

void ResponseCommand::run(LogRecordCollector& log, std::ostream& out) const {
    // Read first, so that an unreadable or unparsable file is named as such
    // even when the rates are given.
    const std::vector<unsigned int> fileRates = CoefficientFileRates::read(coefficientFile);
    const std::vector<unsigned int>& rates = requestedRates.empty() ? fileRates : requestedRates;
    std::vector<Rate> results;
    for (unsigned int fs : rates) {
        if (fs < kLowestRate_hz) {
            throw TuningError("coefficient file " + coefficientFile + ": the rate " +
                              std::to_string(fs) + " Hz leaves nothing above 20 Hz to show");
        }
        EqualizerResponse equalizer(coefficientFile, fs, log);
        ResponseCurves curves(equalizer);
        results.push_back({std::move(equalizer), std::move(curves)});
    }
    writeCurves(results);
    writeSections(results);
    for (const Rate& rate : results) {
        printTable(rate, out);
    }
    out << "wrote " << outputPrefix << ".response.csv and " << outputPrefix << ".sections.csv\n";
}

void ResponseCommand::writeCurves(const std::vector<Rate>& rates) const {
    std::vector<unsigned int> list;
    double highest_db = kMagnitudeFloor_db;
    for (const Rate& rate : rates) {
        list.push_back(rate.equalizer.getFs());
        for (const ResponseCurves::Curve& curve : rate.curves.getCurves()) {
            for (double magnitude : curve.magnitudeDb) {
                highest_db = std::fmax(highest_db, magnitude);  // NaN is passed over
            }
        }
    }
    CsvWriter csv(outputPrefix + ".response.csv");
    csv.metadata("coefficient_file", coefficientFile);
    csv.metadata("rates_hz", joined(list));
    csv.metadata("magnitude_axis_db", magnitudeAxis(highest_db));
    csv.header({"fs_hz", "curve", "frequency_hz", "magnitude_db", "phase_deg"});
    for (const Rate& rate : rates) {
        const std::string fs = std::to_string(rate.equalizer.getFs());
        const std::vector<double>& frequencies = rate.curves.getFrequencies();
        for (const ResponseCurves::Curve& curve : rate.curves.getCurves()) {
            for (std::size_t k = 0; k < frequencies.size(); ++k) {
                const double magnitude = std::fmax(curve.magnitudeDb[k], kMagnitudeFloor_db);
                csv.row({fs, curve.name, CsvWriter::number(frequencies[k]),
                         CsvWriter::number(magnitude), CsvWriter::number(curve.phaseDeg[k])});
            }
        }
    }
    csv.close();
}

void ResponseCommand::writeSections(const std::vector<Rate>& rates) const {
    CsvWriter csv(outputPrefix + ".sections.csv");
    csv.metadata("coefficient_file", coefficientFile);
    csv.header({"fs_hz", "curve", "status", "pole_radius", "peak_gain_db", "peak_frequency_hz",
                "broadband_gain_db", "b0", "b1", "b2", "a1", "a2", "reason"});
    for (const Rate& rate : rates) {
        const std::string fs = std::to_string(rate.equalizer.getFs());
        const ResponseCurves::Peak& peak = rate.curves.getPeak();
        csv.row({fs, "cascade", "", "", CsvWriter::number(peak.gainDb),
                 CsvWriter::number(peak.frequencyHz), decibels(rate.equalizer.getGain()), "", "",
                 "", "", "", ""});
        const auto& sections = rate.equalizer.getSections();
        for (std::size_t i = 0; i < sections.size(); ++i) {
            const EqualizerResponse::Section& s = sections[i];
            std::vector<std::string> row = {fs,
                                            "section " + std::to_string(i),
                                            s.refused ? "refused" : "used",
                                            CsvWriter::number(s.poleRadius),
                                            "",
                                            "",
                                            ""};
            for (double c : s.file) {
                row.push_back(CsvWriter::number(c));
            }
            row.push_back(s.reason);
            csv.row(row);
        }
    }
    csv.close();
}

void ResponseCommand::printTable(const Rate& rate, std::ostream& out) const {
    const auto& sections = rate.equalizer.getSections();
    const double gain = rate.equalizer.getGain();
    out << coefficientFile << " at " << rate.equalizer.getFs() << " Hz: " << sections.size()
        << " section(s), broadband gain " << std::showpos << std::fixed << std::setprecision(2)
        << 20.0 * std::log10(std::fabs(gain)) << std::noshowpos << " dB\n";
    out << "  section  pole radius  status\n";
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const EqualizerResponse::Section& s = sections[i];
        out << "  " << std::left << std::setw(7) << i << "  " << std::setw(11)
            << std::setprecision(4) << s.poleRadius << "  " << std::right
            << (s.refused ? "refused, unity instead: " + s.reason : "used") << "\n";
    }
    const ResponseCurves::Peak& peak = rate.curves.getPeak();
    out << "  peak gain of the cascade: " << std::showpos << std::setprecision(2) << peak.gainDb
        << std::noshowpos << " dB at " << std::setprecision(1) << peak.frequencyHz << " Hz\n";
    out.unsetf(std::ios::floatfield);
    out << std::setprecision(6);
}
