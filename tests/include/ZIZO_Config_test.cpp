#include <gtest/gtest.h>

#include <ZIZO_Config>
#include <map>
#include <string>
#include <typeindex>
#include <vector>

#include "LogCapture.h"

namespace {

std::map<std::string, std::string> intEntries(const ZIZO_Config& config,
                                              const std::vector<std::string>& keys) {
    std::map<std::string, std::string> present;
    for (const auto& key : keys) {
        if (config.exist<int>(key))
            present[key] = std::to_string(config.get<int>(key));
    }
    return present;
}

}  // namespace

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

TEST(ZIZO_Config, GetOfAbsentOrEmptyEntryYieldsValueInitialisedType) {
    LogCapture log;
    ZIZO_Config config;
    config.set("none", boost::any());
    EXPECT_EQ(config.get<std::string>("absent"), "");
    EXPECT_EQ(config.get<std::vector<float>>("absent"), std::vector<float>());
    EXPECT_FALSE(config.get<bool>("absent"));
    EXPECT_EQ(config.get<int>("none"), 0);
    EXPECT_FALSE(config.exist<int>("none"));
    EXPECT_EQ(log.count("get failed for parameter absent"), 3u);
    EXPECT_EQ(log.count("get failed for parameter none"), 1u);
    EXPECT_EQ(log.records().size(), 4u);
    EXPECT_EQ(log.records("ZIZO.Config", "WARN").size(), 4u);

    // Checking for presence is silent.
    log.clear();
    EXPECT_FALSE(config.exist<std::string>("absent"));
    EXPECT_TRUE(log.records().empty());
}

TEST(ZIZO_Config, NumericTypesStayDistinct) {
    LogCapture log;
    ZIZO_Config config;
    config.set<int>("i", 3);
    config.set<long>("l", 5L);
    config.set<float>("f", 1.5f);
    config.set<unsigned int>("u", 7u);
    config.set("vi", std::vector<int>{1, 2});
    config.set("vl", std::vector<long>{1L, 2L});
    config.set("e", ZIZO_Config::EmptyVector());

    EXPECT_TRUE(config.exist<int>("i"));
    EXPECT_FALSE(config.exist<long>("i"));
    EXPECT_FALSE(config.exist<unsigned int>("i"));
    EXPECT_TRUE(config.exist<long>("l"));
    EXPECT_FALSE(config.exist<int>("l"));
    EXPECT_FALSE(config.exist<double>("f"));
    EXPECT_FALSE(config.exist<int>("u"));
    EXPECT_FALSE(config.exist<std::vector<long>>("vi"));
    EXPECT_FALSE(config.exist<std::vector<int>>("vl"));
    EXPECT_FALSE(config.exist<std::vector<float>>("e"));
    EXPECT_TRUE(config.exist<ZIZO_Config::EmptyVector>("e"));
    EXPECT_TRUE(log.records().empty());

    EXPECT_EQ(config.get<long>("l"), 5L);
    EXPECT_EQ(config.get<int>("l"), 0);
    EXPECT_EQ(config.get<std::vector<long>>("vl"), (std::vector<long>{1L, 2L}));
    EXPECT_EQ(log.count("get failed for parameter l"), 1u);
}

TEST(ZIZO_Config, SetReplacesWhateverTypeAndCopiesAreIndependent) {
    ZIZO_Config config;
    EXPECT_EQ(config.size(), 0u);
    config.set<int>("k", 1);
    config.set<int>("k", 2);
    EXPECT_EQ(config.size(), 1u);
    config.set<std::string>("k", "text");
    EXPECT_EQ(config.size(), 1u);
    EXPECT_FALSE(config.exist<int>("k"));
    EXPECT_EQ(config.get<std::string>("k"), "text");
    config.set<int>("", 4);  // the empty key is a key like any other
    EXPECT_EQ(config.get<int>(""), 4);

    config.set("v", std::vector<float>{1.0f, 2.0f});
    ZIZO_Config copy(config);
    ZIZO_Config assigned;
    assigned.set<int>("other", 1);
    assigned = config;
    copy.set("v", std::vector<float>{9.0f});
    assigned.set<std::string>("k", "changed");
    EXPECT_EQ(config.get<std::vector<float>>("v"), (std::vector<float>{1.0f, 2.0f}));
    EXPECT_EQ(config.get<std::string>("k"), "text");
    EXPECT_EQ(copy.get<std::string>("k"), "text");
    EXPECT_EQ(assigned.get<std::vector<float>>("v"), (std::vector<float>{1.0f, 2.0f}));
    EXPECT_FALSE(assigned.exist<int>("other"));
    EXPECT_EQ(assigned.size(), config.size());
}

TEST(ZIZO_Config, GetGroupSelectsKeysByBytePrefix) {
    ZIZO_Config config;
    for (const char* key : {"AGB.z", "AGC", "AGC.enabled", "AGC.max_gain_db", "AGC.\xff", "AGCX",
                            "AGD", "EQUALIZER.enabled"}) {
        config.set<int>(key, static_cast<int>(std::string(key).size()));
    }
    const std::vector<std::string> groupKeys = {
        "", ".enabled", ".max_gain_db", ".\xff", "X", "enabled", "max_gain_db", "\xff", "z"};

    const ZIZO_Config agc = config.getGroup("AGC.");
    EXPECT_EQ(agc.size(), 3u);
    EXPECT_EQ(intEntries(agc, groupKeys),
              (std::map<std::string, std::string>{
                  {"enabled", "11"}, {"max_gain_db", "15"}, {"\xff", "5"}}));

    // No separator is implied: "AGC" also takes "AGCX" and the key "AGC" itself.
    const ZIZO_Config bare = config.getGroup("AGC");
    EXPECT_EQ(bare.size(), 5u);
    EXPECT_EQ(
        intEntries(bare, groupKeys),
        (std::map<std::string, std::string>{
            {"", "3"}, {".enabled", "11"}, {".max_gain_db", "15"}, {".\xff", "5"}, {"X", "4"}}));

    EXPECT_EQ(config.getGroup("").size(), config.size());
    EXPECT_EQ(config.getGroup("").get<int>("EQUALIZER.enabled"), 17);
    EXPECT_EQ(config.getGroup("SAD.").size(), 0u);
    EXPECT_EQ(config.getGroup("AGC.enabled.").size(), 0u);
    EXPECT_EQ(config.getGroup("ZZZ").size(), 0u);
    // The source is left as it was.
    EXPECT_EQ(config.size(), 8u);
}

TEST(ZIZO_Config, GetGroupKeepsTypesAndCopiesValues) {
    ZIZO_Config config;
    config.set<bool>("AGC.enabled", true);
    config.set("EQUALIZER.b0", std::vector<float>{1.0f, 0.5f});
    ZIZO_Config eq = config.getGroup("EQUALIZER.");
    EXPECT_TRUE(config.getGroup("AGC.").exist<bool>("enabled"));
    eq.set("b0", std::vector<float>{});
    EXPECT_EQ(config.get<std::vector<float>>("EQUALIZER.b0"), (std::vector<float>{1.0f, 0.5f}));
}

TEST(ZIZO_Config, SetGroupOverlaysEntriesOfAnyType) {
    ZIZO_Config target;
    target.set<int>("enabled", 0);
    target.set<float>("only_target", 2.5f);
    ZIZO_Config other;
    other.set<bool>("enabled", true);
    other.set<std::string>("coeff_file", "eq.cfg");

    target.setGroup(other);
    EXPECT_EQ(target.size(), 3u);
    EXPECT_TRUE(target.exist<bool>("enabled"));
    EXPECT_TRUE(target.get<bool>("enabled"));
    EXPECT_EQ(target.get<float>("only_target"), 2.5f);
    EXPECT_EQ(target.get<std::string>("coeff_file"), "eq.cfg");
    EXPECT_EQ(other.size(), 2u);

    target.setGroup(ZIZO_Config());
    EXPECT_EQ(target.size(), 3u);
}

// The way a block reads its parameters: defaults, then the caller's group.
TEST(ZIZO_Config, DefaultsOverlaidByConfigurationOfAnotherTypeGiveTypeDefault) {
    LogCapture log;
    ZIZO_Config supplied;
    supplied.set<float>("AGC.target_level_db", -18.0f);
    supplied.set<int>("AGC.max_gain_db", 12);  // an integer literal where a float is expected

    ZIZO_Config parameters;
    parameters.set<float>("target_level_db", -20.0f);
    parameters.set<float>("max_gain_db", 20.0f);
    parameters.set<bool>("enabled", false);
    parameters.setGroup(supplied.getGroup("AGC."));

    EXPECT_EQ(parameters.get<float>("target_level_db"), -18.0f);
    EXPECT_FALSE(parameters.get<bool>("enabled"));
    EXPECT_TRUE(log.records().empty());
    EXPECT_EQ(parameters.get<float>("max_gain_db"), 0.0f);
    EXPECT_EQ(log.messages("ZIZO.Config"),
              std::vector<std::string>{"get failed for parameter max_gain_db"});
}

TEST(ZIZO_Config, ExistAllReportsTheSmallestFailingKey) {
    LogCapture log;
    ZIZO_Config config;
    std::string missing = "untouched";
    EXPECT_TRUE(config.existAll({}, missing));
    EXPECT_EQ(missing, "untouched");

    const std::type_index floats(typeid(std::vector<float>));
    const std::map<std::string, std::type_index> coefficients = {
        {"b0", floats}, {"b1", floats}, {"b2", floats}, {"a1", floats}, {"a2", floats}};
    EXPECT_FALSE(config.existAll(coefficients, missing));
    EXPECT_EQ(missing, "a1");
    EXPECT_FALSE(config.existAll(coefficients));

    for (const char* key : {"b0", "b1", "b2", "a1", "a2"}) {
        config.set(key, std::vector<float>{1.0f});
    }
    config.set("b1", std::vector<double>{1.0});
    EXPECT_FALSE(config.existAll(coefficients, missing));
    EXPECT_EQ(missing, "b1");

    config.set("b1", std::vector<float>{});
    missing = "untouched";
    EXPECT_TRUE(config.existAll(coefficients, missing));
    EXPECT_TRUE(config.existAll(coefficients));
    EXPECT_EQ(missing, "untouched");

    // An entry without value has the type of void.
    config.set("none", boost::any());
    EXPECT_TRUE(config.existAll({{"none", std::type_index(typeid(void))}}));
    EXPECT_FALSE(config.existAll({{"absent", std::type_index(typeid(void))}}, missing));
    EXPECT_EQ(missing, "absent");
    EXPECT_TRUE(log.records().empty());
}
