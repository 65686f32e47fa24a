// Implementation detail of the library's installed headers; not an interface
// of its own. Installed only because the layout of a class that holds one
// (ZIZO_equalizer) depends on it.
//
// A one-object hand-over from a writer thread to a reader thread that never
// waits and never frees: the writer puts a newly built object into the slot;
// the reader, when it finds one there, takes it and leaves the object it
// replaces in its place; the writer frees that one at its next put, or the
// slot does when it dies. The lowest bit of the stored address tells a fresh
// object (not yet taken) from a replaced one, so one atomic word carries both
// and each side acts with a single atomic operation.
//
// Threads: one writer (put) and one reader (take) at a time, which may run
// concurrently. take() is wait-free and allocates and frees nothing.
#ifndef LYRANE_DETAIL_TAGGEDHANDOVERSLOT_H
#define LYRANE_DETAIL_TAGGEDHANDOVERSLOT_H

#include <atomic>
#include <cstdint>

namespace lyrane {
namespace detail {

template <typename T>
class TaggedHandoverSlot {
    static_assert(alignof(T) >= 2, "the lowest address bit must be free for the tag");

  public:
    TaggedHandoverSlot() = default;
    // Frees what the slot holds: a replaced object, or a fresh one never taken.
    ~TaggedHandoverSlot() { delete untagged(slot.load(std::memory_order_acquire)); }
    TaggedHandoverSlot(const TaggedHandoverSlot&) = delete;
    TaggedHandoverSlot& operator=(const TaggedHandoverSlot&) = delete;

    // Writer: hands next over (the slot owns it from here) and frees what the
    // slot held, a replaced object or a fresh one the reader never took.
    void put(T* next) {
        const std::uintptr_t previous = slot.exchange(
            reinterpret_cast<std::uintptr_t>(next) | kFresh, std::memory_order_acq_rel);
        delete untagged(previous);
    }

    // Reader: the fresh object, if one waits, with current left in the slot
    // for the writer to free; otherwise current. The caller owns the result
    // and gives up current when it differs.
    T* take(T* current) {
        std::uintptr_t held = slot.load(std::memory_order_acquire);
        if ((held & kFresh) == 0) {
            return current;
        }
        // Fails only when a newer object arrived meanwhile: taken next time.
        if (slot.compare_exchange_strong(held, reinterpret_cast<std::uintptr_t>(current),
                                         std::memory_order_acq_rel)) {
            return untagged(held);
        }
        return current;
    }

  private:
    static constexpr std::uintptr_t kFresh = 1;
    static T* untagged(std::uintptr_t word) { return reinterpret_cast<T*>(word & ~kFresh); }

    std::atomic<std::uintptr_t> slot{0};
};

}  // namespace detail
}  // namespace lyrane

#endif  // LYRANE_DETAIL_TAGGEDHANDOVERSLOT_H
