#include "ExternalModuleRegistry.h"

#include <gtest/gtest.h>

#include <ZIZO_Config>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "PlaybackProcessing.h"

namespace {

const char* const kLogger = "ZIZO.External_Module_Registry";

std::shared_ptr<PlaybackProcessing> makeChain(const std::string& name) {
    return std::make_shared<PlaybackProcessing>(name, 16, 16000, ZIZO_Config());
}

}  // namespace

TEST(ExternalModuleRegistry, RefusalsLeaveEntriesUnchangedWithOneErrorEach) {
    ExternalModuleRegistryImpl registry;
    const auto first = makeChain("A");
    const auto second = makeChain("A");
    const auto lower = makeChain("a");
    LogCapture log;

    EXPECT_FALSE(registry.registerPlaybackProcessing("A", nullptr));
    EXPECT_EQ(registry.getPlaybackProcessing("A"), nullptr);
    EXPECT_TRUE(registry.registerPlaybackProcessing("A", first));
    EXPECT_FALSE(registry.registerPlaybackProcessing("A", second));
    EXPECT_EQ(registry.getPlaybackProcessing("A"), first);
    // Names compare bytewise: "a" is an entry of its own.
    EXPECT_TRUE(registry.registerPlaybackProcessing("a", lower));
    EXPECT_EQ(registry.getPlaybackProcessing("a"), lower);
    EXPECT_EQ(registry.getPlaybackProcessing("A"), first);

    EXPECT_FALSE(registry.unregisterPlaybackProcessing("B"));
    EXPECT_TRUE(registry.unregisterPlaybackProcessing("A"));
    EXPECT_FALSE(registry.unregisterPlaybackProcessing("A"));
    EXPECT_EQ(registry.getPlaybackProcessing("A"), nullptr);
    EXPECT_EQ(registry.getPlaybackProcessing("a"), lower);

    const std::vector<std::string> expected = {
        "Cannot register A. Object pointer is null.",       "Registered A.",
        "Cannot register A. Object is already registered.", "Registered a.",
        "Cannot unregister B. Object is not registered.",   "Unregistered A.",
        "Cannot unregister A. Object is not registered.",
    };
    EXPECT_EQ(log.messages(kLogger), expected);
    const auto errors = log.records(kLogger, "ERROR");
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[0].function, "registerPlaybackProcessing");
    EXPECT_EQ(errors[0].file, "ExternalModuleRegistry.cpp");
    EXPECT_EQ(errors[2].function, "unregisterPlaybackProcessing");
    EXPECT_EQ(log.records(kLogger, "INFO").size(), 3u);
}

TEST(ExternalModuleRegistry, ChainOutlivesUnregistrationWhileAConsumerHoldsIt) {
    ExternalModuleRegistryImpl registry;
    std::weak_ptr<PlaybackProcessing> watch;
    {
        auto chain = makeChain("held");
        watch = chain;
        ASSERT_TRUE(registry.registerPlaybackProcessing("held", std::move(chain)));
    }
    EXPECT_FALSE(watch.expired()) << "the registry shares ownership";

    auto consumer = registry.getPlaybackProcessing("held");
    LogCapture log;
    ASSERT_TRUE(registry.unregisterPlaybackProcessing("held"));
    EXPECT_FALSE(watch.expired());
    EXPECT_EQ(log.count("Deleting instance of PlaybackProcessing (held)."), 0u);
    EXPECT_EQ(consumer->getName(), "held");

    consumer.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(log.count("Deleting instance of PlaybackProcessing (held)."), 1u);
}

TEST(ExternalModuleRegistry, LifetimeRecordsAndReleaseOfEntriesAtDestruction) {
    LogCapture log;
    std::weak_ptr<PlaybackProcessing> watch;
    {
        ExternalModuleRegistryImpl registry;
        auto chain = makeChain("left");
        watch = chain;
        registry.registerPlaybackProcessing("left", std::move(chain));
        // A lookup logs nothing, found or not.
        log.clear();
        EXPECT_NE(registry.getPlaybackProcessing("left"), nullptr);
        EXPECT_EQ(registry.getPlaybackProcessing("absent"), nullptr);
        EXPECT_TRUE(log.records().empty());
    }
    EXPECT_TRUE(watch.expired());
    const auto messages = log.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "ExternalModuleRegistry destructor called");
    EXPECT_EQ(messages[1], "Deleting instance of PlaybackProcessing (left).");

    log.clear();
    { ExternalModuleRegistryImpl other; }
    const auto records = log.records(kLogger, "TRACE");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].message, "ExternalModuleRegistry constructor called");
    EXPECT_EQ(records[0].function, "ExternalModuleRegistryImpl");
    EXPECT_EQ(records[1].function, "~ExternalModuleRegistryImpl");
}

TEST(ExternalModuleRegistry, ProcessWideInstanceIsOneObjectFromEveryThread) {
    std::vector<ExternalModuleRegistry*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = ExternalModuleRegistry::getInstance(); });
    }
    for (auto& thread : threads)
        thread.join();
    const std::set<ExternalModuleRegistry*> distinct(seen.begin(), seen.end());
    ASSERT_EQ(distinct.size(), 1u);
    EXPECT_NE(*distinct.begin(), nullptr);
    EXPECT_EQ(*distinct.begin(), ExternalModuleRegistry::getInstance());

    auto chain = makeChain("shared");
    ExternalModuleRegistry::getInstance()->registerPlaybackProcessing("shared", chain);
    EXPECT_EQ(seen[3]->getPlaybackProcessing("shared"), chain);
    EXPECT_TRUE(ExternalModuleRegistry::getInstance()->unregisterPlaybackProcessing("shared"));
}
