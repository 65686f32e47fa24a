// The input FIFO's rules across many wrap-arounds of its ring, and one
// producer and one consumer on their own threads (also run under
// ThreadSanitizer, which sees a missing acquire/release pairing as a race on
// the samples).
#include "lyrane_detail/InputFifo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace {

constexpr unsigned int kFillLimit = 2048;
constexpr unsigned int kCushion = kFillLimit / 3;  // 682

// Samples numbered from 1, exactly representable as floats up to 2^24;
// the FIFO serves 0.0 when it has nothing for the consumer.
std::vector<float> block(uint32_t first, unsigned int size) {
    std::vector<float> samples(size);
    for (unsigned int i = 0; i < size; ++i)
        samples[i] = static_cast<float>(first + i);
    return samples;
}

}  // namespace

TEST(InputFifo, KeepsOrderFillLimitAndCushionOverManyWrapArounds) {
    const unsigned int blockSize = 7;
    InputFifo fifo(kFillLimit, blockSize);
    uint32_t next = 1;      // next sample number to push
    uint32_t expected = 1;  // next sample number the consumer must get
    // Fill to the limit: blocks go in while fewer than 2048 are buffered.
    while (fifo.pushBlock(block(next, blockSize).data()))
        next += blockSize;
    EXPECT_EQ(fifo.size(), 2051u);  // 293 blocks: 2044 < 2048, one more fits
    EXPECT_FALSE(fifo.pushBlock(block(next, blockSize).data()));
    // Alternate pops and pushes for many times the ring's size.
    for (int round = 0; round < 20000; ++round) {
        for (int k = 0; k < 7; ++k) {
            ASSERT_EQ(fifo.pop(), static_cast<float>(expected)) << round;
            ++expected;
        }
        if (fifo.size() < kFillLimit) {
            ASSERT_TRUE(fifo.pushBlock(block(next, blockSize).data()));
            next += blockSize;
        }
    }
    // Drained down to the cushion, the consumer gets silence and the FIFO
    // keeps what it has.
    while (fifo.size() > kCushion) {
        ASSERT_EQ(fifo.pop(), static_cast<float>(expected));
        ++expected;
    }
    EXPECT_EQ(fifo.size(), kCushion);
    EXPECT_EQ(fifo.pop(), 0.0f);
    EXPECT_EQ(fifo.size(), kCushion);
    EXPECT_EQ(expected + kCushion, next);
}

TEST(InputFifo, OneProducerAndOneConsumerOnTheirOwnThreads) {
    const unsigned int blockSize = 3;
    const uint32_t blocks = 200000;
    InputFifo fifo(kFillLimit, blockSize);
    std::vector<uint32_t> accepted;  // first sample of each block let in
    std::atomic<bool> producing{true};
    std::vector<float> popped;
    std::thread consumer([&] {
        popped.reserve(blocks * blockSize);
        while (producing.load() || fifo.size() > kCushion) {
            const float sample = fifo.pop();
            if (sample != 0.0f)
                popped.push_back(sample);
        }
    });
    for (uint32_t b = 0; b < blocks; ++b) {
        const uint32_t first = 1 + b * blockSize;
        if (fifo.pushBlock(block(first, blockSize).data()))
            accepted.push_back(first);
    }
    producing.store(false);
    consumer.join();

    // The consumer got the accepted blocks whole and in order, except the
    // cushion left at the end.
    std::vector<float> expected;
    for (uint32_t first : accepted) {
        const std::vector<float> samples = block(first, blockSize);
        expected.insert(expected.end(), samples.begin(), samples.end());
    }
    ASSERT_EQ(popped.size() + fifo.size(), expected.size());
    expected.resize(popped.size());
    EXPECT_EQ(popped, expected);
}
