// Log records of a real-time thread, emitted later by the library's own
// thread (DeferredLogThread).
//
// A record keeps what a LOG4CXX_* statement at the same place would give:
// logger, level, message text and location (file, full function signature,
// line). The posting thread only checks the level, as the log4cxx macros do
// (in log4cxx 1.0 that reads the logger's cached threshold, the hierarchy's
// threshold and the level pointers up the logger's parents: no lock, no
// allocation, no system call), and copies plain data into a slot of a fixed
// ring: the format text and the location are static strings, the arguments
// are numbers or a pointer to a string of the owner (its name). The text is
// formatted, and log4cxx called, on the emitting thread, with std::ostream's
// default formatting, so the text equals what the log4cxx stream macros
// write for the same values.
//
// Post with the macros below, one statement per record:
//   LYRANE_DEFERRED_INFO(queue, logger, "AGC {}: max_gain_db was reduced to {}", name, gain);
// Each "{}" in the format (a string literal) takes the next argument; their
// count must match, which is checked at compile time. Arguments: integers,
// floating-point values, and std::string lvalues that live at least as long
// as the queue (a temporary string is refused at compile time).
//
// Contract:
// - One producer: post may be called from one thread at a time (the owner
//   serialises its real-time calls). It never allocates, locks, blocks or
//   calls log4cxx, and returns in bounded time.
// - Records of one queue are emitted in the order they were posted.
// - A full queue drops the new record and counts it. The next record of the
//   queue that is emitted carries the count at the end of its message:
//     "<message> [N records dropped before this one: log queue full]"
//   ("1 record" for one). If no record is posted after a drop, the last
//   dropped record itself is emitted with that note when the queue is
//   destroyed.
// - Records are emitted by DeferredLogThread within a few milliseconds, or by
//   DeferredLogThread::drain() on the thread that calls it, or, for those
//   still pending, by the destructor on the destroying thread, in order: so
//   the strings a record points to must outlive the queue (declare the queue
//   after them in the owner).
// - Construction and destruction belong to one thread, with no post running.
#ifndef LYRANE_DETAIL_DEFERREDLOGQUEUE_H
#define LYRANE_DETAIL_DEFERREDLOGQUEUE_H

#include <log4cxx/logger.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

// The site is a constant, so the posting thread copies one pointer for it.
#define LYRANE_DEFERRED_LOG_(queue, logger, levelName, format, ...)                             \
    do {                                                                                        \
        if (::log4cxx::Logger::is##levelName##EnabledFor(logger)) {                             \
            static constexpr ::DeferredLogQueue::Site lyraneDeferredSite{                       \
                __FILE__, __LOG4CXX_FUNC__, __LINE__, format};                                  \
            (queue).post<::DeferredLogQueue::placeholders(format)>(                             \
                logger, ::DeferredLogQueue::Level::levelName, lyraneDeferredSite, __VA_ARGS__); \
        }                                                                                       \
    } while (0)

#define LYRANE_DEFERRED_TRACE(queue, logger, format, ...) \
    LYRANE_DEFERRED_LOG_(queue, logger, Trace, format, __VA_ARGS__)
#define LYRANE_DEFERRED_DEBUG(queue, logger, format, ...) \
    LYRANE_DEFERRED_LOG_(queue, logger, Debug, format, __VA_ARGS__)
#define LYRANE_DEFERRED_INFO(queue, logger, format, ...) \
    LYRANE_DEFERRED_LOG_(queue, logger, Info, format, __VA_ARGS__)
#define LYRANE_DEFERRED_WARN(queue, logger, format, ...) \
    LYRANE_DEFERRED_LOG_(queue, logger, Warn, format, __VA_ARGS__)
#define LYRANE_DEFERRED_ERROR(queue, logger, format, ...) \
    LYRANE_DEFERRED_LOG_(queue, logger, Error, format, __VA_ARGS__)
#define LYRANE_DEFERRED_FATAL(queue, logger, format, ...) \
    LYRANE_DEFERRED_LOG_(queue, logger, Fatal, format, __VA_ARGS__)

class DeferredLogQueue {
  public:
    enum class Level : uint8_t { Trace, Debug, Info, Warn, Error, Fatal };
    // The location as LOG4CXX_LOCATION takes it, and the format; all static.
    struct Site {
        const char* file;
        const char* function;
        int line;
        const char* format;
    };
    static constexpr std::size_t kMaxArguments = 4;
    // Records of 64 bytes; at one record per sample of 48 kHz this holds
    // 21 ms, ten times the emitting thread's polling interval, and a caller
    // that repeats a refused call in a tight loop fills it no faster than
    // a block per record.
    static constexpr std::size_t kDefaultCapacity = 1024;

    // A capacity of 0 is taken as 1. Throws std::bad_alloc if the ring
    // cannot be allocated, and std::system_error if the library's thread
    // is not running yet and cannot be started.
    explicit DeferredLogQueue(std::size_t capacity = kDefaultCapacity);
    // Emits the pending records on this thread.
    ~DeferredLogQueue();
    DeferredLogQueue(const DeferredLogQueue&) = delete;
    DeferredLogQueue& operator=(const DeferredLogQueue&) = delete;

    // Number of "{}" in format.
    static constexpr std::size_t placeholders(const char* format) {
        std::size_t count = 0;
        for (; *format != '\0'; ++format) {
            if (format[0] == '{' && format[1] == '}') {
                ++count;
            }
        }
        return count;
    }

    // Use the LYRANE_DEFERRED_* macros, which check the level first and give
    // the site. logger and site must live as long as the library (a
    // class-static logger, a static site).
    template <std::size_t kPlaceholders, typename... Args>
    void post(const log4cxx::LoggerPtr& logger, Level level, const Site& site,
              Args&&... args) noexcept {
        static_assert(kPlaceholders == sizeof...(Args), "one argument for each {} of the format");
        static_assert(sizeof...(Args) <= kMaxArguments, "too many arguments for one record");
        Record record{};
        record.logger = &logger;
        record.site = &site;
        record.level = level;
        record.argumentCount = sizeof...(Args);
        std::size_t i = 0;
        ((setArgument(record, i++, std::forward<Args>(args))), ...);
        push(record);
    }

  private:
    friend class DeferredLogThread;

    enum class Kind : uint8_t { Text, Signed, Unsigned, Real };
    union Value {
        const std::string* text;
        long long signedValue;
        unsigned long long unsignedValue;
        double realValue;  // a float prints as its double, as in a stream
    };
    // Trivial, so that a new ring is not written to: its pages stay
    // untouched until records reach them.
    struct Record {
        const log4cxx::LoggerPtr* logger;
        const Site* site;
        Value values[kMaxArguments];
        uint32_t droppedBefore;
        Level level;
        uint8_t argumentCount;
        Kind kinds[kMaxArguments];
    };

    static void setArgument(Record& record, std::size_t i, const std::string& text) {
        record.kinds[i] = Kind::Text;
        record.values[i].text = &text;
    }
    // The record would point into a string that is gone when it is emitted.
    static void setArgument(Record& record, std::size_t i, std::string&& text) = delete;
    template <typename T, typename = std::enable_if_t<std::is_arithmetic<T>::value &&
                                                      !std::is_same<T, bool>::value>>
    static void setArgument(Record& record, std::size_t i, T value) {
        if (std::is_floating_point<T>::value) {
            record.kinds[i] = Kind::Real;
            record.values[i].realValue = static_cast<double>(value);
        } else if (std::is_signed<T>::value) {
            record.kinds[i] = Kind::Signed;
            record.values[i].signedValue = static_cast<long long>(value);
        } else {
            record.kinds[i] = Kind::Unsigned;
            record.values[i].unsignedValue = static_cast<unsigned long long>(value);
        }
    }

    // Producer side.
    void push(const Record& record) noexcept;
    // Consumer side: only under DeferredLogThread's lock.
    void emitPending();
    void emitDroppedTail();
    static void emit(const Record& record) noexcept;
    static std::string messageOf(const Record& record);

    const std::size_t capacity;
    std::unique_ptr<Record[]> slots;
    // Positions count records since construction; slot = position % capacity.
    // tail is written by the producer only, head by the consumer only.
    alignas(64) std::atomic<std::size_t> head{0};
    alignas(64) std::atomic<std::size_t> tail{0};
    // Producer-owned: records dropped since the last one that went in, and
    // the last of them (emitted at destruction if nothing followed).
    uint32_t droppedPending = 0;
    Record lastDropped;
    // DeferredLogThread's list of live queues, under its lock.
    DeferredLogQueue* previousQueue = nullptr;
    DeferredLogQueue* nextQueue = nullptr;
};

#endif  // LYRANE_DETAIL_DEFERREDLOGQUEUE_H
