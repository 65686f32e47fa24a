// A settings profile of the LADSPA chain plug-in, any text, applied to a
// chain as a host's activate applies it, then a run and a cleanup. The
// plug-in's source is built into this program with a configuration directory
// of its own, plugin_settings_fuzzer_etc/ beside the program, to which the
// program copies a coefficient file that the seeds name from there.
#include <ladspa.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "FuzzSupport.h"

extern "C" const LADSPA_Descriptor* ladspa_descriptor(unsigned long index);

namespace {

// Mode 0 selects this profile.
const std::string kSettingsFile = std::string(LYRANE_CONFIG_DIR) + "/ladspa_acoustic.cfg";
constexpr unsigned long kFs = 16000;
constexpr unsigned long kSamples = 64;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceLogging();
    // The directory is a link to scratch storage: rewriting a file on a disk
    // for every input would cost more than the rest of the run.
    std::filesystem::remove_all(LYRANE_CONFIG_DIR);
    std::filesystem::create_directory_symlink(fuzz::scratchDirectory(), LYRANE_CONFIG_DIR);
    std::filesystem::copy_file(LYRANE_FUZZ_COEFFICIENT_FILE,
                               std::string(LYRANE_CONFIG_DIR) + "/equalizer_coefficients.cfg",
                               std::filesystem::copy_options::overwrite_existing);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::vector<float> in = [] {
        std::vector<float> samples(kSamples);
        for (unsigned long i = 0; i < kSamples; ++i)
            samples[i] = 0.5f * std::sin(0.05f * static_cast<float>(i)) * (i < kSamples / 2);
        return samples;
    }();
    fuzz::writeFile(kSettingsFile, data, size);

    const LADSPA_Descriptor* chain = ladspa_descriptor(1);
    LADSPA_Handle instance = chain->instantiate(chain, kFs);
    std::vector<float> out(kSamples);
    float mode = 0.0f;
    chain->connect_port(instance, 0, in.data());
    chain->connect_port(instance, 1, out.data());
    chain->connect_port(instance, 2, &mode);
    chain->activate(instance);
    chain->run(instance, kSamples);
    chain->cleanup(instance);
    return 0;
}
