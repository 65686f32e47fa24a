// Counts the heap allocations of a whole test executable, so a test can prove
// that a real-time path allocates nothing. Link the object library
// lyrane_heap_counter into the executable: replacing malloc and operator new
// only works from the executable itself.
//
// Eigen allocates its arrays with malloc, not operator new, so the count is
// taken at malloc level (libstdc++'s operator new allocates through it too).
// Sanitizer builds own malloc themselves and report every allocation to an
// installed hook instead. All threads are counted.
#ifndef LYRANE_TEST_HEAPCOUNTER_H
#define LYRANE_TEST_HEAPCOUNTER_H

namespace heap {

// Allocations since the program started.
long allocations();

// Allocations of the calling thread since it started: for a real-time path
// while other threads (the library's log thread) may allocate meanwhile.
long threadAllocations();

// With true, makes the next operator new throw std::bad_alloc (malloc is not
// affected), to test the handling of a failed allocation; false withdraws a
// failure that no allocation has taken yet.
void failNextNew(bool fail = true);

}  // namespace heap

// Allocations made while the object lives.
class AllocationCount {
  public:
    AllocationCount() : start(heap::allocations()) {}
    long value() const { return heap::allocations() - start; }

  private:
    long start;
};

// Allocations of the calling thread while the object lives.
class ThreadAllocationCount {
  public:
    ThreadAllocationCount() : start(heap::threadAllocations()) {}
    long value() const { return heap::threadAllocations() - start; }

  private:
    long start;
};

#endif
