// Hands whole copies of a settings value from one writer thread to one reader
// thread without either waiting: three slots, one owned by the writer, one
// by the reader and one in the middle, whose index is swapped atomically.
//
// Rules:
// - publish() belongs to one writer thread at a time, takeNewer() and
//   current() to one reader thread at a time.
// - takeNewer() takes the latest settings published since its last call
//   (true then); settings published in between are skipped. current() is the
//   copy taken last, and stays valid until the next takeNewer().
// - reset() belongs to the owner while neither side runs.
// - Neither side allocates, locks or waits; T is copied by assignment.
#ifndef LYRANE_DETAIL_SETTINGSEXCHANGE_H
#define LYRANE_DETAIL_SETTINGSEXCHANGE_H

#include <array>
#include <atomic>
#include <cstdint>

namespace lyrane {

template <typename T>
class SettingsExchange {
  public:
    void reset(const T& settings) {
        slots.fill(settings);
        middle.store(1, std::memory_order_relaxed);
        writerSlot = 2;
        readerSlot = 0;
    }

    // Writer side.
    void publish(const T& settings) {
        slots[writerSlot] = settings;
        // Release: the slot's contents before its index; acquire: the reader
        // is done with the slot handed back.
        writerSlot = middle.exchange(writerSlot | kFresh, std::memory_order_acq_rel) & ~kFresh;
    }

    // Reader side.
    bool takeNewer() {
        if (!(middle.load(std::memory_order_relaxed) & kFresh)) {
            return false;
        }
        readerSlot = middle.exchange(readerSlot, std::memory_order_acq_rel) & ~kFresh;
        return true;
    }
    const T& current() const { return slots[readerSlot]; }

  private:
    static constexpr uint8_t kFresh = 4;  // middle slot newer than the reader's
    std::array<T, 3> slots{};
    std::atomic<uint8_t> middle{1};
    uint8_t writerSlot = 2;
    uint8_t readerSlot = 0;
};

}  // namespace lyrane

#endif  // LYRANE_DETAIL_SETTINGSEXCHANGE_H
