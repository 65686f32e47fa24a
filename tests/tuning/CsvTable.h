// A CSV file as LyraneTuning writes it: "# key: value" lines, a header, rows.
#ifndef LYRANE_TEST_TUNING_CSVTABLE_H
#define LYRANE_TEST_TUNING_CSVTABLE_H

#include <map>
#include <string>
#include <vector>

struct CsvTable {
    std::map<std::string, std::string> metadata;
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;

    // An empty table (no header) when the file cannot be read.
    static CsvTable read(const std::string& path);
    // Index of a header name; the header size when absent.
    std::size_t column(const std::string& name) const;
    std::string text(std::size_t row, const std::string& name) const;
    double number(std::size_t row, const std::string& name) const;
};

#endif
