// Importer of files in the libconfig syntax.
//
// Every scalar and every array of a file becomes one entry of the
// accumulated store, keyed by the setting's path ("AGC.target_level_db"):
//   integer -> int, 64-bit integer ("5L") -> long,
//   floating point -> float (narrowed from the file's double),
//   string -> std::string, boolean -> bool,
//   array -> std::vector of the type of its first element,
//   empty array -> ZIZO_Config::EmptyVector.
// Groups and lists store nothing themselves; their members are visited in
// the order of the file.
//
// Failures: a file that cannot be read or parsed gives one ERROR record on
// "ZIZO.ConfigImport_LIBCONFIG" and -1. Only reading and parsing is guarded:
// an exception libconfig raises while a value is converted leaves import()
// and reaches the caller, the entries stored before it staying in the store.
// An array whose first element has no scalar type is logged and skipped.
#ifndef ZIZO_CONFIGIMPORT_LIBCONFIG_H
#define ZIZO_CONFIGIMPORT_LIBCONFIG_H

#include <log4cxx/logger.h>

#include <libconfig.h++>

#include "ZIZO_ConfigImport.h"

class ZIZO_ConfigImport_Libconfig : public ZIZO_ConfigImport {
  public:
    ZIZO_ConfigImport_Libconfig() = default;
    ~ZIZO_ConfigImport_Libconfig() override = default;

    ZIZO_Config getConfig() const override;
    int import(const std::string& filename) override;

    // Recursive walk: scalars and arrays are stored, groups and lists visited.
    void traverse(const libconfig::Setting& setting);
    // Stores one scalar setting under its path; other settings are ignored.
    void addScalar(const libconfig::Setting& setting);
    // Stores one array setting under its path; other settings are ignored.
    void addArray(const libconfig::Setting& setting);

    static log4cxx::LoggerPtr AC_ConfigImport_Libconfig_logger;

  private:
    ZIZO_Config config;
};

#endif  // ZIZO_CONFIGIMPORT_LIBCONFIG_H
