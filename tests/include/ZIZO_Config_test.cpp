#include <ZIZO_Config>
#include <gtest/gtest.h>

#include "LogCapture.h"

TEST(ZIZO_Config, GetOfAnotherTypeWarnsAndYieldsDefault) {
    LogCapture log;
    ZIZO_Config config;
    config.set<int>("max_gain_db", 12);
    EXPECT_TRUE(config.exist<int>("max_gain_db"));
    EXPECT_FALSE(config.exist<float>("max_gain_db"));
    EXPECT_EQ(config.get<float>("max_gain_db"), 0.0f);
    const auto warnings = log.records("ZIZO.Config", "WARN");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].message, "get failed for parameter max_gain_db");
    EXPECT_EQ(warnings[0].function, "get");
}
