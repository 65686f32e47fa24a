// spipanel end to end, on the fake spidev: what reaches the device, in which
// order, what the program prints and how it ends.
#include <gtest/gtest.h>
#include <linux/spi/spidev.h>

#include <cstdint>
#include <cstdio>
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
        {0xD0, {0x03, 0x07, 0x73, 0x35, 0x00, 0x01, 0x20, 0x00, 0x03}},
        {0xD1, {0x03, 0x07, 0x73, 0x35, 0x00, 0x01, 0x20, 0x00, 0x03}},
        {0xD2, {0x03, 0x07, 0x73, 0x35, 0x00, 0x01, 0x20, 0x00, 0x03}},
        {0xD3, {0x03, 0x07, 0x73, 0x35, 0x00, 0x01, 0x20, 0x00, 0x03}},
        {0xD4, {0x03, 0x07, 0x73, 0x35, 0x00, 0x01, 0x20, 0x00, 0x03}},
        {0xD5, {0x03, 0x07, 0x73, 0x35, 0x00, 0x01, 0x20, 0x00, 0x03}},
        {0x11, {}},
    };
    std::vector<unsigned> words;
    for (const auto& [command, parameters] : commands) {
        words.push_back(0x7000 | command);
        for (unsigned p : parameters)
            words.push_back(0x7200 | p);
    }
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

TEST(Spipanel, EachModeOptionSetsItsBitAndTheyAccumulate) {
    const std::vector<std::tuple<std::string, std::string, unsigned>> options = {
        {"-l", "--loop", 0x20},  {"-H", "--cpha", 0x01},    {"-O", "--cpol", 0x02},
        {"-L", "--lsb", 0x08},   {"-C", "--cs-high", 0x04}, {"-3", "--3wire", 0x10},
        {"-N", "--no-cs", 0x40}, {"-R", "--ready", 0x80},
    };
    for (const auto& [shortForm, longForm, bit] : options) {
        for (const auto& option : {shortForm, longForm}) {
            const auto run = runSpipanel({option}, kPanel);
            EXPECT_EQ(run.status, 0) << option;
            EXPECT_EQ(eventsIn(run.log).at(1), "write mode " + std::to_string(bit)) << option;
            EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "spi mode: " + std::to_string(bit))
                << option;
        }
    }
    const auto run = runSpipanel({"-H", "--cpol", "-N", "-R", "-H"}, kPanel);
    EXPECT_EQ(eventsIn(run.log).at(1), "write mode 195");
}

TEST(Spipanel, SpeedDelayAndWordSizeReachTheSetUpAndEveryTransfer) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-D", "/dev/spidev0.1", "-s", "2500000", "-d", "7", "-b", "8"},
             {"--device", "/dev/spidev0.1", "--speed", "2500000", "--delay=7", "--bpw", "8"}}) {
        const auto run = runSpipanel(args, "device /dev/spidev0.1 spidev\n");
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
        EXPECT_EQ(
            run.out.rfind("spi mode: 0\nbits per word: 8\nmax speed: 2500000 Hz (2500 KHz)\n", 0),
            0u);
    }
}

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

TEST(Spipanel, EachFailingStepEndsTheRunWithItsMessage) {
    const unsigned long message = SPI_IOC_MESSAGE(1);
    const std::vector<std::tuple<std::string, std::string, size_t>> cases = {
        {"device /dev/spidev4.0 absent\n", "can't open device: No such file or directory", 0},
        {kPanel + failIoctl(SPI_IOC_WR_MODE), "can't set spi mode: Input/output error", 0},
        {kPanel + failIoctl(SPI_IOC_RD_MODE), "can't get spi mode: Input/output error", 0},
        {kPanel + failIoctl(SPI_IOC_WR_BITS_PER_WORD),
         "can't set bits per word: Input/output error", 0},
        {kPanel + failIoctl(SPI_IOC_RD_BITS_PER_WORD),
         "can't get bits per word: Input/output error", 0},
        {kPanel + failIoctl(SPI_IOC_WR_MAX_SPEED_HZ), "can't set max speed hz: Input/output error",
         0},
        {kPanel + failIoctl(SPI_IOC_RD_MAX_SPEED_HZ), "can't get max speed hz: Input/output error",
         0},
        {kPanel + failIoctl(message, 5), "can't send spi message: Input/output error", 4},
        {kPanel + "short_transfer 115\n", "can't send spi message: Input/output error", 114},
    };
    for (const auto& [config, message, sent] : cases) {
        const auto run = runSpipanel({}, config);
        EXPECT_EQ(run.status, 1) << message;
        EXPECT_EQ(run.err, message + "\n");
        EXPECT_EQ(transfersIn(run.log).size(), sent) << message;
        if (sent > 0) {
            EXPECT_EQ(run.out.substr(run.out.size() - 7), "\n00 00 ") << message;
        }
    }
    // The display-on word is the one a short transfer lost, after the pause.
    const auto events = eventsIn(runSpipanel({}, kPanel + "short_transfer 115\n").log);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "sleep 1000000");
    EXPECT_EQ(events.back(), "short transfer");
}

TEST(Spipanel, AnUnknownOptionPrintsTheUsage) {
    const std::string usage =
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
        "\n";
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"-x"}, {"--fast"}, {"-H", "-s"}}) {
        const auto run = runSpipanel(args, kPanel);
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_EQ(run.out, usage) << args[0];
        EXPECT_TRUE(run.log.empty()) << args[0];
    }
}

TEST(Spipanel, RefusesNumbersThatDoNotFitTheirFieldBeforeOpening) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"-d", "70000"},
                                                                  {"-b", "272"},
                                                                  {"-s", "4294967296"},
                                                                  {"-s", "fast"},
                                                                  {"-d", "-1"},
                                                                  {"-b", "16x"},
                                                                  {"--speed", ""},
                                                                  {"-s", " 100"},
                                                                  {"-d", "0x10"}}) {
        const auto run = runSpipanel(args, kPanel);
        EXPECT_EQ(run.status, 1) << args[0] << " " << args[1];
        EXPECT_NE(run.err.find("is not a decimal number from 0 to "), std::string::npos)
            << args[0] << " " << args[1];
        EXPECT_TRUE(run.log.empty()) << args[0] << " " << args[1];
    }
    // The largest value of each field still goes through untouched.
    const auto run = runSpipanel({"-s", "4294967295", "-d", "65535", "-b", "255"}, kPanel);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind(
                  "spi mode: 0\nbits per word: 255\nmax speed: 4294967295 Hz (4294967 KHz)\n", 0),
              0u);
    EXPECT_EQ(transfersIn(run.log).front().delay_usecs, 65535u);
}

}  // namespace
