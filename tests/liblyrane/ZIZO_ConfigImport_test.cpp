// The importer on real files in the libconfig syntax.
#include <ZIZO_ConfigImport.h>
#include <ZIZO_ConfigImport_Libconfig.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <libconfig.h++>
#include <string>
#include <utility>
#include <vector>

#include "LogCapture.h"
#include "TempDir.h"

namespace {

const char* const kLogger = "ZIZO.ConfigImport_LIBCONFIG";

std::unique_ptr<ZIZO_ConfigImport> makeImporter() {
    auto importer = ZIZO_ConfigImport::make_zizo_configimport(ZIZO_ConfigImport::LIBCONFIG);
    EXPECT_NE(importer, nullptr);
    return importer;
}

// libconfig's own report of a parse error, read without the importer.
std::string parseErrorText(const std::string& path) {
    libconfig::Config file;
    try {
        file.readFile(path.c_str());
    } catch (const libconfig::ParseException& e) {
        return e.getError();
    }
    return "no parse error";
}

}  // namespace

TEST(ZIZO_ConfigImport, FactoryMakesOnlyTheLibconfigImporter) {
    auto importer = ZIZO_ConfigImport::make_zizo_configimport(ZIZO_ConfigImport::LIBCONFIG);
    ASSERT_NE(importer, nullptr);
    EXPECT_NE(dynamic_cast<ZIZO_ConfigImport_Libconfig*>(importer.get()), nullptr);
    EXPECT_EQ(importer->getConfig().size(), 0u);
    EXPECT_EQ(
        ZIZO_ConfigImport::make_zizo_configimport(static_cast<ZIZO_ConfigImport::CONFIG_TYPE>(1)),
        nullptr);
    EXPECT_EQ(
        ZIZO_ConfigImport::make_zizo_configimport(static_cast<ZIZO_ConfigImport::CONFIG_TYPE>(-1)),
        nullptr);
}

TEST(ZIZO_ConfigImport, ScalarsKeepTheirFileTypeUnderTheirPath) {
    TempDir dir;
    const std::string path = dir.write("scalars.cfg",
                                       "// device defaults\n"
                                       "AGC = { enabled = true; target_level_db = -20.0; "
                                       "max_gain_db = 12; };\n"
                                       "tenth = 0.1;\n"
                                       "hex = 0x10;\n"
                                       "name = \"speech \\\"eq\\\"\";\n"
                                       "off = false;\n"
                                       "OUTER = { INNER = { depth = 2; }; };\n");
    LogCapture log;
    auto importer = makeImporter();
    ASSERT_EQ(importer->import(path), 0);
    const ZIZO_Config config = importer->getConfig();
    EXPECT_EQ(config.size(), 8u);

    EXPECT_TRUE(config.exist<bool>("AGC.enabled"));
    EXPECT_TRUE(config.get<bool>("AGC.enabled"));
    EXPECT_TRUE(config.exist<float>("AGC.target_level_db"));
    EXPECT_EQ(config.get<float>("AGC.target_level_db"), -20.0f);
    EXPECT_TRUE(config.exist<int>("AGC.max_gain_db"));
    EXPECT_EQ(config.get<int>("AGC.max_gain_db"), 12);
    // 0.1 is narrowed to the nearest float, 0x3dcccccd.
    EXPECT_TRUE(config.exist<float>("tenth"));
    EXPECT_EQ(config.get<float>("tenth"), 0.1f);
    EXPECT_EQ(config.getAsString("tenth"), "0.100000001");
    EXPECT_EQ(config.get<int>("hex"), 16);
    EXPECT_EQ(config.get<std::string>("name"), "speech \"eq\"");
    EXPECT_TRUE(config.exist<bool>("off"));
    EXPECT_FALSE(config.get<bool>("off"));
    EXPECT_EQ(config.get<int>("OUTER.INNER.depth"), 2);
    EXPECT_TRUE(log.records().empty());

    // An integer literal where the block expects a float is not a float.
    EXPECT_EQ(config.getGroup("AGC.").get<float>("max_gain_db"), 0.0f);
    EXPECT_EQ(log.count("get failed for parameter max_gain_db"), 1u);
}

// 64-bit integers of a file are read with libconfig's conversion to long.
// Where long has 64 bits (x86-64) every value arrives whole, as a long. Where
// it has 32 (the device's ARM) libconfig refuses that conversion for every
// 64-bit setting, whatever its value: the exception leaves import, and what
// came before it in the file stays imported.
TEST(ZIZO_ConfigImport, SixtyFourBitIntegersAreLongsWhereLibconfigConvertsThem) {
    TempDir dir;
    const std::string scalars = dir.write("wide.cfg",
                                          "before = 1;\n"
                                          "small = 5L;\n"
                                          "big = 9000000000L;\n"
                                          "max = 9223372036854775807L;\n"
                                          "min = -9223372036854775807L;\n");
    const std::string arrays = dir.write("wide_arrays.cfg",
                                         "before_arrays = 2;\n"
                                         "vl = [ 1L, 2L ];\n"
                                         "v = [ 4294967296L, -1L ];\n");
    auto importer = makeImporter();
    if (sizeof(long) < 8) {
        EXPECT_THROW(importer->import(scalars), libconfig::SettingTypeException);
        EXPECT_THROW(importer->import(arrays), libconfig::SettingTypeException);
        const ZIZO_Config config = importer->getConfig();
        EXPECT_EQ(config.size(), 2u);
        EXPECT_EQ(config.get<int>("before"), 1);
        EXPECT_EQ(config.get<int>("before_arrays"), 2);
        return;
    }
    ASSERT_EQ(importer->import(scalars), 0);
    ASSERT_EQ(importer->import(arrays), 0);
    const ZIZO_Config config = importer->getConfig();
    EXPECT_EQ(config.size(), 8u);
    EXPECT_TRUE(config.exist<long>("small"));
    EXPECT_FALSE(config.exist<int>("small"));
    EXPECT_EQ(config.get<long>("small"), 5L);
    // Compared as long long: these literals do not fit a 32-bit long.
    EXPECT_EQ(static_cast<long long>(config.get<long>("big")), 9000000000LL);
    EXPECT_EQ(static_cast<long long>(config.get<long>("max")), 9223372036854775807LL);
    EXPECT_EQ(static_cast<long long>(config.get<long>("min")), -9223372036854775807LL);
    EXPECT_EQ(config.get<std::vector<long>>("vl"), (std::vector<long>{1L, 2L}));
    EXPECT_FALSE(config.exist<std::vector<int>>("vl"));
    const auto v = config.get<std::vector<long>>("v");
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(static_cast<long long>(v[0]), 4294967296LL);
    EXPECT_EQ(v[1], -1L);
    EXPECT_EQ(config.getAsString("big"), "Cannot display value of this type");
}

TEST(ZIZO_ConfigImport, ArraysBecomeVectorsOfTheirElementType) {
    TempDir dir;
    const std::string path = dir.write("arrays.cfg",
                                       "EQUALIZER = { b0 = [ 1.0, 0.5, 0.25 ]; a1 = [ ]; };\n"
                                       "vi = [ 1, -2, 3 ];\n"
                                       "vs = [ \"a\", \"b c\", \"\" ];\n"
                                       "vb = [ true, false, true ];\n"
                                       "one = [ 7 ];\n"
                                       "empty = [];\n");
    auto importer = makeImporter();
    ASSERT_EQ(importer->import(path), 0);
    const ZIZO_Config config = importer->getConfig();
    EXPECT_EQ(config.size(), 7u);
    EXPECT_EQ(config.get<std::vector<float>>("EQUALIZER.b0"),
              (std::vector<float>{1.0f, 0.5f, 0.25f}));
    EXPECT_TRUE(config.exist<ZIZO_Config::EmptyVector>("EQUALIZER.a1"));
    EXPECT_TRUE(config.exist<ZIZO_Config::EmptyVector>("empty"));
    EXPECT_EQ(config.get<std::vector<int>>("vi"), (std::vector<int>{1, -2, 3}));
    EXPECT_EQ(config.get<std::vector<std::string>>("vs"),
              (std::vector<std::string>{"a", "b c", ""}));
    EXPECT_EQ(config.get<std::vector<bool>>("vb"), (std::vector<bool>{true, false, true}));
    EXPECT_EQ(config.get<std::vector<int>>("one"), std::vector<int>{7});
    EXPECT_EQ(config.getAsString("EQUALIZER.b0"), "1 0.5 0.25 ");
}

TEST(ZIZO_ConfigImport, ListElementsAreVisitedUnderTheirLibconfigPath) {
    TempDir dir;
    const std::string path =
        dir.write("lists.cfg", "l = ( 1, \"a\", { x = 2; }, [ 1.5, 2.5 ], ( true ), [ ] );\n");
    auto importer = makeImporter();
    ASSERT_EQ(importer->import(path), 0);
    const ZIZO_Config config = importer->getConfig();
    // Paths of unnamed elements are as libconfig spells them.
    EXPECT_EQ(config.size(), 6u);
    EXPECT_EQ(config.get<int>("l.[0]"), 1);
    EXPECT_EQ(config.get<std::string>("l.[1]"), "a");
    EXPECT_EQ(config.get<int>("l.[2].x"), 2);
    EXPECT_EQ(config.get<std::vector<float>>("l.[3]"), (std::vector<float>{1.5f, 2.5f}));
    EXPECT_TRUE(config.get<bool>("l.[4].[0]"));
    EXPECT_TRUE(config.exist<ZIZO_Config::EmptyVector>("l.[5]"));
}

TEST(ZIZO_ConfigImport, LaterFilesReplaceKeysOfEarlierOnes) {
    TempDir dir;
    const std::string a = dir.write("a.cfg",
                                    "gain = 1; mode = 2;\n"
                                    "AGC = { enabled = false; target_level_db = -20.0; };\n"
                                    "b0 = [ 1.0, 2.0 ];\n");
    const std::string b = dir.write("b.cfg",
                                    "mode = \"x\"; rate = 3.0;\n"
                                    "AGC = { target_level_db = -18.5; };\n"
                                    "b0 = [ ];\n");
    auto importer = makeImporter();
    ASSERT_EQ(importer->import(a), 0);
    ASSERT_EQ(importer->import(b), 0);
    const ZIZO_Config config = importer->getConfig();
    EXPECT_EQ(config.size(), 6u);
    EXPECT_EQ(config.get<int>("gain"), 1);
    EXPECT_TRUE(config.exist<std::string>("mode"));
    EXPECT_EQ(config.get<std::string>("mode"), "x");
    EXPECT_EQ(config.get<float>("rate"), 3.0f);
    EXPECT_FALSE(config.get<bool>("AGC.enabled"));
    EXPECT_TRUE(config.exist<bool>("AGC.enabled"));
    EXPECT_EQ(config.get<float>("AGC.target_level_db"), -18.5f);
    EXPECT_TRUE(config.exist<ZIZO_Config::EmptyVector>("b0"));

    // Importing the first file again puts its values back on top.
    ASSERT_EQ(importer->import(a), 0);
    EXPECT_EQ(importer->getConfig().get<int>("mode"), 2);
    EXPECT_EQ(importer->getConfig().get<float>("rate"), 3.0f);
}

TEST(ZIZO_ConfigImport, GetConfigHandsOutAnIndependentCopy) {
    TempDir dir;
    auto importer = makeImporter();
    ASSERT_EQ(importer->import(dir.write("g.cfg", "gain = 1;\n")), 0);
    ZIZO_Config taken = importer->getConfig();
    taken.set<int>("gain", 5);
    taken.set<int>("extra", 1);
    EXPECT_EQ(importer->getConfig().get<int>("gain"), 1);
    EXPECT_EQ(importer->getConfig().size(), 1u);
}

TEST(ZIZO_ConfigImport, EmptyFilesAddNothing) {
    TempDir dir;
    LogCapture log;
    auto importer = makeImporter();
    EXPECT_EQ(importer->import(dir.write("empty.cfg", "")), 0);
    EXPECT_EQ(importer->import(dir.write("comments.cfg", "# nothing\n// here\n/* at all */\n")), 0);
    EXPECT_EQ(importer->import(dir.write("group.cfg", "AGC = { };\nl = ( );\n")), 0);
    EXPECT_EQ(importer->getConfig().size(), 0u);
    EXPECT_TRUE(log.records().empty());
}

TEST(ZIZO_ConfigImport, MissingFileIsReportedAndKeepsEarlierKeys) {
    TempDir dir;
    auto importer = makeImporter();
    ASSERT_EQ(importer->import(dir.write("base.cfg", "gain = 1;\n")), 0);

    LogCapture log;
    const std::string missing = dir.file("absent.cfg");
    EXPECT_EQ(importer->import(missing), -1);
    EXPECT_EQ(importer->import(dir.path()), -1);  // a directory cannot be read either
    const auto errors = log.records(kLogger, "ERROR");
    ASSERT_EQ(log.records().size(), 2u);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].message, "I/O error while reading file " + missing + ".");
    EXPECT_EQ(errors[0].function, "import");
    EXPECT_EQ(errors[0].file, "ZIZO_ConfigImport_Libconfig.cpp");
    EXPECT_EQ(errors[1].message, "I/O error while reading file " + dir.path() + ".");

    EXPECT_EQ(importer->getConfig().size(), 1u);
    EXPECT_EQ(importer->getConfig().get<int>("gain"), 1);
    // The importer stays usable.
    ASSERT_EQ(importer->import(dir.write("more.cfg", "rate = 2;\n")), 0);
    EXPECT_EQ(importer->getConfig().size(), 2u);
}

// libconfig's scanner ends the whole process when it reads a directory, so
// a file that includes anything but a regular readable file must be refused
// before libconfig sees it: as an unreadable file, adding nothing.
TEST(ZIZO_ConfigImport, IncludesOfAnythingButRegularFilesAreRefusedAsUnreadable) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("adir"));
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    const std::string inner = dir.write(
        "inner.cfg", "inner = 2;\n@include \"" + dir.write("deepest.cfg", "deep = 3;\n") + "\"\n");
    // Regular files are followed, also nested and after indentation.
    const std::string good =
        dir.write("good.cfg", "outer = 1;\n  @include \"" + inner + "\"\nafter = 4;\n");
    auto importer = makeImporter();
    ASSERT_EQ(importer->import(good), 0);
    const ZIZO_Config config = importer->getConfig();
    EXPECT_EQ(config.size(), 4u);
    EXPECT_EQ(config.get<int>("deep"), 3);
    EXPECT_EQ(config.get<int>("after"), 4);

    // The name of an include may run on past the end of the included file
    // into the file that included it: "ad" + "ir".
    const std::string cut = dir.write("cut.cfg", "@include \"" + dir.file("ad"));
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"a directory", "a = 1;\n@include \"" + dir.file("adir") + "\"\n"},
        {"a directory, one level down",
         "@include \"" + dir.write("via.cfg", "@include \"" + dir.file("adir") + "\"\n") + "\"\n"},
        {"a FIFO, which would block", "\t@include \"" + dir.file("fifo") + "\"\n"},
        {"a missing file", "@include \"" + dir.file("absent.cfg") + "\"\n"},
        {"a directory whose name ends after the included file", "@include \"" + cut + "\"ir\"\n"},
    };
    for (const auto& [what, text] : refused) {
        SCOPED_TRACE(what);
        const std::string path = dir.write("outer.cfg", text);
        LogCapture log;
        EXPECT_EQ(importer->import(path), -1);
        EXPECT_EQ(log.messages(kLogger),
                  std::vector<std::string>{"I/O error while reading file " + path + "."});
        EXPECT_EQ(importer->getConfig().size(), 4u);
    }
}

TEST(ZIZO_ConfigImport, ParseErrorNamesTheLineAndAddsNothing) {
    TempDir dir;
    // Line 7 holds the error; the settings above it are valid.
    const std::string path = dir.write("broken.cfg",
                                       "gain = 1;\n"
                                       "# comment\n"
                                       "AGC = {\n"
                                       "  enabled = true;\n"
                                       "};\n"
                                       "\n"
                                       "rate = = 3;\n"
                                       "late = 4;\n");
    const std::string mixed = dir.write("mixed.cfg", "ok = 1;\nv = [ 1, 2.5 ];\n");
    auto importer = makeImporter();
    ASSERT_EQ(importer->import(dir.write("base.cfg", "base = 1;\n")), 0);

    LogCapture log;
    EXPECT_EQ(importer->import(path), -1);
    EXPECT_EQ(importer->import(mixed), -1);
    const auto errors = log.records(kLogger, "ERROR");
    ASSERT_EQ(log.records().size(), 2u);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].message,
              "Config file " + path + ": Parse error at line 7 - " + parseErrorText(path));
    EXPECT_EQ(parseErrorText(path), "syntax error");
    EXPECT_EQ(errors[0].function, "import");
    EXPECT_EQ(errors[1].message,
              "Config file " + mixed + ": Parse error at line 2 - " + parseErrorText(mixed));

    const ZIZO_Config config = importer->getConfig();
    EXPECT_EQ(config.size(), 1u);
    EXPECT_TRUE(config.exist<int>("base"));
}

TEST(ZIZO_ConfigImport, TraverseCanFillFromSettingsBuiltInMemory) {
    libconfig::Config settings;
    libconfig::Setting& agc = settings.getRoot().add("AGC", libconfig::Setting::TypeGroup);
    agc.add("max_gain_db", libconfig::Setting::TypeFloat) = 12.0;
    libconfig::Setting& b0 = agc.add("b0", libconfig::Setting::TypeArray);
    b0.add(libconfig::Setting::TypeFloat) = 0.5;
    settings.getRoot().add("name", libconfig::Setting::TypeString) = "x";

    ZIZO_ConfigImport_Libconfig importer;
    importer.traverse(settings.getRoot());
    // Settings of the wrong kind are ignored by the single-setting stores.
    importer.addScalar(b0);
    importer.addArray(agc["max_gain_db"]);
    const ZIZO_Config config = importer.getConfig();
    EXPECT_EQ(config.size(), 3u);
    EXPECT_EQ(config.get<float>("AGC.max_gain_db"), 12.0f);
    EXPECT_EQ(config.get<std::vector<float>>("AGC.b0"), std::vector<float>{0.5f});
    EXPECT_EQ(config.get<std::string>("name"), "x");
}
