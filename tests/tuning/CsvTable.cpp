#include "CsvTable.h"

#include <cstdlib>
#include <fstream>

namespace {

// Splits one line; quoted fields may hold commas and doubled quotes.
std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out(1);
    bool quoted = false;
    for (std::size_t k = 0; k < line.size(); ++k) {
        const char c = line[k];
        if (quoted && c == '"' && k + 1 < line.size() && line[k + 1] == '"') {
            out.back() += '"';
            ++k;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return out;
}

}  // namespace

CsvTable CsvTable::read(const std::string& path) {
    CsvTable table;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 2, "# ") == 0) {
            const std::size_t colon = line.find(": ");
            table.metadata[line.substr(2, colon - 2)] =
                colon == std::string::npos ? "" : line.substr(colon + 2);
        } else if (table.header.empty()) {
            table.header = fields(line);
        } else {
            table.rows.push_back(fields(line));
        }
    }
    return table;
}

std::size_t CsvTable::column(const std::string& name) const {
    for (std::size_t k = 0; k < header.size(); ++k) {
        if (header[k] == name)
            return k;
    }
    return header.size();
}

std::string CsvTable::text(std::size_t row, const std::string& name) const {
    const std::size_t k = column(name);
    return row < rows.size() && k < rows[row].size() ? rows[row][k] : "";
}

double CsvTable::number(std::size_t row, const std::string& name) const {
    return std::strtod(text(row, name).c_str(), nullptr);
}
