// Keeps the library's WARN and ERROR records instead of printing them: the
// loader and the sections give their reasons only there, and the tuning
// program shows those reasons in its own output.
//
// Contract:
// - While an instance lives it is the root logger's only appender and the
//   root level is WARN, so records below WARN are not even built. The
//   previous appenders and level come back when it dies. One instance per
//   process at a time.
// - take() hands over the records collected since the last take(), oldest
//   first, and forgets them.
// - Threads: records may arrive from any thread; take() is safe against that.
#ifndef LYRANE_TUNING_LOGRECORDCOLLECTOR_H
#define LYRANE_TUNING_LOGRECORDCOLLECTOR_H

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/level.h>
#include <log4cxx/logger.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct CollectedRecord {
    std::string logger;  // e.g. "ZIZO.Biquad"
    std::string level;   // "WARN", "ERROR" or "FATAL"
    std::string message;
};

// The log4cxx object macros name log4cxx types without qualification.
namespace tuning_log {
using namespace log4cxx;

class CollectingAppender : public log4cxx::AppenderSkeleton {
  public:
    DECLARE_LOG4CXX_OBJECT(CollectingAppender)
    BEGIN_LOG4CXX_CAST_MAP()
    LOG4CXX_CAST_ENTRY(CollectingAppender)
    LOG4CXX_CAST_ENTRY_CHAIN(AppenderSkeleton)
    END_LOG4CXX_CAST_MAP()

    void append(const ::log4cxx::spi::LoggingEventPtr& event,
                ::log4cxx::helpers::Pool& pool) override;
    void close() override {}
    bool requiresLayout() const override { return false; }

    std::vector<CollectedRecord> take();

  private:
    std::mutex mutex;
    std::vector<CollectedRecord> records;
};

}  // namespace tuning_log

class LogRecordCollector {
  public:
    LogRecordCollector();
    ~LogRecordCollector();
    LogRecordCollector(const LogRecordCollector&) = delete;
    LogRecordCollector& operator=(const LogRecordCollector&) = delete;

    std::vector<CollectedRecord> take() { return appender->take(); }

  private:
    std::shared_ptr<tuning_log::CollectingAppender> appender;
    log4cxx::AppenderList previousAppenders;
    log4cxx::LevelPtr previousLevel;
};

#endif  // LYRANE_TUNING_LOGRECORDCOLLECTOR_H
