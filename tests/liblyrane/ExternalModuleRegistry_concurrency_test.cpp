// Chains created and released through the C interface while another thread
// looks them up, holds them and pulls from them: on the device, the sound
// server's activate and cleanup against the core library's lookup, threads
// that cannot coordinate. Also built with ThreadSanitizer by the test script.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ExternalModuleRegistry.h"
#include "PlaybackProcessing.h"
#include "playbackprocessing_cwrapper.h"

TEST(ExternalModuleRegistryConcurrency, InitAndUninitRaceLookupsThatHoldAndPull) {
    // Two names, so the map also changes shape under the lookups.
    const std::vector<std::string> names = {"RACE_A", "RACE_B"};
    const unsigned int Nblock = 16;
    const int rounds = 400;
    ExternalModuleRegistry* const registry = ExternalModuleRegistry::getInstance();
    std::atomic<bool> creating{true};
    std::atomic<std::size_t> found{0};

    std::thread consumer([&] {
        for (std::size_t k = 0; creating.load(); ++k) {
            const std::string& name = names[k % names.size()];
            std::shared_ptr<PlaybackProcessing> chain = registry->getPlaybackProcessing(name);
            if (!chain) {
                std::this_thread::yield();
                continue;
            }
            // Held past its Uninit, perhaps: it must stay whole meanwhile.
            for (int i = 0; i < 4; ++i)
                chain->getNextInputSample();
            EXPECT_EQ(chain->getName(), name);
            found.fetch_add(1);
        }
    });

    std::vector<float> in(Nblock, 0.25f), out(Nblock);
    for (int round = 0; round < rounds; ++round) {
        PlaybackProcessingData* handles[2];
        for (std::size_t h = 0; h < names.size(); ++h) {
            handles[h] = PlaybackProcessing_Init(names[h].c_str(), Nblock, 16000);
            ASSERT_NE(handles[h], nullptr);
        }
        // The first round waits for one lookup, so the two threads
        // certainly meet however they are scheduled.
        while (round == 0 && found.load() == 0)
            std::this_thread::yield();
        for (PlaybackProcessingData* handle : handles) {
            EXPECT_EQ(PlaybackProcessing_Process(handle, in.data(), out.data()), 0);
            PlaybackProcessing_Uninit(handle);
        }
    }
    creating.store(false);
    consumer.join();

    EXPECT_GT(found.load(), 0u);
    for (const std::string& name : names)
        EXPECT_EQ(registry->getPlaybackProcessing(name), nullptr) << name;
}
