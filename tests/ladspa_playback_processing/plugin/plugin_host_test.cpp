// The plug-in's descriptors and callbacks driven directly, including the odd
// call orders real hosts use. Nothing here depends on the settings files'
// content.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "ExternalModuleRegistry.h"
#include "PlaybackProcessing.h"
#include "PluginHost.h"

namespace {

struct PortExpectation {
    const char* name;
    LADSPA_PortDescriptor kind;
    LADSPA_PortRangeHintDescriptor hint;
};

void expectDescriptor(const LADSPA_Descriptor* d, unsigned long id, const char* label,
                      const char* name, const std::vector<PortExpectation>& ports) {
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->UniqueID, id);
    EXPECT_STREQ(d->Label, label);
    EXPECT_STREQ(d->Name, name);
    EXPECT_STREQ(d->Maker, "Talvane");
    ASSERT_NE(d->Copyright, nullptr);  // hosts print it
    EXPECT_STREQ(d->Copyright, "None");
    EXPECT_EQ(d->Properties, 4);  // LADSPA_PROPERTY_HARD_RT_CAPABLE alone
    EXPECT_EQ(d->ImplementationData, nullptr);
    ASSERT_EQ(d->PortCount, ports.size());
    for (size_t p = 0; p < ports.size(); ++p) {
        SCOPED_TRACE(ports[p].name);
        EXPECT_STREQ(d->PortNames[p], ports[p].name);
        EXPECT_EQ(d->PortDescriptors[p], ports[p].kind);
        EXPECT_EQ(d->PortRangeHints[p].HintDescriptor, ports[p].hint);
        EXPECT_EQ(d->PortRangeHints[p].LowerBound, 0.0f);
        EXPECT_EQ(d->PortRangeHints[p].UpperBound, 0.0f);
    }
    EXPECT_NE(d->instantiate, nullptr);
    EXPECT_NE(d->connect_port, nullptr);
    EXPECT_NE(d->run, nullptr);
    EXPECT_NE(d->cleanup, nullptr);
    EXPECT_EQ(d->run_adding, nullptr);
    EXPECT_EQ(d->set_run_adding_gain, nullptr);
    EXPECT_EQ(d->deactivate, nullptr);
}

}  // namespace

// Port kinds from the LADSPA header: input 1, output 2, control 4, audio 8.
TEST(PluginDescriptors, CarryTheIdsNamesAndPortsHostsKnowThemBy) {
    PluginLibrary library;
    expectDescriptor(library.descriptor(0), 5021, "Void", "Void",
                     {{"Input", 9, 0}, {"Output", 10, 0}});
    EXPECT_EQ(library.descriptor(0)->activate, nullptr);
    expectDescriptor(library.descriptor(1), 5020, "PLAYBACKPROCESSING", "Talvane Lyrane",
                     {{"Input", 9, 0}, {"Output", 10, 0}, {"Mode", 5, 1}});
    EXPECT_NE(library.descriptor(1)->activate, nullptr);
    EXPECT_EQ(library.descriptor(2), nullptr);
    EXPECT_EQ(library.descriptor(std::numeric_limits<unsigned long>::max()), nullptr);
    // Hosts ask repeatedly; the descriptors are built once per load.
    EXPECT_EQ(library.descriptor(1), library.descriptor(1));
}

TEST(PluginDescriptors, SurviveRepeatedLoadAndUnload) {
    for (int i = 0; i < 20; ++i) {
        PluginLibrary library;
        ASSERT_NE(library.descriptor(0), nullptr);
        EXPECT_STREQ(library.descriptor(1)->Label, "PLAYBACKPROCESSING");
    }
}

TEST(VoidPlugin, CopiesBitExactlyInAndOutOfPlace) {
    PluginLibrary library;
    const LADSPA_Descriptor* d = library.descriptor(0);
    ASSERT_NE(d, nullptr);
    LADSPA_Handle h = d->instantiate(d, 44100);
    ASSERT_NE(h, nullptr);

    std::vector<float> in = {0.5f,
                             -0.0f,
                             std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(),
                             1e-42f,
                             -1e30f,
                             1.0f};
    std::vector<float> out(in.size(), 7.0f);
    d->connect_port(h, 0, in.data());
    d->connect_port(h, 1, out.data());
    d->connect_port(h, 5, nullptr);  // no such port: ignored

    d->run(h, 0);
    EXPECT_EQ(out, std::vector<float>(in.size(), 7.0f));
    d->run(h, in.size());
    EXPECT_EQ(std::memcmp(in.data(), out.data(), in.size() * sizeof(float)), 0);

    // In place: the host hands the same buffer as input and output.
    std::vector<float> shared = {0.25f, -0.75f, 3.0f};
    const std::vector<float> before = shared;
    d->connect_port(h, 0, shared.data());
    d->connect_port(h, 1, shared.data());
    d->run(h, shared.size());
    EXPECT_EQ(shared, before);
    d->cleanup(h);
}

TEST(ChainPluginLifecycle, OddCallOrdersOfRealHosts) {
    PluginLibrary library;
    const LADSPA_Descriptor& d = library.chain();

    // Cleanup straight after instantiate, with and without ports connected.
    d.cleanup(d.instantiate(&d, 48000));
    { ChainPlugin plugin(library, 48000, 0.0f); }
    EXPECT_FALSE(isRegistered(kAcousticName));

    // Run before activate (a host bug) gives silence, not the stale buffer.
    {
        LADSPA_Handle h = d.instantiate(&d, 48000);
        float mode = 0.0f;
        std::vector<float> in(64, 0.5f), out(64, 0.25f);
        d.connect_port(h, 0, in.data());
        d.connect_port(h, 1, out.data());
        d.connect_port(h, 2, &mode);
        d.run(h, in.size());
        EXPECT_EQ(out, std::vector<float>(64, 0.0f));
        d.cleanup(h);
    }

    // Two activations: the first profile stays, nothing new is created.
    {
        ChainPlugin plugin(library, 48000, 0.0f);
        plugin.activate();
        EXPECT_TRUE(isRegistered(kAcousticName));
        plugin.setMode(1.0f);
        plugin.activate();
        EXPECT_TRUE(isRegistered(kAcousticName));
        EXPECT_FALSE(isRegistered(kAfilName));
    }
    EXPECT_FALSE(isRegistered(kAcousticName));

    // A chain that cannot be created (a host rate of 0 Hz) leaves no handle:
    // the output is silence instead of the host's stale buffer, and nothing
    // is registered.
    {
        ChainPlugin plugin(library, 0, 0.0f);
        plugin.activate();
        EXPECT_FALSE(isRegistered(kAcousticName));
        EXPECT_EQ(plugin.process(std::vector<float>(300, 0.5f), 128, true),
                  std::vector<float>(300, 0.0f));
    }

    // A run of 0 samples touches nothing.
    {
        LADSPA_Handle h = d.instantiate(&d, 16000);
        float mode = 1.0f;
        std::vector<float> in(4, 0.5f), out(4, 0.25f);
        d.connect_port(h, 0, in.data());
        d.connect_port(h, 1, out.data());
        d.connect_port(h, 2, &mode);
        d.activate(h);
        d.run(h, 0);
        EXPECT_EQ(out, std::vector<float>(4, 0.25f));
        d.cleanup(h);
    }
    EXPECT_FALSE(isRegistered(kAfilName));
}

TEST(ChainPluginLifecycle, ModeIsTruncatedTowardZeroAndOnlyOneSelectsAfil) {
    PluginLibrary library;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<std::pair<float, const char*>> cases = {
        {1.0f, kAfilName},       {1.9f, kAfilName},
        {1.9999999f, kAfilName}, {0.0f, kAcousticName},
        {0.99f, kAcousticName},  {2.0f, kAcousticName},
        {-1.0f, kAcousticName},  {-0.5f, kAcousticName},
        {nan, kAcousticName},    {-nan, kAcousticName},
        {inf, kAcousticName},    {-inf, kAcousticName},
        {1e30f, kAcousticName},  {4294967297.0f, kAcousticName}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        {
            ChainPlugin plugin(library, 48000, c.first);
            plugin.activate();
            EXPECT_TRUE(isRegistered(c.second));
            EXPECT_FALSE(isRegistered(c.second == kAfilName ? kAcousticName : kAfilName));
        }
        EXPECT_FALSE(isRegistered(c.second));
    }

    // A host that never connects the Mode port gets the acoustic profile.
    const LADSPA_Descriptor& d = library.chain();
    LADSPA_Handle h = d.instantiate(&d, 48000);
    d.activate(h);
    EXPECT_TRUE(isRegistered(kAcousticName));
    d.cleanup(h);
    EXPECT_FALSE(isRegistered(kAcousticName));
}

TEST(ChainPluginLifecycle, ActivationBuildsAOneSampleChainAtTheHostRate) {
    PluginLibrary library;
    ChainPlugin plugin(library, 22050, 1.0f);
    plugin.activate();
    auto chain = ExternalModuleRegistry::getInstance()->getPlaybackProcessing(kAfilName);
    ASSERT_TRUE(chain);
    EXPECT_EQ(chain->getFs(), 22050u);
    EXPECT_EQ(chain->getNblock(), 1u);
    // The FIFO sees every input sample as its own block: 683 samples pushed
    // one by one make the first one available to the consumer (more than
    // 2048 / 3 = 682 buffered), as a block size of 1 implies.
    std::vector<float> ramp(683);
    for (size_t i = 0; i < ramp.size(); ++i) {
        ramp[i] = static_cast<float>(i + 1) * 1e-4f;
    }
    plugin.process(std::vector<float>(ramp.begin(), ramp.end() - 1), 100);
    EXPECT_EQ(chain->getNextInputSample(), 0.0f);
    plugin.process({ramp.back()}, 1);
    EXPECT_EQ(chain->getNextInputSample(), ramp[0]);
    EXPECT_EQ(chain->getNextInputSample(), 0.0f);
}
