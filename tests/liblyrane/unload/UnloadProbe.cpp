// A module of its own with the deferred-log code and nothing else, which
// dlclose really unloads: the library proper holds symbols that keep it
// loaded. It posts records to a queue that lives until the module goes.
#include <log4cxx/logger.h>

#include "lyrane_detail/DeferredLogQueue.h"

namespace {

const log4cxx::LoggerPtr probeLogger = log4cxx::Logger::getLogger("Lyrane.UnloadProbe");

DeferredLogQueue& probeQueue() {
    static DeferredLogQueue queue;
    return queue;
}

}  // namespace

extern "C" void lyrane_unload_probe_post(int count) {
    for (int i = 0; i < count; ++i) {
        LYRANE_DEFERRED_INFO(probeQueue(), probeLogger, "probe {}", i);
    }
}
