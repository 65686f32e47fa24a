// Writes one CSV file: "# key: value" lines first (what the picture's title
// names), then a header line and the rows. Fields holding a comma, a quote or
// a line break are quoted.
//
// Contract: the constructor throws TuningError if the file cannot be
// created, close() if anything could not be written.
#ifndef LYRANE_TUNING_CSVWRITER_H
#define LYRANE_TUNING_CSVWRITER_H

#include <fstream>
#include <string>
#include <vector>

class CsvWriter {
  public:
    explicit CsvWriter(const std::string& path);

    void metadata(const std::string& key, const std::string& value);
    void header(const std::vector<std::string>& names);
    void row(const std::vector<std::string>& fields);
    void close();

    const std::string& getPath() const { return path; }

    // Nine significant digits: reads back as the same float.
    static std::string number(float value);
    // Ten significant digits, far below what a picture or a tuner resolves.
    static std::string number(double value);
    // value with the given number of decimals.
    static std::string fixed(double value, int decimals);

  private:
    static std::string quoted(const std::string& field);

    std::string path;
    std::ofstream out;
};

#endif  // LYRANE_TUNING_CSVWRITER_H
