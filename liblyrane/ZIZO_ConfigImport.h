// Importer of configuration files into a ZIZO_Config.
//
// Contract:
// - One importer accumulates: import() may be called once per file, later
//   files replacing the values of equal keys (whatever type they had); keys
//   are never removed.
// - import() returns 0 when the file was read and its settings were added,
//   -1 when the file could not be read or parsed (one ERROR record, nothing
//   added, the importer stays usable).
// - getConfig() returns a copy of the accumulated store.
// - No lock: one thread at a time per importer; separate importers are
//   independent.
#ifndef ZIZO_CONFIGIMPORT_H
#define ZIZO_CONFIGIMPORT_H

#include <ZIZO_Config>
#include <memory>
#include <string>

class ZIZO_ConfigImport {
  public:
    // Kind of file an importer reads.
    enum CONFIG_TYPE { LIBCONFIG = 0 };

    virtual ~ZIZO_ConfigImport();
    virtual ZIZO_Config getConfig() const = 0;
    virtual int import(const std::string& filename) = 0;

    // A new importer for files of the given kind; an empty pointer for a
    // value that names no kind.
    static std::unique_ptr<ZIZO_ConfigImport> make_zizo_configimport(CONFIG_TYPE type);
};

#endif  // ZIZO_CONFIGIMPORT_H
