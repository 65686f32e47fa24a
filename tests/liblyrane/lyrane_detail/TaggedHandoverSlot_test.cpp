#include "lyrane_detail/TaggedHandoverSlot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// Counts the objects alive, so that every free (and every missing one) shows.
struct Counted {
    explicit Counted(int id) : id(id) { ++alive; }
    ~Counted() { --alive; }
    const int id;
    static std::atomic<int> alive;
};
std::atomic<int> Counted::alive{0};

using Slot = lyrane::detail::TaggedHandoverSlot<Counted>;

// The reader keeps its object until a fresh one waits and takes each fresh
// one once, freeing nothing; the writer frees what the reader gave back and a
// fresh one that was never taken; the slot frees what it holds when it dies.
TEST(TaggedHandoverSlot, EachObjectIsTakenOnceAndFreedOffTheReadersSide) {
    Counted::alive = 0;
    Counted* current = new Counted(0);
    {
        Slot slot;
        EXPECT_EQ(slot.take(current), current);  // nothing handed over yet

        slot.put(new Counted(1));
        Counted* const first = slot.take(current);
        ASSERT_EQ(first->id, 1);
        EXPECT_EQ(Counted::alive, 2);  // object 0 waits in the slot
        // Object 0 is given back, never handed over again.
        EXPECT_EQ(slot.take(first), first);
        current = first;

        slot.put(new Counted(2));  // frees object 0
        EXPECT_EQ(Counted::alive, 2);
        slot.put(new Counted(3));  // frees object 2, never taken
        EXPECT_EQ(Counted::alive, 2);
        current = slot.take(current);
        EXPECT_EQ(current->id, 3);
        EXPECT_EQ(Counted::alive, 2);  // object 1 waits in the slot
    }
    EXPECT_EQ(Counted::alive, 1);
    delete current;

    // A slot that dies holding a fresh object frees it.
    {
        Slot slot;
        slot.put(new Counted(4));
    }
    EXPECT_EQ(Counted::alive, 0);
}

// A writer putting while the reader takes and reads its object: the reader
// sees the objects in the order put, never one the writer has freed (the
// sanitizer builds report any such read), and nothing leaks.
TEST(TaggedHandoverSlot, ReaderAndWriterOnTwoThreads) {
    Counted::alive = 0;
    constexpr int kObjects = 20000;
    Counted* current = new Counted(-1);
    {
        Slot slot;
        std::atomic<bool> done{false};
        std::thread writer([&] {
            for (int id = 0; id < kObjects; ++id) {
                slot.put(new Counted(id));
            }
            done = true;
        });
        int lastSeen = current->id;
        bool inOrder = true;
        while (!done || current->id != kObjects - 1) {
            current = slot.take(current);
            inOrder = inOrder && current->id >= lastSeen;
            lastSeen = current->id;
        }
        writer.join();
        EXPECT_TRUE(inOrder);
        EXPECT_EQ(Counted::alive, 2);  // the reader's and the replaced one
    }
    EXPECT_EQ(Counted::alive, 1);
    delete current;
}

}  // namespace
