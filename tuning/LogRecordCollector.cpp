#include "LogRecordCollector.h"

#include <log4cxx/spi/loggingevent.h>

#include <utility>

namespace tuning_log {
IMPLEMENT_LOG4CXX_OBJECT(CollectingAppender)

void CollectingAppender::append(const ::log4cxx::spi::LoggingEventPtr& event,
                                ::log4cxx::helpers::Pool&) {
    CollectedRecord record;
    record.logger = event->getLoggerName();
    record.level = event->getLevel()->toString();
    record.message = event->getMessage();
    std::lock_guard<std::mutex> lock(mutex);
    records.push_back(std::move(record));
}

std::vector<CollectedRecord> CollectingAppender::take() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<CollectedRecord> taken;
    taken.swap(records);
    return taken;
}

}  // namespace tuning_log

LogRecordCollector::LogRecordCollector()
    : appender(std::make_shared<tuning_log::CollectingAppender>()) {
    auto root = log4cxx::Logger::getRootLogger();
    previousAppenders = root->getAllAppenders();
    previousLevel = root->getLevel();
    root->removeAllAppenders();
    root->setLevel(log4cxx::Level::getWarn());
    root->addAppender(appender);
}

LogRecordCollector::~LogRecordCollector() {
    auto root = log4cxx::Logger::getRootLogger();
    root->removeAppender(appender);
    for (const auto& previous : previousAppenders) {
        root->addAppender(previous);
    }
    root->setLevel(previousLevel);
}
