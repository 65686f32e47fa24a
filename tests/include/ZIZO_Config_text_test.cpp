// Text forms of stored values: rendering, dump, and overwrite from text.
// Expected renderings are those of C's "%.9g" (float) and "%.17g" (double)
// applied by hand to the nearest representable value.
#include <gtest/gtest.h>

#include <ZIZO_Config>
#include <boost/lexical_cast.hpp>
#include <cmath>
#include <limits>
#include <sstream>
#include <vector>

#include "LogCapture.h"

namespace {

const std::string kNoTextForm = "Cannot display value of this type";

std::string render(const boost::any& value) {
    return ZIZO_Config().valueAsString(value);
}

// Runs printContent with std::cout redirected and returns what it wrote.
std::string printed(const ZIZO_Config& config) {
    std::ostringstream out;
    std::streambuf* previous = std::cout.rdbuf(out.rdbuf());
    config.printContent();
    std::cout.rdbuf(previous);
    return out.str();
}

template <typename T>
void expectAccepted(const T& initial, const std::string& text, const T& expected) {
    ZIZO_Config config;
    config.set<T>("k", initial);
    EXPECT_TRUE(config.overwrite("k", text)) << "text \"" << text << "\"";
    EXPECT_TRUE(config.exist<T>("k")) << "text \"" << text << "\"";
    EXPECT_EQ(config.get<T>("k"), expected) << "text \"" << text << "\"";
}

template <typename T>
void expectRefused(const T& initial, const std::string& text) {
    ZIZO_Config config;
    config.set<T>("k", initial);
    EXPECT_THROW(config.overwrite("k", text), boost::bad_lexical_cast) << "text \"" << text << "\"";
    EXPECT_TRUE(config.exist<T>("k")) << "text \"" << text << "\"";
    EXPECT_EQ(config.get<T>("k"), initial) << "text \"" << text << "\"";
}

}  // namespace

TEST(ZIZO_ConfigText, FloatsRenderWithNineSignificantDigits) {
    // 0.1f is 0x3dcccccd = 0.100000001490116..., 1e-5f is 9.99999974737875e-06.
    EXPECT_EQ(render(0.1f), "0.100000001");
    EXPECT_EQ(render(-20.0f), "-20");
    EXPECT_EQ(render(1e-05f), "9.99999975e-06");
    EXPECT_EQ(render(0.5f), "0.5");
    EXPECT_EQ(render(-0.0f), "-0");
    // FLT_MAX = (2 - 2^-23) * 2^127; smallest denormal 2^-149.
    EXPECT_EQ(render(std::numeric_limits<float>::max()), "3.40282347e+38");
    EXPECT_EQ(render(std::numeric_limits<float>::denorm_min()), "1.40129846e-45");
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(render(std::copysign(nan, 1.0f)), "nan");
    EXPECT_EQ(render(std::copysign(nan, -1.0f)), "-nan");
    EXPECT_EQ(render(std::numeric_limits<float>::infinity()), "infinity");
    EXPECT_EQ(render(-std::numeric_limits<float>::infinity()), "-infinity");
    // Doubles keep 17 digits: 0.1 is 0.1000000000000000055511151231257827...
    EXPECT_EQ(render(0.1), "0.10000000000000001");
    EXPECT_EQ(render(-std::numeric_limits<double>::infinity()), "-infinity");
}

// The processor chooses the sign of a NaN that arithmetic makes: x86 sets it,
// ARM leaves it clear. The rendering keeps the sign it finds, so the same
// computation reads "-nan" on the one and "nan" on the other.
TEST(ZIZO_ConfigText, ArithmeticNanRendersWithTheSignItsProcessorGaveIt) {
    volatile float zero = 0.0f, infinity = std::numeric_limits<float>::infinity();
    for (const float nan : {zero / zero, infinity - infinity}) {
#if defined(__x86_64__) || defined(__i386__)
        EXPECT_EQ(render(nan), "-nan");
#elif defined(__arm__) || defined(__aarch64__)
        EXPECT_EQ(render(nan), "nan");
#else
        EXPECT_EQ(render(nan), std::signbit(nan) ? "-nan" : "nan");
#endif
    }
}

TEST(ZIZO_ConfigText, OtherScalarsAndVectorsRender) {
    EXPECT_EQ(render(std::numeric_limits<int>::min()), "-2147483648");
    EXPECT_EQ(render(1234567), "1234567");  // no grouping
    EXPECT_EQ(render(std::numeric_limits<unsigned int>::max()), "4294967295");
    EXPECT_EQ(render(true), "1");
    EXPECT_EQ(render(false), "0");
    EXPECT_EQ(render(std::string(" two  words ")), " two  words ");
    EXPECT_EQ(render(std::string()), "");

    // Every element is followed by one blank, the last one included.
    EXPECT_EQ(render(std::vector<int>{1, -2, 3}), "1 -2 3 ");
    EXPECT_EQ(render(std::vector<unsigned int>{4294967295u, 0u}), "4294967295 0 ");
    EXPECT_EQ(render(std::vector<float>{0.5f, 2.0f, 0.1f}), "0.5 2 0.100000001 ");
    EXPECT_EQ(
        render(std::vector<float>{-std::numeric_limits<float>::infinity(),
                                  std::copysign(std::numeric_limits<float>::quiet_NaN(), -1.0f)}),
        "-infinity -nan ");
    EXPECT_EQ(render(std::vector<std::string>{"a", "b c"}), "a b c ");
    EXPECT_EQ(render(std::vector<float>{}), "");
    EXPECT_EQ(render(std::vector<std::string>{}), "");
}

TEST(ZIZO_ConfigText, TypesWithoutTextFormRenderTheFixedText) {
    EXPECT_EQ(render(5L), kNoTextForm);
    EXPECT_EQ(render(std::vector<long>{1L}), kNoTextForm);
    EXPECT_EQ(render(std::vector<bool>{true}), kNoTextForm);
    EXPECT_EQ(render(ZIZO_Config::EmptyVector()), kNoTextForm);
    EXPECT_EQ(render(boost::any()), kNoTextForm);
    EXPECT_EQ(render(static_cast<short>(1)), kNoTextForm);
    EXPECT_EQ(render('c'), kNoTextForm);
    EXPECT_EQ(render(std::vector<double>{1.0}), kNoTextForm);
}

TEST(ZIZO_ConfigText, GetAsStringRendersTheEntryAndIsSilent) {
    LogCapture log;
    ZIZO_Config config;
    config.set<float>("AGC.target_level_db", -20.0f);
    config.set<long>("big", std::numeric_limits<long>::max());
    EXPECT_EQ(config.getAsString("AGC.target_level_db"), "-20");
    EXPECT_EQ(config.getAsString("big"), kNoTextForm);
    EXPECT_EQ(config.getAsString("absent"), "");
    EXPECT_EQ(config.getAsString(""), "");
    EXPECT_EQ(config.size(), 2u);
    EXPECT_TRUE(log.records().empty());
}

TEST(ZIZO_ConfigText, PrintContentListsEntriesInByteOrderWithTypeNames) {
    ZIZO_Config config;
    config.set<float>("b0", 0.25f);
    config.set<int>("B", -3);
    config.set<bool>("a", true);
    config.set<long>("l", 7L);
    config.set("v", std::vector<float>{0.5f, 2.0f});
    config.set("e", ZIZO_Config::EmptyVector());
    config.set("none", boost::any());
    config.set<int>("\xe4", 1);  // a byte above 0x7f sorts after ASCII
    // Type names are the GNU mangled names that std::type_info::name() gives.
    EXPECT_EQ(printed(config),
              "B (datatype i): -3\n"
              "a (datatype b): 1\n"
              "b0 (datatype f): 0.25\n"
              "e (datatype N11ZIZO_Config11EmptyVectorE): " +
                  kNoTextForm +
                  "\n"
                  "l (datatype l): " +
                  kNoTextForm +
                  "\n"
                  "none (datatype v): " +
                  kNoTextForm +
                  "\n"
                  "v (datatype St6vectorIfSaIfEE): 0.5 2 \n"
                  "\xe4 (datatype i): 1\n");
    EXPECT_EQ(printed(ZIZO_Config()), "");
}

TEST(ZIZO_ConfigText, FloatOverwriteAcceptsStreamNumbersAndNonFiniteWords) {
    expectAccepted(1.0f, "-18", -18.0f);
    expectAccepted(1.0f, "0.1", 0.1f);
    expectAccepted(1.0f, ".5", 0.5f);
    expectAccepted(1.0f, "5.", 5.0f);
    expectAccepted(1.0f, "+1.25", 1.25f);
    expectAccepted(1.0f, "-2e3", -2000.0f);
    expectAccepted(1.0f, "1E-4", 1e-4f);
    expectAccepted(1.0f, "inf", std::numeric_limits<float>::infinity());
    expectAccepted(1.0f, "-Infinity", -std::numeric_limits<float>::infinity());
    expectAccepted(1.0f, "+INF", std::numeric_limits<float>::infinity());
    expectAccepted(1.0, "0.1", 0.1);
    expectAccepted(1.0, "-1e300", -1e300);

    ZIZO_Config config;
    config.set<float>("f", 1.0f);
    for (const char* text : {"nan", "NaN", "+nan", "nan(123)", "NAN(x)"}) {
        ASSERT_TRUE(config.overwrite("f", text)) << text;
        EXPECT_TRUE(std::isnan(config.get<float>("f"))) << text;
        EXPECT_FALSE(std::signbit(config.get<float>("f"))) << text;
    }
    ASSERT_TRUE(config.overwrite("f", "-nan"));
    EXPECT_EQ(config.getAsString("f"), "-nan");

    // The stored value renders as the nearest float, not as the text given.
    ASSERT_TRUE(config.overwrite("f", "0.1"));
    EXPECT_EQ(config.getAsString("f"), "0.100000001");
    config.set<double>("d", 0.0);
    ASSERT_TRUE(config.overwrite("d", "0.1"));
    EXPECT_EQ(config.getAsString("d"), "0.10000000000000001");
}

TEST(ZIZO_ConfigText, FloatOverwriteRefusesTextAroundOrInsideTheNumber) {
    for (const char* text : {"", " 1.5", "1.5 ", "1.5f", "1e", "1e+", "0x10", "1,5", "--1", "+-1",
                             ".", "e5", "infinit", "nanx", "1.5\n", "1e400"}) {
        expectRefused(2.5f, text);
        expectRefused(2.5, text);
    }
    // Beyond the float range the extraction fails rather than saturating.
    expectRefused(2.5f, "1e39");
    expectRefused(2.5f, "-1e39");
}

TEST(ZIZO_ConfigText, IntegerOverwriteChecksDigitsAndRange) {
    expectAccepted(0, "+12", 12);
    expectAccepted(0, "-7", -7);
    expectAccepted(0, "007", 7);
    expectAccepted(0, "2147483647", 2147483647);
    expectAccepted(0, "-2147483648", std::numeric_limits<int>::min());
    for (const char* text : {"", "+", "-", "1.0", "12.5", "12a", "2147483648", "-2147483649", " 7",
                             "7 ", "1e3", "0x1"}) {
        expectRefused(5, text);
    }

    expectAccepted(0u, "4294967295", 4294967295u);
    expectAccepted(0u, "+5", 5u);
    // A leading minus negates modulo 2^32.
    expectAccepted(0u, "-1", 4294967295u);
    expectAccepted(0u, "-4294967295", 1u);
    for (const char* text : {"", "4294967296", "1.0", "-", " 1"}) {
        expectRefused(5u, text);
    }
}

TEST(ZIZO_ConfigText, BoolOverwriteAcceptsOnlyDecimalZeroAndOne) {
    expectAccepted(false, "1", true);
    expectAccepted(true, "0", false);
    expectAccepted(false, "001", true);
    expectAccepted(false, "+1", true);
    expectAccepted(true, "-0", false);
    expectAccepted(true, "000", false);
    for (const char* text : {"true", "false", "yes", "2", "-1", "", "10", " 1", "1 ", "0x1"}) {
        expectRefused(true, text);
        expectRefused(false, text);
    }
    ZIZO_Config config;
    config.set<bool>("AGC.enabled", false);
    ASSERT_TRUE(config.overwrite("AGC.enabled", "1"));
    EXPECT_EQ(config.getAsString("AGC.enabled"), "1");
}

TEST(ZIZO_ConfigText, StringOverwriteTakesTheTextUnchanged) {
    expectAccepted(std::string("old"), "", std::string());
    expectAccepted(std::string("old"), " a  b ", std::string(" a  b "));
    expectAccepted(std::string("old"), "1.5", std::string("1.5"));
}

TEST(ZIZO_ConfigText, OverwriteLeavesTypesWithoutTextFormAndAbsentKeysAlone) {
    LogCapture log;
    ZIZO_Config config;
    config.set<long>("l", std::numeric_limits<long>::max());
    config.set("vf", std::vector<float>{0.5f});
    config.set("vl", std::vector<long>{1L});
    config.set("vb", std::vector<bool>{true});
    config.set("e", ZIZO_Config::EmptyVector());
    config.set("none", boost::any());
    for (const char* key : {"l", "vf", "vl", "vb", "e", "none"}) {
        EXPECT_TRUE(config.overwrite(key, "1 2 3")) << key;
    }
    EXPECT_EQ(config.get<long>("l"), std::numeric_limits<long>::max());
    EXPECT_EQ(config.get<std::vector<float>>("vf"), std::vector<float>{0.5f});
    EXPECT_EQ(config.get<std::vector<long>>("vl"), std::vector<long>{1L});
    EXPECT_EQ(config.get<std::vector<bool>>("vb"), std::vector<bool>{true});
    EXPECT_TRUE(config.exist<ZIZO_Config::EmptyVector>("e"));
    EXPECT_EQ(config.getAsString("none"), kNoTextForm);

    EXPECT_FALSE(config.overwrite("absent", "1"));
    EXPECT_FALSE(config.overwrite("", ""));
    EXPECT_EQ(config.size(), 6u);
    EXPECT_EQ(config.getAsString("absent"), "");
    EXPECT_TRUE(log.records().empty());
}
