// fbprobe on the fake framebuffer. Every expected byte and pixel below was
// worked out by hand from the pixel formats and pattern rules, not computed
// the way the program does.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "FakeFramebuffer.h"

namespace {

// How often the program opened the fake node at path.
long opens(const Outcome& run, const std::string& path) {
    return std::count_if(run.log.begin(), run.log.end(), [&](const std::string& line) {
        return line.rfind("open " + path + " -> ", 0) == 0;
    });
}

std::string ppm(const std::string& header, const Bytes& body) {
    return header + std::string(body.begin(), body.end());
}

// Grab round trips: 3x2 visible on a 4x3 virtual screen. Pixels of the
// fourth column and the third row lie outside the visible screen and must
// not appear in the image.
struct GrabCase {
    const char* name;
    Screen screen;
    uint32_t pixels[2][3];
    uint32_t hidden;
    Bytes rgb;  // expected body, row by row
};

TEST(FbprobeGrab, EveryFormatRoundTripsToHandDerivedPpm) {
    const GrabCase cases[] = {
        {"RGB565",
         {3, 2, 4, 3, 16, {11, 5, 0}, {5, 6, 0}, {0, 5, 0}},
         {{0xf800, 0x07e0, 0x001f}, {0xffff, 0x8410, 0x0821}},
         0x1234,
         {0xf8, 0, 0, 0, 0xfc, 0, 0, 0, 0xf8, 0xf8, 0xfc, 0xf8, 0x80, 0x80, 0x80, 0x08, 0x04,
          0x08}},
        {"RGB555",
         {3, 2, 4, 3, 16, {10, 5, 0}, {5, 5, 0}, {0, 5, 0}},
         {{0x7c00, 0x03e0, 0x001f}, {0x7fff, 0x4210, 0x8000}},
         0x1234,
         {0xf8, 0, 0, 0, 0xf8, 0, 0, 0, 0xf8, 0xf8, 0xf8, 0xf8, 0x80, 0x80, 0x80, 0, 0, 0}},
        {"RGB888 (blue lowest byte)",
         {3, 2, 4, 3, 24, {16, 8, 0}, {8, 8, 0}, {0, 8, 0}},
         {{0x123456, 0xff0000, 0x0000ff}, {0x00ff00, 0xabcdef, 0x010203}},
         0x777777,
         {0x12, 0x34, 0x56, 0xff, 0, 0, 0, 0, 0xff, 0, 0xff, 0, 0xab, 0xcd, 0xef, 1, 2, 3}},
        {"BGR888 (red lowest byte)",
         {3, 2, 4, 3, 24, {0, 8, 0}, {8, 8, 0}, {16, 8, 0}},
         {{0x123456, 0xff0000, 0x0000ff}, {0x00ff00, 0xabcdef, 0x010203}},
         0x777777,
         {0x56, 0x34, 0x12, 0, 0, 0xff, 0xff, 0, 0, 0, 0xff, 0, 0xef, 0xcd, 0xab, 3, 2, 1}},
        {"XRGB8888",
         {3, 2, 4, 3, 32, {16, 8, 0}, {8, 8, 0}, {0, 8, 0}},
         {{0xff123456, 0x00ff0000, 0x000000ff}, {0x0000ff00, 0x80abcdef, 0x00010203}},
         0x77777777,
         {0x12, 0x34, 0x56, 0xff, 0, 0, 0, 0, 0xff, 0, 0xff, 0, 0xab, 0xcd, 0xef, 1, 2, 3}},
        {"XBGR8888",
         {3, 2, 4, 3, 32, {0, 8, 0}, {8, 8, 0}, {16, 8, 0}},
         {{0xff123456, 0x00ff0000, 0x000000ff}, {0x0000ff00, 0x80abcdef, 0x00010203}},
         0x77777777,
         {0x56, 0x34, 0x12, 0, 0, 0xff, 0xff, 0, 0, 0, 0xff, 0, 0xef, 0xcd, 0xab, 3, 2, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFramebuffer fb(c.screen);
        for (unsigned y = 0; y < 3; y++)
            for (unsigned x = 0; x < 4; x++)
                poke(fb.frame(), c.screen, x, y, x < 3 && y < 2 ? c.pixels[y][x] : c.hidden);
        const std::string image = fb.dir().file("image.ppm");
        // A longer old file must not leave its tail behind.
        fb.dir().write("image.ppm", std::string(200, 'z'));
        Outcome run = fb.run({"--grab", image});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(FakeFramebuffer::readFile(image), ppm("P6\n3 2\n255\n", c.rgb));
        EXPECT_EQ(run.err, "Grabbing from a fb-display with 3x2 (" +
                               std::to_string(c.screen.bits_per_pixel) + "bpp) [virtual 4x3]\n");
    }
}

TEST(FbprobeGrab, DashWritesToStandardOutput) {
    const Screen s = rgb565(2, 1, 2, 1);
    FakeFramebuffer fb(s);
    poke(fb.frame(), s, 0, 0, 0x001f);
    poke(fb.frame(), s, 1, 0, 0xf81f);
    Outcome run = fb.run({"--grab", "-"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, ppm("P6\n2 1\n255\n", {0, 0, 0xf8, 0xf8, 0, 0xf8}));
}

// Every descriptor on a file is closed again, and with a standard stream
// closed neither the image nor a message ever goes into the device.
TEST(FbprobeGrab, ClosesItsFileAndNeverWritesIntoTheDevice) {
    const Screen s = rgb565(2, 1, 2, 1);
    FakeFramebuffer fb(s, "files log\n");
    const std::string image = fb.dir().file("image.ppm");
    fb.fill(0x5a);
    Outcome run = fb.run({"--grab", image, "--grab", image});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(std::count(run.log.begin(), run.log.end(), "close " + image), 2);
    EXPECT_EQ(opens(run, image), 2);

    run = fb.run({"--grab", "-", "--solid", "0x0102"}, "/dev/null", STDOUT_FILENO);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "Grabbing from a fb-display with 2x1 (16bpp) [virtual 2x1]\n"
              "Can not open output file: Bad file descriptor\n"
              "Filling fb-display with 2x1 (16bpp) with solid color of 00000102\n");
    EXPECT_EQ(fb.frame(), Bytes({2, 1, 2, 1})) << "the later fill still runs";

    fb.fill(0x5a);
    run = fb.run({"--grab", image, "--grab", "-"}, "/dev/null", STDERR_FILENO);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(fb.frame(), Bytes(4, 0x5a)) << "no message went into the frame";
    EXPECT_EQ(run.out, ppm("P6\n2 1\n255\n", {0x58, 0x48, 0xd0, 0x58, 0x48, 0xd0}));
}

TEST(FbprobeGrab, RefusedFormatsAndFailuresStopOrFailWithTheirMessage) {
    const std::string name = "image.ppm";
    {
        SCOPED_TRACE("8 bpp: the file is created (and emptied) but nothing written");
        FakeFramebuffer fb(pseudocolour(4, 3, 4, 3, 8, 8, 8));
        fb.dir().write(name, "old content");
        Outcome run = fb.run({"--grab", fb.dir().file(name), "--solid", "#1"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(FakeFramebuffer::readFile(fb.dir().file(name)), "");
        EXPECT_NE(run.err.find("grabbing from palette not implemented yet\n"), std::string::npos);
        EXPECT_EQ(fb.frame(), Bytes(12, 1)) << "the later solid fill still runs";
    }
    {
        SCOPED_TRACE("10-bit fields cannot be grabbed; nothing after runs");
        Screen s{2, 2, 2, 2, 32, {20, 10, 0}, {10, 10, 0}, {0, 10, 0}};
        FakeFramebuffer fb(s);
        Outcome run = fb.run({"--grab", fb.dir().file(name), "--solid", "5"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(access(fb.dir().file(name).c_str(), F_OK), -1) << "no file is created";
        EXPECT_EQ(fb.frame(), Bytes(16, 0));
        EXPECT_NE(run.err.find("fbprobe: cannot grab a red field of 10 bits"), std::string::npos);
    }
    {
        SCOPED_TRACE("msb_right cannot be grabbed");
        Screen s = rgb565(2, 2, 2, 2);
        s.green.msb_right = 1;
        FakeFramebuffer fb(s);
        Outcome run = fb.run({"--grab", fb.dir().file(name)});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("green field"), std::string::npos) << run.err;
    }
    {
        SCOPED_TRACE("output file cannot be opened: later options still run");
        FakeFramebuffer fb(rgb565(2, 2, 2, 2));
        Outcome run = fb.run({"--grab", fb.dir().file("no/such/dir"), "--solid", "0x0102"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err,
                  "Grabbing from a fb-display with 2x2 (16bpp) [virtual 2x2]\n"
                  "Can not open output file: No such file or directory\n"
                  "Filling fb-display with 2x2 (16bpp) with solid color of 00000102\n");
        EXPECT_EQ(fb.frame(), Bytes({2, 1, 2, 1, 2, 1, 2, 1}));
    }
    {
        SCOPED_TRACE("a write error ends the program");
        FakeFramebuffer fb(rgb565(2, 2, 2, 2));
        Outcome run = fb.run({"--grab", "/dev/full", "--solid", "1"});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("write(): No space left on device\n"), std::string::npos);
        EXPECT_EQ(fb.frame(), Bytes(8, 0));
    }
}

TEST(FbprobeSolid, FillsTheWholeVirtualScreenByDepth) {
    {
        Screen s = rgb565(3, 2, 4, 3);
        FakeFramebuffer fb(s);
        Outcome run = fb.run({"--solid", "0x1234"});
        EXPECT_EQ(run.status, 0);
        Bytes expected;
        for (int i = 0; i < 12; i++)
            expected.insert(expected.end(), {0x34, 0x12});
        EXPECT_EQ(fb.frame(), expected);
        EXPECT_EQ(run.err, "Filling fb-display with 3x2 (16bpp) with solid color of 00001234\n");
    }
    {
        Screen s{2, 1, 3, 2, 24, {16, 8, 0}, {8, 8, 0}, {0, 8, 0}};
        FakeFramebuffer fb(s);
        Outcome run = fb.run({"--solid", "077"});  // octal 63
        EXPECT_EQ(run.status, 0);
        Bytes expected;
        for (int i = 0; i < 6; i++)
            expected.insert(expected.end(), {0x3f, 0, 0});
        EXPECT_EQ(fb.frame(), expected);
    }
}

TEST(FbprobePalette, EightBitSolidLoadsThePaletteAndSelectsIndexes) {
    // R 3, G 3, B 2: colour ramps from 100 (11 entries), grey ramp from 200
    // (3 entries), then white, black and the custom colour.
    const std::vector<std::string> palette_155 = {
        "cmap 100 11",
        "cmap[100] 1000 0000 0000",
        "cmap[101] 2000 0000 0000",
        "cmap[102] 4000 0000 0000",
        "cmap[103] 8000 0000 0000",
        "cmap[104] ffff 1000 0000",
        "cmap[105] 0000 2000 0000",
        "cmap[106] 0000 4000 0000",
        "cmap[107] 0000 8000 0000",
        "cmap[108] 0000 ffff 2000",
        "cmap[109] 0000 0000 4000",
        "cmap[110] 0000 0000 8000",
        "cmap 200 3",
        "cmap[200] 2000 2000 2000",
        "cmap[201] 4000 4000 4000",
        "cmap[202] ffff ffff ffff",
        "cmap 210 3",
        "cmap[210] ffff ffff ffff",
        "cmap[211] 0000 0000 0000",
        "cmap[212] 0000 0000 9800",
    };
    const Screen s = pseudocolour(3, 1, 4, 2, 3, 3, 2);
    FakeFramebuffer fb(s);
    Outcome run = fb.run({"--solid", "155"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(fb.cmapLog(run), palette_155);
    EXPECT_EQ(fb.frame(), Bytes(8, 255));
    EXPECT_EQ(run.err, "Filling fb-display with 3x1 (8bpp) with solid color of 255[155]\n");

    const struct {
        const char* colour;
        uint8_t index;
    } selections[] = {{"#7", 7}, {"g2", 202}, {"p", 211}, {"pink", 211}, {"0", 100}};
    for (const auto& sel : selections) {
        SCOPED_TRACE(sel.colour);
        run = fb.run({"--solid", sel.colour});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(fb.frame(), Bytes(8, sel.index));
        EXPECT_EQ(fb.cmapLog(run).back(), "cmap[212] 0000 0000 0000");
    }
    for (const char* bad : {"#256", "g56", "156", "12z", "", "#", "-1"}) {
        SCOPED_TRACE(bad);
        fb.fill(9);
        run = fb.run({"--solid", bad});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(fb.frame(), Bytes(8, 9));
        EXPECT_EQ(run.err.rfind("fbprobe: colour '", 0), 0u) << run.err;
    }
}

TEST(FbprobeSetpix, WritesExactlyOnePixelAddressedWithTheVirtualWidth) {
    const Screen s{3, 2, 5, 3, 32, {16, 8, 0}, {8, 8, 0}, {0, 8, 0}};
    FakeFramebuffer fb(s);
    // (2,1) at 4 bytes a pixel and 5 pixels a line: byte 28.
    Outcome run = fb.run({"--x", "2", "--y", "1", "--setpix", "0x11223344"});
    EXPECT_EQ(run.status, 0);
    Bytes expected(60, 0);
    expected[28] = 0x44, expected[29] = 0x33, expected[30] = 0x22, expected[31] = 0x11;
    EXPECT_EQ(fb.frame(), expected);

    // The last pixel of the virtual screen, outside the visible one.
    run = fb.run({"--x", "4", "--y", "2", "--setpix", "7"});
    EXPECT_EQ(run.status, 0);
    expected[56] = 7;
    EXPECT_EQ(fb.frame(), expected);

    for (auto at : {std::pair<const char*, const char*>{"5", "0"}, {"0", "3"}}) {
        run = fb.run({"--x", at.first, "--y", at.second, "--setpix", "1", "--solid", "2"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(fb.frame(), expected) << "refused, and nothing after it runs";
        EXPECT_EQ(run.err, "fbprobe: pixel (" + std::string(at.first) + "," + at.second +
                               ") lies outside the virtual screen of 5x3\n");
    }
}

TEST(FbprobeOptions, ProcessedInOrderWithSettingsApplyingToLaterActions) {
    const Screen s = rgb565(2, 2, 2, 2);
    FakeFramebuffer fb(s);
    fb.addDevice("/dev/fb1", "fb", s);
    // x and y after setpix do not move it; fb after solid does not redirect it.
    Outcome run =
        fb.run({"--setpix", "0xabcd", "--x", "1", "--y", "1", "--fb", "/dev/fb1", "--setpix", "1"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(fb.frame(), Bytes({0xcd, 0xab, 0, 0, 0, 0, 0, 0}));

    // No action: colour bars at the end, on the device named last.
    run = fb.run({"--fb", "/dev/fb1"});
    EXPECT_EQ(run.err, "Assuming a fb-display with 2x2 (16bpp) [virtal 2x2]\n");
    EXPECT_EQ(opens(run, "/dev/fb1"), 1);
    run = fb.run({});
    EXPECT_EQ(run.err, "Assuming a fb-display with 2x2 (16bpp) [virtal 2x2]\n");
    EXPECT_EQ(fb.frame(), Bytes(8, 0xff)) << "white corner marks everywhere";

    run = fb.run({"--help", "--solid", "1"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Usage: fbprobe [--fb <dev>] [--solid <color>] [--grab <fname>] [--bars]\n");
    EXPECT_TRUE(run.log.empty()) << "help ends the program";
    run = fb.run({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "fbprobe 0.1 -- framebuffer test utility\n");

    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--colour", "1"},
                                                {"-s", "1"},
                                                {"--solid"},
                                                {"image"},
                                                {"--bars", "stray"}}) {
        run = fb.run(bad);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.substr(run.err.find("invalid")),
                  "invalid option; try '--help' for more information\n");
    }
    for (const char* bad : {"", "1a", "4294967296", "-1"}) {
        run = fb.run({"--x", bad, "--setpix", "1"});
        EXPECT_EQ(run.status, 1) << bad;
        EXPECT_TRUE(run.log.empty()) << bad;
    }
    fb.fill(0);
    run = fb.run({"--x", "1", "--y", "1", "--setpix", "4294967295"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(fb.frame(), Bytes({0, 0, 0, 0, 0, 0, 0xff, 0xff}));
    for (const char* bad : {"4294967296", "0x", "12 ", "09"}) {
        run = fb.run({"--solid", bad});
        EXPECT_EQ(run.status, 1) << bad;
        EXPECT_EQ(fb.frame(), Bytes({0, 0, 0, 0, 0, 0, 0xff, 0xff})) << bad;
    }
}

TEST(FbprobeFailures, FailedActionIsSkippedLaterOnesRunAndStatusIsOne) {
    const Screen s = rgb565(1, 1, 1, 1);
    const struct {
        const char* extra;
        const char* message;
        long closes;
    } cases[] = {
        {"fail open EACCES\n", "open(/dev/fb0): Permission denied\n", 0},
        {"fail ioctl EIO 0 0x4600\n", "ioctl(FBIOGET_VSCREENINFO): Input/output error\n", 1},
        {"fail mmap ENOMEM\n", "mmap(): Cannot allocate memory\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extra);
        FakeFramebuffer fb(s, c.extra);
        fb.addDevice("/dev/fb1", "fb", s);
        Outcome run = fb.run({"--bars", "--fb", "/dev/fb1", "--solid", "3"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, std::string(c.message) +
                               "Filling fb-display with 1x1 (16bpp) with solid color of "
                               "00000003\n");
        EXPECT_EQ(fb.frame(), Bytes(2, 0));
        EXPECT_EQ(run.log.back(), "close /dev/fb1") << "the failed device was closed too";
        EXPECT_EQ(std::count(run.log.begin(), run.log.end(), "close /dev/fb0"), c.closes);
    }
    FakeFramebuffer fb(s);
    fb.addDevice("/dev/fb1", "absent", s);
    Outcome run = fb.run({"--fb", "/dev/fb1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "open(/dev/fb1): No such file or directory\n");
}

// A frame whose length does not fit the address space is refused before it
// is mapped; a length that wrapped would map a small frame and let every
// action write far past it.
TEST(FbprobeFailures, FrameTooLargeToMapIsRefusedBeforeMapping) {
    std::vector<Screen> screens{
        // 0xffffffff lines of 0x80000001 16-bit pixels: 2^64 + 4 GiB - 2 bytes.
        {1, 1, 0x80000001, 0xffffffff, 16, {11, 5, 0}, {5, 6, 0}, {0, 5, 0}},
        {1, 1, 0xffffffff, 0x80000001, 16, {11, 5, 0}, {5, 6, 0}, {0, 5, 0}},
        {4, 4, 0xffffffff, 0xffffffff, 32, {16, 8, 0}, {8, 8, 0}, {0, 8, 0}},
    };
    if (sizeof(size_t) == 4) {
        // 2^27 + 1 pixels at 32 bpp: a line of 2^32 + 32 bits, 4 bytes once
        // wrapped in 32 bits; and a frame just over half the address space.
        screens.push_back({1, 1, 0x08000001, 16, 32, {16, 8, 0}, {8, 8, 0}, {0, 8, 0}});
        screens.push_back({1, 1, 0x4000, 0x8000, 32, {16, 8, 0}, {8, 8, 0}, {0, 8, 0}});
    }
    for (const Screen& screen : screens) {
        for (const std::vector<std::string>& action :
             {std::vector<std::string>{"--y", "1", "--setpix", "0x1234"},
              {"--bars"},
              {"--solid", "0x1234"}}) {
            SCOPED_TRACE(std::to_string(screen.xres_virtual) + "x" +
                         std::to_string(screen.yres_virtual) + " " + action.front());
            FakeFramebuffer fb(rgb565(1, 1, 1, 1), "", "/dev/fb1");
            fb.addDevice("/dev/fb0", "fb", screen);
            std::vector<std::string> args = action;
            args.insert(args.end(), {"--fb", "/dev/fb1", "--solid", "1"});
            Outcome run = fb.run(args);
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err, "fbprobe: virtual screen " + std::to_string(screen.xres_virtual) +
                                   "x" + std::to_string(screen.yres_virtual) + " at " +
                                   std::to_string(screen.bits_per_pixel) +
                                   " bpp too large to map\n");
            EXPECT_EQ(
                std::count_if(run.log.begin(), run.log.end(),
                              [](const std::string& line) { return line.rfind("mmap", 0) == 0; }),
                0);
            EXPECT_EQ(opens(run, "/dev/fb1"), 0) << "nothing after it runs";
        }
    }
}

TEST(FbprobeFailures, UnsupportedFormatsStopWithStatusOne) {
    const Screen formats[] = {
        {4, 4, 4, 4, 12, {8, 4, 0}, {4, 4, 0}, {0, 4, 0}},
        {4, 4, 4, 4, 32, {0, 32, 0}, {0, 0, 0}, {0, 0, 0}},
        {4, 4, 4, 4, 32, {32, 8, 0}, {8, 8, 0}, {0, 8, 0}},
        pseudocolour(4, 4, 4, 4, 16, 8, 8),
        {5, 4, 4, 4, 16, {11, 5, 0}, {5, 6, 0}, {0, 5, 0}},
        {0, 4, 4, 4, 16, {11, 5, 0}, {5, 6, 0}, {0, 5, 0}},
    };
    // Each format on one action, every action on some format.
    const char* actions[] = {"--bars", "--solid", "--grab", "--setpix"};
    for (size_t i = 0; i < std::size(formats); i++) {
        const Screen& f = formats[i];
        const std::string action = actions[i % 4];
        FakeFramebuffer fb(f);
        fb.addDevice("/dev/fb1", "fb", rgb565(1, 1, 1, 1));
        std::vector<std::string> args{action};
        if (action != "--bars")
            args.push_back(action == "--grab" ? fb.dir().file("g") : "1");
        args.insert(args.end(), {"--fb", "/dev/fb1", "--solid", "1"});
        Outcome run = fb.run(args);
        EXPECT_EQ(run.status, 1) << action << ' ' << f.bits_per_pixel;
        EXPECT_EQ(run.err.rfind("fbprobe: unsupported", 0), 0u) << run.err;
        EXPECT_EQ(opens(run, "/dev/fb1"), 0) << "nothing after it runs";
    }
}

}  // namespace
