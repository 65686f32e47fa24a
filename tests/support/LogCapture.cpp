#include "LogCapture.h"

#include <log4cxx/logger.h>
#include <log4cxx/spi/loggingevent.h>

#include "DeferredLogThread.h"

namespace logcapture {
IMPLEMENT_LOG4CXX_OBJECT(LogCaptureAppender)

void LogCaptureAppender::append(const ::log4cxx::spi::LoggingEventPtr& event,
                                ::log4cxx::helpers::Pool&) {
    const auto& location = event->getLocationInformation();
    LogRecord record;
    record.logger = event->getLoggerName();
    record.level = event->getLevel()->toString();
    record.message = event->getMessage();
    record.function = location.getMethodName();
    record.className = location.getClassName();
    record.file = location.getShortFileName() ? location.getShortFileName() : "";
    record.line = location.getLineNumber();
    std::lock_guard<std::mutex> lock(mutex);
    captured.push_back(std::move(record));
}

std::vector<LogRecord> LogCaptureAppender::records() const {
    std::lock_guard<std::mutex> lock(mutex);
    return captured;
}

void LogCaptureAppender::clear() {
    std::lock_guard<std::mutex> lock(mutex);
    captured.clear();
}

}  // namespace logcapture

LogCapture::LogCapture() : appender(std::make_shared<LogCaptureAppender>()) {
    DeferredLogThread::drain();
    auto root = log4cxx::Logger::getRootLogger();
    previousRootLevel = root->getLevel();
    root->setLevel(log4cxx::Level::getAll());
    root->addAppender(appender);
}

LogCapture::~LogCapture() {
    DeferredLogThread::drain();
    auto root = log4cxx::Logger::getRootLogger();
    root->removeAppender(appender);
    root->setLevel(previousRootLevel);
}

std::vector<LogRecord> LogCapture::records() const {
    DeferredLogThread::drain();
    return appender->records();
}

void LogCapture::clear() {
    DeferredLogThread::drain();
    appender->clear();
}

std::vector<LogRecord> LogCapture::records(const std::string& logger) const {
    std::vector<LogRecord> selected;
    for (const auto& record : records()) {
        if (record.logger == logger) selected.push_back(record);
    }
    return selected;
}

std::vector<LogRecord> LogCapture::records(const std::string& logger,
                                           const std::string& level) const {
    std::vector<LogRecord> selected;
    for (const auto& record : records(logger)) {
        if (record.level == level) selected.push_back(record);
    }
    return selected;
}

std::vector<std::string> LogCapture::messages(const std::string& logger) const {
    std::vector<std::string> texts;
    for (const auto& record : records()) {
        if (logger.empty() || record.logger == logger) texts.push_back(record.message);
    }
    return texts;
}

size_t LogCapture::count(const std::string& text) const {
    size_t n = 0;
    for (const auto& record : records()) {
        if (record.message == text) ++n;
    }
    return n;
}
