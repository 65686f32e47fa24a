// Captures log4cxx records for assertions on exact log lines. While an
// instance lives, every logger logs at all levels into it; the library under
// test never configures log4cxx itself.
//
// Records that the library defers (DeferredLogQueue.h) are emitted before
// anything is read or cleared, and before the capture starts and ends: so a
// capture holds every record posted while it lived, as if logged directly.
#ifndef LYRANE_TEST_LOGCAPTURE_H
#define LYRANE_TEST_LOGCAPTURE_H

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/level.h>

#include <mutex>
#include <string>
#include <vector>

struct LogRecord {
    std::string logger;    // "ZIZO.Agc"
    std::string level;     // "TRACE", "DEBUG", "INFO", "WARN", "ERROR", "FATAL"
    std::string message;
    std::string function;  // method name as log4cxx derives it from the signature
    std::string className;
    std::string file;      // file name without directory
    int line = -1;
};

// The log4cxx object macros name log4cxx types without qualification.
namespace logcapture {
using namespace log4cxx;

class LogCaptureAppender : public log4cxx::AppenderSkeleton {
public:
    DECLARE_LOG4CXX_OBJECT(LogCaptureAppender)
    BEGIN_LOG4CXX_CAST_MAP()
    LOG4CXX_CAST_ENTRY(LogCaptureAppender)
    LOG4CXX_CAST_ENTRY_CHAIN(AppenderSkeleton)
    END_LOG4CXX_CAST_MAP()

    void append(const ::log4cxx::spi::LoggingEventPtr& event,
                ::log4cxx::helpers::Pool& pool) override;
    void close() override {}
    bool requiresLayout() const override { return false; }

    std::vector<LogRecord> records() const;
    void clear();

private:
    mutable std::mutex mutex;
    std::vector<LogRecord> captured;
};

}  // namespace logcapture

using logcapture::LogCaptureAppender;

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogRecord> records() const;
    // Records of one logger, or of one logger at one level.
    std::vector<LogRecord> records(const std::string& logger) const;
    std::vector<LogRecord> records(const std::string& logger, const std::string& level) const;
    // Messages only, in order, optionally restricted to one logger.
    std::vector<std::string> messages(const std::string& logger = "") const;
    // Number of records whose message equals text exactly.
    size_t count(const std::string& text) const;
    void clear();

private:
    std::shared_ptr<LogCaptureAppender> appender;
    log4cxx::LevelPtr previousRootLevel;
};

#endif
