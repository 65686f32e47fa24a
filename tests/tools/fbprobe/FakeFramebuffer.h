// Runs the unchanged fbprobe program in front of the fake framebuffer: the
// test describes the screen, fills the frame memory, runs fbprobe with its
// arguments and reads back the frame memory, the output streams, the exit
// status and the fake devices' log.
#ifndef LYRANE_TEST_FAKE_FRAMEBUFFER_H
#define LYRANE_TEST_FAKE_FRAMEBUFFER_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TempDir.h"

struct Field {
    unsigned offset, length, msb_right;
};

struct Screen {
    unsigned xres, yres, xres_virtual, yres_virtual, bits_per_pixel;
    Field red, green, blue;
};

// Formats as drivers report them.
Screen rgb565(unsigned xres, unsigned yres, unsigned xres_virtual, unsigned yres_virtual);
Screen pseudocolour(unsigned xres, unsigned yres, unsigned xres_virtual, unsigned yres_virtual,
                    unsigned red, unsigned green, unsigned blue);

struct Outcome {
    int status;
    std::string out, err;
    std::vector<std::string> log;  // the fake's log, one entry per line
};

class FakeFramebuffer {
  public:
    // The node at path (default "/dev/fb0") answers screen; extra lines go
    // into its configuration (failure injection, say).
    explicit FakeFramebuffer(const Screen& screen, const std::string& extra = "",
                             const std::string& path = "/dev/fb0");

    // Adds a second node, or one of kind "absent".
    void addDevice(const std::string& path, const std::string& kind, const Screen& screen);

    // Frame memory of the whole virtual screen, every byte fill.
    void fill(uint8_t fill);
    std::vector<uint8_t>& frame() { return memory; }
    // Writes frame() to the backing file; read back after each run. A
    // closed_stream of 0, 1 or 2 starts the program with that descriptor
    // closed (its output is then empty).
    Outcome run(const std::vector<std::string>& args, const std::string& stdin_path = "/dev/null",
                int closed_stream = -1);
    // The 8-bpp palette lines of the log ("cmap ...").
    std::vector<std::string> cmapLog(const Outcome& run) const;

    const TempDir& dir() const { return scratch; }
    static std::string readFile(const std::string& path);

  private:
    std::string writeConfig() const;
    TempDir scratch;
    std::string config;
    std::vector<uint8_t> memory;
    std::string backing;
};

using Bytes = std::vector<uint8_t>;

inline uint32_t pixel(const Bytes& frame, const Screen& s, unsigned x, unsigned y) {
    const unsigned bytes = s.bits_per_pixel / 8;
    const size_t at = size_t(y) * s.xres_virtual * bytes + size_t(x) * bytes;
    uint32_t value = 0;
    for (unsigned i = 0; i < bytes; i++)
        value |= uint32_t(frame.at(at + i)) << (8 * i);
    return value;
}

// Sets a pixel in the frame memory, little-endian, as a driver would see it.
inline void poke(Bytes& frame, const Screen& s, unsigned x, unsigned y, uint32_t value) {
    const unsigned bytes = s.bits_per_pixel / 8;
    const size_t at = size_t(y) * s.xres_virtual * bytes + size_t(x) * bytes;
    for (unsigned i = 0; i < bytes; i++)
        frame.at(at + i) = uint8_t(value >> (8 * i));
}

// Every pixel outside the visible screen still holds the fill byte.
inline void expectOffScreenUntouched(const Bytes& frame, const Screen& s, uint8_t fill) {
    const unsigned bytes = s.bits_per_pixel / 8;
    for (unsigned y = 0; y < s.yres_virtual; y++)
        for (unsigned x = 0; x < s.xres_virtual; x++)
            if (x >= s.xres || y >= s.yres) {
                for (unsigned i = 0; i < bytes; i++)
                    ASSERT_EQ(frame[(size_t(y) * s.xres_virtual + x) * bytes + i], fill)
                        << "pixel " << x << "," << y;
            }
}

#endif
