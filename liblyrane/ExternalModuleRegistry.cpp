#include "ExternalModuleRegistry.h"

#include "PlaybackProcessing.h"

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
    if (!playbackProcessings.emplace(name, std::move(object)).second) {
        LOG4CXX_ERROR(AC_Registry_logger,
                      "Cannot register " << name << ". Object is already registered.");
        return false;
    }
    LOG4CXX_INFO(AC_Registry_logger, "Registered " << name << ".");
    return true;
}

bool ExternalModuleRegistryImpl::unregisterPlaybackProcessing(const std::string& name) {
    const auto entry = playbackProcessings.find(name);
    if (entry == playbackProcessings.end()) {
        LOG4CXX_ERROR(AC_Registry_logger,
                      "Cannot unregister " << name << ". Object is not registered.");
        return false;
    }
    // name may be the chain's own name, which dies with the chain when the
    // registry held the last reference.
    const std::string removedName = name;
    playbackProcessings.erase(entry);
    LOG4CXX_INFO(AC_Registry_logger, "Unregistered " << removedName << ".");
    return true;
}

std::shared_ptr<PlaybackProcessing> ExternalModuleRegistryImpl::getPlaybackProcessing(
    const std::string& name) const {
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
