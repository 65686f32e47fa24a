// A user of the installed package: imports a configuration file, reads
// typed values, overwrites some from text and prints the store.
// usage: outside_config SCRATCH_DIR
#include <ZIZO_ConfigImport.h>

#include <ZIZO_Config>
#include <boost/lexical_cast.hpp>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: outside_config SCRATCH_DIR\n";
        return 1;
    }
    const std::string path = std::string(argv[1]) + "/outside.cfg";
    std::ofstream(path) << "AGC = { enabled = true; target_level_db = -20.0; max_gain_db = 12; };\n"
                           "EQUALIZER = { coeff_file = \"speech eq.cfg\"; b0 = [ 1.0, 0.5, 0.1 ];"
                           " a1 = [ ]; };\n";

    auto importer = ZIZO_ConfigImport::make_zizo_configimport(ZIZO_ConfigImport::LIBCONFIG);
    if (!importer || importer->import(path) != 0) {
        std::cerr << "outside_config: import of " << path << " failed\n";
        return 1;
    }
    ZIZO_Config config = importer->getConfig();
    // Set here rather than read from the file: where long has 32 bits,
    // libconfig refuses to convert a file's 64-bit integer.
    config.set<long>("big", 2000000000L);

    const ZIZO_Config agc = config.getGroup("AGC.");
    std::cout << "enabled " << agc.get<bool>("enabled") << "\n";
    std::cout << "target_level_db " << agc.get<float>("target_level_db") << "\n";
    std::cout << "max_gain_db " << agc.get<int>("max_gain_db") << "\n";
    std::cout << "max_gain_db is a float: " << agc.exist<float>("max_gain_db") << "\n";
    std::cout << "coeff_file " << config.get<std::string>("EQUALIZER.coeff_file") << "\n";
    std::cout << "b0 has " << config.get<std::vector<float>>("EQUALIZER.b0").size()
              << " elements\n";
    std::cout << "big " << config.get<long>("big") << "\n";

    std::cout << "overwrite target_level_db: " << config.overwrite("AGC.target_level_db", "-18")
              << " -> " << config.getAsString("AGC.target_level_db") << "\n";
    std::cout << "overwrite max_gain_db: " << config.overwrite("AGC.max_gain_db", "+15") << " -> "
              << config.getAsString("AGC.max_gain_db") << "\n";
    std::cout << "overwrite absent: " << config.overwrite("AGC.absent", "1") << "\n";
    try {
        config.overwrite("AGC.enabled", "true");
        std::cout << "overwrite enabled with true: accepted\n";
    } catch (const boost::bad_lexical_cast&) {
        std::cout << "overwrite enabled with true: refused, still "
                  << config.getAsString("AGC.enabled") << "\n";
    }
    config.printContent();
    return 0;
}
