#include "ZIZO_ConfigImport.h"

#include "ZIZO_ConfigImport_Libconfig.h"

ZIZO_ConfigImport::~ZIZO_ConfigImport() = default;

std::unique_ptr<ZIZO_ConfigImport> ZIZO_ConfigImport::make_zizo_configimport(CONFIG_TYPE type) {
    switch (type) {
        case LIBCONFIG:
            return std::make_unique<ZIZO_ConfigImport_Libconfig>();
    }
    return nullptr;
}
