// fbprobe's colour bars on the fake framebuffer, checked at chosen pixels
// whose values were worked out by hand from the pattern rules.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "FakeFramebuffer.h"

namespace {

constexpr uint32_t W = 0xffff, K = 0x0000;  // RGB565 white and black

struct Expected {
    unsigned x, y;
    uint32_t value;
    const char* why;
};

std::vector<std::string> withoutPointers(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const size_t from = line.find("ptr=");
        if (from != std::string::npos)
            line.replace(from + 4, line.find(',', from) - from - 4, "P");
        lines.push_back(line);
    }
    return lines;
}

// 240x190 RGB565: 19 bands of 10 rows (6 red, 7 green, 6 blue), grey
// g = y * 7 / 190 + 1, centre (120, 95), box rows 45..144, columns 70..169.
TEST(FbprobeBars, Rgb565BandsGreysBoxAndMarks) {
    const Screen s = rgb565(240, 190, 256, 200);
    FakeFramebuffer fb(s);
    fb.fill(0xaa);
    Outcome run = fb.run({"--bars"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "Assuming a fb-display with 240x190 (16bpp) [virtal 256x200]\n");

    const Expected pixels[] = {
        {20, 15, 0x1000, "band 1: red bit 1"},
        {200, 15, 0x0020, "grey 1: green bit 0 only"},
        {20, 55, 0xf800, "band 5: full red"},
        {200, 55, 0x1082, "grey 3: red bit 1, green bit 2, blue bit 1"},
        {0, 60, W, "band 6 starts the green group"},
        {2, 60, 0x0020, "band 6: green bit 0"},
        {0, 120, 0x07e0, "band 12: full green, no group start"},
        {0, 130, W, "band 13 starts the blue group"},
        {1, 130, W, "band 13 starts the blue group"},
        {2, 130, 0x0001, "band 13: blue bit 0"},
        {119, 189, 0x001f, "band 18: full blue"},
        {120, 189, W, "grey 7: white"},
        {0, 10, 0x1000, "band 1 starts no group"},
        // Rows 0 and 189: white, black, white, black, white from each edge.
        {0, 0, W, ""},
        {1, 0, K, ""},
        {4, 0, W, ""},
        {5, 0, 0x0800, "band 0: red bit 0"},
        {234, 0, 0x0020, "grey 1"},
        {235, 0, W, ""},
        {239, 0, W, ""},
        {1, 189, K, ""},
        {5, 189, 0x001f, ""},
        {238, 189, K, ""},
        // Rows 1..4 and 185..188: edge pixels by parity; rows 1..3 diagonal.
        {0, 1, K, "row 1 odd"},
        {3, 1, W, "diagonal"},
        {0, 2, W, "row 2 even"},
        {2, 2, W, "diagonal"},
        {1, 3, W, "diagonal"},
        {0, 4, W, ""},
        {1, 4, 0x0800, "no diagonal on row 4"},
        {0, 185, W, "189 - 185 even"},
        {0, 186, K, "189 - 186 odd"},
        // Centre box: white lines on black above, black lines on white below.
        {120, 95, W, "centre"},
        {121, 95, K, ""},
        {122, 96, W, ""},
        {110, 85, W, "dx = dy"},
        {130, 85, W, "dx = -dy"},
        {76, 60, W, "dx = 44"},
        {165, 100, K, "dx = -45 below"},
        {100, 51, W, "dy = 44"},
        {120, 140, K, "dy = -45"},
        {70, 45, W, "box corner"},
        {69, 45, 0x8000, "left of the box: band 4, red bit 4"},
        {169, 144, K, "box corner"},
        {120, 145, 0x8410, "below the box: grey 6, top bit of each channel"},
    };
    for (const auto& p : pixels)
        EXPECT_EQ(pixel(fb.frame(), s, p.x, p.y), p.value)
            << "(" << p.x << "," << p.y << ") " << p.why;
    expectOffScreenUntouched(fb.frame(), s, 0xaa);

    const auto lines = withoutPointers(run.out);
    ASSERT_EQ(lines.size(), 19u) << run.out;
    EXPECT_EQ(lines[0],
              "displayRGB -> ptr=P, r=1, g=0, b=0, grey=1, pos=[0,6,13,19]/0, "
              "*addr=[00000800,00000020]");
    EXPECT_EQ(lines[6],
              "displayRGB -> ptr=P, r=0, g=1, b=0, grey=3, pos=[0,6,13,19]/6, "
              "*addr=[00000020,00000000]");
    EXPECT_EQ(lines[18],
              "displayRGB -> ptr=P, r=0, g=0, b=6, grey=7, pos=[0,6,13,19]/18, "
              "*addr=[0000001f,0000ffff]");
}

TEST(FbprobeBars, XrgbWhiteIsEveryChannelBitAndNothingElse) {
    const Screen s{240, 12, 240, 12, 32, {16, 8, 0}, {8, 8, 0}, {0, 8, 0}};
    FakeFramebuffer fb(s);
    Outcome run = fb.run({"--bars"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(pixel(fb.frame(), s, 0, 0), 0x00ffffffu);
    EXPECT_EQ(pixel(fb.frame(), s, 1, 0), 0u);
    // 12 rows, 27 bands: row 5 is band 11 (green level 3), its first row.
    EXPECT_EQ(pixel(fb.frame(), s, 1, 5), 0x00000400u);
}

// Screens smaller than the pattern: every mark is clipped to the visible
// screen, and the rest of the virtual screen stays as it was.
TEST(FbprobeBars, TinyScreensClipEveryMark) {
    {
        const Screen s = rgb565(1, 1, 3, 2);
        FakeFramebuffer fb(s);
        fb.fill(0xaa);
        Outcome run = fb.run({"--bars"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(pixel(fb.frame(), s, 0, 0), W);
        expectOffScreenUntouched(fb.frame(), s, 0xaa);
        EXPECT_EQ(withoutPointers(run.out),
                  std::vector<std::string>{"displayRGB -> ptr=P, r=1, g=0, b=0, grey=1, "
                                           "pos=[0,6,13,19]/0, *addr=[00000000,00000000]"});
    }
    {
        // Marks, then the box (which covers the whole screen) decide every pixel.
        const uint32_t expected[8][8] = {
            {W, K, W, K, K, W, K, W}, {K, W, K, W, K, K, K, K}, {W, K, W, K, K, K, W, W},
            {K, W, K, W, K, W, K, K}, {W, K, K, K, W, K, K, W}, {W, W, W, K, W, K, W, W},
            {K, W, K, W, W, W, K, K}, {W, K, W, K, K, W, K, W},
        };
        const Screen s = rgb565(8, 8, 9, 10);
        FakeFramebuffer fb(s);
        fb.fill(0xaa);
        EXPECT_EQ(fb.run({"--bars"}).status, 0);
        for (unsigned y = 0; y < 8; y++)
            for (unsigned x = 0; x < 8; x++)
                EXPECT_EQ(pixel(fb.frame(), s, x, y), expected[y][x]) << x << "," << y;
        expectOffScreenUntouched(fb.frame(), s, 0xaa);
    }
    {
        const Screen s = rgb565(99, 99, 100, 100);
        FakeFramebuffer fb(s);
        fb.fill(0xaa);
        EXPECT_EQ(fb.run({"--bars"}).status, 0);
        EXPECT_EQ(pixel(fb.frame(), s, 10, 20), K) << "inside the box, off its lines";
        EXPECT_EQ(pixel(fb.frame(), s, 49, 49), W);
        EXPECT_EQ(pixel(fb.frame(), s, 98, 98), W);
        expectOffScreenUntouched(fb.frame(), s, 0xaa);
    }
    for (unsigned size : {1u, 8u, 99u}) {
        const Screen s = pseudocolour(size, size, size + 1, size + 1, 8, 8, 8);
        FakeFramebuffer fb(s);
        fb.fill(0xaa);
        EXPECT_EQ(fb.run({"--bars"}).status, 0);
        EXPECT_EQ(pixel(fb.frame(), s, 0, 0), 210u);
        expectOffScreenUntouched(fb.frame(), s, 0xaa);
    }
}

// 12x11 at 8 bpp with R 3, G 3, B 2: colour ramp 100 + y on the left, grey
// ramp 200 + y * 3 / 11 on the right, white-black marks from each corner.
TEST(FbprobeBars, PaletteIndexesAndCornerMarks) {
    const uint8_t expected[11][12] = {
        {210, 211, 210, 211, 210, 100, 200, 210, 211, 210, 211, 210},
        {211, 101, 101, 101, 101, 101, 200, 200, 200, 200, 200, 211},
        {210, 102, 102, 102, 102, 102, 200, 200, 200, 200, 200, 210},
        {211, 103, 103, 103, 103, 103, 200, 200, 200, 200, 200, 211},
        {210, 104, 104, 104, 104, 104, 201, 201, 201, 201, 201, 210},
        {105, 105, 105, 105, 105, 105, 201, 201, 201, 201, 201, 201},
        {210, 106, 106, 106, 106, 106, 201, 201, 201, 201, 201, 210},
        {211, 107, 107, 107, 107, 107, 201, 201, 201, 201, 201, 211},
        {210, 108, 108, 108, 108, 108, 202, 202, 202, 202, 202, 210},
        {211, 109, 109, 109, 109, 109, 202, 202, 202, 202, 202, 211},
        {210, 211, 210, 211, 210, 110, 202, 210, 211, 210, 211, 210},
    };
    const Screen s = pseudocolour(12, 11, 16, 12, 3, 3, 2);
    FakeFramebuffer fb(s);
    fb.fill(0xaa);
    Outcome run = fb.run({"--bars"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    for (unsigned y = 0; y < 11; y++)
        for (unsigned x = 0; x < 12; x++)
            EXPECT_EQ(pixel(fb.frame(), s, x, y), expected[y][x]) << x << "," << y;
    expectOffScreenUntouched(fb.frame(), s, 0xaa);
    const auto cmap = fb.cmapLog(run);
    ASSERT_EQ(cmap.size(), 20u);
    EXPECT_EQ(cmap[13], "cmap[200] 2000 2000 2000");
    EXPECT_EQ(cmap[19], "cmap[212] 0000 0000 0000");
}

}  // namespace
