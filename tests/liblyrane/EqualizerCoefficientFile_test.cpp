#include "EqualizerCoefficientFile.h"

#include <gtest/gtest.h>

#include <ZIZO_Config>
#include <limits>
#include <string>
#include <vector>

namespace {

using Set = lyrane::EqualizerFilterSet<float>;
using Rows = std::vector<std::vector<float>>;

const std::string kPath = "eq.cfg";

// Only an int "fs" together with a float array "b0" makes a version 1 file.
TEST(EqualizerCoefficientFile, VersionOneNeedsAnIntRateAndAFloatColumnAtTheTop) {
    struct Case {
        const char* what;
        ZIZO_Config top;
        int version;
    };
    ZIZO_Config both, emptyB0, longFs, floatFs, b0Only, fsOnly, intB0;
    both.set<int>("fs", 16000);
    both.set<std::vector<float>>("b0", {1.0f});
    emptyB0.set<int>("fs", 16000);
    emptyB0.set("b0", ZIZO_Config::EmptyVector());
    longFs.set<long>("fs", 16000);
    longFs.set<std::vector<float>>("b0", {1.0f});
    floatFs.set<float>("fs", 16000.0f);
    floatFs.set<std::vector<float>>("b0", {1.0f});
    b0Only.set<std::vector<float>>("b0", {1.0f});
    fsOnly.set<int>("fs", 16000);
    intB0.set<int>("fs", 16000);
    intB0.set<std::vector<int>>("b0", {1});
    const Case cases[] = {{"int fs and float b0", both, 1}, {"empty b0", emptyB0, 2},
                          {"long fs", longFs, 2},           {"float fs", floatFs, 2},
                          {"b0 without fs", b0Only, 2},     {"fs without b0", fsOnly, 2},
                          {"integer b0", intB0, 2}};
    for (const Case& c : cases) {
        EXPECT_EQ(lyrane::coefficientFileVersion<float>(c.top), c.version) << c.what;
    }
}

// The checks of a set's fields come in a fixed order, so the record names
// the first failing one: the rate's presence, the columns, the rate's value.
TEST(EqualizerCoefficientFile, FieldChecksNameTheFirstFailureInTheirOrder) {
    const std::vector<float> column{1.0f};
    ZIZO_Config fields;
    std::string error;
    fields.set<long>("fs", 48000);
    EXPECT_FALSE(lyrane::checkFilterSetFields<float>(fields, 16000, kPath, error));
    EXPECT_EQ(error, "Required field 'fs' of type int not found in file eq.cfg.");

    fields.set<int>("fs", 48000);
    for (const char* key : {"b0", "b1", "b2", "a1"}) {
        fields.set(key, column);
    }
    EXPECT_FALSE(lyrane::checkFilterSetFields<float>(fields, 16000, kPath, error));
    EXPECT_EQ(error, "Required vector 'a2' of type f not found in file eq.cfg.");

    fields.set("a2", column);
    EXPECT_FALSE(lyrane::checkFilterSetFields<float>(fields, 16000, kPath, error));
    EXPECT_EQ(error,
              "Samplerate specified in file eq.cfg (48000) does not match lyrane "
              "samplerate (16000).");
    fields.set<int>("fs", -16000);
    EXPECT_FALSE(lyrane::checkFilterSetFields<float>(fields, 16000, kPath, error));
    EXPECT_EQ(error,
              "Samplerate specified in file eq.cfg (-16000) does not match lyrane "
              "samplerate (16000).");

    fields.set<int>("fs", 16000);
    error = "untouched";
    EXPECT_TRUE(lyrane::checkFilterSetFields<float>(fields, 16000, kPath, error));
    EXPECT_EQ(error, "untouched");
}

// NaN counts as well as the infinities, and the first value that is not
// finite is named: the gain, then the columns b0, b1, b2, a1, a2 by index.
TEST(EqualizerCoefficientFile, TheFirstValueThatIsNotFiniteIsNamed) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Set set;
    set.gain = 0.5f;
    set.b0 = {1.0f, 2.0f};
    set.b1 = set.b2 = set.a1 = set.a2 = {0.0f, 0.0f};
    std::string error = "untouched";
    EXPECT_TRUE(lyrane::checkFilterSetValues(set, kPath, error));
    EXPECT_EQ(error, "untouched");

    Set bad = set;
    bad.a2[1] = nan;
    EXPECT_FALSE(lyrane::checkFilterSetValues(bad, kPath, error));
    EXPECT_EQ(error, "Coefficient a2[1] = nan of file eq.cfg is not finite.");
    bad.b2[1] = -inf;
    EXPECT_FALSE(lyrane::checkFilterSetValues(bad, kPath, error));
    EXPECT_EQ(error, "Coefficient b2[1] = -inf of file eq.cfg is not finite.");
    bad.b2[0] = inf;
    EXPECT_FALSE(lyrane::checkFilterSetValues(bad, kPath, error));
    EXPECT_EQ(error, "Coefficient b2[0] = inf of file eq.cfg is not finite.");
    bad.gain = nan;
    EXPECT_FALSE(lyrane::checkFilterSetValues(bad, kPath, error));
    EXPECT_EQ(error, "Gain nan of file eq.cfg is not finite.");
}

// Section i is (b0[i], b1[i], b2[i], a1[i], a2[i]); columns of different
// lengths, whichever column differs, give no row at all.
TEST(EqualizerCoefficientFile, RowsComeOnlyFromColumnsOfOneLength) {
    Set set;
    set.b0 = {1, 2};
    set.b1 = {3, 4};
    set.b2 = {5, 6};
    set.a1 = {7, 8};
    set.a2 = {9, 10};
    Rows rows{{0, 0, 0, 0, 0}};
    EXPECT_TRUE(lyrane::buildSectionRows(set, rows));
    EXPECT_EQ(rows, (Rows{{0, 0, 0, 0, 0}, {1, 3, 5, 7, 9}, {2, 4, 6, 8, 10}}));

    std::vector<float>* const columns[] = {&set.b0, &set.b1, &set.b2, &set.a1, &set.a2};
    for (std::vector<float>* column : columns) {
        column->push_back(11);
        Rows none;
        EXPECT_FALSE(lyrane::buildSectionRows(set, none)) << column - &set.b0;
        EXPECT_TRUE(none.empty());
        column->pop_back();
    }

    Rows empty;
    EXPECT_TRUE(lyrane::buildSectionRows(Set(), empty));
    EXPECT_TRUE(empty.empty());
}

}  // namespace
