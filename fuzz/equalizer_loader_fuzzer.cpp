// The equalizer's coefficient loader on any file text, then a few blocks
// filtered with what it built, and one more after switching it on whatever
// the load left.
#include <ZIZO_equalizer.h>

#include <ZIZO_Config>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"

namespace {

// The seeds hold sets for this rate.
constexpr unsigned int kFs = 16000;
constexpr unsigned int kNblock = 32;
constexpr int kBlocks = 4;

// A tone with full-scale peaks, so unstable or huge sections show at once.
std::array<float, kNblock> testBlock() {
    std::array<float, kNblock> block{};
    for (unsigned int i = 0; i < kNblock; ++i)
        block[i] = std::sin(0.7f * static_cast<float>(i)) * (i % 8 == 0 ? 1.0f : 0.25f);
    return block;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = fuzz::scratchDirectory() + "/coefficients.cfg";
    static const std::array<float, kNblock> in = testBlock();
    fuzz::writeFile(path, data, size);

    ZIZO_Config config;
    config.set<std::string>("coeff_file", path);
    config.set<bool>("enabled", true);
    ZIZO_equalizer<float> equalizer("FUZZ", kNblock, kFs, config);
    std::array<float, kNblock> out{};
    for (int block = 0; block < kBlocks; ++block)
        equalizer.run(in.data(), out.data());
    // Whatever the load left (sections or none, any gain), switched on.
    equalizer.setEnabled(true);
    equalizer.run(in.data(), out.data());
    return 0;
}
