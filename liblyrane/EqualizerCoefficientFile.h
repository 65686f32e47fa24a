// The steps of loading an equalizer coefficient file (its format:
// ZIZO_equalizer.h): reading the file and the filter set for one sample
// rate, checking that set, and building section rows from it. Internal to
// the library; not installed.
//
// A step that fails hands back the text of the one ERROR record that names
// the cause, and leaves the logging to its caller, so that every record of a
// load carries the location of ZIZO_equalizer::loadFilterCoefficients.
#ifndef LYRANE_EQUALIZERCOEFFICIENTFILE_H
#define LYRANE_EQUALIZERCOEFFICIENTFILE_H

#include <ZIZO_Config>
#include <string>
#include <vector>

namespace lyrane {

// One filter set as read: the gain and one column per coefficient, with one
// element per section.
template <typename T>
struct EqualizerFilterSet {
    T gain = T(1);
    std::vector<T> b0, b1, b2, a1, a2;
};

// Reading.

// Imports the file at path into store. False on failure, with error the
// record's text, or empty when the importer has logged the cause itself.
bool importCoefficientFile(const std::string& path, ZIZO_Config& store, std::string& error);

// 1 when the top level holds an int "fs" and a T array "b0", otherwise 2.
template <typename T>
int coefficientFileVersion(const ZIZO_Config& store);

// Narrows store to the fields of the filter set for fs: a version 1 file's
// top level as it is, a version 2 file's group "filter_fs_" + fs with that
// prefix removed. False, with error, when a version 2 file has no such group.
bool selectFilterSet(ZIZO_Config& store, int version, unsigned int fs, const std::string& path,
                     std::string& error);

// The checked fields of one set: "gain" when it is a T (else 1), and the
// five columns when they are T arrays (empty when they are empty arrays).
template <typename T>
EqualizerFilterSet<T> readFilterSet(const ZIZO_Config& fields);

// Checking.

// True when fields hold an int "fs" equal to fs and all five columns, either
// all as T arrays or all as empty arrays. Otherwise false, with error naming
// the first failing check in this order: "fs" present, the columns (the
// first missing T array in the key order a1, a2, b0, b1, b2), "fs" matching.
template <typename T>
bool checkFilterSetFields(const ZIZO_Config& fields, unsigned int fs, const std::string& path,
                          std::string& error);

// True when the gain and every coefficient are finite. Otherwise false, with
// error naming the gain, or the first coefficient that is not finite in the
// column order b0, b1, b2, a1, a2 and then by index.
template <typename T>
bool checkFilterSetValues(const EqualizerFilterSet<T>& set, const std::string& path,
                          std::string& error);

// Building.

// Appends one row b0, b1, b2, a1, a2 per section to rows. False, appending
// nothing, when the five columns differ in length.
template <typename T>
bool buildSectionRows(const EqualizerFilterSet<T>& set, std::vector<std::vector<T>>& rows);

}  // namespace lyrane

#endif
