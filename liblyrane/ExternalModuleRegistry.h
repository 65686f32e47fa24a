// Lets independent modules of one process find a playback chain by name
// without linking to each other: the creator registers the chain, a consumer
// looks it up. Chains are held by shared pointers, so a chain fetched from the
// registry outlives its unregistration for as long as the caller holds it.
//
// Threads: any thread may register, unregister and look up at any time; one
// mutex guards the map. It is held only for the map operation itself (never
// while a chain is destroyed or a record is logged), and nothing on the audio
// path takes it: a consumer looks its chain up once and keeps the pointer.
#ifndef EXTERNALMODULEREGISTRY_H
#define EXTERNALMODULEREGISTRY_H

#include <log4cxx/logger.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

class PlaybackProcessing;

class ExternalModuleRegistryImpl {
  public:
    ExternalModuleRegistryImpl();
    ~ExternalModuleRegistryImpl();
    ExternalModuleRegistryImpl(const ExternalModuleRegistryImpl&) = delete;
    ExternalModuleRegistryImpl& operator=(const ExternalModuleRegistryImpl&) = delete;

    // False (logged at ERROR, map unchanged) for an empty pointer or a name
    // already registered; the entry present stays. True once added.
    bool registerPlaybackProcessing(const std::string& name,
                                    std::shared_ptr<PlaybackProcessing> object);
    // False (logged at ERROR) when name is not registered; true once removed.
    // The registry's reference is dropped: the chain dies unless someone else
    // still holds it.
    bool unregisterPlaybackProcessing(const std::string& name);
    // The chain registered under name (names compare bytewise, so case
    // matters), or an empty pointer. Logs nothing.
    std::shared_ptr<PlaybackProcessing> getPlaybackProcessing(const std::string& name) const;

  private:
    mutable std::mutex mapMutex;
    std::map<std::string, std::shared_ptr<PlaybackProcessing>> playbackProcessings;

    static log4cxx::LoggerPtr AC_Registry_logger;
};

class ExternalModuleRegistry : public ExternalModuleRegistryImpl {
  public:
    // The process-wide registry: created on the first call (thread-safe) and
    // never destroyed, so chains still registered at exit are not destroyed
    // through it. Every module of the process gets the same object, because
    // it lives in this library only.
    static ExternalModuleRegistry* getInstance();
};

#endif  // EXTERNALMODULEREGISTRY_H
