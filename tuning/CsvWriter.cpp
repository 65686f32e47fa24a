#include "CsvWriter.h"

#include <cstdio>

#include "TuningError.h"

CsvWriter::CsvWriter(const std::string& path) : path(path), out(path) {
    if (!out) {
        throw TuningError("cannot create " + path);
    }
}

void CsvWriter::metadata(const std::string& key, const std::string& value) {
    out << "# " << key << ": " << value << '\n';
}

void CsvWriter::header(const std::vector<std::string>& names) {
    row(names);
}

void CsvWriter::row(const std::vector<std::string>& fields) {
    for (std::size_t k = 0; k < fields.size(); ++k) {
        out << (k == 0 ? "" : ",") << quoted(fields[k]);
    }
    out << '\n';
}

void CsvWriter::close() {
    out.close();
    if (!out) {
        throw TuningError("cannot write " + path);
    }
}

std::string CsvWriter::number(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

std::string CsvWriter::number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string CsvWriter::fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string CsvWriter::quoted(const std::string& field) {
    if (field.find_first_of(",\"\n\r") == std::string::npos) {
        return field;
    }
    std::string text = "\"";
    for (char c : field) {
        text += c;
        if (c == '"') {
            text += '"';
        }
    }
    return text + "\"";
}
