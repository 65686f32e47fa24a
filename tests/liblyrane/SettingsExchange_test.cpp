#include "lyrane_detail/SettingsExchange.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

namespace {

// Three fields the writer keeps in step, so that a copy torn between two
// publications shows.
struct Triple {
    uint32_t n = 0;
    uint32_t thrice = 0;
    uint32_t inverted = ~0u;
};

Triple triple(uint32_t n) {
    return Triple{n, 3 * n, ~n};
}

}  // namespace

// The reader gets the latest of the copies published since it last looked,
// and nothing new when none was.
TEST(SettingsExchange, TakesTheLatestPublishedCopy) {
    lyrane::SettingsExchange<Triple> exchange;
    exchange.reset(triple(7));
    EXPECT_EQ(exchange.current().n, 7u);
    EXPECT_FALSE(exchange.takeNewer());

    exchange.publish(triple(8));
    exchange.publish(triple(9));
    ASSERT_TRUE(exchange.takeNewer());
    EXPECT_EQ(exchange.current().n, 9u);
    EXPECT_FALSE(exchange.takeNewer());
    EXPECT_EQ(exchange.current().n, 9u);

    // Many rounds, so that every slot has served every side.
    for (uint32_t n = 10; n < 40; ++n) {
        exchange.publish(triple(n));
        ASSERT_TRUE(exchange.takeNewer());
        ASSERT_EQ(exchange.current().n, n);
        ASSERT_EQ(exchange.current().thrice, 3 * n);
    }

    exchange.reset(triple(1));
    EXPECT_FALSE(exchange.takeNewer());
    EXPECT_EQ(exchange.current().n, 1u);
}

// A writer and a reader on their own threads: every copy the reader takes is
// whole, and they only ever get newer.
TEST(SettingsExchange, ReaderSeesWholeCopiesInOrderWhileTheWriterRuns) {
    lyrane::SettingsExchange<Triple> exchange;
    exchange.reset(triple(0));
    const uint32_t kLast = 200000;
    std::thread writer([&exchange] {
        for (uint32_t n = 1; n <= kLast; ++n) {
            exchange.publish(triple(n));
        }
    });
    uint32_t seen = 0;
    uint32_t taken = 0;
    while (seen != kLast) {
        if (!exchange.takeNewer()) {
            std::this_thread::yield();
            continue;
        }
        const Triple& copy = exchange.current();
        ASSERT_EQ(copy.thrice, 3 * copy.n);
        ASSERT_EQ(copy.inverted, ~copy.n);
        ASSERT_GT(copy.n, seen);
        seen = copy.n;
        ++taken;
    }
    writer.join();
    EXPECT_GT(taken, 0u);
}
