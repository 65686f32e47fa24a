#include "HeapCounter.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> count{0};
std::atomic<bool> failNext{false};
// A plain integer of the executable: reaching it allocates nothing.
thread_local long threadCount = 0;
void note() {
    count.fetch_add(1, std::memory_order_relaxed);
    ++threadCount;
}
}  // namespace

long heap::allocations() {
    return count.load(std::memory_order_relaxed);
}

long heap::threadAllocations() {
    return threadCount;
}

void heap::failNextNew(bool fail) {
    failNext.store(fail);
}

// Counted through the malloc below (or the sanitizer's hook).
void* operator new(std::size_t size) {
    if (failNext.exchange(false))
        throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return ::operator new(size, tag);
}
// Not inlined: the compiler would otherwise pair new-expressions with the
// free below and warn of a mismatch that is none.
__attribute__((noinline)) void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    ::operator delete(p);
}
void operator delete(void* p, std::size_t) noexcept {
    ::operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    ::operator delete(p);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LYRANE_SANITIZED_MALLOC 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define LYRANE_SANITIZED_MALLOC 1
#endif
#endif

#ifdef LYRANE_SANITIZED_MALLOC
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*,
                                                                  std::size_t),
                                                         void (*)(const volatile void*));
namespace {
void onMalloc(const volatile void*, std::size_t) {
    note();
}
void onFree(const volatile void*) {}
[[maybe_unused]] const int hooksInstalled =
    __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
}  // namespace
#elif defined(__GLIBC__)
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t size) noexcept {
    note();
    return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) noexcept {
    note();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t size) noexcept {
    note();
    return __libc_realloc(p, size);
}
}
#endif
