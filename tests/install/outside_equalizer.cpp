// A user of the installed package that builds an equalizer block on its own:
// its header compiles with what the install holds, and the block filters
// with the sections of the rate it was built for, before and after a reload.
// usage: outside_equalizer SCRATCH_DIR
#include <ZIZO_equalizer.h>

#include <ZIZO_Config>
#include <fstream>
#include <iostream>
#include <string>

namespace {

void printImpulseResponse(ZIZO_equalizer<float>& equalizer) {
    float in = 1.0f, out = 0.0f;
    std::cout << "impulse response:";
    for (int i = 0; i < 4; ++i) {
        equalizer.run(&in, &out);
        std::cout << " " << out;
        in = 0.0f;
    }
    std::cout << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: outside_equalizer SCRATCH_DIR\n";
        return 1;
    }
    const std::string path = std::string(argv[1]) + "/coefficients.cfg";
    // A pole at 0.5 at 16 kHz; a plain gain at 48 kHz.
    std::ofstream(path) << "filter_fs_16000 = { fs = 16000; gain = 2.0; b0 = [ 1.0 ]; b1 = [ 0.0 ];"
                           " b2 = [ 0.0 ]; a1 = [ -0.5 ]; a2 = [ 0.0 ]; };\n"
                           "filter_fs_48000 = { fs = 48000; gain = 0.5; b0 = [ ]; b1 = [ ];"
                           " b2 = [ ]; a1 = [ ]; a2 = [ ]; };\n";

    ZIZO_Config config;
    config.set<std::string>("coeff_file", path);
    config.set<bool>("enabled", true);
    ZIZO_equalizer<float> equalizer("OUTSIDE", 1, 16000, config);
    std::cout << "enabled " << equalizer.isEnabled() << ", sections " << equalizer.getNumBiquads()
              << "\n";
    printImpulseResponse(equalizer);
    ZIZO_equalizer<float> other("OUTSIDE_48K", 1, 48000, config);
    std::cout << "at 48 kHz: sections " << other.getNumBiquads() << "\n";
    printImpulseResponse(other);

    std::ofstream(path) << "fs = 16000; gain = 1.0; b0 = [ 0.5, 0.5 ]; b1 = [ 0.0, 0.0 ];"
                           " b2 = [ 0.0, 0.0 ]; a1 = [ 0.0, 0.0 ]; a2 = [ 0.0, 0.0 ];\n";
    equalizer.reload();
    std::cout << "after reload: enabled " << equalizer.isEnabled() << ", sections "
              << equalizer.getNumBiquads() << "\n";
    printImpulseResponse(equalizer);
    return 0;
}
