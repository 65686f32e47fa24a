#include "ExternalModuleRegistry.h"

// The chain stays an incomplete type here: a shared pointer destroys what it
// holds with the deleter its creator stored, so releasing the last reference
// needs no definition of the chain, and the library's blocks and registry
// never depend on the chain's folder.

log4cxx::LoggerPtr ExternalModuleRegistryImpl::AC_Registry_logger =
    log4cxx::Logger::getLogger("ZIZO.External_Module_Registry");

ExternalModuleRegistryImpl::ExternalModuleRegistryImpl() {
    LOG4CXX_TRACE(AC_Registry_logger, "ExternalModuleRegistry constructor called");
}

ExternalModuleRegistryImpl::~ExternalModuleRegistryImpl() {
    LOG4CXX_TRACE(AC_Registry_logger, "ExternalModuleRegistry destructor called");
}

bool ExternalModuleRegistryImpl::registerPlaybackProcessing(
    const std::string& name, std::shared_ptr<PlaybackProcessing> object) {
    if (!object) {
        LOG4CXX_ERROR(AC_Registry_logger,
                      "Cannot register " << name << ". Object pointer is null.");
        return false;
    }
    bool added = false;
    {
        const std::lock_guard<std::mutex> lock(mapMutex);
        // try_emplace leaves object alone when the name is taken, so a refused
        // chain is released after the lock, like a removed one.
        added = playbackProcessings.try_emplace(name, std::move(object)).second;
    }
    if (!added) {
        LOG4CXX_ERROR(AC_Registry_logger,
                      "Cannot register " << name << ". Object is already registered.");
        return false;
    }
    LOG4CXX_INFO(AC_Registry_logger, "Registered " << name << ".");
    return true;
}

bool ExternalModuleRegistryImpl::unregisterPlaybackProcessing(const std::string& name) {
    // name may be the chain's own name, which dies with the chain when the
    // registry held the last reference.
    const std::string removedName = name;
    // Taken out under the lock and released after it: the chain's destructor
    // logs, and must not hold up other threads' lookups.
    std::shared_ptr<PlaybackProcessing> removed;
    {
        const std::lock_guard<std::mutex> lock(mapMutex);
        const auto entry = playbackProcessings.find(removedName);
        if (entry != playbackProcessings.end()) {
            removed = std::move(entry->second);
            playbackProcessings.erase(entry);
        }
    }
    if (!removed) {
        LOG4CXX_ERROR(AC_Registry_logger,
                      "Cannot unregister " << removedName << ". Object is not registered.");
        return false;
    }
    removed.reset();
    LOG4CXX_INFO(AC_Registry_logger, "Unregistered " << removedName << ".");
    return true;
}

std::shared_ptr<PlaybackProcessing> ExternalModuleRegistryImpl::getPlaybackProcessing(
    const std::string& name) const {
    const std::lock_guard<std::mutex> lock(mapMutex);
    const auto entry = playbackProcessings.find(name);
    if (entry == playbackProcessings.end())
        return nullptr;
    return entry->second;
}

ExternalModuleRegistry* ExternalModuleRegistry::getInstance() {
    // Deliberately never deleted: consumers in other modules may still look
    // chains up while static objects are being destroyed at exit.
    static ExternalModuleRegistry* const instance = new ExternalModuleRegistry();
    return instance;
}
