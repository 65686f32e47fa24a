#include "lyrane_detail/DeferredLogQueue.h"

#include <log4cxx/level.h>
#include <log4cxx/spi/location/locationinfo.h>

#include <cstring>
#include <limits>
#include <sstream>

#include "DeferredLogThread.h"

namespace {

// Indexed by DeferredLogQueue::Level.
using LevelGetter = log4cxx::LevelPtr (*)();
const LevelGetter kLevels[] = {&log4cxx::Level::getTrace, &log4cxx::Level::getDebug,
                               &log4cxx::Level::getInfo,  &log4cxx::Level::getWarn,
                               &log4cxx::Level::getError, &log4cxx::Level::getFatal};

const char kPlaceholder[] = "{}";
const std::size_t kPlaceholderLength = 2;

}  // namespace

DeferredLogQueue::DeferredLogQueue(std::size_t capacity)
    : capacity(capacity > 0 ? capacity : 1), slots(new Record[this->capacity]), lastDropped{} {
    DeferredLogThread::attach(*this);
}

DeferredLogQueue::~DeferredLogQueue() {
    DeferredLogThread::detach(*this);
}

void DeferredLogQueue::push(const Record& record) noexcept {
    const std::size_t position = tail.load(std::memory_order_relaxed);
    // Acquire: the consumer has finished copying the slot it gave back.
    if (position - head.load(std::memory_order_acquire) >= capacity) {
        if (droppedPending < std::numeric_limits<uint32_t>::max()) {
            ++droppedPending;
        }
        lastDropped = record;
        return;
    }
    Record& slot = slots[position % capacity];
    slot = record;
    slot.droppedBefore = droppedPending;
    droppedPending = 0;
    // Release: the slot is written before the consumer can see it.
    tail.store(position + 1, std::memory_order_release);
}

void DeferredLogQueue::emitPending() {
    std::size_t position = head.load(std::memory_order_relaxed);
    const std::size_t end = tail.load(std::memory_order_acquire);
    for (; position != end; ++position) {
        const Record record = slots[position % capacity];
        // The slot is free again before the record goes through log4cxx.
        head.store(position + 1, std::memory_order_release);
        emit(record);
    }
}

// Called once the producer is gone, so its counters can be read here.
void DeferredLogQueue::emitDroppedTail() {
    if (droppedPending == 0) {
        return;
    }
    Record record = lastDropped;
    record.droppedBefore = droppedPending - 1;
    droppedPending = 0;
    emit(record);
}

void DeferredLogQueue::emit(const Record& record) noexcept {
    try {
        const std::string message = messageOf(record);
        const Site& site = *record.site;
        const log4cxx::spi::LocationInfo location(
            site.file, log4cxx::spi::LocationInfo::calcShortFileName(site.file), site.function,
            site.line);
        (*record.logger)
            ->forcedLog(kLevels[static_cast<std::size_t>(record.level)](), message, location);
    } catch (...) {
        // A failing allocation or appender costs this record only; the
        // emitting thread has nobody to hand the exception to.
    }
}

std::string DeferredLogQueue::messageOf(const Record& record) {
    std::ostringstream text;
    const char* rest = record.site->format;
    for (std::size_t i = 0; i < record.argumentCount; ++i) {
        const char* mark = std::strstr(rest, kPlaceholder);
        if (mark == nullptr) {
            break;  // post checks the count at compile time
        }
        text.write(rest, mark - rest);
        rest = mark + kPlaceholderLength;
        const Value& value = record.values[i];
        switch (record.kinds[i]) {
            case Kind::Text:
                text << *value.text;
                break;
            case Kind::Signed:
                text << value.signedValue;
                break;
            case Kind::Unsigned:
                text << value.unsignedValue;
                break;
            case Kind::Real:
                text << value.realValue;
                break;
        }
    }
    text << rest;
    if (record.droppedBefore > 0) {
        text << " [" << record.droppedBefore << (record.droppedBefore == 1 ? " record" : " records")
             << " dropped before this one: log queue full]";
    }
    return text.str();
}
