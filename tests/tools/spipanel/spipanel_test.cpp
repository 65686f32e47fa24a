// spipanel end to end, on the fake spidev: what reaches the device, in which
// order, what the program prints and how it ends.
#include <gtest/gtest.h>
#include <linux/spi/spidev.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "SpipanelRun.h"

namespace {

const std::string kPanel = "device /dev/spidev4.0 spidev\n";

// The panel's initialisation as commands with their parameter bytes, typed
// in from the panel's command table rather than from the word list.
std::vector<unsigned> panelWordsFromCommandTable() {
    const std::vector<std::pair<unsigned, std::vector<unsigned>>> commands = {
        {0x3A, {0x70}},
        {0xB1, {0x0E, 0x3B, 0x0F}},
        {0xB2, {0x00, 0xC8}},
        {0xB3, {0x00}},
        {0xB4, {0x00}},
        {0xB5, {0x42, 0x10, 0x10, 0x00, 0x20}},
        {0xB6, {0x0B, 0x0F, 0x3C, 0x13, 0x13, 0xE8}},
        {0xB7, {0x46, 0x06, 0x0C, 0x00, 0x00}},
        {0xC0, {0x01, 0x11}},
        {0xC3, {0x07, 0x03, 0x04, 0x04, 0x04}},
        {0xC4, {0x12, 0x24, 0x18, 0x18, 0x02, 0x49}},
        {0xC5, {0x6F}},
        {0xC6, {0x41, 0x63}},
    };
    const std::vector<unsigned> eachOfD0ToD5 = {0x03, 0x07, 0x73, 0x35, 0x00,
                                                0x01, 0x20, 0x00, 0x03};
    std::vector<unsigned> words;
    auto send = [&words](unsigned command, const std::vector<unsigned>& parameters) {
        words.push_back(0x7000 | command);
        for (unsigned p : parameters)
            words.push_back(0x7200 | p);
    };
    for (const auto& [command, parameters] : commands)
        send(command, parameters);
    for (unsigned command = 0xD0; command <= 0xD5; command++)
        send(command, eachOfD0ToD5);
    send(0x11, {});
    return words;
}

std::string hex(unsigned word) {
    char text[16];
    std::snprintf(text, sizeof text, "tx 0x%04X", word);
    return text;
}

std::string failIoctl(unsigned long request, int nth = 1) {
    char text[64];
    std::snprintf(text, sizeof text, "fail ioctl EIO %d 0x%lx\n", nth, request);
    return text;
}

std::vector<std::string> setUp(unsigned mode, unsigned bits, unsigned speed) {
    return {"write mode " + std::to_string(mode),
            "read mode " + std::to_string(mode),
            "write bits_per_word " + std::to_string(bits),
            "read bits_per_word " + std::to_string(bits),
            "write max_speed_hz " + std::to_string(speed),
            "read max_speed_hz " + std::to_string(speed)};
}

// Parameterised cases carry a name, so each runs as its own short ctest entry
// with a readable name.
template <typename Case>
std::string byName(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

struct NamedArgs {
    const char* name;
    std::vector<std::string> args;
};

TEST(Spipanel, DefaultRunSendsTheCommandTableThenDisplayOnAfterOneSecond) {
    // The peer answers 0x0005 and 0xABCD in turn (little-endian words).
    const auto run = runSpipanel({}, kPanel + "rx 0x05 0x00 0xCD 0xAB\n");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    const auto table = panelWordsFromCommandTable();
    ASSERT_EQ(table.size(), 114u);
    std::vector<std::string> expected{"open /dev/spidev4.0"};
    for (const auto& line : setUp(0, 16, 16000))
        expected.push_back(line);
    for (unsigned word : table)
        expected.push_back(hex(word));
    expected.push_back("sleep 1000000");
    expected.push_back(hex(0x7029));
    expected.push_back("close /dev/spidev4.0");
    EXPECT_EQ(eventsIn(run.log), expected);

    const auto transfers = transfersIn(run.log);
    ASSERT_EQ(transfers.size(), 115u);
    for (const auto& t : transfers) {
        EXPECT_EQ(t.len, 2u);
        EXPECT_EQ(t.speed_hz, 16000u);
        EXPECT_EQ(t.delay_usecs, 100u);
        EXPECT_EQ(t.bits_per_word, 16u);
        EXPECT_EQ(t.cs_change, 0u);
    }

    std::string dump = "spi mode: 0\nbits per word: 16\nmax speed: 16000 Hz (16 KHz)\n";
    for (int i = 0; i < 115; i++)
        dump += i % 2 == 0 ? "\n05 00 " : "\nABCD 00 ";
    EXPECT_EQ(run.out, dump + "\n");
}

struct ModeOption {
    const char* name;
    std::string shortForm, longForm;
    unsigned bit;
};

class SpipanelModeOption : public testing::TestWithParam<ModeOption> {};

TEST_P(SpipanelModeOption, SetsItsBitInShortAndLongForm) {
    const auto& [name, shortForm, longForm, bit] = GetParam();
    for (const auto& option : {shortForm, longForm}) {
        const auto run = runSpipanel({option}, kPanel);
        EXPECT_EQ(run.status, 0) << option;
        EXPECT_EQ(eventsIn(run.log).at(1), "write mode " + std::to_string(bit)) << option;
        EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "spi mode: " + std::to_string(bit))
            << option;
    }
}

INSTANTIATE_TEST_SUITE_P(Options, SpipanelModeOption,
                         testing::Values(ModeOption{"loop", "-l", "--loop", 0x20},
                                         ModeOption{"cpha", "-H", "--cpha", 0x01},
                                         ModeOption{"cpol", "-O", "--cpol", 0x02},
                                         ModeOption{"lsb", "-L", "--lsb", 0x08},
                                         ModeOption{"cs_high", "-C", "--cs-high", 0x04},
                                         ModeOption{"three_wire", "-3", "--3wire", 0x10},
                                         ModeOption{"no_cs", "-N", "--no-cs", 0x40},
                                         ModeOption{"ready", "-R", "--ready", 0x80}),
                         byName<ModeOption>);

TEST(Spipanel, ModeBitsAccumulate) {
    const auto run = runSpipanel({"-H", "--cpol", "-N", "-R", "-H"}, kPanel);
    EXPECT_EQ(eventsIn(run.log).at(1), "write mode 195");
}

class SpipanelSettings : public testing::TestWithParam<NamedArgs> {};

TEST_P(SpipanelSettings, SpeedDelayAndWordSizeReachTheSetUpAndEveryTransfer) {
    const auto run = runSpipanel(GetParam().args, "device /dev/spidev0.1 spidev\n");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto events = eventsIn(run.log);
    ASSERT_GE(events.size(), 7u);
    EXPECT_EQ(events[0], "open /dev/spidev0.1");
    EXPECT_EQ(std::vector<std::string>(events.begin() + 1, events.begin() + 7),
              setUp(0, 8, 2500000));
    const auto transfers = transfersIn(run.log);
    ASSERT_EQ(transfers.size(), 115u);
    for (const auto& t : transfers) {
        EXPECT_EQ(t.speed_hz, 2500000u);
        EXPECT_EQ(t.delay_usecs, 7u);
        EXPECT_EQ(t.bits_per_word, 8u);
    }
    EXPECT_EQ(run.out.rfind("spi mode: 0\nbits per word: 8\nmax speed: 2500000 Hz (2500 KHz)\n", 0),
              0u);
}

INSTANTIATE_TEST_SUITE_P(Forms, SpipanelSettings,
                         testing::Values(NamedArgs{"short",
                                                   {"-D", "/dev/spidev0.1", "-s", "2500000", "-d",
                                                    "7", "-b", "8"}},
                                         NamedArgs{"long",
                                                   {"--device", "/dev/spidev0.1", "--speed",
                                                    "2500000", "--delay=7", "--bpw", "8"}}),
                         byName<NamedArgs>);

TEST(Spipanel, WhatTheControllerReportsReplacesTheSettings) {
    const auto run =
        runSpipanel({"-s", "20000000", "-H"},
                    kPanel + "speed_max 10000000\nmode_extra 0x04\nbits_per_word_only 9\n");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(
        run.out.rfind("spi mode: 5\nbits per word: 9\nmax speed: 10000000 Hz (10000 KHz)\n", 0),
        0u);
    const auto transfers = transfersIn(run.log);
    ASSERT_EQ(transfers.size(), 115u);
    EXPECT_EQ(transfers.back().speed_hz, 10000000u);
    EXPECT_EQ(transfers.back().bits_per_word, 9u);
}

struct FailingStep {
    const char* name;
    std::string config, message;
    size_t sentBefore;
};

class SpipanelFailingStep : public testing::TestWithParam<FailingStep> {};

TEST_P(SpipanelFailingStep, EndsTheRunWithItsMessageAndKeepsWhatWasSent) {
    const auto& [name, config, message, sentBefore] = GetParam();
    const auto run = runSpipanel({}, config);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, message + "\n");
    EXPECT_EQ(transfersIn(run.log).size(), sentBefore);
    if (sentBefore > 0) {
        EXPECT_EQ(run.out.substr(run.out.size() - 7), "\n00 00 ");
    }
    const auto events = eventsIn(run.log);
    const bool paused = std::find(events.begin(), events.end(), "sleep 1000000") != events.end();
    EXPECT_EQ(paused, sentBefore == 114);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SpipanelFailingStep,
    testing::Values(FailingStep{"open", "device /dev/spidev4.0 absent\n",
                                "can't open device: No such file or directory", 0},
                    FailingStep{"set_mode", kPanel + failIoctl(SPI_IOC_WR_MODE),
                                "can't set spi mode: Input/output error", 0},
                    FailingStep{"get_mode", kPanel + failIoctl(SPI_IOC_RD_MODE),
                                "can't get spi mode: Input/output error", 0},
                    FailingStep{"set_bits", kPanel + failIoctl(SPI_IOC_WR_BITS_PER_WORD),
                                "can't set bits per word: Input/output error", 0},
                    FailingStep{"get_bits", kPanel + failIoctl(SPI_IOC_RD_BITS_PER_WORD),
                                "can't get bits per word: Input/output error", 0},
                    FailingStep{"set_speed", kPanel + failIoctl(SPI_IOC_WR_MAX_SPEED_HZ),
                                "can't set max speed hz: Input/output error", 0},
                    FailingStep{"get_speed", kPanel + failIoctl(SPI_IOC_RD_MAX_SPEED_HZ),
                                "can't get max speed hz: Input/output error", 0},
                    FailingStep{"fifth_transfer", kPanel + failIoctl(SPI_IOC_MESSAGE(1), 5),
                                "can't send spi message: Input/output error", 4},
                    // Nothing moved and no system error: the tool reports an I/O error.
                    FailingStep{"display_on_moves_nothing", kPanel + "short_transfer 115\n",
                                "can't send spi message: Input/output error", 114}),
    byName<FailingStep>);

class SpipanelUsage : public testing::TestWithParam<NamedArgs> {};

TEST_P(SpipanelUsage, PrintsTheUsageAndTouchesNoDevice) {
    const auto run = runSpipanel(GetParam().args, kPanel);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "Usage: spipanel [-DsbdlHOLC3]\n"
              "  -D --device   device to use (default /dev/spidev1.1)\n"
              "  -s --speed    max speed (Hz)\n"
              "  -d --delay    delay (usec)\n"
              "  -b --bpw      bits per word \n"
              "  -l --loop     loopback\n"
              "  -H --cpha     clock phase\n"
              "  -O --cpol     clock polarity\n"
              "  -L --lsb      least significant bit first\n"
              "  -C --cs-high  chip select active high\n"
              "  -3 --3wire    SI/SO signals shared\n"
              "\n");
    EXPECT_TRUE(run.log.empty());
}

INSTANTIATE_TEST_SUITE_P(Options, SpipanelUsage,
                         testing::Values(NamedArgs{"unknown_short", {"-x"}},
                                         NamedArgs{"unknown_long", {"--fast"}},
                                         NamedArgs{"missing_argument", {"-H", "-s"}}),
                         byName<NamedArgs>);

class SpipanelRefusedNumber : public testing::TestWithParam<NamedArgs> {};

TEST_P(SpipanelRefusedNumber, EndsBeforeTheDeviceIsOpened) {
    const auto run = runSpipanel(GetParam().args, kPanel);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("is not a decimal number from 0 to "), std::string::npos) << run.err;
    EXPECT_TRUE(run.log.empty());
}

INSTANTIATE_TEST_SUITE_P(Arguments, SpipanelRefusedNumber,
                         testing::Values(NamedArgs{"delay_over_16_bits", {"-d", "70000"}},
                                         NamedArgs{"bits_over_8_bits", {"-b", "272"}},
                                         NamedArgs{"speed_over_32_bits", {"-s", "4294967296"}},
                                         NamedArgs{"speed_no_number", {"-s", "fast"}},
                                         NamedArgs{"bits_trailing_text", {"-b", "16x"}},
                                         NamedArgs{"speed_empty", {"--speed", ""}}),
                         byName<NamedArgs>);

// With a standard stream closed, the device must not take its number: the
// settings printed, and the failure message, would be written to the bus.
TEST(Spipanel, ClosedStandardStreamsNeverBecomeTheDevice) {
    const std::string backing =
        std::filesystem::temp_directory_path() / ("spipanel-device-" + std::to_string(getpid()));
    for (int stream : {STDOUT_FILENO, STDERR_FILENO}) {
        SCOPED_TRACE(stream);
        std::ofstream{backing};
        const auto run = runSpipanel({},
                                     "device /dev/spidev4.0 spidev\nbacking " + backing + "\n" +
                                         failIoctl(SPI_IOC_MESSAGE(1), 3),
                                     stream);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(transfersIn(run.log).size(), 2u);
        EXPECT_EQ(std::filesystem::file_size(backing), 0u) << "nothing was written to the device";
    }
    std::filesystem::remove(backing);
}

TEST(Spipanel, TheLargestValueOfEachFieldGoesThroughUntouched) {
    const auto run = runSpipanel({"-s", "4294967295", "-d", "65535", "-b", "255"}, kPanel);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind(
                  "spi mode: 0\nbits per word: 255\nmax speed: 4294967295 Hz (4294967 KHz)\n", 0),
              0u);
    const auto transfers = transfersIn(run.log);
    ASSERT_EQ(transfers.size(), 115u);
    EXPECT_EQ(transfers.front().delay_usecs, 65535u);
    EXPECT_EQ(transfers.front().speed_hz, 4294967295u);
    EXPECT_EQ(transfers.front().bits_per_word, 255u);
}

}  // namespace
