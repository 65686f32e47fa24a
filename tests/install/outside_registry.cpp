// A C++ user of the installed package, as the core library is: a chain made
// through the C interface is found by name in the process-wide registry, and
// its buffered input is pulled from there.
// usage: outside_registry SCRATCH_DIR (the directory is not used)
#include <ExternalModuleRegistry.h>
#include <PlaybackProcessing.h>
#include <playbackprocessing_cwrapper.h>

#include <iostream>
#include <memory>
#include <vector>

int main(int argc, char**) {
    if (argc != 2) {
        std::cerr << "usage: outside_registry SCRATCH_DIR\n";
        return 1;
    }
    const unsigned int Nblock = 160;
    PlaybackProcessingData* handle = PlaybackProcessing_Init("OUTSIDE_CHAIN", Nblock, 16000);
    if (!handle)
        return 1;

    std::shared_ptr<PlaybackProcessing> chain =
        ExternalModuleRegistry::getInstance()->getPlaybackProcessing("OUTSIDE_CHAIN");
    std::cout << "found: " << (chain ? chain->getName() : std::string("nothing")) << ", Nblock "
              << (chain ? chain->getNblock() : 0) << ", fs " << (chain ? chain->getFs() : 0)
              << "\n";
    if (!chain)
        return 1;
    std::cout << "other name found: "
              << (ExternalModuleRegistry::getInstance()->getPlaybackProcessing("outside_chain")
                      ? "yes"
                      : "no")
              << "\n";

    // Five blocks of 1, 2, 3, ...: more than 682 samples are then buffered.
    std::vector<float> in(Nblock), out(Nblock);
    for (unsigned int block = 0; block < 5; ++block) {
        for (unsigned int i = 0; i < Nblock; ++i)
            in[i] = float(block * Nblock + i + 1);
        PlaybackProcessing_Process(handle, in.data(), out.data());
    }
    std::cout << "pulled:";
    for (int i = 0; i < 3; ++i)
        std::cout << " " << chain->getNextInputSample();
    std::cout << "\n";

    PlaybackProcessing_Uninit(handle);
    std::cout << "after uninit registered: "
              << (ExternalModuleRegistry::getInstance()->getPlaybackProcessing("OUTSIDE_CHAIN")
                      ? "yes"
                      : "no")
              << "; still held: " << chain->getName() << ", pulls " << chain->getNextInputSample()
              << "\n";
    return 0;
}
