#include "lyrane_detail/InputFifo.h"

#include <limits>
#include <stdexcept>

namespace {

// The consumer is served only while more than a third of the fill limit is
// buffered, so it starts (and resumes after running dry) with a cushion of at
// least fillLimit / 3 + 1 samples.
constexpr unsigned int kServeDivisor = 3;

std::size_t slotCount(unsigned int fillLimit, unsigned int blockSize) {
    // A block is appended while fewer than fillLimit samples are buffered,
    // and one slot stays free.
    if (fillLimit == 0)
        throw std::length_error("InputFifo: fill limit 0");
    const std::size_t largestFill = std::size_t(fillLimit) - 1;
    if (blockSize > std::numeric_limits<std::size_t>::max() - largestFill - 1)
        throw std::length_error("InputFifo: block too large for the FIFO");
    return largestFill + blockSize + 1;
}

}  // namespace

InputFifo::InputFifo(unsigned int fillLimit, unsigned int blockSize)
    : fillLimit(fillLimit),
      blockSize(blockSize),
      serveAbove(fillLimit / kServeDivisor),
      slots(slotCount(fillLimit, blockSize), 0.0f) {}
