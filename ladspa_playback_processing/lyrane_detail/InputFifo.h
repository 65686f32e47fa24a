// The chain's FIFO of unprocessed input samples: whole blocks go in on the
// processing thread, single samples come out on the consumer's thread.
//
// Rules:
// - pushBlock appends a whole block while fewer than fillLimit samples are
//   buffered, and nothing otherwise, so at most fillLimit - 1 + blockSize
//   samples are ever buffered; storage for them is taken at construction.
// - pop serves the oldest sample only while more than fillLimit / 3 are
//   buffered (a cushion against jitter between producer and consumer), and
//   0.0 otherwise, leaving the FIFO unchanged.
//
// Threads: one producer (pushBlock) and one consumer (pop) at a time, each on
// its own thread; neither ever waits for the other. Each side owns one
// index and publishes it with release order after its samples are written
// or read; the other side reads it with acquire order, so the samples it
// sees are complete. size may be called from either side.
#ifndef LYRANE_DETAIL_INPUTFIFO_H
#define LYRANE_DETAIL_INPUTFIFO_H

#include <atomic>
#include <cstddef>
#include <vector>

class InputFifo {
  public:
    // Throws std::length_error when the storage size does not fit size_t,
    // std::bad_alloc when it cannot be allocated.
    InputFifo(unsigned int fillLimit, unsigned int blockSize);
    InputFifo(const InputFifo&) = delete;
    InputFifo& operator=(const InputFifo&) = delete;

    // Producer: appends samples[0 .. blockSize - 1]. Returns whether it did.
    bool pushBlock(const float* samples) {
        const std::size_t tail = tailIndex.load(std::memory_order_relaxed);
        const std::size_t head = headIndex.load(std::memory_order_acquire);
        if (countBetween(head, tail) >= fillLimit)
            return false;
        std::size_t slot = tail;
        // A plain loop: at one sample per block a library copy call costs
        // more than the store.
        for (unsigned int i = 0; i < blockSize; ++i) {
            slots[slot] = samples[i];
            if (++slot == slots.size())
                slot = 0;
        }
        tailIndex.store(slot, std::memory_order_release);
        return true;
    }

    // Producer, for a FIFO of one-sample blocks: appends samples[0 .. n - 1]
    // as n calls of pushBlock would while the consumer stands still (each
    // while fewer than fillLimit samples are buffered), and publishes them
    // at once. Returns how many it appended. The consumer may see them up to
    // n samples later than after single pushes.
    std::size_t pushSamples(const float* samples, std::size_t n) {
        const std::size_t tail = tailIndex.load(std::memory_order_relaxed);
        const std::size_t head = headIndex.load(std::memory_order_acquire);
        const std::size_t buffered = countBetween(head, tail);
        if (buffered >= fillLimit)
            return 0;
        const std::size_t room = fillLimit - buffered;
        const std::size_t count = n < room ? n : room;
        std::size_t slot = tail;
        for (std::size_t i = 0; i < count; ++i) {
            slots[slot] = samples[i];
            if (++slot == slots.size())
                slot = 0;
        }
        tailIndex.store(slot, std::memory_order_release);
        return count;
    }

    // Consumer: the oldest sample, removed, or 0.0 while the cushion is not
    // there.
    float pop() {
        const std::size_t head = headIndex.load(std::memory_order_relaxed);
        const std::size_t tail = tailIndex.load(std::memory_order_acquire);
        if (countBetween(head, tail) <= serveAbove)
            return 0.0f;
        const float sample = slots[head];
        headIndex.store(head + 1 == slots.size() ? 0 : head + 1, std::memory_order_release);
        return sample;
    }

    // Samples buffered; exact on either side for its own thread's view.
    std::size_t size() const {
        return countBetween(headIndex.load(std::memory_order_acquire),
                            tailIndex.load(std::memory_order_acquire));
    }

  private:
    // One slot more than can ever be filled, so a full ring never looks empty.
    std::size_t countBetween(std::size_t head, std::size_t tail) const {
        return tail >= head ? tail - head : tail + slots.size() - head;
    }

    const unsigned int fillLimit;
    const unsigned int blockSize;
    const unsigned int serveAbove;
    std::vector<float> slots;
    // Kept apart so that the two threads do not share a cache line.
    alignas(64) std::atomic<std::size_t> headIndex{0};
    alignas(64) std::atomic<std::size_t> tailIndex{0};
};

#endif  // LYRANE_DETAIL_INPUTFIFO_H
